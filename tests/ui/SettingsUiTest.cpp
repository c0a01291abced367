#include <QApplication>
#include <QLayout>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

#include <tuple>

#include "app/Application.h"
#include "cocktail/CocktailPage.h"
#include "settings/Setting.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

QStringList Captions(QGroupBox* group) {
    QStringList texts;
    for (QRadioButton* b : group->findChildren<QRadioButton*>()) texts << b->text();
    return texts;
}

class SettingsUi : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    TSettings form{c};
    int changed = 0;
    std::vector<bool> topmost;
    void SetUp() override {
        c.nodes.ProgramFolder = dir.path();
        c.SetFirstRunValues(1);
        ASSERT_TRUE(c.SaveConfiguration());
        QObject::connect(&form, &TSettings::changed, [this] { ++changed; });
        w.forms.on.SetTopmost = [this](bool on) { topmost.push_back(on); };
        w.forms.on.HideSettings = [this] { form.hide(); };  // as the application does
    }
};

TEST_F(SettingsUi, PagesControlsAndCaptions) {
    EXPECT_EQ(form.windowTitle(), "Settings");
    EXPECT_EQ(form.size(), QSize(402, 357));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.PageControl1->geometry(), QRect(0, 0, 402, 321));
    // No "Kind"; the automix's switches last.
    ASSERT_EQ(form.PageControl1->count(), 4);
    EXPECT_EQ(form.PageControl1->tabText(0), "General");
    EXPECT_EQ(form.PageControl1->tabText(1), "Start / Ending");
    EXPECT_EQ(form.PageControl1->tabText(2), "Musical cocktail");
    EXPECT_EQ(form.PageControl1->widget(2), form.TabSheet3);
    EXPECT_EQ(form.PageControl1->tabText(3), "AutoMix");

    // OK and Cancel side by side at the lower right, below the pages.
    EXPECT_EQ(form.BitBtn1->text(), "OK");
    EXPECT_EQ(form.BitBtn2->text(), "Cancel");
    EXPECT_TRUE(form.BitBtn1->isDefault());
    EXPECT_EQ(form.BitBtn1->y(), form.BitBtn2->y());
    EXPECT_LT(form.BitBtn1->geometry().right(), form.BitBtn2->x());
    EXPECT_GE(form.BitBtn1->y(), 321);
    EXPECT_LE(form.BitBtn2->geometry().right(), 401);
    EXPECT_LE(form.BitBtn2->geometry().bottom(), 356);

    EXPECT_EQ(form.Label1->text(), "The current directory with your musical files:");
    EXPECT_EQ(form.Button2->text(), "To change...");
    EXPECT_EQ(form.Button2->geometry(), QRect(240, 8, 89, 22));
    EXPECT_EQ(form.Edit1->geometry(), QRect(16, 34, 313, 21));
    EXPECT_LT(form.Label1->geometry().right(), form.Button2->x());  // the caption is not covered
    EXPECT_EQ(form.Panel2->geometry(), QRect(16, 96, 345, 113));
    const std::vector<std::pair<QCheckBox*, const char*>> boxes{
        {form.chkShowSplash, "Show splash screen at startup"},
        {form.chkMusicFileTimeRem, "Music file time remaining"},
        {form.chkAutoMixTimeRem, "AutoMixing time remaining"},
        {form.chkAlwaysOnTop, "Always on top "}};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].first->text(), boxes[i].second);
        EXPECT_EQ(boxes[i].first->pos(), QPoint(24, 12 + 24 * static_cast<int>(i)));
        EXPECT_TRUE(boxes[i].first->isVisibleTo(&form));
        EXPECT_LE(boxes[i].first->sizeHint().width(), boxes[i].first->width());
    }
    EXPECT_EQ(form.chkShowAnimat->text(), "Show animation");
    EXPECT_FALSE(form.chkShowAnimat->isVisibleTo(&form));
    EXPECT_FALSE(form.chkShowAnimat->isEnabled());
    EXPECT_EQ(form.Label2->text(), "Language:");
    ASSERT_EQ(form.ComboBox5->count(), 1);
    EXPECT_EQ(form.ComboBox5->currentText(), "English");

    EXPECT_EQ(form.RadioGroup1->title(), QString::fromUtf8("At startup\u2026"));
    EXPECT_EQ(form.RadioGroup2->title(), QString::fromUtf8("At ending the playlist\u2026 "));
    EXPECT_EQ(form.RadioGroup1->geometry(), QRect(16, 24, 345, 90));
    EXPECT_EQ(form.RadioGroup2->geometry(), QRect(16, 136, 345, 113));
    EXPECT_EQ(Captions(form.RadioGroup1),
              (QStringList{"To clear playlist ", "To continue the last session  ", "To load a musical cocktail "}));
    EXPECT_EQ(Captions(form.RadioGroup2), (QStringList{"To load a musical cocktail ", "To wait ",
                                                       "To close the program ", "Shut down the computer "}));
    // Every item lies below its group's caption, inside the frame, clear of the next one.
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    for (QGroupBox* group : {form.RadioGroup1, form.RadioGroup2}) {
        group->layout()->activate();
        int below = group->contentsRect().top();
        for (QRadioButton* b : group->findChildren<QRadioButton*>()) {
            EXPECT_GE(b->y(), below) << b->text().toStdString();
            EXPECT_LE(b->geometry().bottom(), group->contentsRect().bottom()) << b->text().toStdString();
            EXPECT_LE(b->sizeHint().width(), b->width()) << b->text().toStdString();
            below = b->geometry().bottom() + 1;
        }
    }
    EXPECT_EQ(form.chkAutoStartOfPlaying->text(), "Automatic start of playing ");
    EXPECT_FALSE(form.chkAutoStartOfPlaying->isVisibleTo(&form));

    // The first-run values as the controls show them.
    EXPECT_TRUE(form.chkShowSplash->isChecked());
    EXPECT_FALSE(form.chkAutoMixTimeRem->isChecked());
    EXPECT_TRUE(form.RadioGroup1Items->button(suContinueSession)->isChecked());
    EXPECT_TRUE(form.RadioGroup2Items->button(epLoadCocktail)->isChecked());
}

