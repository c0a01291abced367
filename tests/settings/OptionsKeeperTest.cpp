#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "library/Configuration.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// A program folder with a saved first-run configuration; the form's hide is counted.
class OptionsKeeperTest : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    int hidden = 0;
    std::vector<bool> topmost;
    void SetUp() override {
        c.nodes.ProgramFolder = dir.path();
        w.AddFile("House/a.mp3", 100);
        w.AddFile("Rock/b.mp3", 100);
        c.SetFirstRunValues(c.nodes.FolderCount());
        c.options.Edit1 = c.nodes.MusicFolder;
        ASSERT_TRUE(c.SaveConfiguration());
        w.forms.on.HideSettings = [this] { ++hidden; };
        w.forms.on.SetTopmost = [this](bool on) { topmost.push_back(on); };
    }
    void PressRepeat(bool down) {
        c.buttons.Repeat = down;
        c.RepeatClick();
    }
    void PressShuffle(bool down) {
        c.buttons.Shuffle = down;
        c.ShuffleClick();
    }
};

TEST_F(OptionsKeeperTest, AlwaysOnTopAppliesAtOnceAndFollowsCancel) {
    c.SetAlwaysOnTop(true);  // the box clicked
    EXPECT_EQ(topmost, (std::vector<bool>{true}));
    c.optionsKeeper.BitBtn2Click();
    EXPECT_FALSE(c.options.chkAlwaysOnTop);
    EXPECT_EQ(topmost, (std::vector<bool>{true, false}));
    EXPECT_EQ(hidden, 1);

    // A saved ticked box comes back the same way, and so it does at start-up.
    c.SetAlwaysOnTop(true);
    c.optionsKeeper.BitBtn1Click();
    c.SetAlwaysOnTop(false);
    topmost.clear();
    c.optionsKeeper.BitBtn2Click();
    EXPECT_TRUE(c.options.chkAlwaysOnTop);
    EXPECT_EQ(topmost, (std::vector<bool>{true}));

    FakeWorld fresh;
    std::vector<bool> applied;
    fresh.forms.on.SetTopmost = [&](bool on) { applied.push_back(on); };
    fresh.core->nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(fresh.core->LoadConfiguration());
    EXPECT_EQ(applied, (std::vector<bool>{true}));
}

TEST_F(OptionsKeeperTest, CancelRestoresStripButtonsAndWhatTheyShow) {
    // Saved up; pressed since: Cancel puts them up again, Shuffle unusable, plain captions.
    PressRepeat(true);
    PressShuffle(true);
    c.buttons.Mix_OFF = true;
    c.optionsKeeper.BitBtn2Click();
    EXPECT_FALSE(c.buttons.Repeat);
    EXPECT_FALSE(c.buttons.Shuffle);
    EXPECT_FALSE(c.buttons.Mix_OFF);
    EXPECT_FALSE(c.display.ShuffleEnabled);
    EXPECT_EQ(c.display.RepeatCaptionColour, Colour::WindowText);
    EXPECT_EQ(c.display.ShuffleCaptionColour, Colour::WindowText);

    // Saved down; releasing Repeat also released Shuffle: both come back down and green.
    PressRepeat(true);
    PressShuffle(true);
    c.optionsKeeper.BitBtn1Click();
    PressRepeat(false);
    ASSERT_FALSE(c.buttons.Shuffle);
    c.optionsKeeper.BitBtn2Click();
    EXPECT_TRUE(c.buttons.Repeat);
    EXPECT_TRUE(c.buttons.Shuffle);
    EXPECT_TRUE(c.display.ShuffleEnabled);
    EXPECT_EQ(c.display.RepeatCaptionColour, Colour::Green);
    EXPECT_EQ(c.display.ShuffleCaptionColour, Colour::Green);
}

TEST_F(OptionsKeeperTest, CancelPutsBackMixOffWithTheGaugeRangeItImplies) {
    c.playlist.AddToPlaylist(w.AddFile("c.mp3", 200));  // starts playing
    c.buttons.UP = true;
    c.deck.StartHeadTrack();
    const int withMixes = c.display.CGauge1Max;
    c.buttons.Mix_OFF = true;
    c.Mix_OFFClick();
    ASSERT_NE(c.display.CGauge1Max, withMixes);
    c.optionsKeeper.BitBtn2Click();
    EXPECT_FALSE(c.buttons.Mix_OFF);
    EXPECT_EQ(c.display.CGauge1Max, withMixes);
}

