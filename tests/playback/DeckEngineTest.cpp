#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

const std::string kAutoMixing = "                    A u t o M i x i n g";

class DeckEngine : public ::testing::Test {
protected:
    explicit DeckEngine(bool listening = false) : w(listening ? &analysis : nullptr) {}
    FakeAnalysis analysis;  // heard only by the listening tests
    FakeWorld w;
    Core& c = *w.core;

    void SetUp() override {
        c.buttons.UP = true;
        c.buttons.Play = true;
        c.options.RadioGroup2 = epWait;
    }

    std::int32_t Add(const std::string& name, double seconds) {
        const std::int32_t j = w.AddFile(name, seconds);
        c.playlist.AddToPlaylist(j);
        return j;
    }

    // One tick of 100 ms: the decks play on, the analysis gets through what is wanted, then the
    // timer fires if it is on.
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            w.deck1.Advance(0.1);
            w.deck2.Advance(0.1);
            analysis.Work();
            if (c.deck.Timer1Enabled()) c.Timer1Timer();
        }
    }

    // Puts the current deck at a whole position and ticks once without moving the clocks.
    void TickAt(double position) {
        Current().position = position;
        analysis.Work();
        c.Timer1Timer();
    }

    FakePlayer& Current() { return Player(c.deck.currentDeck()); }
    FakePlayer& Player(Deck d) { return d == Deck::WinMediaPlayer1 ? w.deck1 : w.deck2; }

    void TickUntilMixStarts() {
        for (int n = 0; !c.deck.isMixing() && c.deck.Timer1Enabled() && n < 100000; ++n) Tick();
    }

    // Ticks until the mix ends; returns the number of ticks.
    int TickUntilMixEnds() {
        int n = 0;
        while (c.deck.isMixing() && n < 2000) {
            Tick();
            ++n;
        }
        return n;
    }

    std::vector<std::int32_t> Files() const { return c.playlist.ListBox2(); }
};

std::vector<std::string> Without(const std::vector<std::string>& calls, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& s : calls)
        if (s.rfind(prefix, 0) != 0) out.push_back(s);
    return out;
}

TEST_F(DeckEngine, DefaultMixOfATwoHundredSecondTrack) {
    const auto a = Add("A.mp3", 200);
    const auto b = Add("B.mp3", 180);

    // The first file started at once on deck 1.
    EXPECT_EQ(w.deck1.calls, (std::vector<std::string>{"Volume 0", "Balance 0", "FileName /music/A.mp3", "Play"}));
    EXPECT_EQ(c.display.Label1Caption, "A.mp3");
    EXPECT_EQ(c.display.Label1Hint, "A.mp3");
    EXPECT_EQ(c.display.StaticText2, "3:20");
    EXPECT_EQ(c.display.CGauge1Max, 194);
    EXPECT_TRUE(c.deck.Timer1Enabled());
    EXPECT_EQ(c.playlist.takenOffNodeId(), a);
    EXPECT_EQ(Files(), std::vector<std::int32_t>{b});

    TickAt(10.7);
    EXPECT_EQ(c.deck.phase(), MixPhase::BetweenMixes);
    EXPECT_EQ(c.display.CGauge1Progress, 12);
    EXPECT_EQ(c.display.StaticText3, "3:10");
    c.options.chkMusicFileTimeRem = false;
    TickAt(75);
    EXPECT_EQ(c.display.StaticText3, "1:15");

    TickAt(193.99);
    EXPECT_FALSE(c.deck.isMixing());
    w.deck1.calls.clear();
    TickAt(194);
    ASSERT_TRUE(c.deck.isMixing());
    EXPECT_EQ(c.deck.phase(), MixPhase::Starting);
    EXPECT_EQ(c.deck.mixStep(), 0);
    EXPECT_EQ(c.deck.incomingDeck(), Deck::WinMediaPlayer2);
    EXPECT_EQ(c.display.CGauge1Max, 60);
    EXPECT_EQ(c.display.CGauge1Progress, 0);
    EXPECT_EQ(c.display.CGauge1Colour, Colour::Yellow);
    EXPECT_EQ(c.display.StaticText2, "0:06");
    EXPECT_EQ(c.display.Label1Caption, kAutoMixing);
    EXPECT_EQ(c.display.Label1Hint, "A.mp3");
    EXPECT_FALSE(c.display.NextEnabled);
    EXPECT_FALSE(c.display.MixOffEnabled);
    EXPECT_FALSE(c.editor.MixBarsEnabled);
    // The starting tick applies nothing.
    EXPECT_TRUE(w.deck1.calls.empty());
    EXPECT_TRUE(w.deck2.calls.empty());

    Tick();
    EXPECT_EQ(c.deck.phase(), MixPhase::Mixing);
    EXPECT_EQ(w.deck2.calls, (std::vector<std::string>{"FileName /music/B.mp3", "Play", "Volume 0", "Balance 4000"}));
    EXPECT_EQ(w.deck1.calls, (std::vector<std::string>{"Volume 0", "Balance 0"}));
    EXPECT_EQ(c.deck.mixStep(), 1);
    EXPECT_EQ(c.display.CGauge1Progress, 1);
    EXPECT_EQ(c.display.StaticText3, "0:00");
    EXPECT_EQ(c.deck.incomingName(), "B.mp3");
    EXPECT_EQ(c.deck.trackLength(), 180);
    // The started entry stays at the head until the mix ends.
    EXPECT_EQ(Files(), std::vector<std::int32_t>{b});

    Tick(59);
    EXPECT_TRUE(c.deck.isMixing());
    EXPECT_EQ(c.deck.phase(), MixPhase::Mixing);
    EXPECT_EQ(c.deck.mixStep(), 60);
    EXPECT_EQ(c.display.StaticText3, "0:06");
    EXPECT_EQ(w.deck1.balance, -3894);  // point 59; point 60 is never sent
    EXPECT_EQ(w.deck2.balance, 106);
    EXPECT_EQ(w.deck1.fileName, "/music/A.mp3");  // played to its end during the mix, left alone

    Tick();  // the 61st tick after the start ends the mix
    EXPECT_FALSE(c.deck.isMixing());
    EXPECT_EQ(c.deck.phase(), MixPhase::Ending);
    EXPECT_EQ(c.deck.currentDeck(), Deck::WinMediaPlayer2);
    EXPECT_EQ(c.display.Label1Caption, "B.mp3");
    EXPECT_EQ(c.display.Label1Hint, "B.mp3");
    EXPECT_TRUE(c.deck.incomingName().empty());
    EXPECT_EQ(c.playlist.takenOffNodeId(), b);
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_EQ(c.display.StaticText1, "0:00");
    EXPECT_EQ(c.display.CGauge1Max, 174);
    EXPECT_EQ(c.display.CGauge1Progress, 0);
    EXPECT_EQ(c.display.CGauge1Colour, Colour::Aqua);
    EXPECT_EQ(c.display.StaticText2, "3:00");
    EXPECT_TRUE(c.display.NextEnabled);
    EXPECT_TRUE(c.display.MixOffEnabled);
    EXPECT_TRUE(c.editor.MixBarsEnabled);
    EXPECT_TRUE(c.deck.Timer1Enabled());
    EXPECT_EQ(w.deck2.balance, 106);
    EXPECT_EQ(w.deck2.state, psPlaying);
    // The new track plays alone, with the progress of its own length.
    TickAt(10);
    EXPECT_EQ(c.deck.phase(), MixPhase::BetweenMixes);
    EXPECT_EQ(c.display.CGauge1Progress, 12);
}

