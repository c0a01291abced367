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
    const auto frames = static_cast<long>(seconds * rate);
    std::vector<float> stereo(2 * static_cast<std::size_t>(frames));
    constexpr int kHalf = 44;
    for (double beat = first; beat * rate + kHalf < static_cast<double>(frames); beat += period) {
        const auto peak = std::lround(beat * rate);
        for (long i = -kHalf; i <= kHalf; ++i) {
            const double w = 0.5 + 0.5 * std::cos(M_PI * static_cast<double>(i) / kHalf);
            const auto v = static_cast<float>(0.8 * w * std::cos(2 * M_PI * 2000.0 * static_cast<double>(i) / rate));
            const auto at = static_cast<std::size_t>(std::max(0L, peak + i));
            stereo[2 * at] = stereo[2 * at + 1] = v;
        }
    }
    return StereoWav(stereo, rate);
}

// The frame of the loudest sample of `channel` in [from, to).
inline long LoudestIn(const std::vector<float>& v, long from, long to, int channel = 0) {
    from = std::max(from, 0L);
    to = std::min(to, static_cast<long>(v.size() / 2));
    long best = from;
    for (long i = from; i < to; ++i)
        if (std::fabs(v[2 * static_cast<std::size_t>(i) + channel]) > std::fabs(v[2 * static_cast<std::size_t>(best) + channel]))
            best = i;
    return best;
}

}  // namespace quendo::testing