TEST_F(OptionsKeeperTest, CancelRestoresEverythingTheFileHolds) {
    c.cocktails.FillCocktailLists();
    c.cocktails.FillIngredientLists();
    const std::vector<std::int32_t> ingredient = c.cocktails.IngredientFiles(0);
    c.nodes.MusicFolder = "/elsewhere/";
    c.options.Edit1 = "typed";
    c.cocktails.Table().RepeatLimit = 9;
    c.cocktails.Table()[0].name = "Renamed";
    c.cocktails.Table()[0].ingredients[0].folder = 0;
    c.cocktails.ComboBox1Change(5);
    c.options.RadioGroup2 = epShutDown;
    c.options.CheckBox1 = true;

    c.optionsKeeper.BitBtn2Click();
    EXPECT_EQ(c.nodes.MusicFolder, "/music/");
    EXPECT_EQ(c.options.Edit1, "/music/");
    EXPECT_EQ(c.cocktails.Table().RepeatLimit, 3);
    EXPECT_EQ(c.cocktails.Table().CurrentCocktail, 0);
    EXPECT_EQ(c.cocktails.Table()[0].name, "MusicalCocktail1");
    EXPECT_EQ(c.options.RadioGroup2, epLoadCocktail);
    EXPECT_FALSE(c.options.CheckBox1);
    // The main window's list and the draw's folders follow the table read back.
    EXPECT_EQ(c.display.ComboBox1Items.front(), "MusicalCocktail1");
    EXPECT_EQ(c.display.ComboBox1ItemIndex, 0);
    EXPECT_EQ(c.editor.ComboBox4ItemIndex, 0);
    EXPECT_EQ(c.cocktails.IngredientFiles(0), ingredient);
}

TEST_F(OptionsKeeperTest, FileErrorsAreReportedAndTheFormHidesAllTheSame) {
    std::filesystem::remove(dir / "qnd.cfg");
    c.options.RadioGroup2 = epWait;
    c.buttons.Repeat = true;
    c.optionsKeeper.BitBtn2Click();
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, "Error 0002");
    EXPECT_EQ(c.options.RadioGroup2, epWait);  // nothing changed
    EXPECT_TRUE(c.buttons.Repeat);
    EXPECT_EQ(hidden, 1);

    // A folder where the file should be cannot be written over.
    std::filesystem::create_directory(dir / "qnd.cfg");
    dir.WriteFile("qnd.cfg/keep", "");
    c.optionsKeeper.BitBtn1Click();
    ASSERT_EQ(w.dialogs.shown.size(), 2u);
    EXPECT_EQ(w.dialogs.shown[1].text, "Error 0003");
    EXPECT_EQ(hidden, 2);
}

// The AutoMix page's sound output: asked for at start and on OK only, the default taking over from
// a device missing or lost, which is said once each time.
TEST_F(OptionsKeeperTest, ChosenOutputTakesOverOnOkAndGivesWayToTheDefault) {
    const auto said = [this](const std::string& name) {
        return std::count_if(w.dialogs.shown.begin(), w.dialogs.shown.end(), [&](const ShownMessage& m) {
            return m.text.find("sound output \"" + name + "\"") != std::string::npos;
        });
    };
    c.autoMix.outputDevice = "USB Interface";  // as read from the file, not plugged in
    c.FormShow();
    EXPECT_EQ(w.outputs.asked, (std::vector<std::string>{"USB Interface"}));
    EXPECT_EQ(w.outputs.inUse, "");
    EXPECT_EQ(said("USB Interface"), 1);
    c.optionsKeeper.BitBtn1Click();  // nothing changed: not asked, not said again
    EXPECT_EQ(w.outputs.asked.size(), 1u);
    EXPECT_EQ(said("USB Interface"), 1);

    // A choice on the page waits for OK; Cancel puts the saved one back and asks nothing.
    w.outputs.devices = {"Speakers", "USB Interface"};
    c.autoMix.outputDevice = "Speakers";
    c.optionsKeeper.BitBtn2Click();
    EXPECT_EQ(c.autoMix.outputDevice, "USB Interface");
    EXPECT_EQ(w.outputs.asked.size(), 1u);
    c.autoMix.outputDevice = "Speakers";
    c.optionsKeeper.BitBtn1Click();
    EXPECT_EQ(w.outputs.inUse, "Speakers");
    EXPECT_EQ(said("Speakers"), 0);

    // Unplugged while playing: the default plays on, the deck untouched, and it is said once.
    const std::size_t deckCalls = w.CurrentDeck().calls.size();
    w.outputs.lost = "Speakers";
    c.CheckSoundOutput();
    c.CheckSoundOutput();
    EXPECT_EQ(said("Speakers"), 1);
    EXPECT_EQ(w.CurrentDeck().calls.size(), deckCalls);
    EXPECT_EQ(c.autoMix.outputDevice, "Speakers");  // the choice stays for the next start
}