TEST_F(DeckEngine, AutoMixingTimeRemainingAndStartingPosition) {
    c.options.chkAutoMixTimeRem = true;
    c.envelope.SetStartingPosition(30);
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    TickAt(194);
    Tick();
    EXPECT_EQ(c.display.StaticText3, "0:05");  // (60 - 1) / 10
    // The incoming deck follows the envelope from point 0, its track only from step 30.
    EXPECT_EQ(w.deck2.calls, (std::vector<std::string>{"Volume 0", "Balance 4000"}));
    Tick(29);
    EXPECT_TRUE(w.deck2.fileName.empty());
    Tick();
    ASSERT_EQ(w.deck2.calls.size(), 30u * 2 + 4);
    EXPECT_EQ(w.deck2.calls[60], "FileName /music/B.mp3");
    EXPECT_EQ(w.deck2.calls[61], "Play");
    EXPECT_EQ(w.deck2.calls[63], "Balance 4000");
    EXPECT_EQ(TickUntilMixEnds(), 30);
    EXPECT_EQ(c.deck.currentDeck(), Deck::WinMediaPlayer2);
    EXPECT_EQ(c.display.StaticText3, "0:00");
}

TEST_F(DeckEngine, MixWithoutIncomingTrackFinishesThePlaylist) {
    // UP raised before the mix: nothing starts, the next entry waits.
    Add("A.mp3", 200);
    const auto b = Add("B.mp3", 180);
    c.buttons.UP = false;
    TickAt(195);
    ASSERT_TRUE(c.deck.isMixing());
    EXPECT_EQ(TickUntilMixEnds(), 61);
    EXPECT_TRUE(w.deck2.fileName.empty());
    EXPECT_FALSE(c.deck.Timer1Enabled());
    EXPECT_EQ(w.deck1.fileName, "");
    EXPECT_EQ(c.display.StaticText2, ":");
    EXPECT_EQ(c.display.StaticText3, ":");
    EXPECT_EQ(c.display.Label1Caption, "");
    EXPECT_EQ(c.display.Label1Hint, "");
    EXPECT_EQ(c.playlist.takenOffNodeId(), -1);
    EXPECT_EQ(Files(), std::vector<std::int32_t>{b});
    EXPECT_EQ(c.display.CGauge1Colour, Colour::Aqua);

    // UP down again: the closed deck is neither paused nor playing, so the head starts.
    c.buttons.UP = true;
    c.UPClick();
    EXPECT_EQ(w.deck1.fileName, "/music/B.mp3");
    EXPECT_TRUE(c.deck.Timer1Enabled());
}

TEST_F(DeckEngine, EmptyPlaylistAtMixStartPlaysTheLastTrackOut) {
    Add("A.mp3", 200);
    TickAt(194);
    ASSERT_TRUE(c.deck.isMixing());
    EXPECT_EQ(TickUntilMixEnds(), 61);
    EXPECT_EQ(w.deck1.balance, -3894);
    EXPECT_TRUE(w.deck2.fileName.empty());
    EXPECT_EQ(w.deck1.fileName, "");
    EXPECT_EQ(c.display.StaticText2, ":");
    EXPECT_FALSE(c.deck.Timer1Enabled());

    // Idle again: the next file starts at once.
    Add("B.mp3", 100);
    EXPECT_EQ(w.deck1.fileName, "/music/B.mp3");
}

TEST_F(DeckEngine, MixOffPlaysEachTrackToItsEnd) {
    c.buttons.Mix_OFF = true;
    Add("A.mp3", 200);
    EXPECT_EQ(c.display.CGauge1Max, 200);
    Add("B.mp3", 100);
    TickAt(196);
    EXPECT_FALSE(c.deck.isMixing());
    EXPECT_EQ(c.display.CGauge1Progress, 198);
    EXPECT_EQ(c.display.StaticText3, "0:04");

    // Next seeks to the end; the end of stream starts the next track on the same deck.
    c.NextClick();
    EXPECT_EQ(w.deck1.position, 200);
    Tick(5);
    EXPECT_EQ(w.deck1.fileName, "/music/B.mp3");
    EXPECT_EQ(c.display.StaticText2, "1:40");
    EXPECT_EQ(c.display.CGauge1Max, 100);
    EXPECT_TRUE(c.deck.Timer1Enabled());
    EXPECT_TRUE(w.deck2.calls.empty());

    // The last track ends: the playlist is finished.
    TickAt(99.95);
    Tick();
    EXPECT_FALSE(c.deck.Timer1Enabled());
    EXPECT_EQ(w.deck1.fileName, "");
    EXPECT_EQ(c.display.StaticText3, ":");
}

TEST_F(DeckEngine, MixOffWithUpRaisedKeepsTheEndedTrack) {
    c.buttons.Mix_OFF = true;
    Add("A.mp3", 20);
    Add("B.mp3", 30);
    c.buttons.UP = false;
    Tick(210);
    EXPECT_FALSE(c.deck.Timer1Enabled());
    EXPECT_EQ(w.deck1.fileName, "/music/A.mp3");
    EXPECT_EQ(c.playlist.Count(), 1);
}

TEST_F(DeckEngine, RepeatPlaysOneEntryEndlessly) {
    c.buttons.Repeat = true;
    c.RepeatClick();
    EXPECT_TRUE(c.display.ShuffleEnabled);
    EXPECT_EQ(c.display.RepeatCaptionColour, Colour::Green);
    const auto a = Add("A.mp3", 20);
    EXPECT_EQ(c.playlist.takenOffNodeId(), -1);
    EXPECT_EQ(Files(), std::vector<std::int32_t>{a});
    for (int round = 0; round < 3; ++round) {
        TickUntilMixStarts();
        ASSERT_TRUE(c.deck.isMixing()) << round;
        TickUntilMixEnds();
        EXPECT_EQ(Current().fileName, "/music/A.mp3");
        EXPECT_EQ(Files(), std::vector<std::int32_t>{a});
    }
    EXPECT_EQ(c.deck.currentDeck(), Deck::WinMediaPlayer2);
    EXPECT_TRUE(c.deck.Timer1Enabled());
}

TEST_F(DeckEngine, ShuffleWithTwoEntriesAlternates) {
    c.buttons.Repeat = true;
    c.buttons.Shuffle = true;
    c.ShuffleClick();
    EXPECT_EQ(c.display.ShuffleCaptionColour, Colour::Green);
    c.buttons.UP = false;
    Add("A.mp3", 20);
    Add("B.mp3", 20);
    c.buttons.UP = true;
    c.UPClick();
    std::vector<std::string> played{Current().fileName};
    for (int round = 0; round < 4; ++round) {
        TickUntilMixStarts();
        TickUntilMixEnds();
        played.push_back(Current().fileName);
        EXPECT_EQ(c.playlist.Count(), 2);
    }
    EXPECT_EQ(played, (std::vector<std::string>{"/music/A.mp3", "/music/B.mp3", "/music/A.mp3", "/music/B.mp3",
                                                "/music/A.mp3"}));

    // Repeat raised: Shuffle goes up and is disabled, both captions back to normal.
    c.buttons.Repeat = false;
    c.RepeatClick();
    EXPECT_FALSE(c.buttons.Shuffle);
    EXPECT_FALSE(c.display.ShuffleEnabled);
    EXPECT_EQ(c.display.RepeatCaptionColour, Colour::WindowText);
    EXPECT_EQ(c.display.ShuffleCaptionColour, Colour::WindowText);
}

