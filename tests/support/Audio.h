#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quendo::testing {

// A 16-bit stereo WAV of interleaved samples (clipped to full scale); its header claims
// `claimedFrames` when given, whatever the data holds (a file cut off after it was written).
inline std::string StereoWav(const std::vector<float>& stereo, int rate = 44100, long claimedFrames = -1) {
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const auto frames = static_cast<std::uint32_t>(claimedFrames >= 0 ? claimedFrames : static_cast<long>(stereo.size() / 2));
    const std::uint32_t data = frames * 4;
    std::string s = "RIFF" + u32(36 + data) + "WAVEfmt " + u32(16) + u16(1) + u16(2) +
                    u32(static_cast<std::uint32_t>(rate)) + u32(static_cast<std::uint32_t>(rate) * 4) + u16(4) +
                    u16(16) + "data" + u32(data);
    s.reserve(s.size() + 2 * stereo.size());
    for (float v : stereo)
        s += u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767 * std::clamp(v, -1.0f, 1.0f)))));
    return s;
}

// A 16-bit stereo WAV holding a steady sine at `amplitude` (0..1) of full scale.
inline std::string ToneWav(double seconds, double hz, double amplitude, int rate = 44100) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> stereo(2 * frames);
    const double w = 2 * 3.14159265358979323846 * hz / rate;
    for (std::size_t i = 0; i < frames; ++i)
        stereo[2 * i] = stereo[2 * i + 1] = static_cast<float>(amplitude * std::sin(w * static_cast<double>(i)));
    return StereoWav(stereo, rate);
}

struct Made {
    long frames = 0;
    int rate = 0;
};

// Runs the demo library tool to make one file; frames 0 when it failed.
inline Made MakeFixture(const std::string& kind, double seconds, const std::string& out, const std::string& options = "") {
    const char* dir = std::getenv("QUENDO_TOOLS_DIR");
#ifdef QUENDO_TOOLS_DIR
    if (!dir || !*dir) dir = QUENDO_TOOLS_DIR;
#endif
    const std::string tool = std::string(dir ? dir : ".") + "/quendo-demolib";
    const std::string cmd = "'" + tool + "' --fixture " + kind + " " + std::to_string(seconds) + " '" + out + "' " + options;
    Made m;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        if (std::fscanf(p, "%ld %d", &m.frames, &m.rate) != 2) m.frames = 0;
        if (::pclose(p) != 0) m.frames = 0;
    }
    return m;
}

// Measures of interleaved stereo: one channel's RMS from a frame on, and its largest step between
// neighbouring samples (a click shows as a step larger than the signal's own).
inline double Rms(const std::vector<float>& v, int channel, std::size_t fromFrame = 0) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = fromFrame; 2 * i + 1 < v.size(); ++i, ++n) sum += double(v[2 * i + channel]) * v[2 * i + channel];
    return n ? std::sqrt(sum / n) : 0;
}

// The frequency of one channel over frames [from, to), from its rising zero crossings.
inline double ToneHz(const std::vector<float>& v, int channel, std::size_t from, std::size_t to, int rate = 44100) {
    double first = -1, last = -1;
    long cycles = -1;
    for (std::size_t i = from + 1; i < to; ++i) {
        const float a = v[2 * (i - 1) + channel], b = v[2 * i + channel];
        if (a < 0 && b >= 0) {
            last = static_cast<double>(i - 1) + a / (a - b);
            if (first < 0) first = last;
            ++cycles;
        }
    }
    return cycles > 0 ? cycles / ((last - first) / rate) : 0;
}

inline float LargestStep(const std::vector<float>& v, int channel) {
    float worst = 0;
    for (std::size_t i = 1; 2 * i + 1 < v.size(); ++i)
        worst = std::max(worst, std::fabs(v[2 * i + channel] - v[2 * (i - 1) + channel]));
    return worst;
}

}  // namespace quendo::testing
