#include <QApplication>
#include <QCompleter>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>

#include "model/WebPages.h"
#include "library/Start.h"
#include "settings/Brows.h"
#include "settings/BrowseDrives.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

// Clicks `button` each time `dialog` is up, `times` times in all.
void ClickWhenShown(QDialog* dialog, QAbstractButton* button, int times) {
    auto* timer = new QTimer(dialog);
    auto left = std::make_shared<int>(times);
    QObject::connect(timer, &QTimer::timeout, dialog, [=] {
        if (!dialog->isVisible()) return;
        button->click();
        if (--*left == 0) timer->deleteLater();
    });
    timer->start(10);
}

class SplashUi : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TSplash splash{c};
};

TEST_F(SplashUi, DiscWithAHoleAndItsLabels) {
    EXPECT_EQ(splash.size(), QSize(265, 254));
    const QRegion shape = splash.mask();
    EXPECT_TRUE(shape.contains(QPoint(20, 128)));    // on the disc
    EXPECT_TRUE(shape.contains(QPoint(134, 100)));
    EXPECT_FALSE(shape.contains(QPoint(132, 132)));  // the hole
    EXPECT_FALSE(shape.contains(QPoint(3, 3)));      // outside the disc
    EXPECT_FALSE(shape.contains(QPoint(262, 250)));

    EXPECT_EQ(splash.Label1->text(), "Quendo");
    EXPECT_EQ(splash.Label1->geometry(), QRect(52, 32, 160, 29));
    EXPECT_EQ(splash.Label3->text(), "FREE");
    EXPECT_EQ(splash.Label4->text(), "Loading ...");
    EXPECT_EQ(splash.Label12->text(), "v1.10 beta");
    EXPECT_TRUE(splash.Label4->isVisibleTo(&splash));
    EXPECT_FALSE(splash.Button1->isVisibleTo(&splash));
    EXPECT_EQ(splash.Button1->geometry(), QRect(14, 122, 65, 17));
    EXPECT_EQ(TextColour(splash.Label1), QColor(0, 0, 255));
    // Every label lies on the disc.
    for (QLabel* l : splash.findChildren<QLabel*>())
        EXPECT_TRUE(shape.contains(l->geometry().center())) << l->objectName().toStdString();
}

TEST_F(SplashUi, LinkOpensOnceOnLeftReleaseAndRedWhilePressed) {
    w.AddFile("a.mp3", 10);
    w.AddFile("b.mp3", 10);
    const QPoint at = splash.Label7->rect().center();
    QTest::mousePress(splash.Label7, Qt::RightButton, {}, at);
    QTest::mouseRelease(splash.Label7, Qt::RightButton, {}, at);
    EXPECT_TRUE(w.shell.opened.empty());
    EXPECT_EQ(TextColour(splash.Label7), QColor(0, 0, 255));

    QTest::mousePress(splash.Label7, Qt::LeftButton, {}, at);
    EXPECT_EQ(TextColour(splash.Label7), QColor(255, 0, 0));
    EXPECT_TRUE(w.shell.opened.empty());
    QTest::mouseRelease(splash.Label7, Qt::LeftButton, {}, at);
    EXPECT_EQ(TextColour(splash.Label7), QColor(0, 0, 255));
    EXPECT_EQ(w.shell.opened, (std::vector<std::string>{std::string(kProductPage) + "?s2"}));

    QTest::mouseClick(splash.Label10, Qt::LeftButton, {}, splash.Label10->rect().center());
    EXPECT_EQ(w.shell.opened.back(), std::string(kOtherProgramsPage) + "?s2");
}

TEST_F(SplashUi, SlidesTwoPixelsAStepFromTheCentreOffTheScreen) {
    const int screenHeight = QGuiApplication::primaryScreen()->geometry().height();
    const int screenTop = QGuiApplication::primaryScreen()->geometry().y();
    EXPECT_EQ(splash.CentredTop, (screenHeight - 254) / 2);
    splash.show();
    splash.Timer1->stop();  // no start-up sequence in this test
    EXPECT_EQ(splash.y() - screenTop, splash.CentredTop);

    splash.Button1Click();
    EXPECT_TRUE(splash.Timer2->isActive());
    splash.Button1Click();  // a second press restarts nothing
    EXPECT_EQ(splash.y() - screenTop, splash.CentredTop);
    splash.Timer2->stop();  // stepped by hand below

    int steps = 0;
    while (splash.isVisible() && steps < 10000) {
        const int before = splash.y();
        splash.Timer2Timer();
        ++steps;
        if (splash.isVisible()) {
            ASSERT_EQ(splash.y(), before + 2);
        }
    }
    EXPECT_EQ(steps, (screenHeight - splash.CentredTop + 1) / 2 + 1);
    EXPECT_FALSE(splash.Label4->isVisibleTo(&splash));
    EXPECT_TRUE(splash.Button1->isVisibleTo(&splash));
    EXPECT_EQ(splash.result(), QDialog::Accepted);

    // The next showing starts centred again; without the animation it closes at the first step.
    c.options.chkShowAnimat = false;
    splash.show();
    EXPECT_EQ(splash.y() - screenTop, splash.CentredTop);
    splash.Timer2Timer();
    EXPECT_FALSE(splash.isVisible());
}