TEST_F(DeckEngine, ShuffleNeverPicksTheStartedTrackAmongMany) {
    c.buttons.Repeat = true;
    c.buttons.Shuffle = true;
    std::vector<std::int32_t> all;
    for (const char* n : {"A.mp3", "B.mp3", "C.mp3", "D.mp3", "E.mp3"}) all.push_back(w.AddFile(n, 20));
    for (auto j : all) c.playlist.Append("x", j);
    for (int i = 0; i < 50; ++i) {
        const auto before = Files();
        c.deck.AdvancePlaylist();
        const auto after = Files();
        ASSERT_NE(after.front(), before.front());
        // A rotation of the same entries.
        auto rotated = before;
        const auto k = std::find(before.begin(), before.end(), after.front()) - before.begin();
        std::rotate(rotated.begin(), rotated.begin() + k, rotated.end());
        EXPECT_EQ(after, rotated);
    }
    EXPECT_EQ(c.playlist.takenOffNodeId(), -1);
}

TEST_F(DeckEngine, PlayDuringAMixPausesAndResumesBothDecks) {
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    TickAt(194);
    Tick(5);
    c.buttons.Play = false;
    c.PlayClick();
    EXPECT_EQ(w.deck1.state, psPaused);
    EXPECT_EQ(w.deck2.state, psPaused);
    EXPECT_FALSE(c.deck.Timer1Enabled());
    Tick(10);  // frozen
    EXPECT_EQ(c.deck.mixStep(), 5);
    EXPECT_DOUBLE_EQ(w.deck2.position, 0.4);

    // Only paused decks are resumed: deck 1 has been stopped meanwhile.
    w.deck1.state = psStopped;
    w.deck1.calls.clear();
    c.buttons.Play = true;
    c.PlayClick();
    EXPECT_TRUE(c.deck.Timer1Enabled());
    EXPECT_EQ(w.deck2.state, psPlaying);
    EXPECT_TRUE(Without(w.deck1.calls, "Volume").empty());
    EXPECT_EQ(TickUntilMixEnds(), 56);

    // Between mixes Play touches only the current deck and not the timer.
    c.buttons.Play = false;
    c.PlayClick();
    EXPECT_EQ(w.deck2.state, psPaused);
    EXPECT_TRUE(c.deck.Timer1Enabled());
    // UP pressed while the deck is paused starts nothing.
    w.deck2.calls.clear();
    c.UPClick();
    EXPECT_TRUE(w.deck2.calls.empty());
}

TEST_F(DeckEngine, SeekingNextAndMixOffGauge) {
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    c.Label1Seek(136, 273);
    EXPECT_EQ(w.deck1.position, 96);  // 136 * 194 / 273
    c.NextClick();
    EXPECT_EQ(w.deck1.position, 193);  // 194 * 272 / 273
    c.Timer1Timer();
    EXPECT_FALSE(c.deck.isMixing());

    c.buttons.Mix_OFF = true;
    c.Mix_OFFClick();
    EXPECT_EQ(c.display.CGauge1Max, 200);
    c.buttons.Mix_OFF = false;
    c.Mix_OFFClick();
    EXPECT_EQ(c.display.CGauge1Max, 194);

    TickAt(194);
    ASSERT_TRUE(c.deck.isMixing());
    c.Label1Seek(200, 273);
    c.NextClick();
    EXPECT_EQ(w.deck1.position, 194);
}

// ---- sound behaviour where the plain steps would go wrong ----

TEST_F(DeckEngine, MixOffReadBackDuringAMixLetsTheMixFinish) {
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    TickUntilMixStarts();
    ASSERT_TRUE(c.deck.isMixing());
    c.buttons.Mix_OFF = true;  // the settings' Cancel puts back a saved state; the button is disabled
    w.deck1.position = 200;    // the outgoing track ends within the mix
    EXPECT_EQ(TickUntilMixEnds(), 61);
    EXPECT_TRUE(c.deck.Timer1Enabled());
    EXPECT_EQ(Current().fileName, "/music/B.mp3");
    EXPECT_EQ(c.display.CGauge1Max, 180);  // MixOFF down: the whole track
    EXPECT_TRUE(c.display.NextEnabled);
}

TEST_F(DeckEngine, MixOffRaisedAfterAnEndedTrackKeepsTheGaugeInItsRange) {
    c.buttons.Mix_OFF = true;
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    c.buttons.UP = false;
    Tick(2010);  // A plays to its end; with UP up nothing follows and the tick stops
    ASSERT_FALSE(c.deck.Timer1Enabled());
    c.buttons.Mix_OFF = false;
    c.Mix_OFFClick();
    EXPECT_EQ(c.display.CGauge1Max, 194);
    EXPECT_LE(c.display.CGauge1Progress, 194);
}

class RecordingPowerOff : public PowerOff {
public:
    TempDir* dir = nullptr;
    std::string playlistAtRequest;
    int requests = 0;
    std::string failure;
    std::string PowerOffComputer() override {
        ++requests;
        playlistAtRequest = dir->ReadFile("qnd.m3u");
        return failure;
    }
};

TEST_F(DeckEngine, ShutDownWritesThePlaylistFirstAndNamesAFailedCall) {
    TempDir dir;
    RecordingPowerOff power;
    power.dir = &dir;
    power.failure = "org.freedesktop.login1.Manager.PowerOff";
    Core core(PlatformServices{w.deck1, w.deck2, w.probe, w.shell, power, w.dialogs, w.random}, w.forms);
    core.nodes.MusicFolder = "/music/";
    core.nodes.ProgramFolder = dir.path();
    core.buttons.UP = true;
    core.options.RadioGroup2 = epShutDown;
    dir.WriteFile("qnd.m3u", "stale\r\n");

    const auto a = core.nodes.AddFileNode(0, "A.mp3");
    w.probe.durations["/music/A.mp3"] = 20;
    w.deck1.durations["/music/A.mp3"] = 20;
    core.playlist.AddToPlaylist(a);
    EXPECT_EQ(core.playlist.takenOffNodeId(), a);
    core.playlist.SavePlaylist();
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "/music/A.mp3\r\n");

    for (int i = 0; i < 400 && core.deck.Timer1Enabled(); ++i) {
        w.deck1.Advance(0.1);
        core.Timer1Timer();
    }
    EXPECT_EQ(power.requests, 1);
    EXPECT_EQ(power.playlistAtRequest, "");  // nothing left and nothing taken off
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, "org.freedesktop.login1.Manager.PowerOff");
    EXPECT_EQ(w.dialogs.shown[0].icon, MsgIcon::None);
    EXPECT_EQ(w.dialogs.shown[0].place, MsgPlace::Centred);
}

