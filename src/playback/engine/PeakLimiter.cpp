#include "playback/engine/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace quendo::audio {

namespace {
constexpr double kAheadSeconds = 0.003;
// The time the gain takes to come back two thirds of the way to 1: short enough that a track
// stays near its loudness between peaks, long enough not to follow the waveform.
constexpr double kReleaseSeconds = 0.15;
}  // namespace

PeakLimiter::PeakLimiter(int rate)
    : ahead_(static_cast<std::uint32_t>(std::clamp(std::lround(rate * kAheadSeconds), 1L, static_cast<long>(kMaxAhead)))),
      // A bound comes into sight at 1 or above, whatever the frame needs: the gain never steps.
      slope_(1.0 / ahead_),
      release_(static_cast<float>(std::exp(-1.0 / (std::max(rate, 1) * kReleaseSeconds)))) {}

void PeakLimiter::SetThreshold(float threshold) {
    if (threshold == threshold_) return;
    threshold_ = threshold;
    restart_ = true;
}

void PeakLimiter::Restart(std::uint64_t at) {
    head_ = count_ = 0;
    origin_ = scanned_ = at;
    restart_ = false;
}

float PeakLimiter::Next(const SpscRing::Reader& ring, std::uint64_t at, std::uint64_t stop) {
    if (restart_ || at < origin_) Restart(at);
    // Bounds lie in order of their frames as well as of their keys: the stale ones are in front.
    while (count_ > 0 && bounds_[head_].index < at) {
        head_ = (head_ + 1) & (kSlots - 1);
        --count_;
    }
    scanned_ = std::max(scanned_, at);
    const std::uint64_t sight = std::min(stop, at + ahead_ + 1);
    for (; scanned_ < sight; ++scanned_) {
        const float* s = ring.At(scanned_);
        const float a = std::max(std::fabs(s[0]), std::fabs(s[1]));
        if (a <= threshold_) continue;
        const double key = static_cast<double>(threshold_) / a + static_cast<double>(scanned_ - origin_) * slope_;
        // A later bound that is also lower hides those before it for as long as they last.
        while (count_ > 0 && bounds_[(head_ + count_ - 1) & (kSlots - 1)].key >= key) --count_;
        bounds_[(head_ + count_) & (kSlots - 1)] = {scanned_, key};
        ++count_;
    }

    float g = 1.0f - (1.0f - gain_) * release_;
    if (g > 1.0f - 1e-6f) g = 1.0f;
    if (count_ > 0) {
        const double bound = bounds_[head_].key - static_cast<double>(at - origin_) * slope_;
        if (bound < g) g = static_cast<float>(bound);
    }
    // The frame itself, whatever rounding or a threshold that just fell left above.
    const float* s = ring.At(at);
    const float a = std::max(std::fabs(s[0]), std::fabs(s[1]));
    if (a * g > threshold_) g = threshold_ / a;
    gain_ = g;
    return g;
}

}  // namespace quendo::audio
