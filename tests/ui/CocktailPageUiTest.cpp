#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/Application.h"
#include "cocktail/CocktailPage.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

class CocktailPageUi : public ::testing::Test {
protected:
    CocktailPageUi() {
        w.AddFile("House/h1.mp3", 60);
        w.AddFile("Lounge/l1.mp3", 60);
        CocktailTable& t = w.core->cocktails.Table();
        for (int i = 0; i < CocktailTable::kCount; ++i) {
            t[i].name = "MusicalCocktail" + std::to_string(i + 1);
            for (Ingredient& in : t[i].ingredients) in = {0, 1, 1};
        }
        t[2].ingredients[1] = {0, 2, 0};
        w.core->cocktails.FillCocktailLists();
        editor.ComboBox4Change(2);
        page.Render();
        page.show();
    }
    QWidget* Child(const char* name) { return page.findChild<QWidget*>(QString::fromLatin1(name)); }
    std::vector<QString> Visible(const std::vector<ShapePiece*>& pieces) {
        std::vector<QString> names;
        for (ShapePiece* p : pieces)
            if (p->isVisible()) names.push_back(p->objectName());
        return names;
    }
    Ingredient& In(int cocktail, int k) { return w.core->cocktails.Table()[cocktail].ingredients[static_cast<std::size_t>(k)]; }

    FakeWorld w;
    RecipeEditor editor{w.core->cocktails, w.core->nodes, w.core->editor, w.core->display};
    TfrmNameMusCoc dialog{editor};
    std::vector<QPoint> menuOpenedAt;
    TCocktailPage page{editor, dialog, [this](QPoint at) { menuOpenedAt.push_back(at); }};
};

TEST_F(CocktailPageUi, GlassesAndCaptionsInPlace) {
    EXPECT_EQ(page.width(), 402);
    EXPECT_GE(page.height(), 288);
    EXPECT_LT(page.height(), 321);

    const char* bodies[] = {"Shape1", "Shape5", "Shape6"};
    const char* stems[] = {"Shape2", "Shape7", "Shape8"};
    const char* captions[] = {"Label1", "Label2", "Label3"};
    for (int k = 0; k < 3; ++k) {
        const int dx = 128 * k;
        EXPECT_EQ(Child(bodies[k])->geometry(), QRect(16 + dx, 16, 105, 105)) << k;
        EXPECT_EQ(Child(stems[k])->geometry(), QRect(48 + dx, 104, 41, 57)) << k;
        EXPECT_EQ(page.CSpinEdits[k]->geometry(), QRect(48 + dx, 160, 41, 26)) << k;
        auto* caption = static_cast<QLabel*>(Child(captions[k]));
        EXPECT_EQ(caption->text(), QStringLiteral("Ingredients %1").arg(k + 1));
        EXPECT_EQ(caption->geometry(), QRect(32 + dx, 104, 73, 17));

        QComboBox* kind = page.KindBoxes[k];
        EXPECT_FALSE(kind->isEnabled());
        EXPECT_EQ(kind->currentText(), "Folder :");
        EXPECT_EQ(kind->count(), 6);
        EXPECT_TRUE(page.CSpinEdits[k]->font().bold());
        EXPECT_EQ(page.CSpinEdits[k]->maximum(), 10);
    }
    EXPECT_EQ(page.FolderLabels[1]->text(), "Lounge");
    EXPECT_EQ(page.Label7->text(), "Musical cocktail:");
    EXPECT_EQ(page.Button1->text(), "Rename");
    EXPECT_FALSE(page.ComboBox4->isEditable());
    EXPECT_EQ(page.ComboBox4->count(), 16);
    EXPECT_EQ(page.ComboBox4->currentText(), "MusicalCocktail3");

    // No caption is cut off.
    for (const char* name : {"Label1", "Label3", "Label4", "Label6", "Label7"}) {
        auto* label = static_cast<QLabel*>(Child(name));
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << name;
    }
    EXPECT_LE(page.Button1->fontMetrics().horizontalAdvance("Rename"), page.Button1->width() - 6);
}

TEST_F(CocktailPageUi, PipesFollowTheirPartsField) {
    EXPECT_EQ(page.Pipes[0].size(), 3u);
    EXPECT_EQ(page.Pipes[1].size(), 1u);
    EXPECT_EQ(page.Pipes[2].size(), 3u);
    EXPECT_TRUE(Visible(page.Pipes[1]).empty());  // ingredient 2 of this cocktail has 0 parts
    EXPECT_EQ(Visible(page.Pipes[0]), (std::vector<QString>{"Shape14", "Shape16", "Shape15"}));

    page.CSpinEdits[2]->setValue(0);
    EXPECT_EQ(In(2, 2).parts, 0);
    EXPECT_TRUE(Visible(page.Pipes[2]).empty());
    EXPECT_EQ(Visible(page.Pipes[0]).size(), 3u);
    page.CSpinEdits[1]->stepUp();
    EXPECT_EQ(In(2, 1).parts, 1);
    EXPECT_EQ(Visible(page.Pipes[1]), (std::vector<QString>{"Shape13"}));
    EXPECT_EQ(Child("Shape13")->geometry(), QRect(188, 184, 17, 81));

    // Another cocktail in the page's list reloads the fields and the pipes.
    page.ComboBox4->setCurrentIndex(5);
    EXPECT_EQ(page.CSpinEdits[2]->value(), 1);
    EXPECT_EQ(Visible(page.Pipes[2]).size(), 3u);
    EXPECT_EQ(In(2, 2).parts, 0);
}