TEST_F(DeckEngine, OtherEndingChoices) {
    bool closed = false;
    w.forms.on.CloseMainWindow = [&] { closed = true; };
    c.options.RadioGroup2 = epCloseProgram;
    c.deck.FinishPlaylist();
    EXPECT_TRUE(closed);
    EXPECT_EQ(w.powerOff.requests, 0);
    closed = false;
    c.options.RadioGroup2 = epLoadCocktail;
    c.deck.FinishPlaylist();
    EXPECT_FALSE(closed);
    EXPECT_EQ(w.powerOff.requests, 0);
    EXPECT_TRUE(w.dialogs.shown.empty());
}

TEST_F(DeckEngine, TrackEndingBeforeItsMixIsFollowedByTheNext) {
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    w.deck1.durations["/music/A.mp3"] = 150;  // the measured length was too long
    Tick(1510);
    EXPECT_FALSE(c.deck.isMixing());
    EXPECT_EQ(w.deck1.fileName, "/music/B.mp3");
    EXPECT_EQ(w.deck1.state, psPlaying);
    EXPECT_EQ(c.display.Label1Caption, "B.mp3");
    EXPECT_TRUE(c.deck.Timer1Enabled());
    EXPECT_TRUE(c.playlist.Empty());
}

// An incoming track over before its mix is, shorter than measured or a file that stops answering,
// ends as far as the mix goes: the next one follows when the mix is over.
class IncomingTrackEnding : public DeckEngine, public ::testing::WithParamInterface<bool> {};

TEST_P(IncomingTrackEnding, DuringItsMixIsFollowedByTheNext) {
    Add("A.mp3", 200);
    Add("B.mp3", 100);
    Add("C.mp3", 100);
    if (GetParam()) w.deck2.stallsAt["/music/B.mp3"] = 1;
    else w.deck2.durations["/music/B.mp3"] = 3;
    TickAt(194);
    EXPECT_EQ(TickUntilMixEnds(), 61);
    EXPECT_EQ(w.deck2.fileName, "/music/C.mp3");
    EXPECT_EQ(w.deck2.state, psPlaying);
    EXPECT_EQ(c.display.Label1Caption, "C.mp3");
    EXPECT_TRUE(c.playlist.Empty());
}
INSTANTIATE_TEST_SUITE_P(DeckEngine, IncomingTrackEnding, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "StopsAnswering" : "ShorterThanMeasured"); });

TEST_F(DeckEngine, OutgoingDeckEndingAfterTheMixDoesNotCutTheNewTrack) {
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    Add("C.mp3", 180);
    w.deck1.durations["/music/A.mp3"] = 200.9;
    TickAt(194);
    TickUntilMixEnds();
    c.buttons.Mix_OFF = true;  // pressed while deck 1 still plays out
    c.Mix_OFFClick();
    Tick(10);
    EXPECT_EQ(w.deck1.state, psStopped);
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3");
    EXPECT_EQ(w.deck1.fileName, "/music/A.mp3");
    EXPECT_EQ(c.playlist.Count(), 1);
}

TEST_F(DeckEngine, PlaylistClearedDuringAMix) {
    Add("A.mp3", 200);
    const auto b = Add("B.mp3", 180);
    TickAt(194);
    Tick(3);
    c.playlist.ClearPlaylist();
    EXPECT_EQ(TickUntilMixEnds(), 58);
    EXPECT_EQ(c.deck.currentDeck(), Deck::WinMediaPlayer2);
    EXPECT_EQ(c.display.Label1Caption, "B.mp3");
    // The playing track counts as taken off: it is saved first, and an added file waits.
    EXPECT_EQ(c.playlist.takenOffNodeId(), b);
    const auto d = Add("D.mp3", 50);
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3");
    EXPECT_EQ(Files(), std::vector<std::int32_t>{d});
}

TEST_F(DeckEngine, HeadDeletedDuringAMixKeepsTheEntryThatNeverPlayed) {
    Add("A.mp3", 200);
    const auto b = Add("B.mp3", 180);
    const auto cc = Add("C.mp3", 170);
    TickAt(194);
    Tick(2);
    c.playlist.SetSelected(0, 1);
    c.playlist.DeleteSelectedEntries();
    TickUntilMixEnds();
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3");
    EXPECT_EQ(Files(), std::vector<std::int32_t>{cc});
    EXPECT_EQ(c.playlist.takenOffNodeId(), b);
    EXPECT_EQ(c.deck.trackLength(), 180);

    // The entry that did play leaves, also when files were inserted behind it.
    TickAt(174);
    Tick(2);
    c.playlist.SetSelected(0, 1);
    c.playlist.AddToPlaylist(w.AddFile("E.mp3", 90));  // goes to position 1 during a mix
    TickUntilMixEnds();
    EXPECT_EQ(Files().size(), 1u);
    EXPECT_EQ(c.playlist.takenOffNodeId(), cc);
}

TEST_F(DeckEngine, FileAddedToAnEmptiedPlaylistDuringAMixIsMixedIn) {
    c.buttons.Repeat = true;
    c.envelope.SetStartingPosition(20);
    Add("A.mp3", 200);
    TickAt(194);
    Tick(5);
    c.playlist.SetSelected(0, 1);
    c.playlist.DeleteSelectedEntries();
    w.deck1.calls.clear();
    const auto b = Add("B.mp3", 100);
    EXPECT_TRUE(w.deck1.calls.empty());  // the outgoing track is not cut
    Tick(15);
    EXPECT_TRUE(w.deck2.fileName.empty());
    Tick();
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3");
    TickUntilMixEnds();
    EXPECT_EQ(Files(), std::vector<std::int32_t>{b});  // rotated, as Repeat does
}

TEST_F(DeckEngine, TrackShorterThanTheLead) {
    Add("A.mp3", 4);
    Add("B.mp3", 100);
    EXPECT_EQ(c.display.CGauge1Max, 0);
    c.Timer1Timer();
    EXPECT_TRUE(c.deck.isMixing());  // at once
    TickUntilMixEnds();
    // The remaining time of a track that runs past its length reads 0:00.
    c.buttons.Mix_OFF = true;
    c.Mix_OFFClick();
    w.deck2.durations["/music/B.mp3"] = 110;
    TickAt(104);
    EXPECT_EQ(c.display.StaticText3, "0:00");
    EXPECT_EQ(c.display.CGauge1Progress, 100);
}

// ---- a file that stops answering ----

// Its deck stands, starved (a paused one is not): two seconds of it later the next track starts on
// the other deck, and the file is not tried again this session: with Repeat it is passed over.
TEST_F(DeckEngine, AFileThatStopsAnsweringIsGivenUpAfterTwoSecondsForTheSession) {
    c.buttons.Repeat = true;
    const auto a = Add("A.mp3", 200), b = Add("B.mp3", 180), cc = Add("C.mp3", 180);
    w.deck1.stallsAt["/music/A.mp3"] = 50;
    while (!w.deck1.Starved()) Tick();
    Tick(10);
    c.buttons.Play = false;
    c.PlayClick();
    Tick(40);
    c.buttons.Play = true;
    c.PlayClick();
    Tick(19);
    EXPECT_EQ(w.deck1.fileName, "/music/A.mp3");
    Tick();
    EXPECT_TRUE(w.deck1.fileName.empty()) << "closed";
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3");
    EXPECT_EQ(w.deck2.state, psPlaying);
    EXPECT_EQ(c.display.Label1Caption, "B.mp3");
    EXPECT_EQ(Files(), (std::vector<std::int32_t>{cc, a, b}));

    TickAt(174);
    TickUntilMixEnds();
    EXPECT_EQ(w.deck1.fileName, "/music/C.mp3");
    TickAt(174);
    Tick();
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3") << "A passed over";
}

