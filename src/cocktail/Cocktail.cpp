#include "app/Core.h"

// Placeholder until the generator lands.
namespace quendo {
void Core::MakeCocktail() {}
void Core::FillIngredientLists() {}
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
void Core::ComboBox1Change(int) {}
}  // namespace quendo
