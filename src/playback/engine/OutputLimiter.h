#pragma once
#include <array>
#include <cstdint>

#include "playback/engine/PeakLimiter.h"

namespace quendo::audio {

// The last stage of the output: it holds the sum of the two decks below full scale, with a
// look-ahead limiter that is always in the path. Each deck sounds at its own level, but two
// decks at full volume in a mix can sum past full scale, which would clip.
//
// It looks ahead without delaying the sound: within the block at the block itself, past its end
// at what the decks say they will add next (their buffered frames at their current gains). That
// forecast may miss a change (a new gain, a seek), so the limiter looks again at every block,
// and each frame is held within the ceiling whatever the forecast said. While the sum stays
// below the ceiling and the gain is back at 1, the block is left as it is, bit for bit.
//
// Thread that mixes only; fixed-size state: it never allocates, locks or waits.
class OutputLimiter {
public:
    // The output's ceiling, in dBFS. Sample peaks of well-mastered tracks sit at -0.1 to 0 dBFS:
    // at -0.3 a track alone is touched only on those peaks, by no more than 0.3 dB, while the
    // output keeps a margin for the device's own conversion. Loudness-matched tracks stop at
    // -1 dBFS on their deck and never reach it alone.
    static constexpr double kCeilingDbfs = -0.3;

    explicit OutputLimiter(int rate);

    // Room for the frames after the next block, zeroed, for the decks to add their forecast to
    // (AheadFrames() frames of interleaved stereo).
    float* Forecast();
    int AheadFrames() const { return static_cast<int>(limiter_.Ahead()); }
    // Limits the block `out` (interleaved stereo, in place), with the forecast in view. Damaged
    // samples (not numbers, or far past what two decks reach) go first: silenced or cut.
    void Limit(float* out, int frames);
    float Ceiling() const { return ceiling_; }

private:
    // The block followed by the forecast, as one run of frames counted since the output began.
    struct BlockAndForecast {
        const float* block;
        std::uint64_t start, end;
        const float* forecast;
        const float* At(std::uint64_t i) const {
            return i < end ? block + 2 * (i - start) : forecast + 2 * (i - end);
        }
    };

    PeakLimiter limiter_;
    const float ceiling_;
    std::uint64_t at_ = 0;  // frames of output so far
    std::array<float, 2 * PeakLimiter::kMaxAhead> forecast_{};
};

}  // namespace quendo::audio
