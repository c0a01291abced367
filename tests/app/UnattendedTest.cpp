#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/Fakes.h"
#include "support/SessionKills.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

int Lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

class Unattended : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    std::int32_t a = w.AddFile("a.mp3", 200);
    std::int32_t b = w.AddFile("b.mp3", 100);
    void SetUp() override {
        c.FormCreate();
        c.nodes.ProgramFolder = dir.path();
        c.buttons.UP = true;
    }
};

// The playlist file follows every change, however made, in one write per change or burst of
// changes; never while a first run has no folder or before the start-up has read the file back.
TEST_F(Unattended, PlaylistFileFollowsChangesInOneWriteAndNotBeforeTheSessionIsRead) {
    dir.WriteFile("qnd.m3u", "/music/b.mp3\r\n");
    w.forms.on.ShowSplashModal = [&] {
        // The start-up has not read the file: what the playlist holds now is not the session.
        c.playlist.AddToPlaylist(a);
        EXPECT_FALSE(c.PlaylistSaveDue());
        c.playlist.Clear();
    };
    c.options.RadioGroup1 = suContinueSession;
    c.FormShow();  // b plays, taken off the list
    ASSERT_EQ(c.playlist.takenOffNodeId(), b);
    EXPECT_TRUE(c.PlaylistSaveDue());
    c.Timer3Timer();
    EXPECT_FALSE(c.PlaylistSaveDue());
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "/music/b.mp3\r\n");

    // 200 entries in one handler, as a cocktail makes them: one write holds them all.
    for (int i = 0; i < 200; ++i) c.playlist.AddToPlaylist(i % 2 ? a : b);
    EXPECT_EQ(Lines(dir.ReadFile("qnd.m3u")), 1);
    c.Timer3Timer();
    EXPECT_EQ(Lines(dir.ReadFile("qnd.m3u")), 201);
    EXPECT_FALSE(c.PlaylistSaveDue());

    // A track ending in a mix: the next leaves the list and is written first.
    w.StartMix();
    w.FinishMix();
    ASSERT_TRUE(c.PlaylistSaveDue());
    c.Timer3Timer();
    const std::string file = dir.ReadFile("qnd.m3u");
    EXPECT_EQ(file.substr(0, 14), "/music/b.mp3\r\n");
    EXPECT_EQ(Lines(file), 200);
    EXPECT_EQ(file, c.playlist.PlaylistFileContent());

    // Switched off, the file waits for the close, as it always did.
    c.autoMix.playlistFollowsPlay = false;
    c.playlist.AddToPlaylist(a);
    EXPECT_FALSE(c.PlaylistSaveDue());
    c.Timer3Timer();
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), file);
    c.CloseRequest();
    EXPECT_EQ(Lines(dir.ReadFile("qnd.m3u")), 201);
}

// A playlist that cannot be written is said at the first failure, the timer's or the close's,
// and again only after a write has succeeded in between.
TEST_F(Unattended, AFailedPlaylistWriteIsSaidOnceUntilAWriteSucceeds) {
    for (const bool failing : {true, true, false, true}) {
        std::filesystem::remove(dir / "qnd.m3u");
        if (failing) std::filesystem::create_directory(dir / "qnd.m3u");
        c.playlist.AddToPlaylist(a);
        c.Timer3Timer();
    }
    c.CloseRequest();
    ASSERT_EQ(w.dialogs.shown.size(), 2u);
    EXPECT_EQ(w.dialogs.shown[1].text, "The playlist file \"qnd.m3u\" could not be written.");
}

// The close's error box leaves the timers and the decks running: none may start a mix or write
// the playlist after the close wrote it, nor may a second close.
TEST_F(Unattended, OnceTheCloseBeganNoMixStartsAndNoWriteFollowsItsOwn) {
    for (const std::int32_t file : {a, b, a}) c.playlist.AddToPlaylist(file);
    std::filesystem::create_directory(dir / "qnd.cfg");  // "Error 0003" is the box
    const std::string list = "/music/a.mp3\r\n/music/b.mp3\r\n/music/a.mp3\r\n";
    w.dialogs.whileShown = [&] {
        w.CurrentDeck().position = c.deck.trackLength();
        for (int i = 0; i < 300; ++i) {
            w.deck1.Advance(0.1);
            w.deck2.Advance(0.1);
            c.Timer1Timer();
            c.Timer3Timer();
            ASSERT_FALSE(c.deck.isMixing());
        }
    };
    c.CloseRequest();
    w.dialogs.whileShown = nullptr;
    c.playlist.AddToPlaylist(b);
    c.FormClose();
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), list);
}

TEST_F(Unattended, NothingIsWrittenDuringAFirstRunBeforeItsFolderIsChosen) {
    c.startup.FirstRun = true;
    c.playlist.AddToPlaylist(a);
    EXPECT_FALSE(c.PlaylistSaveDue());
    c.Timer3Timer();
    EXPECT_FALSE(std::filesystem::exists(dir / "qnd.m3u"));
}

// A playlist changing at random, its process killed at random: the file holds what the playlist
// was less than a second before each kill.
TEST(PlaylistFileUnderKills, HoldsThePlaylistOfLessThanASecondBefore) {
    const SessionKillResult r = RunSessionKills(10, 7u, 100, 1200);
    EXPECT_EQ(r.kills, 10);
    EXPECT_EQ(r.unmatched, 0);
    EXPECT_LE(r.maxLossMs, 1000.0);
}

class FakeStayAwake : public StayAwake {
public:
    std::vector<bool> holds;
    void Hold(bool on) override { holds.push_back(on); }
};

// The computer is kept awake while a deck plays: from the track's start to a pause, to the end of
// the playlist or to the close.
TEST_F(Unattended, AwakeWhileATrackPlays) {
    FakeStayAwake awake;
    c.platform.awake = &awake;
    c.playlist.AddToPlaylist(a);  // starts it; the next tick sees it playing
    c.Timer1Timer();
    EXPECT_EQ(awake.holds, std::vector<bool>{true});
    c.buttons.Play = false;
    c.PlayClick();
    c.buttons.Play = true;
    c.PlayClick();
    EXPECT_EQ(awake.holds, (std::vector<bool>{true, false, true}));
    // Mix off, the last track ends: the playlist is over ("To wait ").
    c.options.RadioGroup2 = 1;
    c.buttons.Mix_OFF = true;
    c.Mix_OFFClick();
    w.CurrentDeck().Advance(1000);
    EXPECT_EQ(awake.holds, (std::vector<bool>{true, false, true, false}));

    c.playlist.AddToPlaylist(b);
    c.Timer1Timer();
    c.CloseRequest();
    EXPECT_EQ(awake.holds, (std::vector<bool>{true, false, true, false, true, false}));

    // Switched off: never held.
    FakeWorld off;
    FakeStayAwake none;
    off.core->platform.awake = &none;
    off.core->autoMix.stayAwake = false;
    off.core->buttons.UP = true;
    off.core->playlist.AddToPlaylist(off.AddFile("c.mp3", 100));
    off.core->Timer1Timer();
    EXPECT_TRUE(off.deck1.state == psPlaying);
    EXPECT_TRUE(none.holds.empty());
}

}  // namespace