// A file that stands where it was opened (an open or a seek on a slow share) is passed over as
// one that stopped answering, but only this time: coming round again, it is tried again.
TEST_F(DeckEngine, AFileStalledInItsOpenIsPassedOverButNotBarred) {
    c.buttons.Repeat = true;
    Add("A.mp3", 200);
    Add("B.mp3", 180);  // after A: A comes round first
    w.deck1.stallsAt["/music/A.mp3"] = 0;
    Tick(21);
    EXPECT_TRUE(w.deck1.fileName.empty());
    EXPECT_EQ(w.deck2.fileName, "/music/A.mp3");
    EXPECT_EQ(w.deck2.state, psPlaying);
}

// ---- the automix that listens: the same engine, given what the analysis knows ----

class ListeningDeckEngine : public DeckEngine {
protected:
    ListeningDeckEngine() : DeckEngine(true) {}

    void Know(const std::string& name, double lufs, double peak, double first, double last, bool audible = true) {
        TrackFacts& f = analysis.known["/music/" + name];
        f.integratedLufs = lufs;
        f.peakDbfs = peak;
        f.firstSound = first;
        f.lastSound = last;
        f.audible = audible;
    }
    void KnowSilent(const std::string& name) { Know(name, 0, -200, 0, 0, false); }
};

TEST_F(ListeningDeckEngine, MixStartsAtTheLastSoundOnceItIsKnown) {
    Know("A.mp3", -16, -3, 0, 180.6);
    Add("A.mp3", 200);
    const auto b = Add("B.mp3", 180);
    Add("C.mp3", 180);
    Add("D.mp3", 180);
    Tick();  // A's facts come

    // The lead counts back from the last sound, in whole seconds: 180 - 6; the gauge fills there.
    EXPECT_EQ(c.display.CGauge1Max, 174);
    TickAt(173.9);
    EXPECT_FALSE(c.deck.isMixing());
    TickAt(174);
    ASSERT_TRUE(c.deck.isMixing());
    w.FinishMix();
    ASSERT_EQ(c.playlist.takenOffNodeId(), b);

    // B's facts are late: until they come, its file's end counts; from then on, its last sound.
    TickAt(145);
    EXPECT_FALSE(c.deck.isMixing());
    EXPECT_EQ(c.display.CGauge1Max, 174);
    Know("B.mp3", -16, -3, 0, 150.5);
    TickAt(143.9);
    EXPECT_FALSE(c.deck.isMixing());
    EXPECT_EQ(c.display.CGauge1Max, 144);
    TickAt(144);
    ASSERT_TRUE(c.deck.isMixing());
    w.FinishMix();

    // Switched off, the facts are not looked at.
    c.autoMix.mixAtLastSound = false;
    Know("C.mp3", -16, -3, 0, 100.3);
    TickAt(173.9);
    EXPECT_FALSE(c.deck.isMixing());
    TickAt(174);
    EXPECT_TRUE(c.deck.isMixing());
}

TEST_F(ListeningDeckEngine, TracksStartAtTheirFirstSoundAtOneLoudness) {
    Know("A.mp3", -10, -0.5, 2.7, 200);  // loud: 6 dB down
    // Quiet: 14 dB up would take its peak 7 dB past -1 dBFS; the deck's limiter takes 6 of them.
    Know("B.mp3", -30, -8, 4.25, 180);
    Know("C.mp3", -30, -8, 3, 180);
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    Add("C.mp3", 180);

    // Started alone, from its first sound: it waits for its facts, which come within the tick.
    EXPECT_EQ(w.deck1.calls, (std::vector<std::string>{"Volume 0", "Balance 0", "FileName /music/A.mp3"}));
    Tick();
    EXPECT_EQ(w.deck1.calls, (std::vector<std::string>{"Volume 0", "Balance 0", "FileName /music/A.mp3", "Seek 2", "Play"}));
    EXPECT_DOUBLE_EQ(w.deck1.position, 2.7);
    EXPECT_DOUBLE_EQ(w.deck1.trackGainDb, -6);
    EXPECT_EQ(w.deck1.trackCeilingDbfs, HUGE_VAL) << "its peak stays below -1 dBFS: no limiter";

    // Mixed in at the envelope's starting position, from its first sound.
    c.envelope.SetStartingPosition(3);
    TickAt(194);
    Tick(3);
    EXPECT_TRUE(w.deck2.fileName.empty());
    w.deck2.calls.clear();
    Tick();
    EXPECT_EQ(Without(w.deck2.calls, "Volume"),
              (std::vector<std::string>{"FileName /music/B.mp3", "Seek 4", "Play", "Balance 4000"}));
    EXPECT_DOUBLE_EQ(w.deck2.position, 4.25);
    EXPECT_DOUBLE_EQ(w.deck2.trackGainDb, 13);
    EXPECT_DOUBLE_EQ(w.deck2.trackCeilingDbfs, -1);
    w.FinishMix();

    // Switched off: from the file's start, as mastered.
    c.autoMix.skipSilenceAtStart = false;
    c.autoMix.matchLoudness = false;
    w.deck1.calls.clear();
    w.StartMix();
    Tick(4);
    EXPECT_EQ(Without(Without(w.deck1.calls, "Volume"), "Balance"),
              (std::vector<std::string>{"FileName /music/C.mp3", "Play"}));
    EXPECT_DOUBLE_EQ(w.deck1.trackGainDb, 0);
    EXPECT_EQ(w.deck1.trackCeilingDbfs, HUGE_VAL);
}

TEST_F(ListeningDeckEngine, SilentTracksLeaveAsPlayedAndTheNextIsMixedIn) {
    KnowSilent("S1.mp3");
    KnowSilent("S2.mp3");
    KnowSilent("S3.mp3");
    Know("A.mp3", -16, -3, 0, 200);
    const auto a = Add("A.mp3", 200);
    Add("S1.mp3", 200);
    Add("S2.mp3", 200);
    const auto b = Add("B.mp3", 180);
    const auto s3 = Add("S3.mp3", 200);
    Tick();

    TickAt(194);
    Tick();
    EXPECT_EQ(w.deck2.fileName, "/music/B.mp3");
    EXPECT_EQ(Files(), (std::vector<std::int32_t>{b, s3}));
    EXPECT_EQ(c.playlist.takenOffNodeId(), a);  // still the track that plays
    w.FinishMix();
    EXPECT_EQ(c.playlist.takenOffNodeId(), b);
    EXPECT_EQ(Files(), std::vector<std::int32_t>{s3});

    // Nothing but silence left: it leaves too, no track is mixed in, and the playlist ends.
    TickAt(174);
    EXPECT_EQ(TickUntilMixEnds(), 61);
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_TRUE(w.deck2.fileName.empty());
    EXPECT_EQ(c.display.StaticText2, ":");
    EXPECT_FALSE(c.deck.Timer1Enabled());
}

