#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "library/SafeFile.h"
#include "library/StartupSequence.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

const char* const kTooManyFiles =
    "The number of files found exceeds the maximum allowed (50000). Please refine your choice.";
const char* const kTooManyFolders =
    "The number of folders found exceeds the maximum allowed (5000). Please refine your choice.";
const char* const kTooFew =
    "The folder, specified by you, should contain not less than one folder with one musical file. Please refine "
    "your choice.";
const char* const kContinue =
    "Without musical files Quendo (as well as the man) can not work. Let's continue search of files?";
const char* const kThanks = "Thank you for using of our software.";

TEST(FirstRunLimits, BoundsAndTheOrderOfTheMessages) {
    EXPECT_EQ(FirstRunLimitMessage({5000, 50000}), std::nullopt);
    EXPECT_EQ(FirstRunLimitMessage({1, 1}), std::nullopt);
    EXPECT_EQ(FirstRunLimitMessage({5000, 50001}), kTooManyFiles);
    EXPECT_EQ(FirstRunLimitMessage({5001, 50000}), kTooManyFolders);
    EXPECT_EQ(FirstRunLimitMessage({5001, 50001}), kTooManyFiles);  // files first
    EXPECT_EQ(FirstRunLimitMessage({0, 12}), kTooFew);              // files but no folder
    EXPECT_EQ(FirstRunLimitMessage({3, 0}), kTooFew);
    EXPECT_EQ(FirstRunLimitMessage({0, 50001}), kTooManyFiles);
}

TEST(ChosenFolder, SeparatorAppendedOnceAndTheRootKept) {
    EXPECT_EQ(MusicFolderFromChoice("/"), "/");
    EXPECT_EQ(MusicFolderFromChoice("/a"), "/a/");
    EXPECT_EQ(MusicFolderFromChoice("/home/dj/Music/"), "/home/dj/Music/");
    EXPECT_EQ(FolderOfPath("/opt/quendo/quendo"), "/opt/quendo");
    EXPECT_EQ(FolderOfPath("/quendo"), "/");
    EXPECT_EQ(FolderOfPath("quendo"), "");
}

TEST(SplashSlide, OnA768PixelScreen) {
    const int top = CentredTop(768, 254);
    EXPECT_EQ(top, 257);
    int moves = 0;
    SlideStep s{top, false};
    while (!(s = SlideOutStep(s.top, 768, true)).close) ++moves;
    EXPECT_EQ(moves, 256);
    EXPECT_EQ(s.top, 769);
    // Without the animation the form would never get there: it closes at the first step.
    EXPECT_TRUE(SlideOutStep(top, 768, false).close);
}

class StartupTest : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir program, music;
    std::deque<std::optional<std::string>> choices;
    std::vector<std::string> events;

    StartupTest() {
        c.FormCreate();
        c.files = LocateProgramFiles(program / "quendo");
        w.forms.on.ShowBrowseModal = [this]() -> std::optional<std::string> {
            events.push_back("browse");
            if (choices.empty()) return std::nullopt;
            auto choice = choices.front();
            choices.pop_front();
            return choice;
        };
        w.forms.on.HideSplash = [this] { events.push_back("hide"); };
        w.forms.on.StartSlideOut = [this] { events.push_back("slide"); };
        w.forms.on.CloseSplash = [this] { events.push_back("close"); };
        w.forms.on.CloseMainWindow = [this] {
            events.push_back("close main");
            c.CloseRequest();
        };
    }
    bool ProgramFileExists(const char* name) { return std::filesystem::exists(program / name); }
};

TEST_F(StartupTest, FirstRunAsksAgainUntilTheTreeFitsThenSavesAndScans) {
    TempDir flat;  // music, but no folder
    flat.WriteFile("a.mp3", "");
    music.WriteFile("Rock/a.mp3", "");
    music.WriteFile("b.wav", "");
    music.WriteFile("notes.txt", "");
    choices = {flat.path(), music.path()};

    c.startup.RunStartupSequence();
    EXPECT_EQ(events, (std::vector<std::string>{"browse", "browse", "slide"}));
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, kTooFew);
    EXPECT_EQ(w.dialogs.shown[0].place, MsgPlace::TopLeft);
    EXPECT_EQ(w.dialogs.shown[0].icon, MsgIcon::Warning);

    EXPECT_TRUE(c.startup.FirstRun);
    EXPECT_FALSE(c.startup.SetupCancelled);
    EXPECT_EQ(c.nodes.ProgramFolder, program.path());
    EXPECT_EQ(c.nodes.MusicFolder, music.path() + "/");
    EXPECT_EQ(c.options.Edit1, c.nodes.MusicFolder);
    EXPECT_TRUE(ProgramFileExists("qnd.cfg"));
    EXPECT_EQ(c.display.Label6, "Folders = 1");
    EXPECT_EQ(c.display.Label7, "Files = 2");
    // The first-run cocktails' folders are held at the one folder the tree has.
    EXPECT_EQ(c.cocktails.Table()[0].ingredients[2].folder, 1);
    EXPECT_EQ(c.cocktails.Table()[15].ingredients[0].folder, 1);
}

