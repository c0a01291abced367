#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

#include "app/CommandMenus.h"
#include "app/FolderMenuContents.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

QAction* Item(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions())
        if (a->text() == text) return a;
    return nullptr;
}

void Press(QMenu* menu, QAction* a, Qt::MouseButton b) {
    QTest::mousePress(menu, b, {}, menu->actionGeometry(a).center());
    QTest::mouseRelease(menu, b, {}, menu->actionGeometry(a).center());
}

class MenusUi : public ::testing::Test {
protected:
    MenusUi() {
        w.core->commands.MenuHandlingEnabled = true;
        w.AddFile("Rock/b.mp3", 60);
        w.AddFile("Rock/a.mp3", 60);
        w.AddFile("Rock/Live/c.mp3", 60);
        w.AddFile("z.mp3", 60);
        window.setFixedSize(272, 282);
        window.show();
        menus = std::make_unique<CommandMenus>(*w.core, &window);
    }
    QMenu* OpenRoot() {
        QMenu* root = menus->RootFolderMenu();
        root->popup(QPoint(10, 10));
        return root;
    }
    Core& core() { return *w.core; }
    FakeWorld w;
    QWidget window;
    std::unique_ptr<CommandMenus> menus;
};

}  // namespace

TEST_F(MenusUi, MainPopupAndOptionsMenuInOrder) {
    QStringList texts;
    for (QAction* a : menus->MainPopup->actions()) texts << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(texts, (QStringList{"Visit for updates:", "https://quendo.example.org", "-", "Visit for other programs:",
                                  "https://quendo.example.org/programs", "-", "Add files from folders",
                                  "Make musical cocktail", "-", "Delete items", "Clear", "-", "MixEditor...",
                                  "Options...", "Help...", "-", "About..."}));
    texts.clear();
    for (QAction* a : menus->OptionsMenu->actions()) texts << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(texts, (QStringList{"Settings...", "-", "Normal size", "Small size"}));
}

TEST_F(MenusUi, FolderMenuIsBuiltWhenItOpensFoldersFirst) {
    QMenu* root = OpenRoot();
    ASSERT_EQ(root->actions().size(), 2);
    EXPECT_EQ(root->actions()[0]->text(), "Rock");
    EXPECT_NE(root->actions()[0]->menu(), nullptr);
    EXPECT_EQ(root->actions()[1]->text(), "z.mp3");
    root->close();
    w.AddFile("Jazz/j.mp3", 60);
    OpenRoot();
    EXPECT_EQ(root->actions().size(), 3);
    EXPECT_EQ(root->actions()[0]->text(), "Jazz");

    // After the close request menus open but are not rebuilt.
    root->close();
    core().commands.MenuHandlingEnabled = false;
    w.AddFile("y.mp3", 60);
    OpenRoot();
    EXPECT_EQ(root->actions().size(), 3);
}

TEST_F(MenusUi, RightPressOnFolderAddsItsFilesOnceWithinTheGuard) {
    QMenu* root = OpenRoot();
    QAction* rock = Item(root, "Rock");
    Press(root, rock, Qt::RightButton);
    ASSERT_EQ(core().playlist.Count(), 2);
    EXPECT_EQ(core().nodes.File(core().playlist.ListBox2()[0]).name, "a.mp3");
    EXPECT_TRUE(root->isVisible());
    Press(root, rock, Qt::RightButton);  // within 200 ms
    EXPECT_EQ(core().playlist.Count(), 2);
    EXPECT_TRUE(core().commands.Timer2Enabled());  // the main window's timer runs it out
    core().Timer2Timer();
    Press(root, rock, Qt::RightButton);
    EXPECT_EQ(core().playlist.Count(), 4);
}

TEST_F(MenusUi, RightPressOnFolderLeavesEveryOpenMenuOpen) {
    // As the user gets there: the pointer opens the folder menus, and the folder's own submenu
    // is open (and is the active popup) when the folder item is pressed.
    menus->PopupMainAt(QPoint(5, 5));
    QMenu* main = menus->MainPopup;
    QCursor::setPos(main->mapToGlobal(main->actionGeometry(Item(main, "Add files from folders")).center()));
    QTest::mouseMove(main, main->actionGeometry(Item(main, "Add files from folders")).center());
    QMenu* root = menus->RootFolderMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return root->isVisible(); }, 2000));
    QAction* rock = Item(root, "Rock");
    QCursor::setPos(root->mapToGlobal(root->actionGeometry(rock).center()));
    QTest::mouseMove(root, root->actionGeometry(rock).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rock->menu()->isVisible(); }, 2000));
    QCoreApplication::sendEvent(root, std::make_unique<QEvent>(QEvent::Leave).get());

    Press(root, rock, Qt::RightButton);
    EXPECT_EQ(core().playlist.Count(), 2);
    QTest::qWait(1500);  // past the guard and the menus' own delays
    EXPECT_TRUE(root->isVisible());
    EXPECT_TRUE(main->isVisible());
}

TEST_F(MenusUi, RightPressOnFileAddsItAndTheMenuStaysOpen) {
    QMenu* root = OpenRoot();
    Press(root, Item(root, "z.mp3"), Qt::RightButton);
    EXPECT_EQ(core().playlist.Count(), 1);
    EXPECT_TRUE(root->isVisible());
}