TEST_F(ListeningDeckEngine, APlaylistOfSilenceStartsNothingAndComesRoundOnce) {
    KnowSilent("S1.mp3");
    KnowSilent("S2.mp3");
    c.buttons.Repeat = true;
    c.buttons.UP = false;
    const auto s1 = Add("S1.mp3", 200);
    const auto s2 = Add("S2.mp3", 200);
    analysis.Work();
    c.buttons.UP = true;
    c.UPClick();
    EXPECT_EQ(w.deck1.openedCount, 0);
    EXPECT_EQ(Files(), (std::vector<std::int32_t>{s1, s2}));
    EXPECT_FALSE(c.deck.Timer1Enabled());

    // Taken off as played, they leave; an audible track added then starts at once.
    c.buttons.Repeat = false;
    c.UPClick();
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_EQ(c.playlist.takenOffNodeId(), -1);
    Know("A.mp3", -16, -3, 0, 200);
    Add("A.mp3", 200);
    EXPECT_EQ(w.deck1.fileName, "/music/A.mp3");
    Tick();

    // With MixOFF down, a silent entry after an ended track is passed over too.
    c.buttons.Mix_OFF = true;
    Add("S1.mp3", 200);
    const auto b = Add("B.mp3", 180);
    w.deck1.Advance(200);
    EXPECT_EQ(w.deck1.fileName, "/music/B.mp3");
    EXPECT_EQ(c.playlist.takenOffNodeId(), b);
    EXPECT_TRUE(c.playlist.Empty());
}

TEST_F(ListeningDeckEngine, FactsAreAskedForAheadAndLateOnesGlideTheGainToTheirLevel) {
    Know("A.mp3", -16, -3, 0, 200);
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    Add("C.mp3", 180);
    Tick();
    // The playing track, the head and the entry after it.
    for (const char* name : {"/music/A.mp3", "/music/B.mp3", "/music/C.mp3"})
        EXPECT_NE(std::find(analysis.wanted.begin(), analysis.wanted.end(), name), analysis.wanted.end()) << name;

    // B not analysed yet when it is mixed in: from its start, as mastered. Its facts, once they
    // come, take its gain to its level in a glide of two seconds, not a jump; its start stays.
    TickAt(194);
    Tick();
    EXPECT_EQ(w.deck2.calls, (std::vector<std::string>{"FileName /music/B.mp3", "Play", "Volume 0", "Balance 4000"}));
    EXPECT_DOUBLE_EQ(w.deck2.trackGainDb, 0);
    Know("B.mp3", -30, -8, 5, 180);  // 14 dB up would pass the limiter's 6 dB: 13
    Tick();
    EXPECT_DOUBLE_EQ(w.deck2.trackGainDb, 13.0 / 20);
    Tick(19);
    EXPECT_DOUBLE_EQ(w.deck2.trackGainDb, 13);
    EXPECT_DOUBLE_EQ(w.deck2.trackCeilingDbfs, -1);
    w.FinishMix();
    EXPECT_EQ(std::count(w.deck2.calls.begin(), w.deck2.calls.end(), "Seek 5"), 0);

    // An entry that becomes the one after the head is asked for when it is added.
    analysis.wanted.clear();
    Add("D.mp3", 180);
    EXPECT_NE(std::find(analysis.wanted.begin(), analysis.wanted.end(), "/music/D.mp3"), analysis.wanted.end());
}

// A track started before its facts are known waits a moment for them, to be heard at its level
// from its first sound; one whose facts take longer plays as it is and glides there when they
// come. Noise is not raised by more than 20 dB however quiet it is.
TEST_F(ListeningDeckEngine, ATrackWaitsForItsFactsAMomentThenGlidesToItsLevel) {
    c.buttons.Mix_OFF = true;
    Know("Noise.mp3", -55, -35, 1.5, 200);
    Add("Noise.mp3", 200);
    Tick();
    EXPECT_DOUBLE_EQ(w.deck1.trackGainDb, 20);

    // The next one's facts do not come in time: after two seconds it plays as it is.
    Add("Late.mp3", 100);
    w.deck1.Advance(200);
    EXPECT_EQ(w.deck1.fileName, "/music/Late.mp3");
    Tick(19);
    EXPECT_EQ(w.deck1.state, psStopped);
    Tick();
    EXPECT_EQ(w.deck1.state, psPlaying);
    EXPECT_DOUBLE_EQ(w.deck1.trackGainDb, 0);
    Know("Late.mp3", -10, -6, 3, 100);
    Tick(10);
    EXPECT_NEAR(w.deck1.trackGainDb, -3, 1e-9);
    Tick(10);
    EXPECT_DOUBLE_EQ(w.deck1.trackGainDb, -6);
    EXPECT_LT(w.deck1.position, 3.0);  // begun: not moved to its first sound
}

// ---- mixes on the beat, and albums without a cut: decks that play in step ----

class InStepDeckEngine : public ListeningDeckEngine {
protected:
    void SetUp() override {
        ListeningDeckEngine::SetUp();
        w.deck1.inStep = w.deck2.inStep = true;
    }
    // A single at a steady tempo, sounding from end to end.
    void KnowSingle(const std::string& name, double bpm, double seconds, double firstBeat = 0.5) {
        Know(name, -16, -3, 0, seconds);
        analysis.known["/music/" + name].beats = {bpm, firstBeat, 60 / bpm, 0};
        analysis.known["/music/" + name].tags.album = name;
    }
    // A at 126 BPM playing, then B at `inBpm` (0: no steady beat): singles, sound from end to end.
    void PlayPair(double inBpm) {
        Know("A.mp3", -16, -3, 0, 200);
        Know("B.mp3", -16, -3, 0, 180);
        analysis.known["/music/A.mp3"].beats = {126, 0.2, 60 / 126.0, 1};
        analysis.known["/music/B.mp3"].beats = inBpm > 0 ? BeatGrid{inBpm, 0.5, 60 / inBpm, 2} : BeatGrid{};
        for (const char* name : {"A.mp3", "B.mp3"}) analysis.known["/music/" + std::string(name)].tags.album = name;
        Add("A.mp3", 200);
        Add("B.mp3", 180);
        Tick();
    }
};

// A's bar line at or before where the plain mix would start (194 s): beat 405 = 1 + 4 * 101; the
// mix lasts the envelope's six seconds in whole bars of A.
const double kLine = 0.2 + 405 * 60 / 126.0, kThreeBars = 3 * 4 * 60 / 126.0;

// Which mix a pair of tracks gets, on the outgoing track's bars: its start, its bars and the
// incoming track's rate; tempi too far apart, a track without a steady beat, or the switch off
// give the plain mix.
TEST_F(InStepDeckEngine, AMixOnTheBeatIsPlannedOnTheOutgoingTracksBars) {
    struct Case {
        double inBpm;  // 0: no steady beat
        bool on, inStep;
        double rate;
    } cases[] = {
        {122, true, true, 126 / 122.0},
        {252, true, true, 1.0},  // double time, folded
        {63, true, true, 1.0},   // half time, folded
        {116, true, false, 0},   // 8.6 % apart: too far
        {0, true, false, 0},
        {122, false, false, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.inBpm) + (k.on ? "" : ", switched off"));
        c.autoMix.mixOnBeat = k.on;
        c.playlist.ClearPlaylist();
        c.deck.FinishPlaylist();
        PlayPair(k.inBpm);
        TickAt(190);
        const auto& plan = c.deck.beatPlan();
        ASSERT_EQ(plan.has_value(), k.inStep);
        if (!k.inStep) {
            EXPECT_EQ(c.display.CGauge1Max, 194);
            continue;
        }
        EXPECT_NEAR(plan->start, kLine, 1e-9);
        EXPECT_NEAR(plan->length, kThreeBars, 1e-9);
        EXPECT_NEAR(plan->rate, k.rate, 1e-9);
        EXPECT_EQ(c.display.CGauge1Max, 191);  // the gauge fills to where the mix begins
    }
}

