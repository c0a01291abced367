#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "model/Display.h"
#include "app/Playlist.h"
#include "model/CocktailTable.h"
#include "model/NodeTable.h"
#include "model/Platform.h"

namespace quendo {

// The sixteen cocktails, the current one's ingredient file lists and the weighted draw.
class CocktailMaker {
public:
    CocktailMaker(NodeTable& nodes, Playlist& playlist, Random& random, MainDisplay& display,
                  EditorDisplay& editor);

    CocktailTable& Table() { return table_; }
    const CocktailTable& Table() const { return table_; }
    // ListBox3..5: the files of the current cocktail's ingredient folders.
    const std::vector<std::int32_t>& IngredientFiles(int k) const { return files_[static_cast<std::size_t>(k)]; }

    void MakeCocktail();
    void FillIngredientLists();
    void FillCocktailLists();  // both cocktail lists from the table, CurrentCocktail selected
    void ComboBox1Change(int index);
    // Runs after the main window's list has chosen a cocktail, so that the editor page can show it.
    std::function<void()> CocktailChosen;

    // The folder pick of the cocktail editor: ingredient 1..3 of the editor's cocktail, 0 for none.
    int IngredientPick = 0;
    void PickIngredientFolder(std::int32_t folder);

private:
    NodeTable& nodes_;
    Playlist& playlist_;
    Random& random_;
    MainDisplay& display_;
    EditorDisplay& editor_;
    CocktailTable table_;
    std::array<std::vector<std::int32_t>, 3> files_;
};

}  // namespace quendo
