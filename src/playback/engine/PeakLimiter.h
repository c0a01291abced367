#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace quendo::audio {

// A look-ahead peak limiter, run by the mixer frame by frame: the gain it gives a frame keeps
// that frame, stereo-linked, at or below the threshold, always (a guarantee, not an aim). It looks
// ahead into the frames still to come (a deck's ring, or the output's block and what the decks
// will add after it) rather than delaying the signal, so nothing is dropped or repeated when it
// comes into the path or leaves it, and the position heard is the position read.
//
// A frame louder than the threshold needs a gain below 1. The gain is held at that need for a
// short while before the frame (so the waveform's rise into a peak is not steepened), and before
// that falls to it in a straight line; it follows the lowest of these in sight and recovers from
// it smoothly. Without a peak in sight the gain is exactly 1.
//
// Fixed-size state: it never allocates, locks or waits.
class PeakLimiter {
public:
    explicit PeakLimiter(int rate);

    // The level, in the frames' own units, no frame may pass. A new threshold starts the look
    // ahead over from the next frame asked for; the gain moves on from where it is.
    void SetThreshold(float threshold);
    float Threshold() const { return threshold_; }
    // The frames ahead may have changed since they were looked at (they were a forecast): the
    // look ahead starts over from the next frame asked for; the gain moves on from where it is.
    void LookAgain() { restart_ = true; }
    // The gain for frame `at` of `frames`, looking ahead at the frames below `stop` (the frames
    // that are there and belong with it). `frames.At(i)` gives frame i's two samples (a deck's
    // ring reader, for one). Frames are asked for in order; a jump forward (a seek, a new
    // generation) is fine.
    template <class Frames>
    float Next(const Frames& frames, std::uint64_t at, std::uint64_t stop);
    // Frames it looks ahead past the one it gives a gain for.
    std::uint64_t Ahead() const { return ahead_; }
    // Whether the gain is back at exactly 1.
    bool AtRest() const { return gain_ == 1.0f; }

    static constexpr std::uint32_t kMaxAhead = 1024;  // about 5 ms at 192 kHz

private:
    static constexpr std::uint32_t kSlots = 2048;     // a power of two above kMaxAhead + 1

    // The lowest key among the frames in a window that slides forward: the keys rise from the
    // front to the back, and so do the frames, so the stale ones leave from the front.
    class LowestInWindow {
    public:
        void Clear() { head_ = count_ = 0; }
        void Push(std::uint64_t index, double key);
        void DropBelow(std::uint64_t index);
        bool Empty() const { return count_ == 0; }
        double Lowest() const { return slots_[head_].key; }

    private:
        struct Slot {
            std::uint64_t index;
            double key;
        };
        std::array<Slot, kSlots> slots_{};
        std::uint32_t head_ = 0, count_ = 0;
    };

    void Restart(std::uint64_t at);
    // What a frame needs: 1 or more when it is within the threshold (or no number at all).
    double Need(const float* frame) const {
        const float a = std::max(std::fabs(frame[0]), std::fabs(frame[1]));
        // A damaged frame's NaN is never a peak (the output stage silences it).
        return a > threshold_ ? static_cast<double>(threshold_) / a : 1.0;
    }

    std::uint64_t ahead_;  // frames looked ahead
    std::uint64_t hold_;   // frames before a peak that are held at its need
    double slope_;         // how fast the gain falls to a need, per frame
    float release_;        // how much of the way back to 1 is left after a frame
    float threshold_ = 1.0f;
    float gain_ = 1.0f;
    bool restart_ = true;
    std::uint64_t origin_ = 0, heldTo_ = 0, rampTo_ = 0;  // frames below these are in their windows
    // Frames from `at` to `at + hold_`, by their need; frames past those, to `at + ahead_`, by the
    // line falling to their need, as need + (index - hold_ - origin_) * slope_.
    LowestInWindow held_, ramps_;
};

template <class Frames>
float PeakLimiter::Next(const Frames& frames, std::uint64_t at, std::uint64_t stop) {
    if (restart_ || at < origin_) Restart(at);
    held_.DropBelow(at);
    ramps_.DropBelow(at + hold_ + 1);
    for (heldTo_ = std::max(heldTo_, at); heldTo_ < std::min(stop, at + hold_ + 1); ++heldTo_)
        if (const double need = Need(frames.At(heldTo_)); need < 1.0) held_.Push(heldTo_, need);
    for (rampTo_ = std::max(rampTo_, at + hold_ + 1); rampTo_ < std::min(stop, at + ahead_ + 1); ++rampTo_)
        if (const double need = Need(frames.At(rampTo_)); need < 1.0)
            ramps_.Push(rampTo_, need + static_cast<double>(rampTo_ - hold_ - origin_) * slope_);

    float g = 1.0f - (1.0f - gain_) * release_;
    if (g > 1.0f - 1e-6f) g = 1.0f;
    if (!held_.Empty() && held_.Lowest() < g) g = static_cast<float>(held_.Lowest());
    if (!ramps_.Empty()) {
        const double bound = ramps_.Lowest() - static_cast<double>(at - origin_) * slope_;
        if (bound < g) g = static_cast<float>(bound);
    }
    // The frame itself, whatever rounding or a threshold that just fell left above.
    const float* s = frames.At(at);
    const float a = std::max(std::fabs(s[0]), std::fabs(s[1]));
    if (a * g > threshold_) {
        g = threshold_ / a;
        // The quotient can round up, and the product land an ulp past the threshold.
        if (a * g > threshold_) g = std::nextafter(g, 0.0f);
    }
    gain_ = g;
    return g;
}

}  // namespace quendo::audio
