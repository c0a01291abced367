#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace quendo {

enum class IngredientKind : int { Folder = 0, Album = 1, Artist = 2, Comment = 3, Genre = 4, Year = 5 };

// The most parts an ingredient takes in a cocktail.
inline constexpr int kMaxParts = 10;

struct Ingredient {
    int sourceKind = static_cast<int>(IngredientKind::Folder);
    std::int32_t folder = 0;  // folder index; outside 1..FolderCount the ingredient is empty
    int parts = 0;            // 0..kMaxParts
};

struct Cocktail {
    std::string name;
    std::array<Ingredient, 3> ingredients{};
};

struct CocktailTable {
    static constexpr int kCount = 16;
    std::array<Cocktail, kCount> cocktails{};
    int CurrentCocktail = 0;  // 0..15
    int RepeatLimit = 0;      // 0..255

    Cocktail& operator[](int i) { return cocktails[static_cast<std::size_t>(i)]; }
    const Cocktail& operator[](int i) const { return cocktails[static_cast<std::size_t>(i)]; }

    // The first-run values: MusicalCocktail1..16, folders 3i+k held at folderCount, 1 part each.
    void SetFirstRunValues(std::int32_t folderCount);
};

// Whether i names one of the table's cocktails (a list being cleared reports -1).
constexpr bool IsCocktailIndex(int i) { return i >= 0 && i < CocktailTable::kCount; }

}  // namespace quendo
