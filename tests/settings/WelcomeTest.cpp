#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

// Whole starts of the program against one program folder, as a user sees them one after another.
class WelcomeAcrossStarts : public ::testing::Test {
protected:
    TempDir program, music;
    std::unique_ptr<FakeWorld> w;
    bool cancelChooser = false;
    int welcomes = 0;
    bool boxWhenShown = true;
    int playlistWhenShown = -1;

    WelcomeAcrossStarts() {
        music.WriteFile("House/a.mp3", "");
        music.WriteFile("House/b.mp3", "");
        music.WriteFile("Rock/c.wav", "");
    }

    Core& c() { return *w->core; }
    // The playlist with the entry a deck has taken off it to play.
    int Queued() { return c().playlist.Count() + (c().playlist.takenOffNodeId() >= 0 ? 1 : 0); }

    // A fresh process: its forms, then the main window shown once.
    void Start() {
        w = std::make_unique<FakeWorld>();
        welcomes = 0;
        playlistWhenShown = -1;
        w->probe.defaultDuration = 180;
        Core& core = c();
        core.FormCreate();
        w->core->files = LocateProgramFiles(program / "quendo");
        w->forms.on.ShowBrowseModal = [this]() -> std::optional<std::string> {
            if (cancelChooser) return std::nullopt;
            return music.path();
        };
        w->forms.on.CloseMainWindow = [&core] { core.CloseRequest(); };
        w->forms.on.ShowSplashModal = [&core] { core.startup.RunStartupSequence(); };
        w->forms.on.ShowWelcome = [this, &core] {
            ++welcomes;
            boxWhenShown = core.options.CheckBox1;
            playlistWhenShown = Queued();
        };
        core.FormShow();
    }

    void Close() { c().CloseRequest(); }
    bool ConfigurationExists() const { return std::filesystem::exists(program / "qnd.cfg"); }
};

TEST_F(WelcomeAcrossStarts, FirstRunShowsItUntickedBeforeTheFirstCocktail) {
    Start();
    EXPECT_EQ(welcomes, 1);
    EXPECT_FALSE(boxWhenShown);
    // Shown without waiting for the user: the cocktail came after it, in the same start.
    EXPECT_EQ(playlistWhenShown, 0);
    EXPECT_GT(Queued(), 0);
    EXPECT_FALSE(c().startup.FirstRun);
}

TEST_F(WelcomeAcrossStarts, TickedAndClosedShowsNoneAtTheNextStart) {
    Start();
    c().options.CheckBox1 = true;  // what ticking the box does
    Close();
    Start();
    EXPECT_TRUE(c().options.CheckBox1);
    EXPECT_EQ(welcomes, 0);
    // The start goes on as usual without it.
    EXPECT_GT(Queued(), 0);
}

TEST_F(WelcomeAcrossStarts, TickThenSettingsCancelRestoresTheSavedStateAndItShowsAgain) {
    Start();
    Close();  // the box was left unticked in the file
    Start();
    ASSERT_EQ(welcomes, 1);
    c().options.CheckBox1 = true;
    ASSERT_TRUE(c().LoadConfiguration());  // Cancel in the settings form
    EXPECT_FALSE(c().options.CheckBox1);
    Close();
    Start();
    EXPECT_EQ(welcomes, 1);
    EXPECT_FALSE(boxWhenShown);
}

TEST_F(WelcomeAcrossStarts, CancelledFirstRunShowsNoneAndTheNextStartIsAFirstRunAgain) {
    cancelChooser = true;
    Start();
    EXPECT_TRUE(c().startup.SetupCancelled);
    EXPECT_EQ(welcomes, 0);
    Close();
    EXPECT_FALSE(ConfigurationExists());

    cancelChooser = false;
    Start();
    EXPECT_EQ(welcomes, 1);
    EXPECT_FALSE(boxWhenShown);
}

}  // namespace
