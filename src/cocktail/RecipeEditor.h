#pragma once
#include <array>
#include <string>
#include <vector>

#include "model/Display.h"
#include "cocktail/CocktailMaker.h"
#include "model/CocktailTable.h"
#include "model/NodeTable.h"

namespace quendo {

enum class MouseButton { Left, Right, Middle };

// The cocktails' recipes as the "Musical cocktail" page (TCocktailPage) and its rename dialog edit
// them, free of widgets. The page edits the cocktail that ComboBox4 selects and writes every
// change into the table at once.
// The folder labels and ComboBox4 live in EditorDisplay, which the generator also sets.
class RecipeEditor {
public:
    static constexpr std::array<const char*, 6> kKindCaptions = {"Folder :", "Album :", "Artist :",
                                                                 "Comment :", "Genre :", "Year :"};

    RecipeEditor(CocktailMaker& cocktails, const NodeTable& nodes, EditorDisplay& editor, MainDisplay& display);

    // ---- display state, indexed by ingredient 0..2 ----
    std::array<int, 3> KindItemIndex{};  // ComboBox1..3, disabled
    std::array<int, 3> CSpinEditValue{};  // CSpinEdit1..3
    // Ingredient 1: Shape14, Shape16, Shape15; ingredient 2: Shape13; ingredient 3: Shape17,
    // Shape19, Shape18. An ingredient's pieces show and hide together.
    std::array<bool, 3> PipeShown{};
    const std::array<std::string, 3>& FolderLabels() const { return editor_.IngredientFolderLabels; }
    const std::vector<std::string>& ComboBox4Items() const { return editor_.ComboBox4Items; }
    int ComboBox4ItemIndex() const { return editor_.ComboBox4ItemIndex; }
    // "Cocktail folders include their subfolders", and with it on, whether glass k's folder
    // gives no file ("holds no music files").
    bool SubfoldersChecked() const { return cocktails_.Subfolders(); }
    bool HoldsNoFiles(std::size_t k) const;

    // ---- handlers ----
    // Loads the page from the edited cocktail: when the form is shown, when ComboBox4 or the
    // main window's list chooses another cocktail.
    void ShowCocktailPage();
    void ShowPipes();
    void CSpinEdit1Change(int value) { PartsChange(0, value); }
    void CSpinEdit2Change(int value) { PartsChange(1, value); }
    void CSpinEdit3Change(int value) { PartsChange(2, value); }
    void ComboBox4Change(int index);
    // A press on a reacting piece of glass 1..3. True when the root folder menu is to open, with
    // IngredientPick set to the glass.
    bool GlassMouseDown(int glass, MouseButton button);
    void chkCocktailSubfoldersClick(bool on);

    // ---- rename dialog ----
    std::string RenameDialogText() const;  // the edit field's text when the dialog shows
    void RenameOk(const std::string& text);

private:
    void PartsChange(std::size_t k, int value);
    Cocktail* Edited();
    const Cocktail* Edited() const;

    CocktailMaker& cocktails_;
    const NodeTable& nodes_;
    EditorDisplay& editor_;
    MainDisplay& display_;
};

}  // namespace quendo
