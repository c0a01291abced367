#include "playback/engine/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace quendo::audio {

namespace {
constexpr double kAheadSeconds = 0.004;
// Longer than the rise of a quarter wave of all but the deepest bass.
constexpr double kHoldSeconds = 0.0015;
// The time the gain takes to come back two thirds of the way to 1: short enough that a track
// stays near its loudness between peaks, long enough not to follow the waveform.
constexpr double kReleaseSeconds = 0.15;
}  // namespace

void PeakLimiter::LowestInWindow::Push(std::uint64_t index, double key) {
    // A later frame with a lower key hides those before it for as long as they last.
    while (count_ > 0 && slots_[(head_ + count_ - 1) & (kSlots - 1)].key >= key) --count_;
    slots_[(head_ + count_) & (kSlots - 1)] = {index, key};
    ++count_;
}

void PeakLimiter::LowestInWindow::DropBelow(std::uint64_t index) {
    while (count_ > 0 && slots_[head_].index < index) {
        head_ = (head_ + 1) & (kSlots - 1);
        --count_;
    }
}

PeakLimiter::PeakLimiter(int rate)
    : ahead_(static_cast<std::uint64_t>(
          std::clamp(std::lround(std::max(rate, 1) * kAheadSeconds), 2L, static_cast<long>(kMaxAhead)))),
      hold_(std::min(ahead_ - 1, static_cast<std::uint64_t>(std::lround(std::max(rate, 1) * kHoldSeconds)))),
      // A need comes into sight at 1 or above, whatever it is: the gain never steps.
      slope_(1.0 / static_cast<double>(ahead_ - hold_)),
      release_(static_cast<float>(std::exp(-1.0 / (std::max(rate, 1) * kReleaseSeconds)))) {}

void PeakLimiter::SetThreshold(float threshold) {
    if (threshold == threshold_) return;
    threshold_ = threshold;
    restart_ = true;
}

void PeakLimiter::Restart(std::uint64_t at) {
    held_.Clear();
    ramps_.Clear();
    origin_ = heldTo_ = rampTo_ = at;
    restart_ = false;
}

double PeakLimiter::Need(const SpscRing::Reader& ring, std::uint64_t index) const {
    const float* s = ring.At(index);
    const float a = std::max(std::fabs(s[0]), std::fabs(s[1]));
    // A damaged frame's NaN is never a peak (the output stage silences it).
    return a > threshold_ ? static_cast<double>(threshold_) / a : 1.0;
}

float PeakLimiter::Next(const SpscRing::Reader& ring, std::uint64_t at, std::uint64_t stop) {
    if (restart_ || at < origin_) Restart(at);
    held_.DropBelow(at);
    ramps_.DropBelow(at + hold_ + 1);
    for (heldTo_ = std::max(heldTo_, at); heldTo_ < std::min(stop, at + hold_ + 1); ++heldTo_)
        if (const double need = Need(ring, heldTo_); need < 1.0) held_.Push(heldTo_, need);
    for (rampTo_ = std::max(rampTo_, at + hold_ + 1); rampTo_ < std::min(stop, at + ahead_ + 1); ++rampTo_)
        if (const double need = Need(ring, rampTo_); need < 1.0)
            ramps_.Push(rampTo_, need + static_cast<double>(rampTo_ - hold_ - origin_) * slope_);

    float g = 1.0f - (1.0f - gain_) * release_;
    if (g > 1.0f - 1e-6f) g = 1.0f;
    if (!held_.Empty() && held_.Lowest() < g) g = static_cast<float>(held_.Lowest());
    if (!ramps_.Empty()) {
        const double bound = ramps_.Lowest() - static_cast<double>(at - origin_) * slope_;
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
