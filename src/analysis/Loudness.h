#pragma once
#include <array>
#include <vector>

namespace quendo::audio {

// Loudness after ITU-R BS.1770 (K-weighting, 400 ms blocks every 100 ms, the absolute gate at
// -70 LUFS and the relative one 10 LU under), of stereo fed in order. The analysis measures each
// 50 ms window too, which a general meter does by summing its history again for every window;
// here each window's sum comes from the same pass as the filter, and so do the blocks', which
// makes the meter a fraction of the analysis' cost instead of a quarter of it.
class Loudness {
public:
    explicit Loudness(int rate);

    // Interleaved stereo frames; their loudness (LUFS, -inf for digital silence) as one window.
    double Add(const float* stereo, int frames);
    // Over all that was fed, gated; -inf when no block passes the gates.
    double Integrated() const;

private:
    struct Biquad {
        double b0, b1, b2, a1, a2;
    };
    struct State {
        double s1 = 0, s2 = 0;
    };

    Biquad shelf_{}, highPass_{};
    std::array<State, 4> state_{};  // per channel: the shelf's, then the high-pass'
    int subBlockFrames_ = 0;        // 100 ms
    int inSubBlock_ = 0;            // frames of the current 100 ms so far
    double subBlockSum_ = 0;        // and their weighted squares, both channels
    std::array<double, 3> lastSubBlocks_{};  // the three before it, oldest first
    int subBlocksSeen_ = 0;
    std::vector<double> blocks_;  // the mean squares of the blocks over the absolute gate
};

}  // namespace quendo::audio