TEST_F(MenusUi, LeftPressOnFolderAddsItsFilesAndClosesEveryMenu) {
    menus->PopupMainAt(QPoint(5, 5));
    QMenu* root = menus->RootFolderMenu();
    root->popup(QPoint(50, 50));
    Press(root, Item(root, "Rock"), Qt::LeftButton);
    EXPECT_EQ(core().playlist.Count(), 2);
    EXPECT_FALSE(root->isVisible());
    EXPECT_FALSE(menus->MainPopup->isVisible());
}

TEST_F(MenusUi, LeftClickOnFileAddsIt) {
    QMenu* root = OpenRoot();
    Press(root, Item(root, "z.mp3"), Qt::LeftButton);
    EXPECT_EQ(core().playlist.Count(), 1);
    EXPECT_FALSE(root->isVisible());
}

TEST_F(MenusUi, FolderPickAssignsTheIngredientAndAnAbandonedPickEnds) {
    core().editor.ComboBox4ItemIndex = 4;
    core().cocktails.IngredientPick = 2;
    QMenu* root = OpenRoot();
    Press(root, Item(root, "z.mp3"), Qt::RightButton);  // ignored in pick mode
    EXPECT_EQ(core().playlist.Count(), 0);
    Press(root, Item(root, "Rock"), Qt::LeftButton);
    EXPECT_EQ(core().cocktails.Table()[4].ingredients[1].folder, 1);
    EXPECT_EQ(core().editor.IngredientFolderLabels[1], "Rock");
    EXPECT_EQ(core().cocktails.IngredientPick, 0);
    EXPECT_TRUE(core().playlist.Empty());

    // Menus dismissed without a pick end it.
    core().cocktails.IngredientPick = 1;
    OpenRoot()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return core().cocktails.IngredientPick == 0; }, 1000));

    // A file chosen during the pick, with the mouse or the keys, only ends it: the menus close
    // before the command arrives, and the command must still find the pick.
    const std::int32_t third = core().cocktails.Table()[4].ingredients[2].folder;
    core().cocktails.IngredientPick = 3;
    root = OpenRoot();
    Press(root, Item(root, "z.mp3"), Qt::LeftButton);
    EXPECT_FALSE(root->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return core().cocktails.IngredientPick == 0; }, 1000));
    EXPECT_TRUE(core().playlist.Empty());
    core().cocktails.IngredientPick = 3;
    root = OpenRoot();
    root->setActiveAction(Item(root, "z.mp3"));
    QTest::keyClick(root, Qt::Key_Return);
    EXPECT_FALSE(root->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return core().cocktails.IngredientPick == 0; }, 1000));
    EXPECT_TRUE(core().playlist.Empty());
    EXPECT_EQ(core().cocktails.Table()[4].ingredients[2].folder, third) << "no folder was picked";
}

// Hovered, as the user opens it; the menu has no items but is there to see.
TEST_F(MenusUi, AnEmptyFolderOpensAnEmptyMenu) {
    core().nodes.AddFolderNode(0, "Empty");
    QMenu* root = OpenRoot();
    QAction* empty = Item(root, "Empty");
    ASSERT_NE(empty, nullptr);
    ASSERT_NE(empty->menu(), nullptr);
    QCursor::setPos(root->mapToGlobal(root->actionGeometry(empty).center()));
    QTest::mouseMove(root, root->actionGeometry(empty).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return empty->menu()->isVisible(); }, 2000));
    EXPECT_TRUE(empty->menu()->actions().isEmpty());
    // A window of no size is never put on the screen, though Qt calls it visible.
    EXPECT_FALSE(empty->menu()->size().isEmpty());
    EXPECT_FALSE(empty->menu()->testAttribute(Qt::WA_OutsideWSRange));
    root->close();
}

TEST_F(MenusUi, RightPressesOnMainPopupItemsDoNothing) {
    core().MenuCommand(0);
    menus->PopupMainAt(QPoint(5, 5));
    Press(menus->MainPopup, Item(menus->MainPopup, "Clear"), Qt::RightButton);
    EXPECT_EQ(core().playlist.Count(), 1);
    EXPECT_TRUE(menus->MainPopup->isVisible());
    Press(menus->MainPopup, Item(menus->MainPopup, "Clear"), Qt::LeftButton);
    EXPECT_TRUE(core().playlist.Empty());
}

TEST_F(MenusUi, MenusTallerThanTheScreenScrollToEveryItem) {
    for (int i = 0; i < 500; ++i) w.AddFile("Many/F" + std::to_string(1000 + i) + "/x.mp3", 60);
    for (int i = 0; i < 2000; ++i) w.AddFile("Big/t" + std::to_string(10000 + i) + ".mp3", 60);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    OpenRoot()->close();
    for (const char* name : {"Many", "Big"}) {
        QMenu* menu = Item(menus->RootFolderMenu(), name)->menu();
        menu->popup(screen.topLeft());
        ASSERT_GE(menu->actions().size(), 500);
        // One column that fits the screen, not columns running off its side.
        EXPECT_LE(menu->height(), screen.height()) << name;
        EXPECT_LE(menu->width(), screen.width() / 2) << name;
        QAction* last = menu->actions().back();
        EXPECT_FALSE(menu->rect().contains(menu->actionGeometry(last))) << name;
        for (int i = 0; i < 5000 && !menu->rect().contains(menu->actionGeometry(last)); ++i) {
            QWheelEvent wheel(QPointF(10, 10), menu->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(menu, &wheel);
        }
        EXPECT_TRUE(menu->rect().contains(menu->actionGeometry(last))) << name;
        menu->close();
    }
}