// The incoming track is opened a moment before the bar line, placed on its own first bar line,
// given its plan and cued on the outgoing track's line; the envelope runs by the outgoing
// track's position from the line on, and the mix ends after its bars.
TEST_F(InStepDeckEngine, TheIncomingTrackIsCuedOnABarLineAndTheEnvelopeFollowsTheBars) {
    PlayPair(122);
    const double from = 0.5 + 2 * 60 / 122.0, rate = 126 / 122.0, end = from + kThreeBars * rate;
    TickAt(191.6);
    ASSERT_TRUE(c.deck.isMixing());
    char plan[128], cue[64];
    std::snprintf(plan, sizeof plan, "RatePlan %g:%g %g:%g %g:1", from, rate, end, rate, end + 32 * 60 / 122.0);
    std::snprintf(cue, sizeof cue, "PlayAfterOther %g faded", kLine);
    EXPECT_EQ(Without(Without(w.deck2.calls, "Volume"), "Balance"),
              (std::vector<std::string>{"FileName /music/B.mp3", "Seek 1", plan, cue}));
    EXPECT_NEAR(w.deck2.position, from, 1e-9);

    // Nothing of the envelope before the line; then the point of the outgoing track's place in
    // its bars, one after another.
    w.deck2.calls.clear();
    Tick(14);  // the line is at 193.06
    EXPECT_TRUE(w.deck2.calls.empty());
    Tick(2);
    EXPECT_NEAR(w.deck2.position, from + (191.6 + 1.6 - kLine) * rate, 1e-6);
    EXPECT_EQ(c.deck.mixStep(), 2);  // 0.14 s into 5.71 s of 60 points: point 1 was sent
    EXPECT_NEAR(0.1 * TickUntilMixEnds(), kLine + kThreeBars - 193.2, 0.1);
    EXPECT_FALSE(c.deck.beatPlan().has_value());
}

// Tracks in phrases of 8 bars and a tail of 3, with bass from end to end: the switches lay the mix
// from the phrase line nearest 8 bars before the end and swap the bass on the phrase line within;
// off, the mix is the one on bars of the envelope's length, its bass swapped on a bar line.
TEST_F(InStepDeckEngine, TheSwitchesLayTheMixOnPhrasesAndSwapTheBass) {
    struct Case {
        bool phrases, bass;
        double start, swap;  // swap < 0: no bass plans given
    } cases[] = {{true, true, 176.5, 192.5}, {true, false, 176.5, -1}, {false, true, 192.5, 194.5}, {false, false, 192.5, -1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.phrases) + std::to_string(k.bass));
        c.autoMix.mixOnPhrases = k.phrases;
        c.autoMix.swapBass = k.bass;
        c.playlist.ClearPlaylist();
        c.deck.FinishPlaylist();
        w.deck1.bassPlan.clear();  // the last case's, on a deck that plays on
        w.deck2.bassPlan.clear();
        for (const char* name : {"A.mp3", "B.mp3"}) {
            KnowSingle(name, 120, 200);
            TrackForm& form = analysis.known["/music/" + std::string(name)].form;
            form = {99, {0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96}, 0, 99, -1, {}};
            Add(name, 200);
        }
        Tick();
        TickAt(k.start - 1);
        ASSERT_TRUE(c.deck.isMixing());
        FakePlayer &out = Current(), &in = Player(c.deck.incomingDeck());
        EXPECT_NEAR(c.deck.beatPlan()->start, k.start, 1e-9);
        char cue[64];
        std::snprintf(cue, sizeof cue, "PlayAfterOther %g faded", k.start);
        EXPECT_EQ(in.calls.back(), cue);
        EXPECT_EQ(out.bassPlan.empty() && in.bassPlan.empty(), k.swap < 0);
        if (k.swap >= 0) {
            EXPECT_NEAR(out.bassPlan.back().fileSeconds, k.swap, 1e-9);
            EXPECT_NEAR(in.bassPlan.back().fileSeconds, 0.5 + k.swap - k.start, 1e-9);
        }
    }
}

// The next track of an album that runs across its cut follows the last frame of this one, at its
// levels, with no mix; the title strip names it by its tags.
TEST_F(InStepDeckEngine, AnAlbumThatRunsAcrossItsCutIsJoinedWithoutAMix) {
    // One beat at 120 BPM runs through the parts, a beat on 0.2 s of each.
    const auto album = [&](const std::string& name, int track, double lufs, double length, double firstBeat) {
        Know(name, lufs, -1, 0, length);
        TrackFacts& f = analysis.known["/music/" + name];
        f.tags = {"The Band", "Part " + std::to_string(track), "Live", track, 0};
        f.decodedSeconds = length;
        f.beats = {120, firstBeat, 0.5, -1};
    };
    album("Live/01.mp3", 1, -12, 100, 0.2);
    album("Live/02.mp3", 2, -14, 90, 0.2);
    album("Live/03.mp3", 3, -10, 90, 0.2);
    album("Live/04.mp3", 4, -12, 90, 0.45);  // its beat does not run on from the third's: mixed
    Add("Live/01.mp3", 100);
    for (const char* name : {"Live/02.mp3", "Live/03.mp3", "Live/04.mp3"}) Add(name, 90);
    Tick();
    EXPECT_EQ(c.display.Label1Caption, "The Band - Part 1");
    EXPECT_EQ(c.display.Label1Hint, "Live/01.mp3");

    TickAt(98.0);
    EXPECT_EQ(Without(Without(w.deck2.calls, "Volume"), "Balance"),
              (std::vector<std::string>{"FileName /music/Live/02.mp3", "PlayAfterOther end seamless"}));
    Tick(25);
    EXPECT_FALSE(c.deck.isMixing());  // a mix begun in these ticks would run on for six seconds
    EXPECT_NEAR(w.deck2.position, 0.5, 1e-6);
    EXPECT_EQ(c.display.Label1Caption, "The Band - Part 2");

    // A part is heard at the gain of both parts together, glided to from the first one's:
    // 100 s at -12 LUFS and 90 s at -14 are -12.83 LUFS as one.
    Tick(20);
    EXPECT_NEAR(w.deck2.trackGainDb, -16 + 12.83, 0.01);
    TickAt(88);
    Tick(25);
    EXPECT_EQ(c.deck.currentDeck(), Deck::WinMediaPlayer1);
    Tick(20);
    EXPECT_NEAR(w.deck1.trackGainDb, -16 + 11.56, 0.01);

    // The fourth's beat does not run on from the third's: a mix as any other.
    TickAt(84);
    EXPECT_TRUE(c.deck.isMixing());
}