TEST_F(SplashUi, FirstShowingRunsTheStartupSequenceOnce) {
    TempDir program, music;
    music.WriteFile("Rock/a.mp3", "");
    music.WriteFile("b.mp3", "");
    int chooserShown = 0;
    w.core->files = LocateProgramFiles(program / "quendo");
    w.forms.on.ShowBrowseModal = [&]() -> std::optional<std::string> {
        ++chooserShown;
        return music.path();
    };
    w.forms.on.HideSplash = [&] { splash.HideSplash(); };
    w.forms.on.StartSlideOut = [&] { splash.StartSlideOut(); };
    w.forms.on.CloseSplash = [&] { splash.CloseSplash(); };
    w.forms.on.ShowAboutBox = [&] { splash.ShowAbout(); };
    int rendered = 0;
    QObject::connect(&splash, &TSplash::startupFinished, [&] { ++rendered; });
    c.options.chkShowSplash = false;  // the first run switches it on again: the splash slides

    splash.ShowStartup();  // returns once the slide-out has closed it
    EXPECT_EQ(chooserShown, 1);
    EXPECT_EQ(rendered, 1);
    EXPECT_EQ(c.display.Label7, "Files = 2");
    EXPECT_TRUE(std::filesystem::exists(program / "qnd.cfg"));
    EXPECT_TRUE(splash.Button1->isVisibleTo(&splash));
    EXPECT_FALSE(splash.isVisible());

    // The About showing waits for "OK" and never runs the sequence again.
    c.options.chkShowAnimat = false;
    ClickWhenShown(&splash, splash.Button1, 1);
    w.forms.ShowAboutBox();
    EXPECT_EQ(chooserShown, 1);
    EXPECT_EQ(rendered, 1);
}

class BrowseUi : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir d;
    TBrowse browse{c, nullptr, d / "mounts"};

    BrowseUi() {
        // The temporary folder stands for a mounted disk beside the root.
        d.WriteFile("mounts", "/dev/sda1 / ext4 rw 0 0\nproc /proc proc rw 0 0\n/dev/sdb1 " + d.path() +
                                  " vfat rw 0 0\n/dev/sda1 " + d.path() + "/mounts ext4 rw 0 0\n");  // a file mounted over a file
        for (const char* f : {"Music/gamma/x", "Music/Alpha/x", "Music/beta/x", "Music/.cache/x"})
            d.WriteFile(f, "");
    }
    QStringList FolderListTexts() {
        QStringList texts;
        for (QTreeWidgetItemIterator it(browse.DirectoryListBox1); *it; ++it) texts << (*it)->text(0);
        return texts;
    }
    QTreeWidgetItem* Item(const QString& text) {
        for (QTreeWidgetItemIterator it(browse.DirectoryListBox1); *it; ++it)
            if ((*it)->text(0) == text) return *it;
        return nullptr;
    }
};

