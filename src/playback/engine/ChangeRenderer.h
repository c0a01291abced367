#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "model/ChangePreview.h"

namespace quendo::audio {

class AudioEngine;

// A planned change played by an engine of its own, without a device: the same decks, stretch,
// bass cut and output limiter as the show's, given the commands the automix would give them, each
// level moved where the plan says the ticks move it. The sound is the show's to within the ticks'
// timing. Whatever thread renders owns it; it may be made on another.
class ChangeRenderer {
public:
    explicit ChangeRenderer(PlannedChange change, int rate = 44100);
    ~ChangeRenderer();
    ChangeRenderer(const ChangeRenderer&) = delete;
    ChangeRenderer& operator=(const ChangeRenderer&) = delete;

    // Frames the change lasts.
    std::int64_t Frames() const { return total_; }
    std::int64_t Done() const { return done_; }
    // The next frames of the change, interleaved stereo, up to its end; returns how many.
    int Render(float* out, int frames);

private:
    void Begin();  // the decks loaded and started, on the thread that renders
    void StepsDue();

    PlannedChange change_;
    const int rate_;
    std::unique_ptr<AudioEngine> engine_;
    std::size_t nextStep_ = 0;
    std::int64_t done_ = 0, total_ = 0;
};

}  // namespace quendo::audio