TEST_F(CocktailPageUi, RightPressOnAGlassOpensTheFolderMenuLeftAndMiddleDoNothing) {
    for (const char* name : {"Label9", "Shape5", "Shape9", "Shape11", "Shape7"}) {
        QTest::mousePress(Child(name), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(Child(name), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mousePress(Child(name), Qt::MiddleButton, {}, QPoint(5, 5));
        QTest::mouseRelease(Child(name), Qt::MiddleButton, {}, QPoint(5, 5));
    }
    EXPECT_TRUE(menuOpenedAt.empty());
    EXPECT_EQ(w.core->cocktails.IngredientPick, 0);

    // The kind chooser and the parts field do not react.
    QTest::mousePress(page.KindBoxes[2], Qt::RightButton, {}, QPoint(5, 5));
    QTest::mousePress(page.CSpinEdits[2], Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(menuOpenedAt.empty());

    QWidget* caption = Child("Label2");
    QTest::mousePress(caption, Qt::RightButton, {}, QPoint(7, 3));
    ASSERT_EQ(menuOpenedAt.size(), 1u);
    EXPECT_EQ(menuOpenedAt[0], caption->mapToGlobal(QPoint(7, 3)));
    EXPECT_EQ(w.core->cocktails.IngredientPick, 2);
    QTest::mousePress(Child("Shape10"), Qt::RightButton, {}, QPoint(50, 20));  // the foot of glass 3
    EXPECT_EQ(w.core->cocktails.IngredientPick, 3);
    EXPECT_EQ(menuOpenedAt.size(), 2u);
}

TEST_F(CocktailPageUi, OnlyTheThirdPartsFieldTakesTyping) {
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    PartsSpinEdit* first = page.CSpinEdits[0];
    first->setFocus();
    first->selectAll();
    QTest::keyClicks(first, "7");
    EXPECT_EQ(In(2, 0).parts, 1);
    QTest::keyClick(first, Qt::Key_Up);
    EXPECT_EQ(In(2, 0).parts, 2);
    QTest::keyClick(first, Qt::Key_PageUp);
    EXPECT_EQ(In(2, 0).parts, 2);

    PartsSpinEdit* third = page.CSpinEdits[2];
    third->setFocus();
    third->selectAll();
    QTest::keyClicks(third, "15");
    EXPECT_EQ(third->text(), "15");  // corrected only when the focus leaves
    EXPECT_EQ(In(2, 2).parts, 10);   // but never stored out of range
    page.CSpinEdits[1]->setFocus();
    EXPECT_EQ(third->text(), "10");

    third->setFocus();
    third->selectAll();
    QTest::keyClicks(third, "x4");
    EXPECT_EQ(In(2, 2).parts, 0);
    EXPECT_TRUE(Visible(page.Pipes[2]).empty());
    page.CSpinEdits[1]->setFocus();
    EXPECT_EQ(third->text(), "0");

    third->setFocus();
    third->selectAll();
    QTest::keyClicks(third, "6");
    EXPECT_EQ(In(2, 2).parts, 6);
    EXPECT_EQ(Visible(page.Pipes[2]).size(), 3u);
}

TEST_F(CocktailPageUi, RenameDialogTakesAtMost255CharactersEnterAndEscape) {
    EXPECT_EQ(dialog.size(), QSize(211, 74));
    EXPECT_EQ(dialog.windowTitle(), "Rename");
    EXPECT_EQ(dialog.Label1->text(), "Enter a new name for this musical cocktail:");
    EXPECT_LE(dialog.Label1->fontMetrics().horizontalAdvance(dialog.Label1->text()), dialog.Label1->width());
    EXPECT_EQ(dialog.Edit1->width(), 209);

    dialog.FormShow();
    dialog.show();
    EXPECT_EQ(dialog.Edit1->text(), "MusicalCocktail3");
    dialog.Edit1->clear();
    QTest::keyClicks(dialog.Edit1, QString(300, QLatin1Char('n')));
    EXPECT_EQ(dialog.Edit1->text().size(), 255);
    QTest::keyClick(dialog.Edit1, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(w.core->cocktails.Table()[2].name, "MusicalCocktail3");

    dialog.FormShow();
    dialog.show();
    dialog.Edit1->setText("Sunday");
    QTest::keyClick(dialog.Edit1, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(w.core->cocktails.Table()[2].name, "Sunday");
}

TEST_F(CocktailPageUi, RenameButtonRenamesInBothListsAndTellsTheMainWindow) {
    int edits = 0;
    QObject::connect(&page, &TCocktailPage::edited, [&] { ++edits; });
    QTimer::singleShot(0, &dialog, [this] {
        dialog.Edit1->clear();
        QTest::keyClick(dialog.Edit1, Qt::Key_Return);
    });
    page.Button1->click();
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(page.ComboBox4->itemText(2), "");
    EXPECT_EQ(page.ComboBox4->currentIndex(), 2);
    EXPECT_EQ(w.core->display.ComboBox1Items[2], "");
    EXPECT_EQ(w.core->display.ComboBox1ItemIndex, 0);

    QTimer::singleShot(0, &dialog, [this] { QTest::keyClick(dialog.Edit1, Qt::Key_Escape); });
    page.Button1->click();
    EXPECT_EQ(edits, 1);
}

// The box in the room left of the pipes; with it on, a glass whose folder gives no file says so.
TEST_F(CocktailPageUi, AGlassOfNoMusicSaysSoWithSubfoldersOn) {
    QCheckBox* box = page.chkCocktailSubfolders;
    EXPECT_EQ(box->accessibleName(), "Cocktail folders include their subfolders");
    EXPECT_EQ(box->text().simplified(), box->accessibleName());
    EXPECT_LE(box->geometry().right(), Child("Shape15")->geometry().left() - 1);
    EXPECT_LE(box->geometry().bottom(), page.ComboBox4->geometry().top());
    EXPECT_LE(box->sizeHint().width(), box->width());

    w.AddFile("Band/Album/x.mp3", 60);  // folders 3 and 4
    const std::int32_t empty = w.core->nodes.AddFolderNode(0, "Empty");
    w.core->cocktails.Table()[2].ingredients = {Ingredient{0, 3, 1}, Ingredient{0, empty, 1}, Ingredient{0, 1, 1}};
    editor.ShowCocktailPage();
    page.Render();
    struct Row {
        bool on;
        std::array<bool, 3> says;
    };
    for (const Row& row : {Row{true, {false, true, false}}, Row{false, {false, false, false}}}) {
        if (box->isChecked() != row.on) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        EXPECT_EQ(w.core->autoMix.cocktailSubfolders, row.on);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(page.NoFilesLabels[k]->isVisible(), row.says[k]) << k << " " << row.on;
            EXPECT_EQ(page.NoFilesLabels[k]->text(), "holds no music files");
            EXPECT_EQ(page.NoFilesLabels[k]->geometry(), QRect(16 + 128 * static_cast<int>(k), 81, 105, 15));
        }
    }
    // The message lies on the glass: a right press on it opens the folder menu as the glass does.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    QTest::mousePress(page.NoFilesLabels[1], Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(menuOpenedAt.size(), 1u);
    EXPECT_EQ(w.core->cocktails.IngredientPick, 2);
}

TEST(CocktailPageInProgram, MainWindowsChoiceReloadsThePage) {
    const quendo::testing::TempDir program;
    Application app(program / "quendo");
    Core& c = app.core();
    for (int i = 0; i < CocktailTable::kCount; ++i) c.cocktails.Table()[i].name = "C" + std::to_string(i);
    c.cocktails.Table()[4].ingredients = {{{0, 0, 0}, {0, 0, 9}, {0, 0, 0}}};
    c.cocktails.FillCocktailLists();
    app.Form1().Render();
    TCocktailPage& page = app.CocktailPage();
    page.Render();

    app.Form1().ComboBox1->setCurrentIndex(4);
    EXPECT_EQ(page.ComboBox4->currentIndex(), 4);
    EXPECT_EQ(page.CSpinEdits[1]->value(), 9);
    EXPECT_TRUE(page.Pipes[1][0]->isVisibleTo(&page));
    EXPECT_FALSE(page.Pipes[0][0]->isVisibleTo(&page));

    // The parts change lands in the cocktail shown, and the renamed entry in the main window.
    page.CSpinEdits[0]->setValue(2);
    EXPECT_EQ(c.cocktails.Table()[4].ingredients[0].parts, 2);
    EXPECT_EQ(c.cocktails.Table()[0].ingredients[0].parts, 0);
    QTimer::singleShot(0, [&app] {
        auto* dialog = static_cast<TfrmNameMusCoc*>(app.Forms()[5]);
        dialog->Edit1->setText("Renamed");
        QTest::keyClick(dialog->Edit1, Qt::Key_Return);
    });
    page.Button1->click();
    EXPECT_EQ(app.Form1().ComboBox1->itemText(4), "Renamed");
    EXPECT_EQ(app.Form1().ComboBox1->currentIndex(), 4);
}

}  // namespace