class ChangeFolderTest : public OptionsKeeperTest {
protected:
    int closes = 0;
    bool filesWrittenByClose = false;
    void SetUp() override {
        OptionsKeeperTest::SetUp();
        w.forms.on.CloseMainWindow = [this] {
            ++closes;
            std::filesystem::remove(dir / "qnd.cfg");
            c.CloseRequest();
            filesWrittenByClose = Exists(dir / "qnd.cfg") && Exists(dir / "qnd.m3u");
        };
        c.playlist.AddToPlaylist(w.AddFile("d.mp3", 50));
        c.options.RadioGroup2 = epShutDown;
        c.options.chkAlwaysOnTop = true;
        c.cocktails.Table()[3].name = "Mine";
    }
};

TEST_F(ChangeFolderTest, CancelInTheQuestionChangesNothing) {
    const std::string before = dir.ReadFile("qnd.cfg");
    w.dialogs.answers = {MsgAnswer::Cancel};
    c.optionsKeeper.Button2Click();
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    const ShownMessage& q = w.dialogs.shown[0];
    EXPECT_EQ(q.text, "For continuation is necessary restart of the application. To continue?");
    EXPECT_EQ(q.icon, MsgIcon::Warning);
    EXPECT_EQ(q.buttons, MsgButtons::OkCancel);
    EXPECT_EQ(q.place, MsgPlace::Centred);
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(w.shell.restarts, 0);
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), before);
    EXPECT_EQ(c.options.RadioGroup2, epShutDown);
    EXPECT_EQ(hidden, 0);
}

TEST_F(ChangeFolderTest, OkClosesDeletesRestartsAndTheNewInstanceIsAFirstRun) {
    c.optionsKeeper.Button2Click();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(filesWrittenByClose);
    EXPECT_FALSE(Exists(dir / "qnd.cfg"));
    EXPECT_FALSE(Exists(dir / "qnd.m3u"));
    EXPECT_EQ(w.shell.restarts, 1);
    EXPECT_EQ(w.dialogs.shown.size(), 1u);  // the question; deleting and starting report nothing
    // A close that comes late (the end of the playlist) must not bring the files back.
    c.FormClose();
    EXPECT_FALSE(Exists(dir / "qnd.cfg"));
    EXPECT_FALSE(Exists(dir / "qnd.m3u"));

    // The new instance, in the same folder, asks for a folder and starts from first-run values.
    TempDir music;
    music.WriteFile("Jazz/x.mp3", "");
    music.WriteFile("Soul/y.wav", "");
    FakeWorld next;
    Core& n = *next.core;
    int chooser = 0;
    next.core->files = LocateProgramFiles(dir / "quendo");
    next.forms.on.ShowBrowseModal = [&]() -> std::optional<std::string> {
        ++chooser;
        return music.path();
    };
    n.startup.RunStartupSequence();
    EXPECT_EQ(chooser, 1);
    EXPECT_TRUE(n.startup.FirstRun);

    FakeWorld reference;
    Core& r = *reference.core;
    r.nodes.MusicFolder = music.path() + "/";
    r.SetFirstRunValues(2);
    r.nodes.ProgramFolder = music / "reference";
    std::filesystem::create_directory(r.nodes.ProgramFolder);
    ASSERT_TRUE(r.SaveConfiguration());
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), music.ReadFile("reference/qnd.cfg"));
    EXPECT_FALSE(n.options.chkAlwaysOnTop);
    EXPECT_EQ(n.options.RadioGroup2, epLoadCocktail);
    EXPECT_EQ(n.cocktails.Table()[3].name, "MusicalCocktail4");
}

}  // namespace
