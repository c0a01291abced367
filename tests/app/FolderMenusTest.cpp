#include <gtest/gtest.h>

#include <cstdlib>

#include "app/FolderMenuContents.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

std::vector<std::string> Names(const std::vector<MenuChild>& children) {
    std::vector<std::string> out;
    for (const MenuChild& c : children) out.push_back(c.name);
    return out;
}

std::vector<std::string> PlaylistNames(const Core& core) {
    std::vector<std::string> out;
    for (std::int32_t j : core.playlist.ListBox2()) out.push_back(core.nodes.File(j).name);
    return out;
}

class MenuCore : public ::testing::Test {
protected:
    MenuCore() { w.core->commands.MenuHandlingEnabled = true; }
    Core& core() { return *w.core; }
    FakeWorld w;
};

}  // namespace

// Sorted without regard to case; but names that differ in case alone are two entries of this
// file system, and both are listed (only a name the table holds twice is listed once).
TEST(FolderMenuChildren, SubfoldersAndFilesEachSortedWithoutCaseEveryNameOnce) {
    NodeTable t;
    const std::int32_t rock = t.AddFolderNode(0, "rock");
    t.AddFolderNode(0, "Jazz");
    const std::int32_t upper = t.AddFolderNode(0, "ROCK");  // the same name, case aside
    t.AddFolderNode(rock, "Live");  // not a child of the root
    t.AddFileNode(0, "zebra.mp3");
    const std::int32_t first = t.AddFileNode(0, "abba.mp3");
    t.AddFileNode(0, "Abba.mp3");
    t.AddFileNode(0, "abba.mp3");  // the very same name again
    t.AddFileNode(0, "Éclair.mp3");
    t.AddFileNode(0, "eclair.mp3");  // differs by the accent: listed
    t.AddFileNode(0, "beta.wav");
    t.AddFileNode(rock, "inside.mp3");

    const NameCollator en("en_US");
    const FolderMenuContents c = FolderMenuChildren(t, 0, en);
    EXPECT_EQ(Names(c.folders), (std::vector<std::string>{"Jazz", "ROCK", "rock"}));
    EXPECT_EQ(c.folders[1].index, upper);
    EXPECT_EQ(c.folders[2].index, rock);
    EXPECT_EQ(Names(c.files),
              (std::vector<std::string>{"Abba.mp3", "abba.mp3", "beta.wav", "eclair.mp3", "Éclair.mp3", "zebra.mp3"}));
    EXPECT_EQ(c.files[1].index, first);  // of equal names the first index stands
}

TEST(FolderMenuChildren, FollowsTheLocalesAlphabet) {
    NodeTable t;
    for (const char* n : {"Zappa", "Ärzte", "Abba", "Ångström"}) t.AddFolderNode(0, n);
    EXPECT_EQ(Names(FolderMenuChildren(t, 0, NameCollator("en_US")).folders),
              (std::vector<std::string>{"Abba", "Ångström", "Ärzte", "Zappa"}));
    // Swedish puts Å and Ä after Z.
    EXPECT_EQ(Names(FolderMenuChildren(t, 0, NameCollator("sv_SE")).folders),
              (std::vector<std::string>{"Abba", "Zappa", "Ångström", "Ärzte"}));
}

TEST(FolderMenuChildren, EmptyFolderAndIllFormedNames) {
    NodeTable t;
    const std::int32_t empty = t.AddFolderNode(0, "empty");
    t.AddFileNode(0, "b\xff.mp3");
    t.AddFileNode(0, "a.mp3");
    const NameCollator en("en_US");
    const FolderMenuContents e = FolderMenuChildren(t, empty, en);
    EXPECT_TRUE(e.folders.empty());
    EXPECT_TRUE(e.files.empty());
    EXPECT_EQ(Names(FolderMenuChildren(t, 0, en).files), (std::vector<std::string>{"a.mp3", "b\xff.mp3"}));
}

TEST(NameCollator, LocaleComesFromTheEnvironment) {
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "de_DE.UTF-8@euro", 1);
    EXPECT_EQ(NameCollator::LocaleFromEnvironment(), "de_DE");
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(NameCollator::LocaleFromEnvironment(), "");
    if (saved) setenv("LC_ALL", keep.c_str(), 1);
    else unsetenv("LC_ALL");
}

TEST_F(MenuCore, AddFolderFilesTakesOnlyTheFolderOwnFilesInMenuOrder) {
    w.AddFile("Rock/b.mp3", 60);
    w.AddFile("Rock/A.mp3", 61);
    w.AddFile("Rock/Live/c.mp3", 62);
    w.AddFile("d.mp3", 63);
    core().commands.AddFolderFiles(1);
    EXPECT_EQ(PlaylistNames(core()), (std::vector<std::string>{"A.mp3", "b.mp3"}));
}

