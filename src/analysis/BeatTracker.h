#pragma once
#include <memory>
#include <vector>

#include "model/TrackFacts.h"
#include "analysis/GridFit.h"

class FFTReal;

namespace quendo::audio {

// The beat of one track, from its sound fed in order, block by block, as it is decoded. It listens
// to 20 s of every minute (more of a short track) (a steady beat shows in any of them, a drifting one across them) and
// keeps a few numbers per hop of those, about 1.3 kB a second of sound, never the sound itself.
// One thread.
class BeatTracker {
public:
    // `trackSeconds`: how long the track is about to be, where known (0 otherwise).
    explicit BeatTracker(int rate, double trackSeconds = 0);
    ~BeatTracker();
    BeatTracker(const BeatTracker&) = delete;
    BeatTracker& operator=(const BeatTracker&) = delete;

    // Interleaved stereo at the rate given.
    void Add(const float* stereo, int frames);
    // The grid, its first beat at or after `firstSound`; bpm 0 when there is no steady beat.
    BeatGrid Finish(double firstSound);

    const OnsetEvidence& Evidence() const { return evidence_; }

private:
    void Restart();  // a stretch begins: nothing before it counts
    void Hop();

    const int factor_;            // decimation before the onset detection
    const long gapFrames_;        // input frames between two stretches
    std::vector<float> taps_;     // the decimation's low-pass, a triangle 2 * factor_ - 1 long
    std::vector<float> mono_;     // the input, mono: the low-pass's history, then a chunk
    std::size_t next_ = 0;        // the sample of mono_ the next decimated one ends on
    long skip_ = 0;               // input frames still to pass over before the next stretch
    long hops_ = 0;               // hops of the current stretch so far
    std::vector<double> frame_;   // the last two hops, decimated
    int filled_ = 0;              // decimated samples of the current hop in frame_
    std::unique_ptr<FFTReal> fft_;
    std::vector<double> window_, windowed_, magnitude_;
    std::vector<float> level_;    // the last hop's compressed magnitudes
    std::vector<float> last_;     // and as they were
    OnsetEvidence evidence_;
};

}  // namespace quendo::audio
