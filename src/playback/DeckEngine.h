#pragma once
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "model/AutoMixOptions.h"
#include "model/ChangePreview.h"
#include "model/Display.h"
#include "model/TimeText.h"
#include "model/NodeTable.h"
#include "model/MediaPlayer.h"
#include "model/MixEnvelope.h"
#include "model/Platform.h"
#include "model/Options.h"
#include "model/TrackFacts.h"
#include "playback/BeatMix.h"
#include "playback/TrackQueue.h"

namespace quendo {

enum class Deck { WinMediaPlayer1, WinMediaPlayer2 };

// The automix tick's phases. Each tick runs one, chosen from the phase of the tick before.
enum class MixPhase {
    BetweenMixes,  // a track plays alone: the tick shows its progress until the lead is reached
    Starting,      // the tick that reaches the lead begins the mix; it sends no envelope point
    Mixing,        // each tick sends the next envelope point to both decks
    Ending,        // the tick after the last point hands over to the incoming deck; not mixing
};

// What the deck engine needs of its owner: a cocktail to refill a playlist that runs out, the
// other end-of-playlist choices, and word of a mix starting or ending.
class DeckEngineOwner {
public:
    virtual void MakeCocktail() = 0;
    virtual void CloseProgram() = 0;
    virtual void ShutDown() = 0;
    virtual void MixRunning(bool running) = 0;

protected:
    ~DeckEngineOwner() = default;
};

// The two decks in turn: the head track's start, the advance, the end of the playlist, the
// transport buttons and the automix tick with its crossfade.
class DeckEngine final {
public:
    struct Parts {
        TrackQueue& playlist;
        const NodeTable& nodes;
        const MixEnvelope& envelope;
        const Options& options;
        TransportButtons& buttons;
        MainDisplay& display;
        MediaPlayer& deck1;
        MediaPlayer& deck2;
        Random& random;
        DeckEngineOwner& owner;
        const AutoMixOptions& autoMix;
        TrackAnalysis* analysis;  // null: none, and the mixes go by the files' lengths alone
    };
    explicit DeckEngine(Parts parts);

    Deck currentDeck() const { return currentDeck_; }
    Deck incomingDeck() const { return incomingDeck_; }
    // The phase of the last tick; a mix runs from its Starting tick up to its Ending one.
    MixPhase phase() const { return phase_; }
    bool isMixing() const { return phase_ == MixPhase::Starting || phase_ == MixPhase::Mixing; }
    int mixStep() const { return mixStep_; }
    int trackLength() const { return trackLength_; }
    const std::string& incomingName() const { return incomingName_; }
    bool Timer1Enabled() const { return timer1Enabled_; }
    // The current track is loaded and waits a moment for its facts before it plays.
    bool StartHeld() const { return holdTicks_ > 0; }
    // The file on the current deck, as it was given; empty when the deck is closed.
    const std::string& currentPath() const { return currentPath_; }
    // Counts the tracks that became the current one, so that a file played again is a new track.
    std::uint64_t tracksStarted() const { return tracksStarted_; }
    // The mix in step with the beat that runs, or that comes next as things stand; none when the
    // mix is (or will be) a plain one.
    const std::optional<BeatMixPlan>& beatPlan() const { return beatPlan_; }
    // What the analysis told of the current track (its tags among them); none while not known.
    const std::optional<TrackFacts>& currentFacts() const { return currentFacts_; }

    // For the mix editor's picture of the next change: where a plain mix would start in the
    // current track (file seconds), whether the head follows this track's last frame instead, and
    // where a track starts playing.
    double PlainMixStart() { return static_cast<double>(MixEnd() - Lead()); }
    bool JoinsNext() { return joinArmed_ || JoinsHead(); }
    double FirstPosition(const std::optional<TrackFacts>& facts) const {
        return p_.autoMix.skipSilenceAtStart && facts && facts->audible && facts->firstSound > 0 ? facts->firstSound : 0;
    }

    MediaPlayer& Player(Deck d) { return d == Deck::WinMediaPlayer1 ? p_.deck1 : p_.deck2; }
    MediaPlayer& CurrentPlayer() { return Player(currentDeck_); }
    MediaPlayer& IncomingPlayer() { return Player(incomingDeck_); }