// A mix in step waits on the outgoing track's position, which stops where its file ends or stops
// answering: whatever its plan, the mix ends there, the incoming track left at the envelope's end.
TEST_F(InStepDeckEngine, AMixOnTheBeatEndsWithItsOutgoingTrack) {
    struct Case {
        const char* what;
        double bpm, firstBeat;  // A's bars; B at the same tempo
        int mixLength;          // the envelope's, in tenths
        double stallAt;         // A stops answering there (0: never)
    } cases[] = {
        {"slow bars rounded up past the end", 100, 1.9, 60, 0},  // 3 bars of 2.4 s from 193.9
        {"a mix longer than its lead", 126, 0.2, 150, 0},
        {"the outgoing file stops answering", 126, 0.2, 60, 194},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        c.playlist.ClearPlaylist();
        c.deck.FinishPlaylist();
        c.envelope.SetMixLength(k.mixLength);
        KnowSingle("A.mp3", k.bpm, 200, k.firstBeat);
        KnowSingle("B.mp3", k.bpm, 180);
        Add("A.mp3", 200);
        Add("B.mp3", 180);
        FakePlayer& out = Current();
        FakePlayer& in = Player(c.deck.currentDeck() == Deck::WinMediaPlayer1 ? Deck::WinMediaPlayer2 : Deck::WinMediaPlayer1);
        out.stallsAt.clear();
        if (k.stallAt > 0) out.stallsAt["/music/A.mp3"] = k.stallAt;
        Tick();
        TickAt(185);
        ASSERT_TRUE(c.deck.beatPlan());
        EXPECT_TRUE(k.stallAt > 0 || c.deck.beatPlan()->start + c.deck.beatPlan()->length <= 200 + 1e-9);
        TickUntilMixStarts();
        EXPECT_LT(TickUntilMixEnds(), 2000);
        EXPECT_EQ(in.fileName, "/music/B.mp3");
        EXPECT_EQ(in.state, psPlaying);
        const MixPoint& last = c.envelope.Point(c.envelope.MixLength());
        EXPECT_EQ(in.volume, last.volume[1]);
        EXPECT_EQ(in.balance, last.balance[1]);
        c.deck.FinishPlaylist();
    }
}

// A plan is made for the head; a head passed over when the mix comes (here a file given up on
// earlier) leaves the track that comes instead to a plan of its own.
TEST_F(InStepDeckEngine, APlanBelongsToTheFileItWasMadeFor) {
    c.buttons.Repeat = true;
    const std::pair<const char*, double> tracks[] = {{"A.mp3", 126}, {"B.mp3", 122}, {"C.mp3", 124}};
    for (const auto& [name, bpm] : tracks) {
        KnowSingle(name, bpm, 180);
        Add(name, 180);
    }
    w.deck1.stallsAt["/music/A.mp3"] = 20;
    while (c.display.Label1Caption != "B.mp3") Tick();  // A given up on: B plays, then C
    TickUntilMixStarts();
    TickUntilMixEnds();
    ASSERT_EQ(c.display.Label1Caption, "C.mp3");
    TickUntilMixStarts();  // A is next, and is passed over
    EXPECT_EQ(c.deck.incomingName(), "B.mp3");
    ASSERT_TRUE(c.deck.beatPlan());
    EXPECT_EQ(c.deck.beatPlan()->incomingPath, "/music/B.mp3");
    EXPECT_NEAR(c.deck.beatPlan()->rate, 124 / 122.0, 1e-9);
    EXPECT_NEAR(Player(c.deck.incomingDeck()).plan.front().rate, 124 / 122.0, 1e-9);
}

// A join is decided when it comes and undone when what it was armed for changes; its cued part is
// held by a pause with the track it follows, passed over when it cannot be opened, and started
// when the track it follows stops answering.
enum JoinCase { kSwitchedOffMidTrack, kSwitchedOffOnceArmed, kPartCannotBeOpened, kPausedOnceArmed, kStallsOnceArmed };
class AlbumJoin : public InStepDeckEngine, public ::testing::WithParamInterface<JoinCase> {};

TEST_P(AlbumJoin, FollowsWhatHappensBeforeItsCut) {
    const JoinCase what = GetParam();
    for (int n = 1; n <= 3; ++n) {
        const std::string name = "Live/0" + std::to_string(n) + ".mp3";
        Know(name, -12, -1, 0, 100);
        analysis.known["/music/" + name].tags = {"The Band", "Part " + std::to_string(n), "Live", n, 0};
        Add(name, 100);
    }
    if (what == kPartCannotBeOpened) w.deck2.durations["/music/Live/02.mp3"] = 0;
    if (what == kStallsOnceArmed) w.deck1.stallsAt["/music/Live/01.mp3"] = 98.5;
    Tick();
    if (what == kSwitchedOffMidTrack) {
        TickAt(50);
        c.autoMix.joinContinuousAlbums = false;
    }
    TickAt(98);
    const bool armed = w.deck2.Cued();
    EXPECT_EQ(armed, what != kSwitchedOffMidTrack && what != kPartCannotBeOpened);
    switch (what) {
        case kSwitchedOffOnceArmed:
            c.autoMix.joinContinuousAlbums = false;
            Tick();
            [[fallthrough]];
        case kSwitchedOffMidTrack:
        case kPartCannotBeOpened:
            // Mixed as any other track, into the next that plays.
            EXPECT_TRUE(c.deck.isMixing());
            TickUntilMixEnds();
            EXPECT_EQ(c.display.Label1Hint, what == kPartCannotBeOpened ? "Live/03.mp3" : "Live/02.mp3");
            break;
        case kPausedOnceArmed:
            Tick(5);
            c.buttons.Play = false;
            c.PlayClick();
            Tick(30);
            EXPECT_EQ(w.deck1.state, psPaused);
            EXPECT_NE(w.deck2.state, psPlaying);
            EXPECT_EQ(w.deck2.position, 0);
            c.buttons.Play = true;
            c.PlayClick();
            Tick(5);
            EXPECT_EQ(w.deck2.position, 0) << "still cued on the first part's end";
            Tick(20);
            EXPECT_EQ(c.display.Label1Hint, "Live/02.mp3");
            EXPECT_EQ(w.deck1.state, psStopped);
            break;
        case kStallsOnceArmed:
            Tick(30);
            EXPECT_TRUE(w.deck1.fileName.empty());
            EXPECT_EQ(c.display.Label1Hint, "Live/02.mp3");
            break;
    }
    EXPECT_FALSE(c.deck.isMixing());
    EXPECT_EQ(Current().state, psPlaying);
    EXPECT_EQ(c.playlist.Count(), what == kPartCannotBeOpened ? 0 : 1);
}
INSTANTIATE_TEST_SUITE_P(InStepDeckEngine, AlbumJoin,
                         ::testing::Values(kSwitchedOffMidTrack, kSwitchedOffOnceArmed, kPartCannotBeOpened,
                                           kPausedOnceArmed, kStallsOnceArmed));

// A deck whose clock stands while it is not starved (an output that stopped taking frames, a cue
// waiting on the other deck) has not lost its file.
TEST_F(DeckEngine, AStandingClockIsNotAStalledFile) {
    Add("A.mp3", 200);
    Add("B.mp3", 180);
    for (int n = 0; n < 30; ++n) TickAt(50);
    EXPECT_EQ(w.deck1.fileName, "/music/A.mp3");
    EXPECT_EQ(w.deck1.state, psPlaying);
}

}  // namespace
