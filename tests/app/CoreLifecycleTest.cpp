#include <gtest/gtest.h>

#include <filesystem>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

class LifecycleTest : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    std::int32_t a = w.AddFile("a.mp3", 200);
    std::int32_t b = w.AddFile("b.mp3", 100);
    void SetUp() override {
        c.FormCreate();
        c.nodes.ProgramFolder = dir.path();
    }
};

TEST_F(LifecycleTest, FormCreateSetsInitialState) {
    EXPECT_TRUE(c.commands.MenuHandlingEnabled);
    EXPECT_FALSE(c.startup.SetupCancelled);
    EXPECT_EQ(c.cocktails.IngredientPick, 0);
    EXPECT_EQ(c.playlist.takenOffNodeId(), -1);
    EXPECT_EQ(c.deck.currentDeck(), Deck::WinMediaPlayer1);
}

TEST_F(LifecycleTest, CloseSavesNothingDuringFirstRunOrAfterCancelledSetup) {
    c.startup.FirstRun = true;
    c.CloseRequest();
    EXPECT_FALSE(c.commands.MenuHandlingEnabled);
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(dir / "qnd.m3u", ec));
    EXPECT_FALSE(std::filesystem::exists(dir / "qnd.cfg", ec));
    c.startup.FirstRun = false;
    c.startup.SetupCancelled = true;
    c.FormClose();
    EXPECT_TRUE(w.dialogs.shown.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "qnd.m3u", ec));
    EXPECT_FALSE(std::filesystem::exists(dir / "qnd.cfg", ec));
}

// While the splash screen hosts the start-up the user cannot close the window, but a termination
// signal can: the playlist has not been read back yet, and the start-up goes no further.
TEST_F(LifecycleTest, CloseDuringTheStartupKeepsTheSavedSession) {
    dir.WriteFile("qnd.m3u", "/music/a.mp3\r\n");
    int welcomes = 0;
    w.forms.on.ShowWelcome = [&] { ++welcomes; };
    w.forms.on.ShowSplashModal = [&] { c.CloseRequest(); };
    c.FormShow();
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "/music/a.mp3\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "qnd.cfg"));
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_EQ(welcomes, 0);
    EXPECT_FALSE(c.deck.Timer1Enabled());
    c.FormClose();  // a second close
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "/music/a.mp3\r\n");
}

// A folder where the playlist should be: it cannot be written, the user is told which file, and
// the settings are written all the same.
TEST_F(LifecycleTest, CloseWritesPlaylistAndGoesOnWhenItFails) {
    c.playlist.AddToPlaylist(a);
    std::filesystem::create_directory(dir / "qnd.m3u");
    dir.WriteFile("qnd.m3u/keep", "x");
    c.CloseRequest();
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_NE(w.dialogs.shown[0].text.find("qnd.m3u"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "qnd.cfg"));
}

// A music folder that is not there (a disk not plugged in), or that holds no music where the
// playlist named some (a mount point without its disk), is said, and "qnd.m3u" waits for it
// whatever the session does; "qnd.cfg", which keeps the folder, is written.
class MusicFolderGone : public LifecycleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MusicFolderGone, IsSaidAndKeepsThePlaylistFile) {
    const bool empty = GetParam();
    const std::string folder = dir / "Music/";
    if (empty) std::filesystem::create_directory(folder);
    c.files.settingsFolder = dir.path();
    c.nodes.MusicFolder = folder;
    c.SetFirstRunValues(1);
    ASSERT_TRUE(c.SaveConfiguration());
    const std::string list = folder + "a.mp3\r\n" + folder + "b.mp3\r\n" + folder + "c.mp3\r\n";
    dir.WriteFile("qnd.m3u", list);
    w.forms.on.ShowSplashModal = [&] { c.startup.RunStartupSequence(); };
    c.FormShow();
    c.playlist.Append("1:00  x.mp3", 0);
    EXPECT_FALSE(c.PlaylistSaveDue());
    c.CloseRequest();
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), list);
    EXPECT_EQ(dir.ReadFile("qnd.cfg").substr(0, folder.size()), folder);
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text,
              empty ? "The music folder \"" + folder + "\" holds no music files. The playlist is kept until they are back."
                    : "The music folder \"" + folder + "\" cannot be found. The playlist is kept until it is back.");
}
INSTANTIATE_TEST_SUITE_P(LifecycleTest, MusicFolderGone, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "Empty" : "Missing"); });

TEST_F(LifecycleTest, StartupActionClearShowsColon) {
    dir.WriteFile("qnd.m3u", "/music/a.mp3\r\n/music/b.mp3\r\n");
    c.options.RadioGroup1 = suClearPlaylist;
    c.options.CheckBox1 = true;
    c.FormShow();
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_EQ(c.display.StaticText1, ":");
}

TEST_F(LifecycleTest, StartupActionContinueKeepsRestoredPlaylist) {
    dir.WriteFile("qnd.m3u", "/music/a.mp3\r\n/music/b.mp3\r\n");
    c.options.RadioGroup1 = suContinueSession;
    int welcomes = 0;
    w.forms.on.ShowWelcome = [&] { ++welcomes; };
    c.FormShow();
    EXPECT_EQ(c.playlist.ListBox2().size() + (c.playlist.takenOffNodeId() >= 0 ? 1u : 0u), 2u);
    EXPECT_EQ(welcomes, 1);
    EXPECT_EQ(c.display.StaticText1.empty(), false);
}

TEST_F(LifecycleTest, StartupStopsAfterCancelledSetup) {
    dir.WriteFile("qnd.m3u", "/music/a.mp3\r\n");
    int welcomes = 0;
    w.forms.on.ShowWelcome = [&] { ++welcomes; };
    w.forms.on.ShowSplashModal = [&] { c.startup.SetupCancelled = true; };
    c.FormShow();
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_EQ(welcomes, 0);
}

TEST_F(LifecycleTest, ActivationAppliesAlwaysOnTop) {
    std::vector<bool> applied;
    w.forms.on.SetTopmost = [&](bool on) { applied.push_back(on); };
    c.FormActivate();
    c.options.chkAlwaysOnTop = true;
    c.FormActivate();
    EXPECT_EQ(applied, (std::vector<bool>{false, true}));
}

}  // namespace
