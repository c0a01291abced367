#pragma once
#include <array>
#include <optional>
#include <cstdint>
#include <vector>

#include "model/AutoMixOptions.h"
#include "model/Display.h"
#include "model/CocktailTable.h"
#include "model/NodeTable.h"
#include "model/Platform.h"
#include "model/TrackFacts.h"
#include "cocktail/CocktailPlaylist.h"
#include "cocktail/TrackChoice.h"

namespace quendo {

// What the cocktail maker needs of its owner: word that the main window's list chose a cocktail, so that the
// editor page can show it whole.
class CocktailMakerOwner {
public:
    virtual void CocktailChosen() = 0;

protected:
    ~CocktailMakerOwner() = default;
};

// The sixteen cocktails, the current one's ingredient file lists and the weighted draw. With an
// analysis and the switches "Keep the same artist apart" or "Choose the next track by key and
// tempo", the file within the ingredient a draw picked may be another of the same ingredient
// (TrackChoice); the ingredients' draws, and so their shares, stay as they were.
class CocktailMaker {
public:
    // `analysis` may be null: the draw then goes by the parts alone, as with both switches off.
    CocktailMaker(NodeTable& nodes, CocktailPlaylist& playlist, Random& random, MainDisplay& display,
                  EditorDisplay& editor, CocktailMakerOwner& owner, AutoMixOptions& switches,
                  TrackAnalysis* analysis);

    CocktailTable& Table() { return table_; }
    const CocktailTable& Table() const { return table_; }
    // ListBox3..5: the files of the current cocktail's ingredient folders.
    const std::vector<std::int32_t>& IngredientFiles(int k) const { return files_[static_cast<std::size_t>(k)]; }

    void MakeCocktail();
    void FillIngredientLists();
    // "Cocktail folders include their subfolders"; the lists follow it at once, or at the next
    // generation when the switch was changed elsewhere (the settings read back).
    bool Subfolders() const { return switches_.cocktailSubfolders; }
    void SetSubfolders(bool on);
    void FollowSubfolders();
    // Whether an ingredient on this folder would draw from any file, by the switch as it is now.
    bool FolderGivesFiles(std::int32_t folder) const;
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
    AutoMixOptions& switches_;  // the cocktail page sets "Cocktail folders include their subfolders"
    std::optional<TrackChoice> choice_;  // with an analysis only
    CocktailTable table_;
    std::array<std::vector<std::int32_t>, 3> files_;
    bool filesWithSubfolders_ = false;  // the switch as the lists were filled
    std::vector<std::int32_t> FilesOf(std::int32_t folder) const;  // by filesWithSubfolders_
};

}  // namespace quendo
