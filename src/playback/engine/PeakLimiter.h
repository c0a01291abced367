#pragma once
#include <array>
#include <cstdint>

#include "playback/engine/SpscRing.h"

namespace quendo::audio {

// A deck's look-ahead peak limiter, run by the mixer frame by frame: the gain it gives a frame
// keeps that frame, stereo-linked, at or below the threshold, always (it is a guarantee, not an
// aim). It looks ahead into the deck's ring rather than delaying the signal, so nothing is
// dropped or repeated when it comes into the path or leaves it, and the position heard is the
// position read.
//
// Each frame louder than the threshold sets a bound that falls in a straight line to the gain
// that frame needs, reached on that frame; the gain follows the lowest bound in sight and
// recovers from it smoothly. Without a peak in sight the gain is exactly 1.
//
// Fixed-size state: it never allocates, locks or waits.
class PeakLimiter {
public:
    explicit PeakLimiter(int rate);

    // The level, in the ring's own units, no frame may pass. A new threshold starts the look
    // ahead over from the next frame asked for; the gain moves on from where it is.
    void SetThreshold(float threshold);
    float Threshold() const { return threshold_; }
    // The gain for frame `at` of `ring`, looking ahead at the frames below `stop` (the frames
    // that are there and are this generation's). Frames are asked for in order; a jump forward
    // (a seek, a new generation) is fine.
    float Next(const SpscRing::Reader& ring, std::uint64_t at, std::uint64_t stop);
    // Whether the gain is back at exactly 1.
    bool AtRest() const { return gain_ == 1.0f; }

private:
    // The bound a loud frame sets on frame m is need + (index - m) * slope_: kept as `key` =
    // need + (index - origin_) * slope_, minus (m - origin_) * slope_ when read.
    struct Bound {
        std::uint64_t index;
        double key;
    };
    static constexpr std::uint32_t kMaxAhead = 1024;  // about 5 ms at 192 kHz
    static constexpr std::uint32_t kSlots = 2048;     // a power of two above kMaxAhead + 1

    void Restart(std::uint64_t at);

    std::uint32_t ahead_;  // frames looked ahead
    double slope_;         // how fast a bound falls, per frame
    float release_;        // how much of the way back to 1 is left after a frame
    float threshold_ = 1.0f;
    float gain_ = 1.0f;
    bool restart_ = true;
    std::uint64_t origin_ = 0, scanned_ = 0;
    // Bounds in sight, by index; their keys rise from head_ to tail_, so the front is the lowest.
    std::array<Bound, kSlots> bounds_{};
    std::uint32_t head_ = 0, count_ = 0;
};

}  // namespace quendo::audio