TEST_F(SettingsUi, ControlsChangeTheOptionsAtOnce) {
    form.show();
    form.chkMusicFileTimeRem->click();
    EXPECT_FALSE(c.options.chkMusicFileTimeRem);
    form.chkAutoMixTimeRem->click();
    EXPECT_TRUE(c.options.chkAutoMixTimeRem);
    form.RadioGroup2Items->button(epShutDown)->click();
    EXPECT_EQ(c.options.RadioGroup2, epShutDown);
    form.RadioGroup1Items->button(suClearPlaylist)->click();
    EXPECT_EQ(c.options.RadioGroup1, suClearPlaylist);

    changed = 0;
    form.chkAlwaysOnTop->click();
    EXPECT_TRUE(c.options.chkAlwaysOnTop);
    EXPECT_EQ(topmost, (std::vector<bool>{true}));
    EXPECT_GE(changed, 1);  // the main window renders again
    EXPECT_TRUE(w.dialogs.shown.empty());  // nothing written or read yet
}

TEST_F(SettingsUi, OkWritesTheFileAndCancelReadsItBack) {
    form.show();
    form.RadioGroup2Items->button(epWait)->click();
    QTest::keyClick(form.chkShowSplash, Qt::Key_Return);  // the default button
    EXPECT_FALSE(form.isVisible());
    FakeWorld reader;
    reader.core->nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(reader.core->LoadConfiguration());
    EXPECT_EQ(reader.core->options.RadioGroup2, epWait);

    form.ShowSettings();
    form.chkAlwaysOnTop->click();
    form.RadioGroup2Items->button(epCloseProgram)->click();
    changed = 0;
    topmost.clear();
    form.BitBtn2->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(c.options.RadioGroup2, epWait);
    EXPECT_TRUE(form.RadioGroup2Items->button(epWait)->isChecked());
    EXPECT_FALSE(form.chkAlwaysOnTop->isChecked());
    EXPECT_EQ(topmost, (std::vector<bool>{false}));
    EXPECT_GE(changed, 1);

    // Escape is Cancel.
    form.ShowSettings();
    form.chkAutoMixTimeRem->click();
    QTest::keyClick(form.chkAutoMixTimeRem, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(c.options.chkAutoMixTimeRem);
}

TEST_F(SettingsUi, AutoMixPageKeptByOkAndRestoredByCancel) {
    const std::vector<std::pair<QCheckBox*, const char*>> boxes{
        {form.chkMixAtLastSound, "Start the mix at the last audible sound"},
        {form.chkSkipSilenceAtStart, "Skip the silence at a track's start"},
        {form.chkMatchLoudness, "Match loudness"}};
    for (const auto& [box, caption] : boxes) {
        EXPECT_EQ(box->text(), caption);
        EXPECT_TRUE(box->isChecked()) << caption;  // all on by default
        EXPECT_LE(box->sizeHint().width(), box->width()) << caption;
    }
    EXPECT_EQ(form.SpinTargetLufs->value(), -16.0);
    EXPECT_LE(form.Label3->geometry().right(), form.SpinTargetLufs->x());

    w.outputs.devices = {"Speakers", "USB Interface"};
    form.ShowSettings();  // each showing asks for the devices afresh
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    ASSERT_EQ(form.ComboOutput->count(), 3);
    EXPECT_EQ(form.ComboOutput->itemText(0), "Default");
    EXPECT_EQ(form.ComboOutput->itemText(2), "USB Interface");
    EXPECT_EQ(form.ComboOutput->currentIndex(), 0);
    QTest::keyClick(form.ComboOutput, Qt::Key_End);
    EXPECT_EQ(c.autoMix.outputDevice, "USB Interface");
    EXPECT_TRUE(w.outputs.asked.empty());  // not before OK
    form.chkMixAtLastSound->click();
    form.chkMatchLoudness->click();
    EXPECT_FALSE(c.autoMix.mixAtLastSound);
    EXPECT_FALSE(c.autoMix.matchLoudness);
    EXPECT_FALSE(form.SpinTargetLufs->isEnabled());  // no target without matching
    form.chkMatchLoudness->click();
    EXPECT_TRUE(form.SpinTargetLufs->isEnabled());
    form.SpinTargetLufs->setFocus();
    form.SpinTargetLufs->stepDown();
    form.SpinTargetLufs->stepDown();
    EXPECT_EQ(c.autoMix.targetLufs, -17.0);
    form.BitBtn1->click();
    EXPECT_EQ(dir.ReadFile("automix.cfg"),
              "mixAtLastSound=0\nskipSilenceAtStart=1\nmatchLoudness=1\ntargetLufs=-17\noutputDevice=USB Interface\n"
              "playlistFollowsPlay=1\noneInstance=1\nstayAwake=1\nmixOnBeat=1\nshowArtistAndTitle=1\nkeepArtistsApart=1\njoinContinuousAlbums=1\nchooseByKeyAndTempo=0\n");
    EXPECT_EQ(w.outputs.asked, (std::vector<std::string>{"USB Interface"}));

    // Cancel puts back what OK kept, in the options and on the page.
    form.ShowSettings();
    form.chkSkipSilenceAtStart->click();
    form.chkMatchLoudness->click();
    form.SpinTargetLufs->setValue(-23.5);
    QTest::keyClick(form.ComboOutput, Qt::Key_Home);
    EXPECT_EQ(c.autoMix.outputDevice, "");
    form.BitBtn2->click();
    EXPECT_EQ(form.ComboOutput->currentText(), "USB Interface");
    EXPECT_EQ(w.outputs.asked.size(), 1u);
    EXPECT_TRUE(c.autoMix.skipSilenceAtStart);
    EXPECT_TRUE(c.autoMix.matchLoudness);
    EXPECT_EQ(c.autoMix.targetLufs, -17.0);
    EXPECT_FALSE(c.autoMix.mixAtLastSound);
    EXPECT_TRUE(form.chkSkipSilenceAtStart->isChecked());
    EXPECT_FALSE(form.chkMixAtLastSound->isChecked());
    EXPECT_EQ(form.SpinTargetLufs->value(), -17.0);
    EXPECT_TRUE(form.SpinTargetLufs->isEnabled());
    EXPECT_TRUE(w.dialogs.shown.empty());
}

// The new switches are bound as the others, in a group of their own; the background analysis'
// count shows under them while the form is up.
TEST(SettingsAutoMix, TheSwitchesAreBoundAndTheAnalysisCountShows) {
    FakeAnalysis analysis;
    FakeWorld w(&analysis);
    AutoMixOptions& a = w.core->autoMix;
    TSettings form{*w.core};
    form.ShowSettings();
    const std::vector<std::tuple<QCheckBox*, const char*, bool*>> boxes{
        {form.chkMixOnBeat, "Mix on the beat", &a.mixOnBeat},
        {form.chkShowArtistAndTitle, "Show artist and title", &a.showArtistAndTitle},
        {form.chkKeepArtistsApart, "Keep the same artist apart", &a.keepArtistsApart},
        {form.chkJoinContinuousAlbums, "Join continuous albums", &a.joinContinuousAlbums},
        {form.chkChooseByKeyAndTempo, "Choose the next track by key and tempo", &a.chooseByKeyAndTempo}};
    for (const auto& [box, caption, option] : boxes) {
        EXPECT_EQ(box->text(), caption);
        EXPECT_LE(box->sizeHint().width(), box->width()) << caption;
        EXPECT_TRUE(form.Panel7->contentsRect().contains(box->geometry())) << caption;
        box->click();
        EXPECT_EQ(box->isChecked(), *option) << caption;
    }
    EXPECT_FALSE(form.Panel7->geometry().intersects(form.Panel6->geometry()));
    EXPECT_EQ(form.Label5->text(), "");  // no files given to the pass
    analysis.progress = {123456, 1234567};
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Label5->text().isEmpty(); }, 3000));
    EXPECT_EQ(form.Label5->text(), "Analysed 123,456 of 1,234,567 files");
}

