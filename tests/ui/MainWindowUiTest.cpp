#include <map>
#include <QLabel>
#include <QPushButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "app/Application.h"
#include "platform/qt/QtPlatform.h"
#include "settings/Setting.h"
#include "settings/Welcom.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;

namespace {

// A program folder whose saved settings start the program without the splash's slide or the
// welcome dialog: the main window is up, and the start-up over, at once.
struct QuickStart {
    quendo::testing::TempDir program, music;
    QuickStart() {
        quendo::testing::FakeWorld w;
        Core& c = *w.core;
        c.nodes.ProgramFolder = program.path();
        c.nodes.MusicFolder = music.path() + "/";
        c.SetFirstRunValues(1);
        c.options.chkShowSplash = false;
        c.options.CheckBox1 = true;
        EXPECT_TRUE(c.SaveConfiguration());
    }
    std::string Executable() const { return program / "quendo"; }
    void Show(Application& app) const {
        app.Form1().show();
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return app.core().nodes.ProgramFolder == program.path() && !QApplication::activeModalWidget();
        }));
        QApplication::processEvents();
    }
};

TEST(FormSet, CreatedInOrderWithCaptions) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    std::vector<std::string> names, titles;
    for (QWidget* w : app.Forms()) {
        names.push_back(w->objectName().toStdString());
        titles.push_back(w->windowTitle().toStdString());
    }
    const std::vector<std::string> expected{"Form1", "Splash", "Settings", "MixEditor",
                                            "Browse", "frmNameMusCoc", "Welcome"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(titles.front(), "Quendo");
    const std::map<std::string, std::string> captions{{"Settings", "Settings"}, {"MixEditor", "MixEditor"},
                                                     {"Welcome", "Welcome to:"}, {"frmNameMusCoc", "Rename"},
                                                     {"Browse", "Select a directory with your musical files..."}};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto it = captions.find(names[i]);
        if (it != captions.end()) {
            EXPECT_EQ(titles[i], it->second) << names[i];
        }
    }
}

// The window manager keeps a window above the one it is transient for, in that window's layer:
// owned by the main window, every form comes up above it, topmost or not.
TEST(FormSet, EveryOtherFormIsOwnedByTheMainWindow) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    TForm1& f = app.Form1();
    f.winId();
    for (QWidget* w : app.Forms()) {
        if (w == &f) continue;
        w->winId();
        // X11 makes no other type of window transient for its owner.
        EXPECT_EQ(w->windowHandle()->type(), Qt::Dialog) << w->objectName().toStdString();
        const QWindow* owner = w->windowHandle()->transientParent();
        while (owner && owner != f.windowHandle()) owner = owner->transientParent();
        EXPECT_EQ(owner, f.windowHandle()) << w->objectName().toStdString();
    }
}

// Cancel in the settings form reads the welcome dialog's box back from the file: an open
// dialog shows the box as read.
TEST(FormSet, TheOpenWelcomeDialogShowsTheBoxReadBack) {
    quendo::testing::TempDir dir;
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    Core& c = app.core();
    c.nodes.ProgramFolder = dir.path();
    c.SetFirstRunValues(1);
    c.options.CheckBox1 = true;
    ASSERT_TRUE(c.SaveConfiguration());
    c.options.CheckBox1 = false;
    auto* welcome = static_cast<TWelcome*>(app.Forms()[6]);
    auto* settings = static_cast<TSettings*>(app.Forms()[2]);
    welcome->show();
    EXPECT_FALSE(welcome->CheckBox1->isChecked());
    settings->ShowSettings();
    settings->BitBtn2->click();
    EXPECT_TRUE(c.options.CheckBox1);
    EXPECT_TRUE(welcome->CheckBox1->isChecked());
}

