#include "model/CocktailTable.h"

#include <algorithm>

namespace quendo {

void CocktailTable::SetFirstRunValues(std::int32_t folderCount) {
    for (int i = 0; i < kCount; ++i) {
        Cocktail& c = cocktails[static_cast<std::size_t>(i)];
        c.name = "MusicalCocktail" + std::to_string(i + 1);
        for (int k = 1; k <= 3; ++k) {
            Ingredient& in = c.ingredients[static_cast<std::size_t>(k - 1)];
            in.sourceKind = static_cast<int>(IngredientKind::Folder);
            in.folder = std::min<std::int32_t>(3 * i + k, folderCount);
            in.parts = 1;
        }
    }
    RepeatLimit = 3;
    CurrentCocktail = 0;
}

}  // namespace quendo