TEST_F(MenuCore, AFolderClickAddsFilesThatDifferInCaseAlone) {
    w.AddFile("Rock/Song.mp3", 60);
    w.AddFile("Rock/song.mp3", 61);
    w.AddFile("rock/x.mp3", 62);
    core().commands.AddFolderFiles(1);
    EXPECT_EQ(PlaylistNames(core()), (std::vector<std::string>{"Song.mp3", "song.mp3"}));
    core().commands.AddFolderFiles(2);
    EXPECT_EQ(PlaylistNames(core()).back(), "x.mp3");
}

TEST_F(MenuCore, CommandsReachTheirTargets) {
    const std::int32_t j = w.AddFile("x.mp3", 90);
    w.AddFile("y.mp3", 90);
    int about = 0, settings = 0, mixEditor = 0;
    w.forms.on.ShowAboutBox = [&] { ++about; };
    w.forms.on.ShowSettings = [&] { ++settings; };
    w.forms.on.ShowMixEditor = [&] { ++mixEditor; };

    core().MenuCommand(j);
    EXPECT_EQ(core().playlist.Count(), 1);
    core().MenuCommand(cmAbout);
    core().MenuCommand(cmSettings);
    core().MenuCommand(cmMixEditor);
    EXPECT_EQ(about + settings + mixEditor, 3);
    core().MenuCommand(cmHelp);
    core().MenuCommand(cmVisitUpdates);
    core().MenuCommand(cmVisitOtherPrograms);
    EXPECT_EQ(w.shell.opened, (std::vector<std::string>{"/program/Quendo.html", "https://quendo.example.org/?m2",
                                                         "https://quendo.example.org/programs/?m2"}));
    EXPECT_TRUE(w.dialogs.shown.empty());
    // A desktop with no handler for them: a message names what could not be opened.
    w.shell.fails = true;
    core().MenuCommand(cmHelp);
    core().MenuCommand(cmVisitOtherPrograms);
    ASSERT_EQ(w.dialogs.shown.size(), 2u);
    EXPECT_EQ(w.dialogs.shown[0].text, "\"/program/Quendo.html\" could not be opened.");
    EXPECT_EQ(w.dialogs.shown[1].text, "\"https://quendo.example.org/programs/?m2\" could not be opened.");
    core().MenuCommand(65011);  // unknown: nothing
    core().MenuCommand(-1);
    EXPECT_EQ(core().playlist.Count(), 1);
    // A file that cannot be played is named, not silently left out.
    w.dialogs.shown.clear();
    core().MenuCommand(w.AddFile("garbage.mp3", 0));
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, "The file \"garbage.mp3\" cannot be played.");
}

TEST_F(MenuCore, CommandsAreIgnoredInPickModeAndAfterTheCloseRequest) {
    const std::int32_t j = w.AddFile("x.mp3", 90);
    int about = 0;
    w.forms.on.ShowAboutBox = [&] { ++about; };
    core().cocktails.IngredientPick = 2;
    core().MenuCommand(j);
    core().MenuCommand(cmAbout);
    core().MenuCommand(cmHelp);
    core().cocktails.IngredientPick = 0;
    core().commands.MenuHandlingEnabled = false;
    core().MenuCommand(j);
    core().MenuCommand(cmAbout);
    EXPECT_EQ(core().playlist.Count(), 0);
    EXPECT_EQ(about, 0);
    EXPECT_TRUE(w.shell.opened.empty());
}

TEST_F(MenuCore, ClearWithSelectedEntriesEmptiesAllAndShowsZero) {
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3"}) core().MenuCommand(w.AddFile(n, 100));
    core().playlist.SetSelected(1, 1);
    core().MenuCommand(cmClear);
    EXPECT_TRUE(core().playlist.Empty());
    EXPECT_EQ(core().display.StaticText1, "0:00");
}

TEST_F(MenuCore, SizeCommandsFollowTheTwoHundredPixelRule) {
    int outer = 282;
    w.forms.on.MainWindowOuterHeight = [&] { return outer; };
    w.forms.on.SetMainWindowOuterHeight = [&](int h) { outer = h; };
    core().MenuCommand(cmNormalSize);
    EXPECT_EQ(outer, 282);
    core().MenuCommand(cmSmallSize);
    EXPECT_EQ(outer, 49);
    core().MenuCommand(cmSmallSize);
    EXPECT_EQ(outer, 49);
    core().MenuCommand(cmNormalSize);
    EXPECT_EQ(outer, 282);
    outer = 200;
    core().MenuCommand(cmNormalSize);
    core().MenuCommand(cmSmallSize);
    EXPECT_EQ(outer, 200);
}

