#include <gtest/gtest.h>

#include "cocktail/RecipeEditor.h"
#include "support/Fakes.h"

namespace quendo::testing {
namespace {

using Labels = std::array<std::string, 3>;
using Flags = std::array<bool, 3>;
using Values = std::array<int, 3>;

// Folders A (1) with two files, B (2) with one, C (3) holding only D (4) with one file; the
// current cocktail is 0 and the page edits cocktail 3.
struct EditorWorld : FakeWorld {
    RecipeEditor& editor = core->recipeEditor;

    EditorWorld() {
        AddFile("A/a1.mp3", 61);
        AddFile("A/a2.mp3", 62);
        AddFile("B/b1.mp3", 71);
        AddFile("C/D/d1.mp3", 81);
        CocktailTable& t = table();
        t.RepeatLimit = 3;
        for (int i = 0; i < CocktailTable::kCount; ++i) t[i].name = "Cocktail" + std::to_string(i + 1);
        Recipe(0, 0, 1, 1, 2, 1, 4);
        Recipe(3, 3, 0, 5, 5, 2, 10);
        core->cocktails.FillCocktailLists();
        core->cocktails.FillIngredientLists();
        editor.ComboBox4Change(3);
    }
    CocktailTable& table() { return core->cocktails.Table(); }
    void Recipe(int cocktail, std::int32_t f1, int p1, std::int32_t f2, int p2, std::int32_t f3, int p3) {
        auto& in = table()[cocktail].ingredients;
        in[0].folder = f1, in[0].parts = p1;
        in[1].folder = f2, in[1].parts = p2;
        in[2].folder = f3, in[2].parts = p3;
    }
    Values Parts(int cocktail) {
        const auto& in = table()[cocktail].ingredients;
        return {in[0].parts, in[1].parts, in[2].parts};
    }
};

TEST(RecipeEditorPage, ShowsTheEditedCocktailNotTheCurrentOne) {
    EditorWorld w;
    EXPECT_EQ(w.editor.FolderLabels(), (Labels{"C", "", "B"}));  // folder 5 lies beyond the tree
    EXPECT_EQ(w.editor.CSpinEditValue, (Values{0, 5, 10}));
    EXPECT_EQ(w.editor.PipeShown, (Flags{false, true, true}));
    EXPECT_EQ(w.editor.KindItemIndex, (Values{0, 0, 0}));
    EXPECT_EQ(w.core->display.ComboBox1ItemIndex, 0);

    // A hand-edited file may hold parts the field cannot show; the field's value is stored back.
    w.table()[7].ingredients[0].parts = 15;
    w.table()[7].ingredients[1].parts = -2;
    w.editor.ComboBox4Change(7);
    EXPECT_EQ(w.editor.CSpinEditValue[0], 10);
    EXPECT_EQ(w.editor.CSpinEditValue[1], 0);
    EXPECT_EQ(w.Parts(7)[0], 10);
    EXPECT_EQ(w.Parts(7)[1], 0);

    // A list being cleared reports -1: the page keeps its cocktail.
    w.editor.ComboBox4Change(-1);
    w.editor.ComboBox4Change(16);
    EXPECT_EQ(w.editor.ComboBox4ItemIndex(), 7);
}

TEST(RecipeEditorPage, PartsStoreAtOnceAndOnlyTheirOwnPipeFollows) {
    EditorWorld w;
    w.editor.CSpinEdit2Change(0);
    EXPECT_EQ(w.editor.PipeShown, (Flags{false, false, true}));
    EXPECT_EQ(w.Parts(3), (Values{0, 0, 10}));
    w.editor.CSpinEdit2Change(1);
    EXPECT_EQ(w.editor.PipeShown, (Flags{false, true, true}));
    w.editor.CSpinEdit1Change(3);
    w.editor.CSpinEdit3Change(0);
    EXPECT_EQ(w.editor.PipeShown, (Flags{true, true, false}));
    EXPECT_EQ(w.Parts(3), (Values{3, 1, 0}));
    EXPECT_EQ(w.Parts(0), (Values{1, 2, 4}));  // the current cocktail is not the edited one

    // The generator's stretches assume 0..10, also while typed text waits for its correction.
    w.editor.CSpinEdit3Change(99);
    EXPECT_EQ(w.Parts(3)[2], 10);
    w.editor.CSpinEdit3Change(-4);
    EXPECT_EQ(w.Parts(3)[2], 0);
    EXPECT_FALSE(w.editor.PipeShown[2]);
}

TEST(RecipeEditorPick, OnlyARightPressOnAGlassStartsAPick) {
    EditorWorld w;
    EXPECT_FALSE(w.editor.GlassMouseDown(1, MouseButton::Left));
    EXPECT_FALSE(w.editor.GlassMouseDown(1, MouseButton::Middle));
    EXPECT_FALSE(w.editor.GlassMouseDown(0, MouseButton::Right));
    EXPECT_FALSE(w.editor.GlassMouseDown(4, MouseButton::Right));
    EXPECT_EQ(w.core->cocktails.IngredientPick, 0);
    EXPECT_TRUE(w.editor.GlassMouseDown(3, MouseButton::Right));
    EXPECT_TRUE(w.editor.GlassMouseDown(2, MouseButton::Right));  // another glass replaces the pick
    EXPECT_EQ(w.core->cocktails.IngredientPick, 2);
}

TEST(RecipeEditorPick, OtherCocktailKeepsTheGeneratorsListsTheCurrentOneRebuildsThem) {
    EditorWorld w;
    const std::vector<std::int32_t> before = w.core->cocktails.IngredientFiles(1);  // folder A
    ASSERT_EQ(before.size(), 2u);

    ASSERT_TRUE(w.editor.GlassMouseDown(2, MouseButton::Right));
    w.core->cocktails.PickIngredientFolder(4);  // D, as the folder menus pass it on
    EXPECT_EQ(w.table()[3].ingredients[1].folder, 4);
    EXPECT_EQ(w.editor.FolderLabels(), (Labels{"C", "D", "B"}));
    EXPECT_EQ(w.core->cocktails.IngredientFiles(1), before);
    EXPECT_EQ(w.core->cocktails.IngredientPick, 0);

    w.editor.ComboBox4Change(0);
    EXPECT_EQ(w.editor.FolderLabels(), (Labels{"", "A", "A"}));  // folder 0 is the music folder
    ASSERT_TRUE(w.editor.GlassMouseDown(2, MouseButton::Right));
    w.core->cocktails.PickIngredientFolder(2);
    EXPECT_EQ(w.core->cocktails.IngredientFiles(1), (std::vector<std::int32_t>{2}));
    EXPECT_EQ(w.editor.FolderLabels(), (Labels{"", "B", "A"}));
    // The next generation draws from the new folder.
    w.Recipe(0, 0, 0, 2, 1, 0, 0);
    w.core->cocktails.MakeCocktail();
    std::vector<std::int32_t> added = w.core->playlist.ListBox2();
    if (w.core->playlist.takenOffNodeId() != -1) added.insert(added.begin(), w.core->playlist.takenOffNodeId());
    EXPECT_EQ(added, (std::vector<std::int32_t>{2}));
}

TEST(RecipeEditorRename, EmptyNameInBothListsMainWindowKeepsItsSelection) {
    EditorWorld w;
    EXPECT_EQ(w.editor.RenameDialogText(), "Cocktail4");
    w.editor.RenameOk("");
    EXPECT_EQ(w.table()[3].name, "");
    EXPECT_EQ(w.core->editor.ComboBox4Items[3], "");
    EXPECT_EQ(w.core->display.ComboBox1Items[3], "");
    EXPECT_EQ(w.editor.ComboBox4ItemIndex(), 3);
    EXPECT_EQ(w.core->display.ComboBox1ItemIndex, 0);
    EXPECT_EQ(w.core->display.ComboBox1Items[2], "Cocktail3");
    EXPECT_EQ(w.core->display.ComboBox1Items.size(), 16u);

    // Exactly as typed: no trimming.
    w.editor.RenameOk("  Late  night ");
    EXPECT_EQ(w.table()[3].name, "  Late  night ");
    EXPECT_EQ(w.editor.RenameDialogText(), "  Late  night ");
}

TEST(RecipeEditorReload, MainWindowsChoiceReloadsTheWholePage) {
    EditorWorld w;
    w.Recipe(5, 2, 0, 4, 7, 0, 3);
    w.core->ComboBox1Change(5);
    EXPECT_EQ(w.editor.ComboBox4ItemIndex(), 5);
    EXPECT_EQ(w.editor.FolderLabels(), (Labels{"B", "D", ""}));
    EXPECT_EQ(w.editor.CSpinEditValue, (Values{0, 7, 3}));
    EXPECT_EQ(w.editor.PipeShown, (Flags{false, true, true}));

    // A parts change now goes into the cocktail the page shows, and nowhere else.
    w.editor.CSpinEdit1Change(6);
    EXPECT_EQ(w.Parts(5), (Values{6, 7, 3}));
    EXPECT_EQ(w.Parts(3), (Values{0, 5, 10}));
}

}  // namespace
}  // namespace quendo::testing
