#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "playback/DeckEngine.h"

#include "analysis/JoinEvidence.h"

namespace quendo {

namespace {

constexpr const char* kAutoMixingCaption = "                    A u t o M i x i n g";
// Width of the title strip in pixels; Next seeks by it as a click at its last pixel would.
constexpr std::int64_t kTitleStripWidth = 273;
// The level a track's own signal never passes when its loudness is matched.
constexpr double kCeilingDbfs = -1.0;
// How far the limiter may take a track's peaks down.
constexpr double kMaxLimitDb = 6.0;
// How far a quiet track is raised at most: past this it is noise or near-silence, not music mastered low.
constexpr double kMaxBoostDb = 20.0;
// How long a track whose facts are not known yet waits for them before it plays as it is. An
// ordinary file is analysed well within it; a long one plays meanwhile and is matched later.
constexpr int kHoldTicks = 20;
// The glide to the matched level when facts come while the track plays: gentle, not a jump.
constexpr int kLateGlideTicks = 20;
// How long before its bar line a mix in step begins: the incoming deck is opened, placed on its
// bar line and primed, and the engine waits for the outgoing deck to reach the line. Ticks come
// 100 ms apart and may be late: the start needs time in hand.
constexpr double kInStepPreroll = 1.5;
// How long before the current file's end the next track of a continuous album is cued to follow it.
constexpr double kJoinPreroll = 2.0;
// Two seconds without a new frame from its file, while the deck plays, is a file that stopped
// answering (a slow one gives a frame now and then).
constexpr int kStallTicks = 20;
// More than this between two ticks is a seek, not play.
constexpr double kMaxStepSeconds = 1.0;

std::int32_t TruncatedSeconds(double seconds) {
    if (std::isnan(seconds)) return 0;
    if (seconds >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (seconds <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(seconds);
}

Deck OtherDeck(Deck d) { return d == Deck::WinMediaPlayer1 ? Deck::WinMediaPlayer2 : Deck::WinMediaPlayer1; }
int Index(Deck d) { return d == Deck::WinMediaPlayer1 ? 0 : 1; }

bool PausedOrPlaying(int state) { return state == psPaused || state == psPlaying; }

}  // namespace

DeckEngine::DeckEngine(Parts parts) : p_(parts) {}

void DeckEngine::Reset() {
    currentDeck_ = Deck::WinMediaPlayer1;
    incomingDeck_ = Deck::WinMediaPlayer2;
}

// The gauge cannot go below its minimum of 0: a track shorter than the lead shows an empty gauge.
// The gauge fills as the mix comes: to the file's end less the lead, or to the last sound less it.
int DeckEngine::BetweenMixGaugeMax() {
    if (p_.buttons.Mix_OFF) return trackLength_;
    if (beatPlan_) return static_cast<int>(std::max(0.0, beatPlan_->start - kInStepPreroll));
    return static_cast<int>(std::max<std::int64_t>(0, MixEnd() - Lead()));
}

// The gauge shows at most its maximum; keep the state what the gauge can show.
void DeckEngine::SetGaugeProgress(std::int64_t progress) {
    p_.display.CGauge1Progress =
        static_cast<int>(std::clamp<std::int64_t>(progress, 0, std::max(0, p_.display.CGauge1Max)));
}

void DeckEngine::EnableMixControls(bool enabled) {
    p_.display.NextEnabled = enabled;
    p_.display.MixOffEnabled = enabled;
    p_.owner.MixRunning(!enabled);
}

void DeckEngine::RefillIfRunningOut() {
    if (p_.playlist.Count() <= 1 && p_.options.RadioGroup2 == epLoadCocktail) p_.owner.MakeCocktail();
}

// ---- what the analysis tells the automix ----
//
// Facts that are not known yet count as no facts: nothing ever waits for the analysis.

std::optional<TrackFacts> DeckEngine::FactsOf(const std::string& path) const {
    if (!p_.analysis || path.empty()) return std::nullopt;
    return p_.analysis->Facts(path);
}

void DeckEngine::WantAhead() {
    if (!p_.analysis) return;
    std::vector<std::string> wanted;
    if (!currentPath_.empty()) wanted.push_back(currentPath_);
    for (int i = 0; i < 2; ++i)
        if (const std::int32_t file = p_.playlist.At(i); p_.nodes.IsFile(file)) wanted.push_back(PathOf(file));
    p_.analysis->Want(wanted);
}

// The gain that brings the track to the target loudness. Where that takes the track's peak past
// -1 dBFS, the deck's limiter holds the peaks there, up to kMaxLimitDb deep: deeper would squash
// the music, so past that the gain is lowered instead.
DeckEngine::TrackGain DeckEngine::TrackGainFor(const std::optional<TrackFacts>& facts) const {
    if (!p_.autoMix.matchLoudness || !facts || !facts->audible) return {};
    const double free = kCeilingDbfs - facts->peakDbfs;
    const double gain =
        std::min({p_.autoMix.targetLufs - facts->integratedLufs, free + kMaxLimitDb, kMaxBoostDb});
    if (!std::isfinite(gain)) return {};
    return {gain, gain > free};
}

void DeckEngine::SetGain(Deck d, TrackGain gain) {
    gain_[Index(d)] = gain;
    MediaPlayer& deck = Player(d);
    if (gain.limited) deck.SetLimitedTrackGain(gain.db, kCeilingDbfs);
    else deck.SetTrackGain(gain.db);
}

bool DeckEngine::Listening() const {
    return p_.analysis && (p_.autoMix.mixAtLastSound || p_.autoMix.skipSilenceAtStart || p_.autoMix.matchLoudness);
}

// Opens a file on a deck at its own gain, from its first sound when that is known and wanted.
// The gain is set first, so that the ramp to it is over before the new file is heard.
std::optional<TrackFacts> DeckEngine::LoadTrack(Deck d, const std::string& path) {
    MediaPlayer& deck = Player(d);
    std::optional<TrackFacts> facts = FactsOf(path);
    SetGain(d, TrackGainFor(facts));
    deck.SetFileName(path);
    StartAtFirstSound(deck, facts);
    late_[Index(d)] = {};
    late_[Index(d)].pending = !facts && Listening();
    return facts;
}

void DeckEngine::StartAtFirstSound(MediaPlayer& deck, const std::optional<TrackFacts>& facts) {
    if (const double first = FirstPosition(facts); first > 0) deck.SetCurrentPosition(first);
}

bool DeckEngine::ReleaseHeldStart() {
    currentFacts_ = FactsOf(currentPath_);
    if (!currentFacts_ && --holdTicks_ > 0) return false;
    holdTicks_ = 0;
    MediaPlayer& deck = CurrentPlayer();
    if (currentFacts_) {
        // Found silent: it leaves as played, as one known silent before it started would have.
        if (!currentFacts_->audible && p_.autoMix.skipSilenceAtStart) {
            TrackEnded();
            return false;
        }
        late_[Index(currentDeck_)].pending = false;
        ShowTitle(currentName_, currentFacts_);
        SetGain(currentDeck_, TrackGainFor(currentFacts_));
        StartAtFirstSound(deck, currentFacts_);
    }
    if (p_.buttons.Play) deck.Play();
    p_.display.CGauge1Max = BetweenMixGaugeMax();
    return true;
}

void DeckEngine::FollowLateFacts(Deck d) {
    LateGain& late = late_[Index(d)];
    const std::string& path = d == currentDeck_ ? currentPath_ : incomingPath_;
    if (late.pending) {
        const std::optional<TrackFacts> facts = FactsOf(path);
        if (!facts) return;
        late.pending = false;
        if (d == currentDeck_ && !isMixing()) ShowTitle(currentName_, facts);
        late.to = TrackGainFor(facts);
        if (late.to.db != 0 || late.to.limited) late.step = 1;
    }
    if (late.step == 0) return;
    const double share = static_cast<double>(late.step) / kLateGlideTicks;
    SetGain(d, {late.from.db + (late.to.db - late.from.db) * share, late.to.limited});
    late.step = late.step < kLateGlideTicks ? late.step + 1 : 0;
}

// Where the lead of the next mix counts back from, in whole seconds of the current track: its
// last sound when that is known and wanted, else the file's end.
std::int64_t DeckEngine::MixEnd() {
    if (!p_.autoMix.mixAtLastSound || !p_.analysis) return trackLength_;
    if (!currentFacts_) currentFacts_ = FactsOf(currentPath_);
    if (!currentFacts_) return trackLength_;
    const std::int64_t last = currentFacts_->audible ? std::max(0, TruncatedSeconds(currentFacts_->lastSound)) : 0;
    return std::min<std::int64_t>(trackLength_, last);
}

bool DeckEngine::KnownSilent(std::int32_t file) const {
    // A file that stopped answering has nothing to hear either, for the rest of the session.
    if (p_.nodes.IsFile(file) && unplayable_.count(PathOf(file))) return true;
    if (!p_.analysis || !p_.autoMix.skipSilenceAtStart || !p_.nodes.IsFile(file)) return false;
    const std::optional<TrackFacts> facts = FactsOf(PathOf(file));
    return facts && !facts->audible;
}

// Entries known to hold no sound leave the head as if they had been played. True when only such
// entries are left (or the list is empty of them and nothing else): then nothing is to start.
bool DeckEngine::SkipSilentHeads() {
    if (!HeadIsSilent()) return false;
    // The track that plays on is still the one taken off.
    const std::int32_t playing = p_.playlist.takenOffNodeId();
    SkipSilentRound();
    if (p_.playlist.Empty()) {
        // Emptied of silence, the playlist is refilled as one emptied by play.
        RefillIfRunningOut();
        SkipSilentRound();
    }
    p_.playlist.SetTakenOff(playing);
    return HeadIsSilent();
}

// Entries taken off leave, so the list ends; entries rotated come round again, so one round
// finds one with sound, and a list of nothing but silence is left after a round as it was.
// Shuffle draws the next head at random: it gets more rounds when there is sound to find.
void DeckEngine::SkipSilentRound() {
    const int n = p_.playlist.Count();
    bool somethingToHear = false;
    for (int i = 0; i < n && !somethingToHear; ++i) somethingToHear = !KnownSilent(p_.playlist.At(i));
    const int rounds = somethingToHear && p_.buttons.Shuffle ? 64 : 1;
    for (int k = 0; k < rounds * n && HeadIsSilent(); ++k) AdvancePlaylist();
}

void DeckEngine::DeckReachedEnd(Deck deck) {
    if (deck != currentDeck_) {
        // The outgoing deck plays out after a mix and its end means nothing. An incoming track
        // that is over before its own mix ends cannot be mixed out of; remember it.
        if (isMixing() && deck == incomingDeck_ && !incomingName_.empty()) {
            if (IncomingPlayer().Duration() > 0) {
                incomingEnded_ = true;
                return;
            }
            // It could not be opened: the next track that plays comes in its place.
            unplayable_.insert(incomingPath_);
            incomingName_.clear();
            incomingNodeId_ = -1;
            StartIncoming();
        }
        // A part cued to follow this track that ends before it began could not be opened: the
        // track plays on and is mixed into the next.
        if (joinArmed_ && deck == incomingDeck_) {
            unplayable_.insert(incomingPath_);
            noJoinFor_ = incomingNodeId_;
            Disarm();
        }
        return;
    }
    // With crossfading on, the tick ends the track; but a file shorter than its measured length
    // ends before its mix can start, and waiting for the tick would mean silence for good.
    // A running mix ends the track itself, even with MixOFF read back down during it.
    if (joinArmed_) CompleteJoin();
    else if (!isMixing()) TrackEnded();
}

// ---- deck engine ----

void DeckEngine::StartHeadTrack() {
    if (p_.playlist.Empty() || !p_.buttons.UP) return;
    // The current deck is the outgoing one of a running mix; the mix takes the head itself. A
    // track waiting for its facts counts as playing.
    if (isMixing() || holdTicks_ > 0) return;
    if (SkipSilentHeads() || p_.playlist.Empty()) return;

    SetGaugeProgress(0);
    MediaPlayer& deck = CurrentPlayer();
    SetLevel(currentDeck_, 0, 0);

    const std::int32_t head = p_.playlist.Head();
    const std::string name = p_.nodes.RelativePath(head);
    currentPath_ = p_.nodes.MusicFolder + name;
    currentFacts_ = LoadTrack(currentDeck_, currentPath_);
    ShowTitle(name, currentFacts_);
    ++tracksStarted_;
    // Facts not known yet: the track waits a moment for them, so that it is heard matched from
    // its first sound. A file that did not open has nothing to wait for.
    holdTicks_ = late_[Index(currentDeck_)].pending && deck.Duration() > 0 ? kHoldTicks : 0;
    if (holdTicks_ == 0 && p_.buttons.Play) deck.Play();
    trackLength_ = p_.nodes.IsFile(head) ? p_.nodes.File(head).durationSeconds : 0;

    timer1Enabled_ = true;
    AdvancePlaylist();
    p_.display.StaticText2 = TimeText(trackLength_);
    p_.display.CGauge1Max = BetweenMixGaugeMax();
    WantAhead();
}

void DeckEngine::AdvancePlaylist() {
    const int n = p_.playlist.Count();
    if (n == 0) return;
    if (p_.buttons.Shuffle) {
        p_.playlist.SetTakenOff(-1);
        const int k = n - 1 == 0 ? 1 : p_.random.Below(n - 1) + 1;
        for (int i = 0; i < k; ++i) p_.playlist.MoveHeadToEnd();
    } else if (p_.buttons.Repeat) {
        p_.playlist.SetTakenOff(-1);
        p_.playlist.MoveHeadToEnd();
    } else {
        p_.playlist.TakeOffHead();
    }
}

void DeckEngine::TrackEnded() {
    timer1Enabled_ = false;
    RefillIfRunningOut();
    // Nothing but silence is left: the playlist is over.
    if (p_.buttons.UP && SkipSilentHeads()) {
        FinishPlaylist();
        return;
    }
    if (!p_.playlist.Empty()) StartHeadTrack();
    else FinishPlaylist();
}

void DeckEngine::FinishPlaylist() {
    p_.display.StaticText2 = ":";
    p_.display.StaticText3 = ":";
    p_.display.Label1Caption.clear();
    p_.display.Label1Hint.clear();
    CurrentPlayer().SetFileName("");
    currentPath_.clear();
    currentFacts_.reset();
    holdTicks_ = 0;
    late_[Index(currentDeck_)] = {};
    currentName_.clear();
    if (joinArmed_) {
        joinArmed_ = false;
        IncomingPlayer().SetFileName("");
    }
    p_.playlist.SetTakenOff(-1);
    SetGaugeProgress(0);

    switch (p_.options.RadioGroup2) {
        case epCloseProgram:
            p_.owner.CloseProgram();
            break;
        case epShutDown:
            p_.owner.ShutDown();
            break;
        default:
            break;
    }
}

void DeckEngine::UPClick() {
    if (!PausedOrPlaying(CurrentPlayer().PlayState()) && !isMixing()) StartHeadTrack();
}

void DeckEngine::PlayClick() {
    if (holdTicks_ > 0) return;  // the held start plays or not as the button then stands
    if (isMixing()) {
        // Played, the outgoing deck first: an incoming track paused before its bar line came is
        // cued to it again, against a deck that plays. Paused, the incoming deck first: a cued deck
        // starts at once when the other stops.
        const Deck order[2] = {p_.buttons.Play ? currentDeck_ : incomingDeck_, p_.buttons.Play ? incomingDeck_ : currentDeck_};
        for (Deck d : order) {
            MediaPlayer& deck = Player(d);
            if (p_.buttons.Play && deck.PlayState() == psPaused && inStep_ && d == incomingDeck_ &&
                CurrentPlayer().CurrentPosition() < beatPlan_->incomingAt) {
                deck.PlayAfterOther(beatPlan_->incomingAt, false);
                continue;
            }
            if (p_.buttons.Play && deck.PlayState() == psPaused) deck.Play();
            if (!p_.buttons.Play && deck.PlayState() == psPlaying) deck.Pause();
        }
        timer1Enabled_ = p_.buttons.Play;
        return;
    }
    // The next part of an album waits on this track's end: held with it, and cued again after it.
    if (p_.buttons.Play) {
        CurrentPlayer().Play();
        if (joinArmed_) IncomingPlayer().PlayAfterOther(MediaPlayer::kAtOtherEnd, true);
    } else {
        if (joinArmed_) IncomingPlayer().Pause();
        CurrentPlayer().Pause();
    }
}

void DeckEngine::NextClick() {
    if (isMixing()) return;  // the button is disabled then; its key must not slip through
    if (holdTicks_ > 0) {  // a seek asked for now is not to be undone by the start at the first sound
        holdTicks_ = 1;
        if (!ReleaseHeldStart()) return;
    }
    const std::int64_t max = p_.display.CGauge1Max;
    if (p_.buttons.Mix_OFF) CurrentPlayer().SetCurrentPosition(static_cast<double>(max));
    else CurrentPlayer().SetCurrentPosition(static_cast<double>(max * (kTitleStripWidth - 1) / kTitleStripWidth));
}

void DeckEngine::Mix_OFFClick() {
    if (isMixing()) return;  // disabled during a mix
    p_.display.CGauge1Max = BetweenMixGaugeMax();
    // A smaller range must not leave the progress beyond it, with no tick to bring it back.
    SetGaugeProgress(p_.display.CGauge1Progress);
}

void DeckEngine::RepeatClick() {
    if (!p_.buttons.Repeat) p_.buttons.Shuffle = false;
    ShowRepeatAndShuffle(p_.buttons, p_.display);
}

void DeckEngine::ShuffleClick() { ShowRepeatAndShuffle(p_.buttons, p_.display); }


void DeckEngine::Label1Seek(int x, int labelWidth) {
    if (isMixing() || labelWidth <= 0) return;
    if (holdTicks_ > 0) {
        holdTicks_ = 1;
        if (!ReleaseHeldStart()) return;
    }
    const std::int64_t at = static_cast<std::int64_t>(std::max(0, x)) * p_.display.CGauge1Max / labelWidth;
    CurrentPlayer().SetCurrentPosition(static_cast<double>(at));
}

// ---- automix tick ----

void DeckEngine::Timer1Timer() {
    // A tick already queued when the timer was switched off must not redraw a finished track.
    if (!timer1Enabled_) return;
    if (holdTicks_ > 0 && !ReleaseHeldStart()) {
        if (timer1Enabled_ && holdTicks_ > 0) ShowTrackProgress(0, trackLength_);
        return;
    }
    if (GaveUpOnAStalledDeck()) return;
    for (Deck d : {Deck::WinMediaPlayer1, Deck::WinMediaPlayer2}) FollowLateFacts(d);
    const double at = CurrentPlayer().CurrentPosition();
    const std::int32_t position = TruncatedSeconds(at);
    const std::int64_t remaining = static_cast<std::int64_t>(trackLength_) - position;
    // The lead counts back from the end of the sound when it is known, else from the file's end.
    const std::int64_t untilMixEnd = isMixing() ? remaining : MixEnd() - position;
    if (!isMixing()) beatPlan_ = PlanNextMix(at);
    // A join armed for a head that changed since, or with the switch turned off, is undone: the
    // track is mixed as any other, in what time is left.
    if (joinArmed_ && !JoinStillWanted()) Disarm();
    // The next track of a continuous album follows this one's last frame: no mix.
    if (!isMixing() && (joinArmed_ || JoinsHead())) {
        if (!joinArmed_ && CurrentPlayer().Duration() - at <= kJoinPreroll) ArmJoin();
        // A part that cannot be opened is passed over: the track is mixed into the next at once.
        if (joinArmed_ || JoinsHead()) {
            beatPlan_.reset();
            ShowTrackProgress(position, remaining);
            return;
        }
    }
    switch (NextPhase(untilMixEnd, at)) {
        case MixPhase::BetweenMixes:
            ShowTrackProgress(position, remaining);
            break;
        case MixPhase::Starting:
            BeginMix();
            break;
        case MixPhase::Mixing:
            StepMix(at);
            break;
        case MixPhase::Ending:
            EndMix();
            break;
    }
}

MixPhase DeckEngine::NextPhase(std::int64_t untilMixEnd, double position) {
    // A mix in step waits on the outgoing track's position, which stops where its file does (or
    // where the file stopped answering): its end ends the mix, whatever was planned.
    if (isMixing() && inStep_)
        return position >= beatPlan_->start + beatPlan_->length || CurrentPlayer().PlayState() == psStopped
                   ? MixPhase::Ending
                   : MixPhase::Mixing;
    if (isMixing()) return mixStep_ >= p_.envelope.MixLength() ? MixPhase::Ending : MixPhase::Mixing;
    if (beatPlan_ && !p_.buttons.Mix_OFF)
        return position >= beatPlan_->start - kInStepPreroll ? MixPhase::Starting : MixPhase::BetweenMixes;
    // MixOFF is disabled during a mix, but the settings' Cancel can still read it back down:
    // it is looked at only here, so a mix once started runs to its end and cannot stand still.
    return p_.buttons.Mix_OFF || untilMixEnd > Lead() ? MixPhase::BetweenMixes : MixPhase::Starting;
}

void DeckEngine::ShowTrackProgress(std::int32_t position, std::int64_t remaining) {
    phase_ = MixPhase::BetweenMixes;
    // Facts that come while the track plays move its mix, and the gauge's end with it.
    if ((p_.autoMix.mixAtLastSound || p_.autoMix.mixOnBeat) && p_.analysis) p_.display.CGauge1Max = BetweenMixGaugeMax();
    SetGaugeProgress(static_cast<std::int64_t>(position) + 2);
    p_.display.StaticText3 = p_.options.chkMusicFileTimeRem
                                 ? TimeText(static_cast<std::int32_t>(std::max<std::int64_t>(0, remaining)))
                                 : TimeText(position);
}

void DeckEngine::BeginMix() {
    phase_ = MixPhase::Starting;
    mixStep_ = 0;
    incomingEnded_ = false;
    incomingDeck_ = OtherDeck(currentDeck_);
    p_.display.CGauge1Max = p_.envelope.MixLength();
    SetGaugeProgress(0);
    p_.display.StaticText2 = TimeText(p_.envelope.MixLength() / 10);
    p_.display.Label1Caption = kAutoMixingCaption;
    EnableMixControls(false);
    p_.display.CGauge1Colour = Colour::Yellow;
    // Something to mix into when the playlist is running out.
    RefillIfRunningOut();
    // In step: the incoming track is opened now, on its bar line, and the engine starts it on the
    // outgoing track's.
    inStep_ = beatPlan_.has_value();
    if (inStep_) StartIncoming();
}

// Both tracks' beats steady and their tempi close: the mix is planned on their bars, as long as
// the bar line it starts on leaves the incoming deck time to get ready.
std::optional<BeatMixPlan> DeckEngine::PlanNextMix(double position) {
    return PlanMixInto(p_.playlist.Head(), position + kInStepPreroll / 3, static_cast<double>(MixEnd() - Lead()));
}

std::optional<BeatMixPlan> DeckEngine::PlanMixInto(std::int32_t file, double earliest, double latest) {
    if (!p_.autoMix.mixOnBeat || !p_.analysis || p_.buttons.Mix_OFF || !p_.buttons.UP || holdTicks_ > 0 ||
        !IncomingPlayer().CanPlayInStep() || !p_.nodes.IsFile(file))
        return std::nullopt;
    if (!currentFacts_) currentFacts_ = FactsOf(currentPath_);
    const std::string path = PathOf(file);
    const std::optional<TrackFacts> next = FactsOf(path);
    if (!currentFacts_ || !next) return std::nullopt;
    // The mix may not outlast the outgoing track's sound, nor its file.
    const double duration = CurrentPlayer().Duration();
    double end = duration > 0 ? duration : trackLength_;
    if (currentFacts_->audible) end = std::min(end, currentFacts_->lastSound);
    std::optional<BeatMixPlan> plan;
    if (p_.autoMix.mixOnPhrases) plan = PlanPhraseMix(*currentFacts_, *next, earliest, end, p_.envelope);
    if (!plan) plan = PlanBeatMix(*currentFacts_, *next, earliest, latest, end, p_.envelope);
    if (!plan) return plan;
    plan->incomingPath = path;
    if (p_.autoMix.swapBass && IncomingPlayer().CanCutBass() && CurrentPlayer().CanCutBass())
        PlanBassSwap(*plan, *currentFacts_, *next);
    return plan;
}

// The head starts on the incoming deck: at the envelope's starting position, or, in step, placed
// on its bar line and cued to the outgoing track's.
void DeckEngine::StartIncoming() {
    if (p_.playlist.Empty() || !p_.buttons.UP || SkipSilentHeads() || p_.playlist.Empty()) return;
    MediaPlayer& incoming = IncomingPlayer();
    const std::int32_t head = p_.playlist.Head();
    const std::string name = p_.nodes.RelativePath(head);
    incomingPath_ = p_.nodes.MusicFolder + name;
    if (inStep_ && beatPlan_->incomingPath != incomingPath_) {
        // The head the plan was made for was passed over: the track that comes instead is planned
        // for itself, on the same bar line, or mixed plainly from here.
        beatPlan_ = PlanMixInto(head, CurrentPlayer().CurrentPosition(), beatPlan_->start);
        if (!beatPlan_) {
            inStep_ = false;
            // At the mix's first tick the plain mix starts it at its starting position.
            if (phase_ == MixPhase::Starting) {
                incomingPath_.clear();
                return;
            }
        }
    }
    incomingFacts_ = LoadTrack(incomingDeck_, incomingPath_);
    if (inStep_) {
        incoming.SetCurrentPosition(beatPlan_->incomingFrom);
        if (!beatPlan_->ratePlan.empty()) incoming.SetRatePlan(beatPlan_->ratePlan);
        // The incoming bass is held down from the start; the outgoing one's plan is given now,
        // while it plays, long before its swap.
        if (!beatPlan_->incomingBass.empty()) incoming.SetBassPlan(beatPlan_->incomingBass);
        if (p_.autoMix.swapBass) CurrentPlayer().SetBassPlan(beatPlan_->outgoingBass);
        incoming.PlayAfterOther(beatPlan_->incomingAt, false);
    } else {
        incoming.Play();
    }
    incomingName_ = name;
    incomingNodeId_ = head;
    trackLength_ = p_.nodes.IsFile(head) ? p_.nodes.File(head).durationSeconds : 0;
}

bool DeckEngine::JoinsHead() {
    if (!p_.autoMix.joinContinuousAlbums || !p_.analysis || p_.buttons.Mix_OFF || !p_.buttons.UP || holdTicks_ > 0 ||
        !IncomingPlayer().CanPlayInStep())
        return false;
    const std::int32_t next = p_.playlist.Head();
    const std::int32_t now = p_.nodes.FindByFullPath(currentPath_);
    if (!p_.nodes.IsFile(next) || !p_.nodes.IsFile(now) || next == noJoinFor_) return false;
    if (!currentFacts_) currentFacts_ = FactsOf(currentPath_);
    const std::optional<TrackFacts> head = FactsOf(PathOf(next));
    // The music runs across the cut: sound to the last frame and from the first, the beat or the
    // sound itself carrying on over it. Tags or a folder alone join two tracks that merely stop
    // and start hard.
    if (!currentFacts_ || !head || !RunsAcrossTheCut(*currentFacts_, *head)) return false;
    const TrackTags &a = currentFacts_->tags, &b = head->tags;
    if (!a.album.empty() || !b.album.empty())
        return a.album == b.album && a.artist == b.artist && a.trackNumber > 0 &&
               ((b.discNumber == a.discNumber && b.trackNumber == a.trackNumber + 1) ||
                (a.discNumber > 0 && b.discNumber == a.discNumber + 1 && b.trackNumber == 1));
    // Untagged: the next file of the same folder.
    return next == now + 1 && p_.nodes.File(next).parentFolder == p_.nodes.File(now).parentFolder;
}

// The next track is cued on the other deck to follow the current one's last frame, at the same
// gain, volume and balance: an album keeps its own levels across its cuts.
void DeckEngine::ArmJoin() {
    incomingDeck_ = OtherDeck(currentDeck_);
    MediaPlayer& incoming = IncomingPlayer();
    const std::int32_t head = p_.playlist.Head();
    incomingName_ = p_.nodes.RelativePath(head);
    incomingPath_ = p_.nodes.MusicFolder + incomingName_;
    incomingNodeId_ = head;
    incomingFacts_ = FactsOf(incomingPath_);
    SetGain(incomingDeck_, gain_[Index(currentDeck_)]);
    incoming.SetFileName(incomingPath_);
    if (incoming.Duration() <= 0) {
        // Not opened yet, or not to be: the track is mixed into it, or into the next that plays.
        noJoinFor_ = head;
        Disarm();
        return;
    }
    late_[Index(incomingDeck_)] = {};
    SetLevel(incomingDeck_, volume_[Index(currentDeck_)], balance_[Index(currentDeck_)]);
    incoming.PlayAfterOther(MediaPlayer::kAtOtherEnd, true);
    joinArmed_ = true;
}

bool DeckEngine::JoinStillWanted() const {
    return p_.autoMix.joinContinuousAlbums && !p_.buttons.Mix_OFF && p_.buttons.UP && !p_.playlist.Empty() &&
           p_.playlist.Head() == incomingNodeId_;
}

void DeckEngine::Disarm() {
    joinArmed_ = false;
    IncomingPlayer().SetFileName("");
    incomingName_.clear();
    incomingPath_.clear();
    incomingFacts_.reset();
    incomingNodeId_ = -1;
}

// The current track has played its last frame and the next one plays on from there.
void DeckEngine::CompleteJoin() {
    joinArmed_ = false;
    const std::optional<TrackFacts> joinedFrom = currentFacts_;
    currentDeck_ = incomingDeck_;
    currentPath_ = std::move(incomingPath_);
    incomingPath_.clear();
    currentFacts_ = std::move(incomingFacts_);
    incomingFacts_.reset();
    ++tracksStarted_;
    ShowTitle(incomingName_, currentFacts_);
    incomingName_.clear();
    // The two parts are one piece: it is heard at the gain of both together, reached gently from
    // the first part's, as an album's gain would have it.
    if (joinedFrom && currentFacts_) {
        TrackFacts both = *currentFacts_;
        both.integratedLufs = JoinedLufs(*joinedFrom, *currentFacts_);
        both.peakDbfs = std::max(joinedFrom->peakDbfs, currentFacts_->peakDbfs);
        LateGain& glide = late_[Index(currentDeck_)];
        glide = {false, gain_[Index(currentDeck_)], TrackGainFor(both), 1};
    }
    trackLength_ = p_.nodes.IsFile(incomingNodeId_) ? p_.nodes.File(incomingNodeId_).durationSeconds : 0;
    if (!p_.playlist.Empty() && p_.playlist.Head() == incomingNodeId_) AdvancePlaylist();
    else p_.playlist.SetTakenOff(incomingNodeId_);
    incomingNodeId_ = -1;
    SetGaugeProgress(0);
    p_.display.CGauge1Max = BetweenMixGaugeMax();
    p_.display.StaticText2 = TimeText(trackLength_);
    WantAhead();
}

void DeckEngine::SetLevel(Deck d, int volume, int balance) {
    Player(d).SetVolume(volume_[Index(d)] = volume);
    Player(d).SetBalance(balance_[Index(d)] = balance);
}

std::string DeckEngine::TitleOf(const std::string& name, const std::optional<TrackFacts>& facts) const {
    if (!p_.autoMix.showArtistAndTitle || !facts || facts->tags.artist.empty() || facts->tags.title.empty()) return name;
    return facts->tags.artist + " - " + facts->tags.title;
}

void DeckEngine::ShowTitle(const std::string& name, const std::optional<TrackFacts>& facts) {
    currentName_ = name;
    p_.display.Label1Caption = TitleOf(name, facts);
    p_.display.Label1Hint = name;
}

void DeckEngine::StepMix(double position) {
    phase_ = MixPhase::Mixing;
    MediaPlayer& outgoing = CurrentPlayer();
    MediaPlayer& incoming = IncomingPlayer();
    if (inStep_) {
        // In step the envelope runs by the outgoing track's bars, not by ticks; nothing is sent
        // before the bar line it starts on.
        if (position < beatPlan_->start) return;
        const int length = p_.envelope.MixLength();
        mixStep_ = std::clamp(static_cast<int>((position - beatPlan_->start) / beatPlan_->length * length), 0, length - 1);
    } else if (mixStep_ == p_.envelope.StartingPosition() && incomingName_.empty()) {
        StartIncoming();
    }

    const MixPoint& p = p_.envelope.Point(mixStep_);
    outgoing.SetVolume(volume_[Index(currentDeck_)] = p.volume[0]);
    incoming.SetVolume(volume_[Index(incomingDeck_)] = p.volume[1]);
    outgoing.SetBalance(balance_[Index(currentDeck_)] = p.balance[0]);
    incoming.SetBalance(balance_[Index(incomingDeck_)] = p.balance[1]);

    ++mixStep_;
    SetGaugeProgress(mixStep_);
    p_.display.StaticText3 = p_.options.chkAutoMixTimeRem ? TimeText((p_.envelope.MixLength() - mixStep_) / 10)
                                                          : TimeText(mixStep_ / 10);
}

void DeckEngine::EndMix() {
    // No longer mixing from here on: what follows may start the next track at once.
    phase_ = MixPhase::Ending;
    // A mix in step, cut to whole bars or ended with the outgoing file, never reached the
    // envelope's last point: the incoming track plays on as the envelope leaves it.
    if (inStep_ && !incomingName_.empty()) {
        const MixPoint& last = p_.envelope.Point(p_.envelope.MixLength());
        SetLevel(incomingDeck_, last.volume[1], last.balance[1]);
    }
    inStep_ = false;
    beatPlan_.reset();
    SetGaugeProgress(0);
    p_.display.CGauge1Colour = Colour::Aqua;
    EnableMixControls(true);
    if (incomingName_.empty()) {
        timer1Enabled_ = false;
        FinishPlaylist();
        return;
    }
    currentDeck_ = incomingDeck_;
    currentPath_ = std::move(incomingPath_);
    ++tracksStarted_;
    incomingPath_.clear();
    currentFacts_ = std::move(incomingFacts_);
    incomingFacts_.reset();
    ShowTitle(incomingName_, currentFacts_);
    incomingName_.clear();
    // The head may have been deleted, or the playlist cleared, while the mix ran: only the
    // entry that was started leaves; otherwise it is gone already and is the track taken off.
    if (!p_.playlist.Empty() && p_.playlist.Head() == incomingNodeId_) AdvancePlaylist();
    else p_.playlist.SetTakenOff(incomingNodeId_);
    incomingNodeId_ = -1;
    p_.display.CGauge1Max = BetweenMixGaugeMax();
    p_.display.StaticText2 = TimeText(trackLength_);
    WantAhead();
    if (incomingEnded_) {
        incomingEnded_ = false;
        TrackEnded();
    }
}

// ---- the watchdog ----
//
// A file on a share or a stick that stops answering leaves its deck playing nothing, for good; the
// show goes on without it. Always on: without it such a show would fall silent for good.

// Between mixes the current deck; in a mix both: the mix waits on the outgoing deck's position
// (in step) and goes on into the incoming one, once started.
bool DeckEngine::ShouldSound(Deck d) const {
    if (d == currentDeck_) return true;
    return isMixing() && !incomingName_.empty() && !incomingEnded_;
}

bool DeckEngine::GaveUpOnAStalledDeck() {
    for (Deck d : {currentDeck_, incomingDeck_}) {
        Stall& stall = stall_[Index(d)];
        MediaPlayer& deck = Player(d);
        const bool watched = ShouldSound(d);
        const double at = watched ? deck.CurrentPosition() : -1;
        // Whether the deck has played on from where it was opened or last sent: one that stands
        // there has stalled in its open or its seek, which a slow share may only be late with.
        Motion& motion = motion_[Index(d)];
        if (motion.track != tracksStarted_ || !watched) motion = {tracksStarted_, at, false};
        else if (at != motion.at) motion = {tracksStarted_, at, at > motion.at && at - motion.at < kMaxStepSeconds};
        const bool stands = watched && stall.watched && tracksStarted_ == stall.track && at == stall.at &&
                            deck.PlayState() == psPlaying && deck.Starved();
        if (!stands) {
            stall = {watched, tracksStarted_, at, 0};
            continue;
        }
        if (++stall.ticks < kStallTicks) continue;
        stall = {};
        // Closed, the deck leaves its reader to the file. A file that stopped in its reading is not
        // tried again this session; one that never began is passed over only this time.
        deck.SetFileName("");
        const auto bar = [&](const std::string& path) {
            if (motion.played) unplayable_.insert(path);
        };
        if (isMixing()) {
            if (d == incomingDeck_) {
                // Ended as far as the mix goes: the next track follows when the mix is over.
                bar(incomingPath_);
                incomingEnded_ = true;
            } else {
                // The outgoing track is over: the mix ends on the next tick, as at its file's end.
                bar(currentPath_);
            }
            continue;
        }
        bar(currentPath_);
        if (joinArmed_) {
            // The part cued to follow this one starts now, its cue's other deck closed.
            CompleteJoin();
            if (p_.buttons.Play) CurrentPlayer().Play();
            return true;
        }
        // The other deck, whose reader is free, starts the next track at once.
        currentDeck_ = OtherDeck(currentDeck_);
        TrackEnded();
        return true;
    }
    return false;
}

}  // namespace quendo
