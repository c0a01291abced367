#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "playback/DeckEngine.h"

namespace quendo {

namespace {

constexpr const char* kAutoMixingCaption = "                    A u t o M i x i n g";
// Width of the title strip in pixels; Next seeks by it as a click at its last pixel would.
constexpr std::int64_t kTitleStripWidth = 273;
// The level a track's own signal never passes when its loudness is matched.
constexpr double kCeilingDbfs = -1.0;
// How far the limiter may take a track's peaks down.
constexpr double kMaxLimitDb = 6.0;
// Two seconds without a new frame from its file, while the deck plays, is a file that stopped
// answering (a slow one gives a frame now and then).
constexpr int kStallTicks = 20;

std::int32_t TruncatedSeconds(double seconds) {
    if (std::isnan(seconds)) return 0;
    if (seconds >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (seconds <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(seconds);
}

Deck OtherDeck(Deck d) { return d == Deck::WinMediaPlayer1 ? Deck::WinMediaPlayer2 : Deck::WinMediaPlayer1; }

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
    const double gain = std::min(p_.autoMix.targetLufs - facts->integratedLufs, free + kMaxLimitDb);
    if (!std::isfinite(gain)) return {};
    return {gain, gain > free};
}

// Opens a file on a deck at its own gain, from its first sound when that is known and wanted.
// The gain is set first, so that the ramp to it is over before the new file is heard.
std::optional<TrackFacts> DeckEngine::LoadTrack(MediaPlayer& deck, const std::string& path) {
    std::optional<TrackFacts> facts = FactsOf(path);
    const TrackGain gain = TrackGainFor(facts);
    if (gain.limited) deck.SetLimitedTrackGain(gain.db, kCeilingDbfs);
    else deck.SetTrackGain(gain.db);
    deck.SetFileName(path);
    if (p_.autoMix.skipSilenceAtStart && facts && facts->audible && facts->firstSound > 0)
        deck.SetCurrentPosition(facts->firstSound);
    return facts;
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
        if (isMixing() && deck == incomingDeck_ && !incomingName_.empty()) incomingEnded_ = true;
        return;
    }
    // With crossfading on, the tick ends the track; but a file shorter than its measured length
    // ends before its mix can start, and waiting for the tick would mean silence for good.
    // A running mix ends the track itself, even with MixOFF read back down during it.
    if (!isMixing()) TrackEnded();
}

// ---- deck engine ----

void DeckEngine::StartHeadTrack() {
    if (p_.playlist.Empty() || !p_.buttons.UP) return;
    // The current deck is the outgoing one of a running mix; the mix takes the head itself.
    if (isMixing()) return;
    if (SkipSilentHeads() || p_.playlist.Empty()) return;

    SetGaugeProgress(0);
    MediaPlayer& deck = CurrentPlayer();
    deck.SetVolume(0);
    deck.SetBalance(0);

    const std::int32_t head = p_.playlist.Head();
    const std::string name = p_.nodes.RelativePath(head);
    p_.display.Label1Caption = name;
    p_.display.Label1Hint = name;
    currentPath_ = p_.nodes.MusicFolder + name;
    currentFacts_ = LoadTrack(deck, currentPath_);
    ++tracksStarted_;
    if (p_.buttons.Play) deck.Play();
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
    if (isMixing()) {
        for (Deck d : {Deck::WinMediaPlayer1, Deck::WinMediaPlayer2}) {
            MediaPlayer& deck = Player(d);
            if (p_.buttons.Play && deck.PlayState() == psPaused) deck.Play();
            if (!p_.buttons.Play && deck.PlayState() == psPlaying) deck.Pause();
        }
        timer1Enabled_ = p_.buttons.Play;
        return;
    }
    if (p_.buttons.Play) CurrentPlayer().Play();
    else CurrentPlayer().Pause();
}

void DeckEngine::NextClick() {
    if (isMixing()) return;  // the button is disabled then; its key must not slip through
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
    const std::int64_t at = static_cast<std::int64_t>(std::max(0, x)) * p_.display.CGauge1Max / labelWidth;
    CurrentPlayer().SetCurrentPosition(static_cast<double>(at));
}

// ---- automix tick ----

void DeckEngine::Timer1Timer() {
    // A tick already queued when the timer was switched off must not redraw a finished track.
    if (!timer1Enabled_) return;
    if (GaveUpOnAStalledDeck()) return;
    const std::int32_t position = TruncatedSeconds(CurrentPlayer().CurrentPosition());
    const std::int64_t remaining = static_cast<std::int64_t>(trackLength_) - position;
    // The lead counts back from the end of the sound when it is known, else from the file's end.
    const std::int64_t untilMixEnd = isMixing() ? remaining : MixEnd() - position;
    switch (NextPhase(untilMixEnd)) {
        case MixPhase::BetweenMixes:
            ShowTrackProgress(position, remaining);
            break;
        case MixPhase::Starting:
            BeginMix();
            break;
        case MixPhase::Mixing:
            StepMix();
            break;
        case MixPhase::Ending:
            EndMix();
            break;
    }
}

MixPhase DeckEngine::NextPhase(std::int64_t untilMixEnd) const {
    if (isMixing()) return mixStep_ >= p_.envelope.MixLength() ? MixPhase::Ending : MixPhase::Mixing;
    // MixOFF is disabled during a mix, but the settings' Cancel can still read it back down:
    // it is looked at only here, so a mix once started runs to its end and cannot stand still.
    return p_.buttons.Mix_OFF || untilMixEnd > Lead() ? MixPhase::BetweenMixes : MixPhase::Starting;
}

void DeckEngine::ShowTrackProgress(std::int32_t position, std::int64_t remaining) {
    phase_ = MixPhase::BetweenMixes;
    // Facts that come while the track plays move its mix, and the gauge's end with it.
    if (p_.autoMix.mixAtLastSound && p_.analysis) p_.display.CGauge1Max = BetweenMixGaugeMax();
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
}

void DeckEngine::StepMix() {
    phase_ = MixPhase::Mixing;
    MediaPlayer& outgoing = CurrentPlayer();
    MediaPlayer& incoming = IncomingPlayer();
    if (mixStep_ == p_.envelope.StartingPosition() && !p_.playlist.Empty() && p_.buttons.UP &&
        !SkipSilentHeads() && !p_.playlist.Empty()) {
        const std::int32_t head = p_.playlist.Head();
        const std::string name = p_.nodes.RelativePath(head);
        incomingPath_ = p_.nodes.MusicFolder + name;
        incomingFacts_ = LoadTrack(incoming, incomingPath_);
        incoming.Play();
        incomingName_ = name;
        incomingNodeId_ = head;
        trackLength_ = p_.nodes.IsFile(head) ? p_.nodes.File(head).durationSeconds : 0;
    }

    const MixPoint& p = p_.envelope.Point(mixStep_);
    outgoing.SetVolume(p.volume[0]);
    incoming.SetVolume(p.volume[1]);
    outgoing.SetBalance(p.balance[0]);
    incoming.SetBalance(p.balance[1]);

    ++mixStep_;
    SetGaugeProgress(mixStep_);
    p_.display.StaticText3 = p_.options.chkAutoMixTimeRem ? TimeText((p_.envelope.MixLength() - mixStep_) / 10)
                                                          : TimeText(mixStep_ / 10);
}

void DeckEngine::EndMix() {
    // No longer mixing from here on: what follows may start the next track at once.
    phase_ = MixPhase::Ending;
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
    p_.display.Label1Caption = incomingName_;
    p_.display.Label1Hint = incomingName_;
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
// show goes on without it. The described program never met such a file: this mends a show that
// would fall silent for ever, and is always on.

// Between mixes the current deck; in a mix the incoming one, once started: the outgoing deck is
// on its way out, and the mix takes it away.
MediaPlayer* DeckEngine::DeckThatShouldSound() {
    if (!isMixing()) return &CurrentPlayer();
    if (!incomingName_.empty() && !incomingEnded_) return &IncomingPlayer();
    return nullptr;
}

bool DeckEngine::GaveUpOnAStalledDeck() {
    MediaPlayer* deck = DeckThatShouldSound();
    const double at = deck ? deck->CurrentPosition() : -1;
    const bool stands = deck && deck == stall_.deck && tracksStarted_ == stall_.track && at == stall_.at &&
                        deck->PlayState() == psPlaying && deck->Starved();
    if (!stands) {
        stall_ = {deck, tracksStarted_, at, 0};
        return false;
    }
    if (++stall_.ticks < kStallTicks) return false;
    stall_ = {};
    // Closed, the deck leaves its reader to the file. The file is not tried again this session.
    deck->SetFileName("");
    if (isMixing()) {
        // Ended as far as the mix goes: the next track follows when the mix is over.
        unplayable_.insert(incomingPath_);
        incomingEnded_ = true;
        return false;
    }
    unplayable_.insert(currentPath_);
    // The other deck, whose reader is free, starts the next track at once.
    currentDeck_ = OtherDeck(currentDeck_);
    TrackEnded();
    return true;
}

}  // namespace quendo
