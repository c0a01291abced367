#pragma once
// Beats any codec and any stretcher keep in place: short bursts of 2 kHz under a Hann window, and
// where the loudest of them lies.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/Audio.h"

namespace quendo::testing {

// A 16-bit stereo WAV with a burst peaking at `first` seconds and every `period` after it.
inline std::string ClickTrack(double seconds, double period = 0.5, double first = 0.25, int rate = 44100) {
    std::vector<float> stereo(2 * static_cast<std::size_t>(seconds * rate));
    for (double beat = first; beat + 0.01 < seconds; beat += period)
        for (long i = -44; i <= 44; ++i) {  // 1 ms either side
            const double t = static_cast<double>(i) / rate, w = 0.5 + 0.5 * std::cos(M_PI * static_cast<double>(i) / 44);
            const auto at = static_cast<std::size_t>(std::max(0L, std::lround(beat * rate) + i));
            stereo[2 * at] = stereo[2 * at + 1] = static_cast<float>(0.8 * w * std::cos(2 * M_PI * 2000.0 * t));
        }
    return StereoWav(stereo, rate);
}

// The frame of the loudest sample of `channel` in [from, to).
inline long LoudestIn(const std::vector<float>& v, long from, long to, int channel = 0) {
    const auto at = [&](long i) { return std::fabs(v[2 * static_cast<std::size_t>(i) + static_cast<std::size_t>(channel)]); };
    long best = std::max(from, 0L);
    for (long i = best; i < std::min(to, static_cast<long>(v.size() / 2)); ++i) best = at(i) > at(best) ? i : best;
    return best;
}

}  // namespace quendo::testing
