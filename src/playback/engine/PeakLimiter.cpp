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

}  // namespace quendo::audio
