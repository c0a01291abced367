#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/MediaPlayer.h"
#include "playback/engine/DeckShared.h"
#include "playback/engine/EndNotices.h"
#include "playback/engine/RatePlan.h"
#include "playback/engine/StartCue.h"

namespace quendo::audio {

class DeckDecoder;

// A deck as the program sees it: the MediaPlayer. Interface thread only, every member.
//
// It numbers each open, seek and close as a new generation and hands it to the decoder thread;
// it tells the mixer what to play through atomics, and reads back what was heard and whether the
// file was played to its end.
//
// The decoder thread opens the file, so that a file that does not answer (a share gone away)
// holds that thread and not this one. SetFileName waits a moment for the answer, which an
// ordinary file gives well within it, so the length is known on return as before. A file that
// has not answered by then is opening: its length reads 0 until it answers, it may be played
// (it is starved meanwhile, which the caller's watchdog sees), and if it turns out not to play,
// a deck already playing it raises EndOfStream as a file played to its end does.
class DeckControl final : public MediaPlayer {
public:
    // How long SetFileName waits for the decoder thread's open.
    static constexpr std::chrono::milliseconds kOpenWait{500};

    DeckControl(DeckShared& shared, DeckDecoder& decoder, EndNotices& notices, int rate);

    void SetFileName(const std::string& path) override;
    double Duration() override;
    double CurrentPosition() override;
    void SetCurrentPosition(double seconds) override;
    void SetVolume(int volume) override;
    void SetBalance(int balance) override;
    void SetTrackGain(double db) override;
    void SetLimitedTrackGain(double db, double ceilingDbfs) override;
    int PlayState() override { return state_; }
    bool Starved() override;
    void Play() override;
    void Pause() override;

    bool CanPlayInStep() const override { return true; }
    // The deck starts over where it stands under the new plan (a new generation, as a seek to
    // there): before play nothing is heard of it; while playing it is a seek's short dip. A new
    // file drops the plan.
    void SetRatePlan(std::vector<RatePoint> plan) override;
    // Playing from then on (PlayState 2) while the mixer waits for the other deck's frame; the
    // position stays put until then. A deck already playing plays on. One whose frames come only
    // after the other has played that frame (its file slow to open, seek or read) is starved
    // meanwhile, then skips what it would have played and fades in, in step.
    void PlayAfterOther(double otherSeconds, bool seamless) override;

    bool CanCutBass() const override { return true; }
    // Heard from the mixer's next block on, the frames already decoded included. Points past
    // BassPlan::kMaxPoints are dropped: the last one kept holds on.
    void SetBassPlan(std::vector<BassPoint> plan) override;

    // Raises EndOfStream if this deck's end is due.
    void DeliverEnd();

private:
    std::uint32_t NewGen();
    void StartPlaying(StartCue cue);
    // Takes the answer to an open still waited for, if it has come within `wait`.
    void Answer(std::chrono::milliseconds wait);

    DeckShared& shared_;
    DeckDecoder& decoder_;
    EndNotices& notices_;
    const int rate_;

    std::uint32_t gen_ = 0;        // newest generation asked for (an open, seek or close)
    std::uint32_t delivered_ = 0;  // generation whose end was raised
    std::uint32_t cues_ = 0;       // Play calls so far, which number their cues
    std::uint32_t opening_ = 0;    // the generation whose open is not answered yet; 0: none
    std::shared_ptr<const RatePlan> plan_;
    bool bassPlanned_ = false;  // the mixer holds a bass plan
    double duration_ = 0, seekTarget_ = 0;
    bool open_ = false, failed_ = false, failPending_ = false;
    int state_ = psStopped;
};

}  // namespace quendo::audio