    void Reset();  // the window's creation: the first deck plays first
    void StartHeadTrack();
    void AdvancePlaylist();
    void TrackEnded();
    void FinishPlaylist();
    void UPClick();
    void PlayClick();
    void NextClick();
    void Mix_OFFClick();
    void RepeatClick();
    void ShuffleClick();
    void WinMediaPlayer1EndOfStream() { DeckReachedEnd(Deck::WinMediaPlayer1); }
    void WinMediaPlayer2EndOfStream() { DeckReachedEnd(Deck::WinMediaPlayer2); }
    void Label1Seek(int x, int labelWidth);
    void Timer1Timer();
    // Asks the analysis about the playing track, the head of the playlist and the entry after
    // it, so that their facts are known before they are needed. Cheap: call it on any change.
    void WantAhead();
    // The next change as it would be played from here, from `before` seconds ahead of it to
    // `after` seconds past it; none, with the reason in `whyNot`, when there is nothing to hear.
    // With nothing loaded, the change is the one from the head of the playlist into the entry after.
    std::optional<PlannedChange> PlanChange(double before, double after, std::string& whyNot);

private:
    void DeckReachedEnd(Deck deck);
    MixPhase NextPhase(std::int64_t untilMixEnd, double position);
    // One function for each phase of the tick.
    void ShowTrackProgress(std::int32_t position, std::int64_t remaining);
    void BeginMix();
    void StepMix(double position);
    void StartIncoming();
    // An album that runs across its cut: the next track follows the last frame of this one.
    bool JoinsHead();
    void ArmJoin();
    void CompleteJoin();
    // The armed join still holds: its head is still next, and the switch and buttons allow it.
    bool JoinStillWanted() const;
    // Undoes an armed join: the cued part leaves its deck.
    void Disarm();
    void SetLevel(Deck d, int volume, int balance);
    // What the title strip shows of a track: its artist and title where its tags say them.
    std::string TitleOf(const std::string& name, const std::optional<TrackFacts>& facts) const;
    void ShowTitle(const std::string& name, const std::optional<TrackFacts>& facts);
    // The mix in step that would start from here, when both tracks' beats allow one.
    std::optional<BeatMixPlan> PlanNextMix(double position);
    // The mix in step into `file` starting on a bar line between the two times, if one can be.
    std::optional<BeatMixPlan> PlanMixInto(std::int32_t file, double earliest, double latest);
    void EndMix();
    int Lead() const { return p_.envelope.FinishingPosition() / 10; }
    int BetweenMixGaugeMax();
    void SetGaugeProgress(std::int64_t progress);
    void EnableMixControls(bool enabled);
    void RefillIfRunningOut();
    // The analysis as the automix uses it.
    std::string PathOf(std::int32_t file) const { return p_.nodes.MusicFolder + p_.nodes.RelativePath(file); }
    std::optional<TrackFacts> FactsOf(const std::string& path) const;
    struct TrackGain {
        double db = 0;
        bool limited = false;  // whether the deck must hold the track's peaks at the ceiling
    };
    TrackGain TrackGainFor(const std::optional<TrackFacts>& facts) const;
    void SetGain(Deck d, TrackGain gain);
    bool Listening() const;
    std::optional<TrackFacts> LoadTrack(Deck deck, const std::string& path);
    void StartAtFirstSound(MediaPlayer& deck, const std::optional<TrackFacts>& facts);
    // A track whose facts are not known when it starts waits for them a moment; true once it plays.
    bool ReleaseHeldStart();
    // A deck that plays without its facts glides to its gain when they come.
    void FollowLateFacts(Deck deck);
    std::int64_t MixEnd();
    bool KnownSilent(std::int32_t file) const;
    bool HeadIsSilent() const { return !p_.playlist.Empty() && KnownSilent(p_.playlist.Head()); }
    bool SkipSilentHeads();
    void SkipSilentRound();
    // The watchdog: a deck that should sound but has had nothing new from its file for a while
    // is given up on. True when that ended the track that played alone (the tick is over).
    bool GaveUpOnAStalledDeck();
    bool ShouldSound(Deck d) const;

    Parts p_;
    Deck currentDeck_ = Deck::WinMediaPlayer1;
    Deck incomingDeck_ = Deck::WinMediaPlayer2;
    MixPhase phase_ = MixPhase::BetweenMixes;
    int mixStep_ = 0;
    int trackLength_ = 0;
    std::string incomingName_;
    std::string currentPath_, incomingPath_;  // the files loaded, as the decks were given them
    std::optional<TrackFacts> currentFacts_, incomingFacts_;
    std::int32_t incomingNodeId_ = -1;  // file started on the incoming deck during a mix
    bool incomingEnded_ = false;        // the incoming deck played to its end before its mix was over
    bool timer1Enabled_ = false;        // automix tick, 100 ms
    int holdTicks_ = 0;                 // ticks the current track may still wait for its facts
    struct LateGain {
        bool pending = false;  // the deck plays without its facts: they are to be matched when they come
        TrackGain from, to;
        int step = 0;  // of the glide to `to`; 0 when none runs
    };
    LateGain late_[2];  // by deck
    std::optional<BeatMixPlan> beatPlan_;
    bool inStep_ = false;  // the running mix follows beatPlan_
    bool joinArmed_ = false;  // the head is cued on the incoming deck to follow the current track's end
    std::int32_t noJoinFor_ = -1;  // an entry whose part could not be cued: mixed in, not joined
    std::string currentName_;  // the current track's relative path, as the title strip's hint shows it
    int volume_[2] = {0, 0}, balance_[2] = {0, 0};  // as last sent to each deck
    TrackGain gain_[2];
    std::uint64_t tracksStarted_ = 0;
    std::set<std::string> unplayable_;  // files given up on this session
    // Of each deck: whether it should sound, its track and position, and the ticks it has stood
    // there starved.
    struct Stall {
        bool watched = false;
        std::uint64_t track = 0;
        double at = -1;
        int ticks = 0;
    } stall_[2];
    struct Motion {
        std::uint64_t track = 0;
        double at = -1;
        bool played = false;  // moved on by play since the track's open or its last seek
    } motion_[2];
};

}  // namespace quendo
