#include <algorithm>
#include <cstdint>

#include "app/Core.h"

namespace quendo {

namespace {
constexpr int kMaxParts = 10;

bool IsCocktailIndex(int i) { return i >= 0 && i < CocktailTable::kCount; }
}  // namespace

void Core::MakeCocktail() {
    for (std::int32_t j = 0; j < nodes.FileCount(); ++j) nodes.File(j).drawn = 0;

    // The counter is one byte wide: a limit it can never equal would draw for ever.
    std::uint8_t repeats = 0;
    const auto limit = static_cast<std::uint8_t>(std::clamp(cocktailTable.RepeatLimit, 0, 255));

    const int current = cocktailTable.CurrentCocktail;
    if (!IsCocktailIndex(current)) return;
    const Cocktail& cocktail = cocktailTable[current];
    // Parts come from a hand-editable file; out of range they would leave holes between stretches.
    int p[3];
    for (std::size_t k = 0; k < 3; ++k) p[k] = std::clamp(cocktail.ingredients[k].parts, 0, kMaxParts);
    const int total = p[0] + p[1] + p[2];
    if (total == 0) return;

    // Draws on an empty list neither add nor count: with no list that can be drawn from,
    // nothing would ever end the loop.
    bool drawable = false;
    for (std::size_t k = 0; k < 3; ++k) drawable = drawable || (p[k] != 0 && !IngredientFiles[k].empty());
    if (!drawable) return;

    while (repeats != limit) {
        const int e = platform.random.Below(total);
        // Stretches in ingredient order; one of 0 parts is empty and never chosen.
        const std::size_t k = e < p[0] ? 0 : e < p[0] + p[1] ? 1 : 2;

        const std::vector<std::int32_t>& list = IngredientFiles[k];
        if (list.empty()) continue;
        const std::int32_t f = list[static_cast<std::size_t>(platform.random.Below(static_cast<std::int32_t>(list.size())))];
        if (!nodes.IsFile(f) || nodes.File(f).drawn) {
            ++repeats;
            continue;
        }
        nodes.File(f).drawn = 1;
        AddToPlaylist(f);
    }
}

void Core::FillIngredientLists() {
    const int current = cocktailTable.CurrentCocktail;
    for (std::size_t k = 0; k < 3; ++k) {
        IngredientFiles[k].clear();
        editor.IngredientFolderLabels[k].clear();
        if (!IsCocktailIndex(current)) continue;
        // A folder index kept from a larger tree names no folder now: the ingredient stays empty.
        const std::int32_t folder = cocktailTable[current].ingredients[k].folder;
        if (!nodes.IsFolder(folder)) continue;
        IngredientFiles[k] = nodes.ChildFiles(folder);
        editor.IngredientFolderLabels[k] = nodes.Folder(folder).name;
    }
}

void Core::FillCocktailLists() {
    display.ComboBox1Items.clear();
    editor.ComboBox4Items.clear();
    for (const Cocktail& c : cocktailTable.cocktails) {
        display.ComboBox1Items.push_back(c.name);
        editor.ComboBox4Items.push_back(c.name);
    }
    display.ComboBox1ItemIndex = cocktailTable.CurrentCocktail;
    editor.ComboBox4ItemIndex = cocktailTable.CurrentCocktail;
}

void Core::ComboBox1Change(int index) {
    // A list being cleared reports -1; that chooses no cocktail.
    if (!IsCocktailIndex(index)) return;
    editor.ComboBox4ItemIndex = index;
    cocktailTable.CurrentCocktail = index;
    display.ComboBox1ItemIndex = index;
    FillIngredientLists();
}

}  // namespace quendo