TEST_F(MenuCore, FolderPickSetsTheEditedCocktailsIngredient) {
    w.AddFile("Rock/a.mp3", 60);
    w.AddFile("Jazz/b.mp3", 60);
    core().editor.ComboBox4ItemIndex = 5;
    core().display.ComboBox1ItemIndex = 0;
    core().cocktails.IngredientPick = 3;
    core().cocktails.PickIngredientFolder(2);
    EXPECT_EQ(core().cocktails.Table()[5].ingredients[2].folder, 2);
    EXPECT_EQ(core().editor.IngredientFolderLabels[2], "Jazz");
    EXPECT_EQ(core().cocktails.IngredientPick, 0);
    EXPECT_TRUE(core().playlist.Empty());

    // No cocktail selected in the editor: nothing is written anywhere, the mode still ends.
    core().editor.ComboBox4ItemIndex = -1;
    core().cocktails.IngredientPick = 1;
    core().cocktails.PickIngredientFolder(1);
    EXPECT_EQ(core().cocktails.IngredientPick, 0);
    EXPECT_EQ(core().editor.IngredientFolderLabels[0], "");
}

TEST_F(MenuCore, KeysWorkTheButtonsAndTwoWaitWhileMixing) {
    core().FormKeyDown('V');
    EXPECT_TRUE(core().buttons.Mix_OFF);
    core().FormKeyDown('S');  // Shuffle starts disabled
    EXPECT_FALSE(core().buttons.Shuffle);
    core().display.ShuffleEnabled = true;
    core().FormKeyDown('S');
    EXPECT_TRUE(core().buttons.Shuffle);

    w.AddFile("a.mp3", 100);
    w.AddFile("b.mp3", 100);
    core().MenuCommand(0);
    core().MenuCommand(1);
    core().FormKeyDown('V');  // crossfading on again, so that a mix can start
    core().buttons.Shuffle = false;
    w.StartMix();
    ASSERT_TRUE(core().deck.isMixing());
    const auto before = core().playlist.ListBox2();
    const double position = w.CurrentDeck().position;
    core().FormKeyDown('B');
    core().FormKeyDown('V');
    EXPECT_EQ(core().playlist.ListBox2(), before);
    EXPECT_EQ(w.CurrentDeck().position, position);
    EXPECT_FALSE(core().buttons.Mix_OFF);
    core().FormKeyDown('C');
    core().FormKeyDown('X');
    core().FormKeyDown('R');
    EXPECT_FALSE(core().buttons.Play);
    EXPECT_FALSE(core().buttons.UP);
    EXPECT_TRUE(core().buttons.Repeat);

    core().FormKeyDown('C');  // play on, so that the mix can end
    w.FinishMix();
    ASSERT_FALSE(core().deck.isMixing());
    core().display.MixOffEnabled = false;
    core().FormKeyDown('V');
    EXPECT_FALSE(core().buttons.Mix_OFF);
}

TEST_F(MenuCore, FolderMenuPressCasesAndTheirGuard) {
    w.AddFile("Rock/a.mp3", 60);
    const std::int32_t z = w.AddFile("z.mp3", 60);
    core().commands.MenuHandlingEnabled = true;
    Commands& m = core().commands;

    // A right press on a folder adds its files and leaves the menus open; the guard then holds.
    EXPECT_EQ(m.FolderItemPress(1, false), PressAction::Swallow);
    EXPECT_EQ(core().playlist.Count(), 1);
    EXPECT_TRUE(m.Timer2Enabled());
    EXPECT_EQ(m.FolderItemPress(1, false), PressAction::Swallow);
    EXPECT_EQ(m.FolderItemPress(1, true), PressAction::PassOn);
    EXPECT_EQ(m.FileItemPress(z, false), PressAction::Swallow);
    EXPECT_EQ(core().playlist.Count(), 1);

    core().Timer2Timer();
    EXPECT_EQ(m.FileItemPress(z, false), PressAction::Swallow);
    EXPECT_EQ(core().playlist.Count(), 2);
    core().Timer2Timer();
    EXPECT_EQ(m.FileItemPress(z, true), PressAction::PassOn);  // the menu's own command adds it
    EXPECT_EQ(m.FolderItemPress(1, true), PressAction::SwallowAndCloseMenus);
    EXPECT_EQ(core().playlist.Count(), 3);

    // After the close request no press acts.
    core().Timer2Timer();
    core().CloseRequest();
    EXPECT_EQ(m.FolderItemPress(1, true), PressAction::PassOn);
    EXPECT_EQ(m.FolderItemPress(1, false), PressAction::Swallow);
    EXPECT_EQ(core().playlist.Count(), 3);
}