TEST_F(SettingsUi, TitleBarCloseHidesAndKeepsTheChangeForTheProgramsClose) {
    const std::string saved = dir.ReadFile("qnd.cfg");
    form.show();
    form.RadioGroup1Items->button(suLoadCocktail)->click();
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(c.options.RadioGroup1, suLoadCocktail);
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), saved);
    form.show();
    EXPECT_TRUE(form.RadioGroup1Items->button(suLoadCocktail)->isChecked());

    c.CloseRequest();
    FakeWorld reader;
    reader.core->nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(reader.core->LoadConfiguration());
    EXPECT_EQ(reader.core->options.RadioGroup1, suLoadCocktail);
}

TEST_F(SettingsUi, EachShowingLoadsTheCocktailPageAndShowsTheOptions) {
    int loads = 0;
    QObject::connect(&form, &TSettings::showing, [&] { ++loads; });
    c.options.chkAutoMixTimeRem = true;  // set while hidden, as reading the file does
    c.options.Edit1 = "/music/";
    form.ShowSettings();
    EXPECT_EQ(loads, 1);
    EXPECT_TRUE(form.chkAutoMixTimeRem->isChecked());
    EXPECT_EQ(form.Edit1->text(), "/music/");
    form.ShowSettings();  // already open: to the front, not a new showing
    EXPECT_EQ(loads, 1);
    form.showMinimized();
    form.ShowSettings();
    EXPECT_FALSE(form.isMinimized());
    form.hide();
    form.ShowSettings();
    EXPECT_EQ(loads, 2);
}

}  // namespace

namespace {

// The program wires the form: the menu shows it, a showing loads the cocktail page, OK hides it.
TEST(SettingsInProgram, MenuShowsItLoadingTheCocktailPageAndOkHidesIt) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    Core& c = app.core();
    TempDir dir;
    c.nodes.ProgramFolder = dir.path();
    c.SetFirstRunValues(1);
    ASSERT_TRUE(c.SaveConfiguration());
    c.cocktails.FillCocktailLists();
    c.cocktails.Table()[0].ingredients[1].parts = 7;
    auto* form = static_cast<TSettings*>(app.Forms()[2]);

    c.MenuCommand(cmSettings);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(app.CocktailPage().CSpinEdits[1]->value(), 7);
    form->BitBtn1->click();
    EXPECT_FALSE(form->isVisible());
}

}  // namespace
