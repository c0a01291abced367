#include "playback/engine/DeckControl.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "playback/engine/DeckDecoder.h"
#include "playback/engine/DeckStretch.h"
#include "playback/engine/Gains.h"

namespace quendo::audio {

// The decoder thread gives up on a stream call after kStuck; an open is waited for less, so that
// a thread held in it then is held in an older one.
static_assert(DeckControl::kOpenWait < DeckDecoder::kStuck);

DeckControl::DeckControl(DeckShared& shared, DeckDecoder& decoder, EndNotices& notices, int rate)
    : shared_(shared), decoder_(decoder), notices_(notices), rate_(rate) {}

void DeckControl::SetFileName(const std::string& path) {
    duration_ = 0;
    open_ = !path.empty();  // until the open answers otherwise
    failed_ = false;
    state_ = psStopped;
    shared_.playing.store(false, std::memory_order_relaxed);
    seekTarget_ = 0;
    plan_.reset();
    if (bassPlanned_) SetBassPlan({});
    const std::uint32_t gen = NewGen();
    opening_ = path.empty() ? 0 : gen;
    decoder_.Post({gen, path.empty() ? DeckDecoder::Command::kClose : DeckDecoder::Command::kOpen, 0, path, nullptr});
    Answer(kOpenWait);
}

void DeckControl::Answer(std::chrono::milliseconds wait) {
    if (opening_ == 0) return;
    const DeckDecoder::Opening a = decoder_.Opened(opening_, wait);
    if (!a.answered) return;
    opening_ = 0;
    duration_ = a.duration;
    if (duration_ > 0) return;
    open_ = false;
    failed_ = true;
    if (state_ == psPlaying) {
        // Played before its open answered: the caller hears of the end and moves on.
        state_ = psStopped;
        shared_.playing.store(false, std::memory_order_relaxed);
        failPending_ = true;
        notices_.EventDue();
    }
}

double DeckControl::Duration() {
    Answer(std::chrono::milliseconds(0));
    return duration_;
}

double DeckControl::CurrentPosition() {
    const std::uint64_t heard = shared_.heard.load(std::memory_order_acquire);
    // Until the mixer has reached the newest seek, that seek's target.
    const double at =
        SameGen(HeardGen(heard), gen_) ? static_cast<double>(HeardFrames(heard)) / rate_ : seekTarget_;
    // A seek past the end is heard as the end.
    return std::min(at, duration_);
}

void DeckControl::SetCurrentPosition(double seconds) {
    if (!open_) return;
    seekTarget_ = std::max(0.0, seconds);
    decoder_.Post({NewGen(), DeckDecoder::Command::kSeek, seekTarget_, {}, plan_});
}

void DeckControl::SetRatePlan(std::vector<RatePoint> plan) {
    if (!open_ || (plan.empty() && !plan_)) return;
    plan_ = plan.empty() ? nullptr : std::make_shared<const RatePlan>(plan, rate_);
    SetCurrentPosition(CurrentPosition());
}

void DeckControl::SetBassPlan(std::vector<BassPoint> plan) {
    BassPlan& next = shared_.bassPlan.Back();
    next.Set(std::move(plan), rate_);
    bassPlanned_ = next.count > 0;
    shared_.bassPlan.Publish();
}

void DeckControl::SetVolume(int volume) { shared_.volume.store(volume, std::memory_order_relaxed); }
void DeckControl::SetBalance(int balance) { shared_.balance.store(balance, std::memory_order_relaxed); }
void DeckControl::SetTrackGain(double db) { SetLimitedTrackGain(db, HUGE_VAL); }
void DeckControl::SetLimitedTrackGain(double db, double ceilingDbfs) {
    shared_.trackLevel.store({TrackGainFactor(db), CeilingFactor(ceilingDbfs)}, std::memory_order_relaxed);
}

bool DeckControl::Starved() {
    Answer(std::chrono::milliseconds(0));
    return state_ == psPlaying && shared_.starved.load(std::memory_order_relaxed);
}

void DeckControl::Play() {
    Answer(std::chrono::milliseconds(0));
    if (!open_) {
        // Nothing to play: the caller still hears of the end, later, so that it moves on.
        if (failed_) {
            failPending_ = true;
            notices_.EventDue();
        }
        return;
    }
    StartPlaying({});
}

void DeckControl::PlayAfterOther(double otherSeconds, bool seamless) {
    Answer(std::chrono::milliseconds(0));
    if (!open_) return Play();
    if (state_ == psPlaying) return;
    StartCue cue;
    cue.onOther = true;
    cue.seamless = seamless;
    cue.atOtherEnd = otherSeconds == kAtOtherEnd;
    // A point before the other's start, or no point at all, has been passed: at once.
    if (!cue.atOtherEnd && otherSeconds > 0) {
        double frame = otherSeconds * rate_;
        if (plan_) frame -= DeckStretch::MeanLagFrames(rate_, plan_->RateAt(CurrentPosition() * rate_));
        cue.otherFrame = std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(0LL, std::llround(frame))), StartCue::kFrameMask);
    }
    StartPlaying(cue);
}

void DeckControl::StartPlaying(StartCue cue) {
    if (delivered_ == gen_) SetCurrentPosition(0);  // played to the end: start again
    state_ = psPlaying;
    cue.number = ++cues_;
    shared_.cue.store(cue.Pack(), std::memory_order_relaxed);
    shared_.playing.store(true, std::memory_order_release);
    decoder_.Wake();
}

void DeckControl::Pause() {
    if (state_ != psPlaying) return;
    state_ = psPaused;
    shared_.playing.store(false, std::memory_order_release);
}

void DeckControl::DeliverEnd() {
    Answer(std::chrono::milliseconds(0));
    bool raise = false;
    if (failPending_) {
        failPending_ = false;
        raise = true;
    }
    const std::uint32_t ended = shared_.endedGen.load(std::memory_order_acquire);
    if (open_ && ended == gen_ && delivered_ != gen_ && state_ == psPlaying) {
        delivered_ = gen_;
        state_ = psStopped;
        shared_.playing.store(false, std::memory_order_relaxed);
        raise = true;
    }
    if (raise && EndOfStream) EndOfStream();
}

std::uint32_t DeckControl::NewGen() {
    gen_ = NextGen(gen_);
    shared_.requested.store(gen_, std::memory_order_release);
    return gen_;
}

}  // namespace quendo::audio
