#include "analysis/Loudness.h"

#include <cmath>
#include <numeric>

namespace quendo::audio {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kOffset = -0.691;  // the K-weighting's gain at 1 kHz, taken back
constexpr double kAbsoluteGateLufs = -70;
constexpr double kRelativeGateLu = -10;

double ToLufs(double meanSquare) { return meanSquare > 0 ? kOffset + 10 * std::log10(meanSquare) : -HUGE_VAL; }
double FromLufs(double lufs) { return std::pow(10.0, (lufs - kOffset) / 10); }

// Below this a filter's state is a denormal in the making, which costs a hundred times the work.
constexpr double kTiny = 1e-30;

}  // namespace

Loudness::Loudness(int rate) : subBlockFrames_((rate + 5) / 10) {
    // The standard's two stages, its analogue prototypes brought to this rate by the bilinear
    // transform: a high shelf of +4 dB above about 1.7 kHz, then a high-pass at 38 Hz.
    {
        const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan(kPi * f0 / rate);
        const double vh = std::pow(10.0, gainDb / 20), vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1 + k / q + k * k;
        shelf_ = {(vh + vb * k / q + k * k) / a0, 2 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                  2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0};
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double k = std::tan(kPi * f0 / rate);
        const double a0 = 1 + k / q + k * k;
        highPass_ = {1, -2, 1, 2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0};
    }
}

double Loudness::Add(const float* stereo, int frames) {
    const auto run = [](const Biquad& f, State& s, double x) {
        const double y = f.b0 * x + s.s1;
        s.s1 = f.b1 * x - f.a1 * y + s.s2;
        s.s2 = f.b2 * x - f.a2 * y;
        return y;
    };
    double window = 0;
    for (int i = 0; i < frames; ++i) {
        double sum = 0;
        for (int c = 0; c < 2; ++c) {
            const double y = run(highPass_, state_[2 + c], run(shelf_, state_[c], stereo[2 * i + c]));
            sum += y * y;
        }
        window += sum;
        subBlockSum_ += sum;
        if (++inSubBlock_ < subBlockFrames_) continue;
        // A block is the last four tenths of a second, and one ends every tenth.
        if (++subBlocksSeen_ >= 4) {
            const double meanSquare = std::accumulate(lastSubBlocks_.begin(), lastSubBlocks_.end(), subBlockSum_) / (4.0 * subBlockFrames_);
            if (meanSquare >= FromLufs(kAbsoluteGateLufs)) blocks_.push_back(meanSquare);
        }
        lastSubBlocks_ = {lastSubBlocks_[1], lastSubBlocks_[2], subBlockSum_};
        subBlockSum_ = 0;
        inSubBlock_ = 0;
    }
    for (State& s : state_) {
        if (std::fabs(s.s1) < kTiny) s.s1 = 0;
        if (std::fabs(s.s2) < kTiny) s.s2 = 0;
    }
    return frames > 0 ? ToLufs(window / frames) : -HUGE_VAL;
}

double Loudness::Integrated() const {
    if (blocks_.empty()) return -HUGE_VAL;
    const double gate = std::accumulate(blocks_.begin(), blocks_.end(), 0.0) / static_cast<double>(blocks_.size()) *
                        std::pow(10.0, kRelativeGateLu / 10);
    double sum = 0;
    long count = 0;
    for (double b : blocks_)
        if (b >= gate) sum += b, ++count;
    return count ? ToLufs(sum / static_cast<double>(count)) : -HUGE_VAL;
}

}  // namespace quendo::audio
