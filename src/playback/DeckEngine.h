#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "model/Display.h"
#include "app/Playlist.h"
#include "model/TimeText.h"
#include "model/NodeTable.h"
#include "model/MediaPlayer.h"
#include "model/MixEnvelope.h"
#include "model/Platform.h"
#include "model/Options.h"

namespace quendo {

enum class Deck { WinMediaPlayer1, WinMediaPlayer2 };

// The two decks in turn: the head track's start, the advance, the end of the playlist, the
// transport buttons and the automix tick with its crossfade.
class DeckEngine {
public:
    struct Parts {
        Playlist& playlist;
        const NodeTable& nodes;
        const MixEnvelope& envelope;
        const Options& options;
        TransportButtons& buttons;
        MainDisplay& display;
        MediaPlayer& deck1;
        MediaPlayer& deck2;
        Random& random;
    };
    explicit DeckEngine(Parts parts);

    // Wired by the owner: a cocktail refills the playlist; the end-of-playlist choices; a mix
    // starting or ending (the mix editor's bars follow it).
    std::function<void()> MakeCocktail;
    std::function<void()> CloseProgram;
    std::function<void()> ShutDown;
    std::function<void(bool)> MixRunning;

    Deck currentDeck() const { return currentDeck_; }
    Deck incomingDeck() const { return incomingDeck_; }
    bool isMixing() const { return isMixing_; }
    int mixStep() const { return mixStep_; }
    int trackLength() const { return trackLength_; }
    const std::string& incomingName() const { return incomingName_; }
    bool Timer1Enabled() const { return timer1Enabled_; }

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

private:
    void DeckReachedEnd(Deck deck);
    int Lead() const { return p_.envelope.FinishingPosition() / 10; }
    int BetweenMixGaugeMax() const;
    void SetGaugeProgress(std::int64_t progress);
    void EnableMixControls(bool enabled);
    void RefillIfRunningOut();

    Parts p_;
    Deck currentDeck_ = Deck::WinMediaPlayer1;
    Deck incomingDeck_ = Deck::WinMediaPlayer2;
    bool isMixing_ = false;
    int mixStep_ = 0;
    int trackLength_ = 0;
    std::string incomingName_;
    std::int32_t incomingNodeId_ = -1;  // file started on the incoming deck during a mix
    bool incomingEnded_ = false;        // the incoming deck played to its end before its mix was over
    bool timer1Enabled_ = false;        // automix tick, 100 ms
};

}  // namespace quendo