TEST(MainWindow, EveryControlShowsWithItsCaption) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    TForm1& f = app.Form1();
    EXPECT_EQ(f.size(), QSize(272, 282));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());  // not resizable

    // Every control shows inside the window, and no caption is cut off.
    for (QWidget* w : {static_cast<QWidget*>(f.StaticText1), static_cast<QWidget*>(f.StaticText2),
                       static_cast<QWidget*>(f.StaticText3), static_cast<QWidget*>(f.UP),
                       static_cast<QWidget*>(f.Play), static_cast<QWidget*>(f.Shuffle),
                       static_cast<QWidget*>(f.Repeat), static_cast<QWidget*>(f.Mix_OFF),
                       static_cast<QWidget*>(f.Next), static_cast<QWidget*>(f.CGauge1),
                       static_cast<QWidget*>(f.Label1), static_cast<QWidget*>(f.ListBox1),
                       static_cast<QWidget*>(f.ComboBox1), static_cast<QWidget*>(f.Label3),
                       static_cast<QWidget*>(f.Label6), static_cast<QWidget*>(f.Label7),
                       static_cast<QWidget*>(f.Label10)}) {
        const QRect shown = w->geometry().intersected(f.rect());
        EXPECT_GT(shown.height(), w->height() / 2) << w->objectName().toStdString();
        EXPECT_GE(shown.width(), w->width() - 1) << w->objectName().toStdString();  // the layout runs one pixel over
    }
    for (QPushButton* b : {f.Shuffle, f.Repeat, f.Mix_OFF, f.Next})
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width()) << b->text().toStdString();
    f.core.display.Label6 = "Folders = 5000";
    f.core.display.Label7 = "Files = 50000";
    f.Render();
    for (QLabel* l : {f.Label3, f.Label6, f.Label7, f.Label10})
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
    EXPECT_EQ(f.Label10->text(), "Musical cocktail:");
    EXPECT_EQ(f.Label3->text(), "Available:");

    // First looks: displays read ":", UP up and Play down, Shuffle disabled, timers off.
    EXPECT_EQ(f.StaticText1->text(), ":");
    EXPECT_EQ(f.StaticText3->text(), ":");
    EXPECT_FALSE(f.UP->isChecked());
    EXPECT_TRUE(f.Play->isChecked());
    EXPECT_FALSE(f.Shuffle->isEnabled());
    EXPECT_TRUE(f.Next->isEnabled());
    EXPECT_FALSE(f.Next->isCheckable());
    EXPECT_TRUE(f.Repeat->isCheckable());
    EXPECT_EQ(f.ListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 100);
    EXPECT_EQ(f.Timer2->interval(), 200);
    // The title strip lies over the gauge.
    EXPECT_GT(f.children().indexOf(f.Label1), f.children().indexOf(f.CGauge1));
}

TEST(MainWindow, RendersCoreStateAndForwardsToggles) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    TForm1& f = app.Form1();
    Core& c = app.core();
    c.display.StaticText2 = "3:20";
    c.display.ShuffleEnabled = true;
    c.buttons.Repeat = true;
    c.playlist.Append("1:00  a.mp3", 0);
    c.playlist.Append("2:00  b.mp3", 1);
    c.playlist.SetSelected(1, 1);
    f.Render();
    EXPECT_EQ(f.StaticText2->text(), "3:20");
    EXPECT_TRUE(f.Shuffle->isEnabled());
    EXPECT_TRUE(f.Repeat->isChecked());
    ASSERT_EQ(f.ListBox1->count(), 2);
    EXPECT_TRUE(f.ListBox1->item(1)->isSelected());

    f.ListBox1->item(0)->setSelected(true);
    EXPECT_EQ(c.playlist.Selected(0), 1);
    f.UP->click();
    EXPECT_TRUE(c.buttons.UP);
}

}  // namespace

namespace {

using quendo::testing::TempDir;
using quendo::testing::ToneWav;

// The option changes the stacking hint of the window as it is: a new native window would
// flicker and take the focus from the settings form.
TEST(MainWindow, AlwaysOnTopKeepsTheWindowItsPlaceAndTheFocus) {
    QuickStart start;
    Application app(start.Executable());
    TForm1& f = app.Form1();
    QWidget* settings = app.Forms()[2];
    start.Show(app);
    f.move(40, 60);
    settings->show();
    settings->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(settings));
    const WId id = f.winId();
    const QRect place = f.geometry();
    struct HideCounter : QObject {
        int hides = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            hides += e->type() == QEvent::Hide;
            return false;
        }
    } flicker;
    f.installEventFilter(&flicker);
    for (bool on : {true, false}) {
        app.core().SetAlwaysOnTop(on);
        QApplication::processEvents();
        EXPECT_EQ(f.winId(), id);
        EXPECT_EQ(f.geometry(), place);
        EXPECT_EQ(flicker.hides, 0);
        EXPECT_EQ(f.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_EQ(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint), on);
        EXPECT_EQ(QApplication::activeWindow(), settings);
    }
}