TEST_F(StartupTest, CancelledFirstRunEndsWithoutWritingAnyFile) {
    // Cancel, "continue?" OK, Cancel again, "continue?" Cancel.
    w.dialogs.answers = {MsgAnswer::Ok, MsgAnswer::Cancel, MsgAnswer::Ok};
    w.forms.on.ShowBrowseModal = [this]() -> std::optional<std::string> {
        events.push_back("browse");
        while (c.startup.BrowseCancelClick()) events.push_back("browse");
        return std::nullopt;
    };
    w.forms.on.ShowSplashModal = [this] { c.startup.RunStartupSequence(); };
    int welcomes = 0;
    w.forms.on.ShowWelcome = [&] { ++welcomes; };
    c.FormShow();

    std::vector<std::string> texts;
    for (const ShownMessage& m : w.dialogs.shown) {
        texts.push_back(m.text);
        EXPECT_EQ(m.place, MsgPlace::TopLeft);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{kContinue, kContinue, kThanks}));
    EXPECT_EQ(events, (std::vector<std::string>{"browse", "browse", "close main", "close"}));
    EXPECT_TRUE(c.startup.SetupCancelled);
    EXPECT_EQ(welcomes, 0);
    EXPECT_EQ(c.nodes.FileCount(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(program.path()));
}

TEST_F(StartupTest, LaterStartReadsTheFileAndClosesAtOnceWithoutSplash) {
    music.WriteFile("A/x.mp3", "");
    music.WriteFile("A/B/y.MP3", "");
    {
        // A previous run with the splash switched off and both toggle buttons down.
        FakeWorld before;
        before.core->nodes.ProgramFolder = program.path();
        before.core->nodes.MusicFolder = music.path() + "/";
        before.core->SetFirstRunValues(2);
        before.core->options.chkShowSplash = false;
        before.core->buttons.Repeat = true;
        before.core->buttons.Shuffle = true;
        ASSERT_TRUE(before.core->SaveConfiguration());
    }
    c.startup.RunStartupSequence();
    EXPECT_EQ(events, (std::vector<std::string>{"hide", "close"}));
    EXPECT_FALSE(c.startup.FirstRun);
    EXPECT_TRUE(w.dialogs.shown.empty());
    EXPECT_EQ(c.display.Label6, "Folders = 2");
    EXPECT_EQ(c.display.Label7, "Files = 2");
    EXPECT_TRUE(c.display.ShuffleEnabled);
    EXPECT_EQ(c.display.RepeatCaptionColour, Colour::Green);
    EXPECT_EQ(c.display.ShuffleCaptionColour, Colour::Green);
}

TEST_F(StartupTest, UnreadableFileLeavesAnEmptyLibraryNotTheProgramFolder) {
    std::filesystem::create_directory(program / "qnd.cfg");  // present, but no file to read
    program.WriteFile("Demo/a.mp3", "");
    c.nodes.MusicFolder.clear();  // as at every start: only the file tells it
    c.startup.RunStartupSequence();
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, "Error 0002");
    EXPECT_FALSE(c.startup.FirstRun);
    EXPECT_EQ(c.nodes.FileCount(), 0);
    EXPECT_EQ(c.display.Label7, "Files = 0");
    EXPECT_EQ(c.cocktails.Table()[0].name, "MusicalCocktail1");
}

TEST_F(StartupTest, UnknownExecutableIsReportedAndTheStartGoesOn) {
    c.files = {};  // the executable not found
    choices = {std::nullopt};
    w.forms.on.CloseSplash = nullptr;  // nothing to close in this test
    w.forms.on.CloseMainWindow = nullptr;
    c.startup.RunStartupSequence();
    ASSERT_FALSE(w.dialogs.shown.empty());
    EXPECT_EQ(w.dialogs.shown[0].text, "Error 0001");
    EXPECT_FALSE(c.nodes.ProgramFolder.empty());
    EXPECT_TRUE(c.startup.SetupCancelled);  // the chooser was given up: no file is written
}

}  // namespace
