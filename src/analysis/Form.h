#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "model/TrackFacts.h"

namespace quendo::audio {

// The level of the sound in TrackForm's four bands, kept as it goes by: four numbers per hop of
// about 25 ms, never the sound itself. With `outline`, also the sound's outline for drawing, from
// the same filters: each band's peak over half a hop (below 400 Hz, to 4 kHz, above). One thread.
class BandMeter {
public:
    using Hop = std::array<float, TrackForm::kBands>;  // mean squares

    explicit BandMeter(int rate, bool outline = true);
    // Interleaved stereo, in blocks of any size.
    void Add(const float* stereo, int frames);
    double HopSeconds() const { return hopSeconds_; }
    const std::vector<Hop>& Hops() const { return hops_; }
    // The outline so far; not known without `outline` or sound.
    TrackWave Outline() const;

private:
    struct Biquad {
        float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0, s1 = 0, s2 = 0;
        Biquad() = default;
        Biquad(int rate, double hz, bool highPass);
        float operator()(float x) {
            const float y = b0 * x + s1;
            s1 = b1 * x - a1 * y + s2;
            s2 = b2 * x - a2 * y;
            return y;
        }
    };

    const int hopFrames_;
    const double hopSeconds_;
    // Below 4 kHz, then each side of 400 Hz below it, then each side of 120 Hz below that.
    Biquad below4k_, above400_, below400_, below120_, above120_;
    int phase_ = 0;
    Hop sums_{};
    int filled_ = 0;
    std::vector<Hop> hops_;
    const bool outline_;
    std::array<float, TrackWave::kBands> peaks_{};
    std::array<std::vector<std::uint8_t>, TrackWave::kBands> outlinePoints_;
};

// Each whole bar's band levels (dB), from bar 0 of the grid to the last sound; a bar is whole when
// three quarters of it sound. Empty without a steady beat and known bars.
std::vector<TrackForm::BarLevels> FoldIntoBars(const std::vector<BandMeter::Hop>& hops, double hopSeconds,
                                               const BeatGrid& grid, double lastSound);

// The form read from the bars' levels alone: the phrases, the bass's entry and exit, the fade-out.
// `levels` becomes the form's levels; an empty one gives an unknown form.
TrackForm FindForm(std::vector<TrackForm::BarLevels> levels);

}  // namespace quendo::audio