TEST_F(BrowseUi, DrivesFoldersAndTheCurrentFolderText) {
    EXPECT_EQ(browse.windowTitle(), "Select a directory with your musical files...");
    EXPECT_EQ(browse.size(), QSize(292, 244));
    EXPECT_FALSE(browse.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(browse.DirectoryListBox1->geometry(), QRect(0, 20, 292, 180));
    EXPECT_EQ(browse.BitBtn1->geometry(), QRect(218, 202, 70, 24));
    EXPECT_EQ(browse.BitBtn2->geometry(), QRect(144, 202, 70, 24));
    EXPECT_EQ(browse.Label1->text(), "The current directory:");

    browse.SetCurrentFolder(d / "Music");
    ASSERT_EQ(browse.DriveComboBox1->count(), 2);
    EXPECT_EQ(browse.DriveComboBox1->itemText(0), "/");
    EXPECT_EQ(browse.DriveComboBox1->currentText(), QString::fromStdString(d.path()));
    // The path from the drive, then the subfolders in name order, hidden ones left out.
    EXPECT_EQ(FolderListTexts(), (QStringList{QString::fromStdString(d.path()), "Music", "Alpha", "beta", "gamma"}));
    EXPECT_EQ(browse.CurrentFolderText(), d.path() + "/Music/");
    EXPECT_EQ(browse.StaticText1->toolTip().toStdString(), d.path() + "/Music/");

    browse.DirectoryListBox1DblClick(Item("beta"));
    EXPECT_EQ(browse.CurrentFolder(), d.path() + "/Music/beta");
    EXPECT_EQ(browse.CurrentFolderText(), d.path() + "/Music/beta/");
    browse.DirectoryListBox1DblClick(Item(QString::fromStdString(d.path())));
    EXPECT_EQ(browse.CurrentFolder(), d.path());

    // The root is shown once, with its one separator.
    browse.DriveComboBox1Change(0);
    EXPECT_EQ(browse.CurrentFolder(), "/");
    EXPECT_EQ(browse.CurrentFolderText(), "/");
    EXPECT_EQ(browse.StaticText1->text(), "/");
    // A folder that is gone opens at its nearest existing parent.
    browse.SetCurrentFolder(d / "Music/gone/deeper");
    EXPECT_EQ(browse.CurrentFolder(), d.path() + "/Music");
}

TEST_F(BrowseUi, OkChoosesTheCurrentFolder) {
    browse.SetCurrentFolder(d / "Music/Alpha");
    ClickWhenShown(&browse, browse.BitBtn1, 1);
    EXPECT_EQ(browse.Choose(), d.path() + "/Music/Alpha");
    EXPECT_TRUE(w.dialogs.shown.empty());
}

TEST_F(BrowseUi, CancelAsksThenReturnsAsItWasOrGivesUp) {
    browse.SetCurrentFolder(d / "Music/Alpha");
    int closes = 0;
    w.forms.on.CloseMainWindow = [&] { ++closes; };
    // Cancel, go on searching, Cancel, give up.
    w.dialogs.answers = {MsgAnswer::Ok, MsgAnswer::Cancel, MsgAnswer::Ok};
    std::vector<std::string> shownIn;
    auto* watch = new QTimer(&browse);
    QObject::connect(watch, &QTimer::timeout, &browse, [&] {
        if (!browse.isVisible()) return;
        shownIn.push_back(browse.CurrentFolder());
        browse.BitBtn2->click();
    });
    watch->start(10);
    EXPECT_EQ(browse.Choose(), std::nullopt);
    EXPECT_EQ(shownIn, (std::vector<std::string>{d.path() + "/Music/Alpha", d.path() + "/Music/Alpha"}));
    ASSERT_EQ(w.dialogs.shown.size(), 3u);
    EXPECT_EQ(w.dialogs.shown[2].text, "Thank you for using of our software.");
    for (const ShownMessage& m : w.dialogs.shown) EXPECT_EQ(m.place, MsgPlace::TopLeft);
    EXPECT_TRUE(c.startup.SetupCancelled);
    EXPECT_EQ(closes, 1);
}

// Runs the event loop until `done` holds, five seconds at most.
template <class F>
bool Eventually(F done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The field names what Enter and OK choose: a path typed, pasted (as a file manager's address)
// or given relative to the folder shown; one that names no folder is said and chooses nothing.
TEST_F(BrowseUi, EnterChoosesWhatTheFieldNamesOrSaysWhyNot) {
    const std::string music = d / "Music";
    struct Row {
        std::string typed;
        std::string chosen;  // "" when nothing may be chosen
        QString said;
    } rows[] = {
        {music + "/Alpha/", music + "/Alpha", ""},
        {"beta", music + "/beta", ""},
        {"file://" + music + "/gamma", music + "/gamma", ""},
        {music + "/nope", "", "There is no folder \"" + QString::fromStdString(music) + "/nope\"."},
        {d / "mounts", "", "\"" + QString::fromStdString(d / "mounts") + "\" is a file, not a folder."},
        {"  ", "", "Type or choose a folder."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        browse.SetCurrentFolder(music);
        browse.show();
        browse.setResult(0);
        browse.StaticText1->clear();
        QTest::keyClicks(browse.StaticText1, QString::fromStdString(row.typed));
        if (browse.FolderCompleter->popup()->isVisible()) browse.FolderCompleter->popup()->hide();
        QTest::keyClick(browse.StaticText1, Qt::Key_Return);
        if (row.chosen.empty()) {
            EXPECT_TRUE(browse.isVisible());
            EXPECT_EQ(browse.LabelCounts->toolTip(), row.said);
            EXPECT_EQ(browse.CurrentFolder(), music);
        } else {
            EXPECT_FALSE(browse.isVisible());
            EXPECT_EQ(browse.result(), QDialog::Accepted);
            EXPECT_EQ(browse.CurrentFolder(), row.chosen);
        }
        browse.hide();
    }
}

// Enter on a highlighted folder opens it, so that the field names it; only Enter on the folder
// the field names chooses.
TEST_F(BrowseUi, EnterOnAHighlightedFolderOpensItWithoutChoosing) {
    browse.SetCurrentFolder(d / "Music");
    browse.show();
    browse.setResult(0);
    browse.DirectoryListBox1->setFocus();
    browse.DirectoryListBox1->setCurrentItem(Item("beta"));
    QTest::keyClick(browse.DirectoryListBox1, Qt::Key_Return);
    EXPECT_TRUE(browse.isVisible());
    EXPECT_EQ(browse.CurrentFolder(), d.path() + "/Music/beta");
    EXPECT_EQ(browse.StaticText1->text().toStdString(), d.path() + "/Music/beta/");
    QTest::keyClick(browse.DirectoryListBox1, Qt::Key_Return);
    EXPECT_FALSE(browse.isVisible());
    EXPECT_EQ(browse.result(), QDialog::Accepted);
    EXPECT_EQ(browse.CurrentFolder(), d.path() + "/Music/beta");
}

// Typing offers the folders (not the files, not the hidden ones) whose names begin so, case aside,
// and the list follows a path typed once it names a folder.
TEST_F(BrowseUi, TypingOffersFoldersAndTheListFollows) {
    d.WriteFile("Music/alps.mp3", "");
    browse.SetCurrentFolder(d / "Music");
    browse.show();
    struct Row {
        std::string typed;
        QStringList offered;
    } rows[] = {{"Music/al", {"Alpha"}}, {"Music/", {"Alpha", "beta", "gamma"}}, {"Music/.c", {}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        browse.StaticText1->clear();
        QTest::keyClicks(browse.StaticText1, QString::fromStdString(d / row.typed));
        QStringList offered;
        Eventually([&] {
            offered.clear();
            QCompleter* c = browse.FolderCompleter;
            for (int i = 0; c->setCurrentRow(i); ++i) offered << QFileInfo(c->currentCompletion()).fileName();
            offered.sort(Qt::CaseInsensitive);
            return offered == row.offered;
        });
        EXPECT_EQ(offered, row.offered);
    }
    browse.StaticText1->clear();
    QTest::keyClicks(browse.StaticText1, QString::fromStdString(d / "Music/gamma"));
    EXPECT_TRUE(Eventually([&] { return browse.CurrentFolder() == d.path() + "/Music/gamma"; }));
    EXPECT_EQ(browse.StaticText1->text().toStdString(), d.path() + "/Music/gamma");  // as typed
}

// The counts of the folder shown come before OK, counted aside from the window.
TEST_F(BrowseUi, CountsTheFolderShownAside) {
    for (const char* f : {"Music/Alpha/a.mp3", "Music/Alpha/b.WAV", "Music/beta/deep/c.wma", "Music/.cache/d.mp3"})
        d.WriteFile(f, "");
    struct Row {
        std::string folder;
        std::int64_t folders, files;
        QString text;
    } rows[] = {
        {"Music", 4, 3, "4 folders, 3 music files"},
        {"Music/Alpha", 0, 2, "0 folders, 2 music files"},
        {"Music/beta", 1, 1, "1 folder, 1 music file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder);
        browse.SetCurrentFolder(d / row.folder);
        ASSERT_TRUE(Eventually([&] { return browse.CurrentFolderCount().has_value(); }));
        EXPECT_EQ(browse.CurrentFolderCount()->folders, row.folders);
        EXPECT_EQ(browse.CurrentFolderCount()->files, row.files);
        EXPECT_EQ(browse.LabelCounts->text(), row.text);
    }
}

// A first run opens at the desktop's music folder, else at home.
TEST_F(BrowseUi, OpensAtTheDesktopsMusicFolder) {
    EXPECT_EQ(BrowseStartFolder(d / "Music", d / "Music/beta"), d / "Music");
    EXPECT_EQ(BrowseStartFolder(d / "none", d / "Music/beta"), d / "Music/beta");
    EXPECT_EQ(BrowseStartFolder(d / "none", d / "gone"), "/");

    TempDir config;
    config.WriteFile("user-dirs.dirs", "XDG_MUSIC_DIR=\"" + d.path() + "/Music/gamma\"\n");
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
    std::string shownIn;
    auto* watch = new QTimer(&browse);
    QObject::connect(watch, &QTimer::timeout, &browse, [&] {
        if (!browse.isVisible()) return;
        shownIn = browse.StaticText1->text().toStdString();
        browse.BitBtn1->click();
    });
    watch->start(10);
    const std::optional<std::string> chosen = browse.Choose();
    if (before.isNull()) qunsetenv("XDG_CONFIG_HOME");
    else qputenv("XDG_CONFIG_HOME", before);
    EXPECT_EQ(shownIn, d.path() + "/Music/gamma/");
    EXPECT_EQ(chosen, d.path() + "/Music/gamma");
}

}  // namespace
