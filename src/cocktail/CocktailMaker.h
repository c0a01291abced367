#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "model/Display.h"
#include "model/CocktailTable.h"
#include "model/NodeTable.h"
#include "model/Platform.h"
#include "cocktail/CocktailPlaylist.h"

namespace quendo {

// What the cocktail maker needs of its owner: word that the main window's list chose a cocktail, so that the
// editor page can show it whole.
class CocktailMakerOwner {
public:
    virtual void CocktailChosen() = 0;

protected:
    ~CocktailMakerOwner() = default;
};

// The sixteen cocktails, the current one's ingredient file lists and the weighted draw.
class CocktailMaker {
public:
    CocktailMaker(NodeTable& nodes, CocktailPlaylist& playlist, Random& random, MainDisplay& display,
                  EditorDisplay& editor, CocktailMakerOwner& owner);

    CocktailTable& Table() { return table_; }
    const CocktailTable& Table() const { return table_; }
    // ListBox3..5: the files of the current cocktail's ingredient folders.
    const std::vector<std::int32_t>& IngredientFiles(int k) const { return files_[static_cast<std::size_t>(k)]; }

    void MakeCocktail();
    void FillIngredientLists();
    void FillCocktailLists();  // both cocktail lists from the table, CurrentCocktail selected
    void ComboBox1Change(int index);

    // The folder pick of the cocktail editor: ingredient 1..3 of the editor's cocktail, 0 for none.
    int IngredientPick = 0;
    void PickIngredientFolder(std::int32_t folder);

private:
    NodeTable& nodes_;
    CocktailPlaylist& playlist_;
    Random& random_;
    MainDisplay& display_;
    EditorDisplay& editor_;
    CocktailMakerOwner& owner_;
    CocktailTable table_;
    std::array<std::vector<std::int32_t>, 3> files_;
};

}  // namespace quendo
