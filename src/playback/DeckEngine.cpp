#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "app/Core.h"

namespace quendo {

namespace {

constexpr const char* kAutoMixingCaption = "                    A u t o M i x i n g";
// Width of the title strip in pixels; Next seeks by it as a click at its last pixel would.
constexpr std::int64_t kTitleStripWidth = 273;

std::int32_t TruncatedSeconds(double seconds) {
    if (std::isnan(seconds)) return 0;
    if (seconds >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (seconds <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(seconds);
}

Deck OtherDeck(Deck d) { return d == Deck::WinMediaPlayer1 ? Deck::WinMediaPlayer2 : Deck::WinMediaPlayer1; }

bool PausedOrPlaying(int state) { return state == psPaused || state == psPlaying; }

}  // namespace

// ---- helpers of this file ----

static int Lead(const Core& c) { return c.envelope.FinishingPosition() / 10; }

// The gauge cannot go below its minimum of 0: a track shorter than the lead shows an empty gauge.
static int BetweenMixGaugeMax(const Core& c) {
    return c.buttons.Mix_OFF ? c.trackLength : std::max(0, c.trackLength - Lead(c));
}

// The gauge shows at most its maximum; keep the state what the gauge can show.
static void SetGaugeProgress(Core& c, std::int64_t progress) {
    c.display.CGauge1Progress =
        static_cast<int>(std::clamp<std::int64_t>(progress, 0, std::max(0, c.display.CGauge1Max)));
}

static void EnableMixControls(Core& c, bool enabled) {
    c.display.NextEnabled = enabled;
    c.display.MixOffEnabled = enabled;
    c.editor.MixBarsEnabled = enabled;
}

static void DeckReachedEnd(Core& c, Deck deck) {
    if (deck != c.currentDeck) {
        // The outgoing deck plays out after a mix and its end means nothing. An incoming track
        // that is over before its own mix ends cannot be mixed out of; remember it.
        if (c.isMixing && deck == c.incomingDeck && !c.incomingName.empty()) c.incomingEnded = true;
        return;
    }
    if (c.buttons.Mix_OFF) {
        c.TrackEnded();
        return;
    }
    // With crossfading on, the tick ends the track; but a file shorter than its measured length
    // ends before its mix can start, and waiting for the tick would mean silence for good.
    if (!c.isMixing) c.TrackEnded();
}

// ---- deck engine ----

void Core::StartHeadTrack() {
    if (playlist.Empty() || !buttons.UP) return;
    // The current deck is the outgoing one of a running mix; the mix takes the head itself.
    if (isMixing) return;

    SetGaugeProgress(*this, 0);
    MediaPlayer& deck = CurrentPlayer();
    deck.SetVolume(0);
    deck.SetBalance(0);

    const std::int32_t head = playlist.ListBox2.front();
    const std::string name = nodes.RelativePath(head);
    display.Label1Caption = name;
    display.Label1Hint = name;
    deck.SetFileName(nodes.MusicFolder + name);
    if (buttons.Play) deck.Play();
    trackLength = nodes.IsFile(head) ? nodes.File(head).durationSeconds : 0;

    Timer1Enabled = true;
    AdvancePlaylist();
    display.StaticText2 = TimeText(trackLength);
    display.CGauge1Max = BetweenMixGaugeMax(*this);
}

void Core::AdvancePlaylist() {
    const int n = playlist.Count();
    if (n == 0) return;
    if (buttons.Shuffle) {
        takenOffNodeId = -1;
        const int k = n - 1 == 0 ? 1 : platform.random.Below(n - 1) + 1;
        for (int i = 0; i < k; ++i) playlist.MoveHeadToEnd();
    } else if (buttons.Repeat) {
        takenOffNodeId = -1;
        playlist.MoveHeadToEnd();
    } else {
        takenOffNodeId = playlist.ListBox2.front();
        playlist.Erase(0);
        ShowPlaylistTotal();
    }
}

void Core::TrackEnded() {
    Timer1Enabled = false;
    if (playlist.Count() <= 1 && options.RadioGroup2 == epLoadCocktail) MakeCocktail();
    if (!playlist.Empty()) StartHeadTrack();
    else FinishPlaylist();
}

void Core::FinishPlaylist() {
    display.StaticText2 = ":";
    display.StaticText3 = ":";
    display.Label1Caption.clear();
    display.Label1Hint.clear();
    CurrentPlayer().SetFileName("");
    takenOffNodeId = -1;
    SetGaugeProgress(*this, 0);

    switch (options.RadioGroup2) {
        case epCloseProgram:
            if (hooks.CloseMainWindow) hooks.CloseMainWindow();
            break;
        case epShutDown: {
            // The power-off ends the program without a close, so write what a close writes.
            if (!FirstRun && !SetupCancelled) {
                if (!SavePlaylist())
                    platform.dialogs.Message("The playlist file \"qnd.m3u\" could not be written.", MsgIcon::Error);
                SaveConfiguration();
            }
            const std::string failed = platform.powerOff.PowerOffComputer();
            if (!failed.empty()) platform.dialogs.Message(failed);
            break;
        }
        default:
            break;
    }
}

void Core::UPClick() {
    if (!PausedOrPlaying(CurrentPlayer().PlayState()) && !isMixing) StartHeadTrack();
}

void Core::PlayClick() {
    if (isMixing) {
        for (Deck d : {Deck::WinMediaPlayer1, Deck::WinMediaPlayer2}) {
            MediaPlayer& deck = Player(d);
            if (buttons.Play && deck.PlayState() == psPaused) deck.Play();
            if (!buttons.Play && deck.PlayState() == psPlaying) deck.Pause();
        }
        Timer1Enabled = buttons.Play;
        return;
    }
    if (buttons.Play) CurrentPlayer().Play();
    else CurrentPlayer().Pause();
}

void Core::NextClick() {
    if (isMixing) return;  // the button is disabled then; its key must not slip through
    const std::int64_t max = display.CGauge1Max;
    if (buttons.Mix_OFF) CurrentPlayer().SetCurrentPosition(static_cast<double>(max));
    else CurrentPlayer().SetCurrentPosition(static_cast<double>(max * (kTitleStripWidth - 1) / kTitleStripWidth));
}

void Core::Mix_OFFClick() {
    if (isMixing) return;  // disabled during a mix
    display.CGauge1Max = BetweenMixGaugeMax(*this);
}

void Core::RepeatClick() {
    if (buttons.Repeat) {
        display.ShuffleEnabled = true;
        display.RepeatCaptionColour = Colour::Green;
    } else {
        buttons.Shuffle = false;
        display.ShuffleEnabled = false;
        display.RepeatCaptionColour = Colour::WindowText;
        display.ShuffleCaptionColour = Colour::WindowText;
    }
}

void Core::ShuffleClick() { display.ShuffleCaptionColour = buttons.Shuffle ? Colour::Green : Colour::WindowText; }

void Core::WinMediaPlayer1EndOfStream() { DeckReachedEnd(*this, Deck::WinMediaPlayer1); }
void Core::WinMediaPlayer2EndOfStream() { DeckReachedEnd(*this, Deck::WinMediaPlayer2); }

void Core::Label1Seek(int x, int labelWidth) {
    if (isMixing || labelWidth <= 0) return;
    const std::int64_t at = static_cast<std::int64_t>(std::max(0, x)) * display.CGauge1Max / labelWidth;
    CurrentPlayer().SetCurrentPosition(static_cast<double>(at));
}

// ---- automix tick ----

void Core::Timer1Timer() {
    const std::int32_t position = TruncatedSeconds(CurrentPlayer().CurrentPosition());
    const std::int64_t remaining = static_cast<std::int64_t>(trackLength) - position;
    const int lead = Lead(*this);

    if (buttons.Mix_OFF || (!isMixing && remaining > lead)) {
        SetGaugeProgress(*this, static_cast<std::int64_t>(position) + 2);
        display.StaticText3 = options.chkMusicFileTimeRem
                                  ? TimeText(static_cast<std::int32_t>(std::max<std::int64_t>(0, remaining)))
                                  : TimeText(position);
        return;
    }

    if (!isMixing) {
        isMixing = true;
        mixStep = 0;
        incomingEnded = false;
        incomingDeck = OtherDeck(currentDeck);
        display.CGauge1Max = envelope.MixLength();
        SetGaugeProgress(*this, 0);
        display.StaticText2 = TimeText(envelope.MixLength() / 10);
        display.Label1Caption = kAutoMixingCaption;
        EnableMixControls(*this, false);
        display.CGauge1Colour = Colour::Yellow;
        // Something to mix into when the playlist is running out.
        if (playlist.Count() <= 1 && options.RadioGroup2 == epLoadCocktail) MakeCocktail();
        return;
    }

    if (mixStep >= envelope.MixLength()) {
        isMixing = false;
        SetGaugeProgress(*this, 0);
        display.CGauge1Colour = Colour::Aqua;
        EnableMixControls(*this, true);
        if (incomingName.empty()) {
            Timer1Enabled = false;
            FinishPlaylist();
            return;
        }
        currentDeck = incomingDeck;
        display.Label1Caption = incomingName;
        display.Label1Hint = incomingName;
        incomingName.clear();
        // The head may have been deleted, or the playlist cleared, while the mix ran: only the
        // entry that was started leaves; otherwise it is gone already and is the track taken off.
        if (!playlist.Empty() && playlist.ListBox2.front() == incomingNodeId) AdvancePlaylist();
        else takenOffNodeId = incomingNodeId;
        incomingNodeId = -1;
        display.CGauge1Max = std::max(0, trackLength - lead);
        display.StaticText2 = TimeText(trackLength);
        if (incomingEnded) {
            incomingEnded = false;
            TrackEnded();
        }
        return;
    }

    MediaPlayer& outgoing = CurrentPlayer();
    MediaPlayer& incoming = IncomingPlayer();
    if (mixStep == envelope.StartingPosition() && !playlist.Empty() && buttons.UP) {
        const std::int32_t head = playlist.ListBox2.front();
        const std::string name = nodes.RelativePath(head);
        incoming.SetFileName(nodes.MusicFolder + name);
        incoming.Play();
        incomingName = name;
        incomingNodeId = head;
        trackLength = nodes.IsFile(head) ? nodes.File(head).durationSeconds : 0;
    }

    const MixPoint& p = envelope.Point(mixStep);
    outgoing.SetVolume(p.volume[0]);
    incoming.SetVolume(p.volume[1]);
    outgoing.SetBalance(p.balance[0]);
    incoming.SetBalance(p.balance[1]);

    ++mixStep;
    SetGaugeProgress(*this, mixStep);
    display.StaticText3 = options.chkAutoMixTimeRem ? TimeText((envelope.MixLength() - mixStep) / 10)
                                                    : TimeText(mixStep / 10);
}

}  // namespace quendo
