#include "cocktail/RecipeEditor.h"

#include <algorithm>

namespace quendo {

namespace {
void ReplaceItem(std::vector<std::string>& items, int index, const std::string& text) {
    if (index >= 0 && static_cast<std::size_t>(index) < items.size()) items[static_cast<std::size_t>(index)] = text;
}
}  // namespace

RecipeEditor::RecipeEditor(CocktailMaker& cocktails, const NodeTable& nodes, EditorDisplay& editor,
                               MainDisplay& display)
    : cocktails_(cocktails), nodes_(nodes), editor_(editor), display_(display) {}

Cocktail* RecipeEditor::Edited() {
    const int c = editor_.ComboBox4ItemIndex;
    return IsCocktailIndex(c) ? &cocktails_.Table()[c] : nullptr;
}

const Cocktail* RecipeEditor::Edited() const {
    const int c = editor_.ComboBox4ItemIndex;
    return IsCocktailIndex(c) ? &cocktails_.Table()[c] : nullptr;
}

void RecipeEditor::ShowCocktailPage() {
    KindItemIndex.fill(static_cast<int>(IngredientKind::Folder));
    Cocktail* c = Edited();
    for (std::size_t k = 0; k < 3; ++k) {
        editor_.IngredientFolderLabels[k].clear();
        CSpinEditValue[k] = 0;
        if (!c) continue;
        Ingredient& in = c->ingredients[k];
        // A folder index kept from a larger tree names no folder now.
        if (nodes_.IsFolder(in.folder)) editor_.IngredientFolderLabels[k] = nodes_.Folder(in.folder).name;
        // The field holds only 0..10, and setting it stores its value back.
        CSpinEditValue[k] = std::clamp(in.parts, 0, kMaxParts);
        in.parts = CSpinEditValue[k];
    }
    ShowPipes();
}

void RecipeEditor::ShowPipes() {
    for (std::size_t k = 0; k < 3; ++k) PipeShown[k] = CSpinEditValue[k] != 0;
}

void RecipeEditor::PartsChange(std::size_t k, int value) {
    // The generator's stretches assume 0..10, even while a typed value waits to be corrected.
    CSpinEditValue[k] = std::clamp(value, 0, kMaxParts);
    if (Cocktail* c = Edited()) c->ingredients[k].parts = CSpinEditValue[k];
    ShowPipes();
}

void RecipeEditor::ComboBox4Change(int index) {
    // A list being cleared reports -1; that chooses no cocktail.
    if (!IsCocktailIndex(index)) return;
    editor_.ComboBox4ItemIndex = index;
    ShowCocktailPage();
}

bool RecipeEditor::GlassMouseDown(int glass, MouseButton button) {
    if (button != MouseButton::Right || glass < 1 || glass > 3) return false;
    cocktails_.IngredientPick = glass;
    return true;
}

bool RecipeEditor::HoldsNoFiles(std::size_t k) const {
    const Cocktail* c = Edited();
    return cocktails_.Subfolders() && c && k < 3 && !cocktails_.FolderGivesFiles(c->ingredients[k].folder);
}

void RecipeEditor::chkCocktailSubfoldersClick(bool on) {
    cocktails_.SetSubfolders(on);
}

std::string RecipeEditor::RenameDialogText() const {
    const Cocktail* c = Edited();
    return c ? c->name : std::string();
}

void RecipeEditor::RenameOk(const std::string& text) {
    const int remembered = display_.ComboBox1ItemIndex;
    Cocktail* c = Edited();
    if (!c) return;
    const int index = editor_.ComboBox4ItemIndex;
    c->name = text;
    ReplaceItem(editor_.ComboBox4Items, index, text);
    editor_.ComboBox4ItemIndex = index;
    ReplaceItem(display_.ComboBox1Items, index, text);
    display_.ComboBox1ItemIndex = remembered;
}

}  // namespace quendo
