#pragma once
#include <cstdint>

#include "playback/engine/BassCut.h"
#include "playback/engine/DeckShared.h"
#include "playback/engine/PeakLimiter.h"
#include "playback/engine/SpscRing.h"
#include "playback/engine/StartCue.h"

namespace quendo::audio {

// A deck's part in the mixer: what the device callback (or render()) runs for it. Only the thread
// that mixes calls it, and it never locks, allocates, waits or decodes: it reads the ring through
// its reader side, the decoder's published record and the control's atomics, and keeps its own
// state.
//
// It fades in once enough of a generation is buffered, moves the gains in a ramp across each
// block, fades out on a pause or when the newest generation is not the one it reads (the old
// material plays out, never past where the next generation starts; over 25 ms when the deck is
// to stop, after a pause, a close or another file, and over a few for a seek), and, while a
// file's end is unknown, keeps the last few milliseconds back to fade out over if the decoder
// falls behind.
//
// A track with a ceiling is played through the deck's limiter, which holds its own signal (its
// samples times its gain) at or below the ceiling; the volume and balance come after, and only
// lower it. Without a ceiling, once the limiter is back at rest, the path is the plain one.
//
// A deck with a bass plan has its low band cut and brought back as the plan says for the file
// frame each ring frame plays, so that a move lands on its frame on a stretched deck too, and a
// plan given while playing holds for the frames already decoded. The filter starts cold with each
// generation, under its fade-in; without a plan (or at 1, no move near) the samples pass untouched.
//
// The position heard is in the file's time: a stretched generation's ring frames are placed in
// the file by the decoder's notes. A deck asked to start on a frame of the other deck's file
// waits, primed, and starts within the very block where the other plays that frame, at its
// offset there: it mixes after the other and reads where the other's frames fell. One whose
// frames have not come by then (its file slow to answer after a seek) is due all the same: when
// they come, it skips what it would have played meanwhile and fades in, in step.
class DeckMixer {
public:
    DeckMixer(SpscRing::Reader ring, DeckShared& shared, int rate);

    // Adds this deck's next `frames` frames into `out`; true when a playing deck ran short of data.
    // `other` is the other deck's mixer, which has mixed this block already if AwaitsOther().
    bool MixInto(float* out, int frames, const DeckMixer& other);
    // Whether this deck waits to start on a frame of the other deck's.
    bool AwaitsOther() const;
    // What this deck would add to the next `frames` frames were nothing to change: the frames it
    // has buffered, at the gains and fade it has reached, the loud ones held to its limiter's
    // threshold. Added into `ahead`, for the output's limiter to see what comes.
    void AddForecast(float* ahead, int frames) const;
    // Whether a block of `frames` can be mixed without waiting on the decoder. Offline rendering
    // only, where the thread that mixes is the interface thread.
    bool ReadyFor(int frames);

    // Where the mixer stands: it reads at ReadAt(), in the generation whose frames begin at
    // GenerationStart(), both counted in frames since the ring was made.
    const SpscRing::Reader& Ring() const { return ring_; }
    std::uint64_t GenerationStart() const { return mix_.start; }
    std::uint64_t ReadAt() const { return mix_.readIdx; }

private:
    struct MixState {
        std::uint32_t gen = 0;
        std::uint64_t start = 0, readIdx = 0, end = kNoEnd;
        // Frames in [start, limit) are known to be this generation's: readIdx never passes it.
        std::uint64_t limit = 0;
        std::int64_t base = 0;
        double heard = 0;  // the file frame at readIdx
        bool primed = false, ended = false, gainsSet = false, limited = false;
        float fade = 0.0f, gl = 1.0f, gr = 1.0f;
        float trackGain = 1.0f;  // the track's gain within gl and gr
    };
    // One block as it goes, frame by frame.
    struct Block {
        float tl, tr;        // the gains the block moves to
        float gl, gr, fade;  // the gains and the fade reached
        float dl, dr;        // the gains' step per frame
        float trackGain;     // the track's gain the block moves to
        float down;          // the fade's step per frame on the way out
        std::uint64_t at;    // the ring frame to mix next
        std::uint64_t avail; // frames from `at` that may be mixed
        std::uint64_t keep;  // frames held back from a full-level run
        int i;               // the output frame to mix next
        bool want, fadeIn, shortOfData, limited, bass;
    };

    // What the deck played in its last block, for a deck that starts on one of its frames.
    struct Played {
        bool playing = false;       // it meant to play: not waiting, paused or at its end
        bool ended = false;         // it played its file's last frame in it
        int first = 0, count = 0;   // output frames [first, first + count) carried its frames
        double from = 0, to = 0;    // the file frames heard at the start and the end of those
    };
    // Where in the block this deck starts on the other's frame; -1 not in this block.
    static int CueOffset(const StartCue& cue, const Played& other);
    // The file frame at ring frame `index` of the generation read (index at least its start).
    double FileFrameAt(std::uint64_t index);
    const Published& Sync(std::uint32_t* requestedOut = nullptr);
    bool Primed();  // enough of the generation is buffered to start on (once so, it stays so)
    Block StartBlock(bool want, int frames);
    template <bool kLimited, bool kBass>
    void FullLevelRun(Block& b, float* out, int frames);
    bool FadeStep(Block& b, float* out);
    void FinishBlock(const Block& b, int frames);
    void MarkEnded();

    SpscRing::Reader ring_;
    DeckShared& shared_;
    MixState mix_;
    PeakLimiter limiter_;
    BassCut bass_;
    const BassPlan* bassPlan_ = nullptr;  // the plan last taken
    Played played_;
    std::uint32_t cueDone_ = 0;  // the number of the last cue carried out
    const float stopStep_;       // the fade-out's step per frame on a pause or a close
    // A deck whose cue came before its frames: 1 + the frames it owes since then; 0 when not late.
    std::uint64_t late_ = 0;
};

}  // namespace quendo::audio
