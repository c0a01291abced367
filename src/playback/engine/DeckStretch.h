#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "playback/engine/DecodeSource.h"
#include "playback/engine/RatePlan.h"

namespace soundtouch {
class SoundTouch;
}

namespace quendo::audio {

// A deck's time stretch, between its file and its ring on the decoder thread: the file's frames
// played at the plan's rate with their pitch kept (SoundTouch), or, where the plan leaves the
// rate at exactly 1 for good, the file's own frames untouched.
//
// Each frame it hands out has a place in the file given by the plan itself, not by what the
// stretcher happens to do: the file frame F(k) after k frames heard. The stretcher is kept on
// that line by giving it, for each stretch of input, the plan's rate there, so its output follows
// the plan without drift; the notes of the mapping are what the mixer reports as heard.
//
// A generation without a plan, or starting where the rate is 1 for good, never meets the
// stretcher: its frames are the file's, bit for bit. One that reaches the plan's last return to 1
// crossfades, over a few milliseconds aligned in file time, from the stretched signal to the
// file's own and plays on plainly, so a track played to its end after a mix costs nothing more.
//
// Decoder thread only. It allocates, but only when a generation starts.
class DeckStretch {
public:
    explicit DeckStretch(int rate);
    ~DeckStretch();
    DeckStretch(const DeckStretch&) = delete;
    DeckStretch& operator=(const DeckStretch&) = delete;

    // How late, on average, the stretcher lets the file's sound be heard at a steady `rate`, in
    // frames heard. Within each of its passes the sound runs at rate 1 and the pass's start is on
    // time, so a beat falls behind by half a pass's drift on average: a start cued this much
    // earlier puts the beats on the other deck's, not just the first.
    static double MeanLagFrames(int sampleRate, double rate);

    // A new generation, the stream already positioned at file frame `from`; `plan` may be null.
    void Start(std::shared_ptr<const RatePlan> plan, std::int64_t from);

    struct Chunk {
        int frames;   // written to `out`
        bool ended;   // nothing follows them
        // When the frames begin a new run of the mapping: the file frame of the first, and the
        // file frames each further frame moves on by. Otherwise they continue the last run.
        bool newRun;
        double file, step;
    };
    // Up to maxFrames frames into `out`, read from `stream` as needed.
    Chunk Read(DeckStream& stream, float* out, int maxFrames);

private:
    // The file frames fed to the stretcher are kept this far back: the crossfade to the plain
    // signal takes them from here, and the stretcher holds back only a few thousand.
    static constexpr std::int64_t kHistoryFrames = 1 << 15;
    enum class Mode { kPlain, kStretch, kCrossfade, kAfter };
    Chunk ReadStretched(DeckStream& stream, float* out, int maxFrames);
    Chunk ReadCrossfade(DeckStream& stream, float* out, int maxFrames);
    Chunk ReadAfter(DeckStream& stream, float* out, int maxFrames);
    // Feeds the stretcher until it holds `frames` frames of output (silence past the file's end).
    void Fill(DeckStream& stream, int frames);
    float* History(std::int64_t fileFrame) { return history_.data() + 2 * (fileFrame & (kHistoryFrames - 1)); }

    const int rate_;
    std::unique_ptr<soundtouch::SoundTouch> touch_;  // made at its first use
    std::vector<float> history_;                      // the file frames fed, by file frame
    std::vector<float> piece_;
    std::shared_ptr<const RatePlan> plan_;
    Mode mode_ = Mode::kPlain;
    std::int64_t start_ = 0;     // the generation's first file frame
    std::int64_t fed_ = 0;       // the next file frame to read from the stream
    std::int64_t padded_ = 0;    // frames of silence fed past the file's end
    std::int64_t fileEnd_ = -1;  // where the stream ended, once it has
    std::int64_t made_ = 0;      // frames handed out since the generation started
    std::int64_t endOut_ = -1;   // frames the generation hands out in all, once known
    double fileAt_ = 0;          // the file frame of the next frame handed out
    std::int64_t plainAt_ = 0;   // in the crossfade and after: the file frame next handed out
    int faded_ = 0;              // frames of the crossfade done
    double runFile_ = 0, runStep_ = 1;  // the last run of the mapping handed out
    std::int64_t runFrames_ = 0;        // and its frames so far; 0: none yet
};

}  // namespace quendo::audio
