#pragma once
#include <array>
#include <cstdint>

#include "playback/engine/SpscRing.h"

namespace quendo::audio {

// A deck's look-ahead peak limiter, run by the mixer frame by frame: the gain it gives a frame
// keeps that frame, stereo-linked, at or below the threshold, always (a guarantee, not an aim).
// It looks ahead into the deck's ring rather than delaying the signal, so nothing is dropped or
// repeated when it comes into the path or leaves it, and the position heard is the position read.
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

    // The level, in the ring's own units, no frame may pass. A new threshold starts the look
    // ahead over from the next frame asked for; the gain moves on from where it is.
    void SetThreshold(float threshold);
    // The gain for frame `at` of `ring`, looking ahead at the frames below `stop` (the frames
    // that are there and are this generation's). Frames are asked for in order; a jump forward
    // (a seek, a new generation) is fine.
    float Next(const SpscRing::Reader& ring, std::uint64_t at, std::uint64_t stop);
    // Whether the gain is back at exactly 1.
    bool AtRest() const { return gain_ == 1.0f; }

private:
    static constexpr std::uint32_t kMaxAhead = 1024;  // about 5 ms at 192 kHz
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
    double Need(const SpscRing::Reader& ring, std::uint64_t index) const;

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

}  // namespace quendo::audio