// Fusion draws the current item with a light band and a frame, which reads as a selection.
TEST(MainWindow, ThePlaylistShowsNoCurrentItemThatIsNotSelected) {
    QuickStart start;
    Application app(start.Executable());
    TForm1& f = app.Form1();
    Core& c = app.core();
    start.Show(app);
    for (const char* text : {"1:00  a.mp3", "2:00  b.mp3", "3:00  c.mp3"}) c.playlist.Append(text, 0);
    f.Render();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.ListBox1->setFocus();
    f.setAttribute(Qt::WA_KeyboardFocusChange);  // as after a key press
    QItemSelectionModel* selection = f.ListBox1->selectionModel();
    auto rowImage = [&](int row) {
        return f.ListBox1->viewport()->grab(f.ListBox1->visualItemRect(f.ListBox1->item(row))).toImage();
    };
    selection->setCurrentIndex(f.ListBox1->model()->index(2, 0), QItemSelectionModel::NoUpdate);
    const QImage plain = rowImage(0);
    selection->setCurrentIndex(f.ListBox1->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    ASSERT_TRUE(f.ListBox1->hasFocus());
    EXPECT_EQ(rowImage(0), plain);
    f.ListBox1->item(0)->setSelected(true);
    EXPECT_NE(rowImage(0), plain);  // a selection shows
}

TEST(MainWindow, ATrackThatEndsOnItsOwnIsShownEnded) {
    TempDir dir;
    dir.WriteFile("a.wav", ToneWav(1.5, 440, 0.3));
    const quendo::testing::TempDir program;
    Application app(program / "quendo");  // the real engine, on the dummy driver
    TForm1& f = app.Form1();
    Core& c = app.core();
    c.nodes.MusicFolder = dir.path() + "/";
    c.nodes.AddFileNode(0, "a.wav");
    c.options.RadioGroup2 = epWait;
    c.buttons.UP = true;
    c.buttons.Mix_OFF = true;
    f.Act([&] { c.playlist.AddToPlaylist(0); });
    ASSERT_TRUE(f.Timer1->isActive());
    EXPECT_EQ(f.Label1->text(), "a.wav");

    // The end is shown by the event that ends the track, not by some later tick.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.deck.Timer1Enabled(); }, 10000));
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.StaticText2->text(), ":");
    QTest::qWait(300);  // a stray tick would come now
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.StaticText2->text(), ":");
    EXPECT_EQ(f.StaticText3->text(), ":");
    EXPECT_EQ(f.Label1->text(), "");
    EXPECT_EQ(f.CGauge1->value(), 0);
}

TEST(MainWindow, RightPressOnThePlaylistKeepsTheSelection) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    TForm1& f = app.Form1();
    Core& c = app.core();
    for (const char* text : {"1:00  a.mp3", "2:00  b.mp3", "3:00  c.mp3"}) c.playlist.Append(text, 0);
    c.playlist.SetSelected(0, true);
    f.Render();
    int popups = 0;
    f.openMainPopup = [&](QPoint) { ++popups; };
    QWidget* list = f.ListBox1->viewport();
    QTest::mousePress(list, Qt::RightButton, {}, f.ListBox1->visualItemRect(f.ListBox1->item(2)).center());
    QTest::mouseRelease(list, Qt::RightButton, {}, f.ListBox1->visualItemRect(f.ListBox1->item(2)).center());
    EXPECT_EQ(popups, 1);
    EXPECT_TRUE(c.playlist.Selected(0));
    EXPECT_FALSE(c.playlist.Selected(2));
    EXPECT_FALSE(f.ListBox1->item(2)->isSelected());
}

TEST(MainWindow, SizeCommandsResizeTheWindow) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    TForm1& window = app.Form1();
    Core& c = app.core();
    const int frame = window.frameGeometry().height() - window.height();
    c.MenuCommand(cmSmallSize);
    EXPECT_EQ(window.height(), 49);
    c.MenuCommand(cmSmallSize);
    EXPECT_EQ(window.height(), 49);
    c.MenuCommand(cmNormalSize);
    EXPECT_EQ(window.height(), 282);
    window.setFixedHeight(200 - frame);
    c.MenuCommand(cmSmallSize);
    c.MenuCommand(cmNormalSize);
    EXPECT_EQ(window.frameGeometry().height(), 200);
}

// With no window of the program active, a message belongs to the main window, which may be topmost.
TEST(Messages, WithNoActiveWindowBelongToTheMainWindow) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    QWidget* owner = nullptr;
    QTimer::singleShot(50, &app.Form1(), [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            owner = box->parentWidget();
            box->accept();
        }
    });
    app.core().platform.dialogs.Message("Error 0003");
    EXPECT_EQ(owner, &app.Form1());
}

TEST(Messages, ComeInFrontOfTheWindowTheyInterrupt) {
    QDialog splash;
    splash.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QtDialogs dialogs;
    bool inFront = false, owned = false;
    QTimer::singleShot(0, &splash, [&] {
        QTimer::singleShot(50, &splash, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            inFront = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            owned = box->parentWidget() == &splash;
            box->accept();
        });
        dialogs.Message("Error 0002", MsgIcon::None, MsgButtons::Ok, MsgPlace::Centred);
        splash.accept();
    });
    splash.exec();
    EXPECT_TRUE(inFront);
    EXPECT_TRUE(owned);
}

}  // namespace
