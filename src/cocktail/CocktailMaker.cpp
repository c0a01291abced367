#include <algorithm>
#include <cstdint>

#include "cocktail/CocktailMaker.h"

namespace quendo {

CocktailMaker::CocktailMaker(NodeTable& nodes, CocktailPlaylist& playlist, Random& random, MainDisplay& display,
                             EditorDisplay& editor, CocktailMakerOwner& owner, AutoMixOptions& switches,
                             TrackAnalysis* analysis)
    : nodes_(nodes),
      playlist_(playlist),
      random_(random),
      display_(display),
      editor_(editor),
      owner_(owner),
      switches_(switches) {
    if (analysis) choice_.emplace(nodes_, *analysis, random_);
}

void CocktailMaker::MakeCocktail() {
    FollowSubfolders();
    for (std::int32_t j = 0; j < nodes_.FileCount(); ++j) nodes_.File(j).drawn = 0;

    // The counter is one byte wide: a limit it can never equal would draw for ever.
    std::uint8_t repeats = 0;
    const auto limit = static_cast<std::uint8_t>(std::clamp(table_.RepeatLimit, 0, 255));

    const int current = table_.CurrentCocktail;
    if (!IsCocktailIndex(current)) return;
    const Cocktail& cocktail = table_[current];
    // Parts come from a hand-editable file; out of range they would leave holes between stretches.
    std::array<int, 3> p{};
    for (std::size_t k = 0; k < 3; ++k) p[k] = std::clamp(cocktail.ingredients[k].parts, 0, kMaxParts);
    const int total = p[0] + p[1] + p[2];
    if (total == 0) return;

    // Draws on an empty list neither add nor count: with no list that can be drawn from,
    // nothing would ever end the loop.
    bool drawable = false;
    for (std::size_t k = 0; k < 3; ++k) drawable = drawable || (p[k] != 0 && !files_[k].empty());
    if (!drawable) return;

    const bool choosing = choice_ && (switches_.keepArtistsApart || switches_.chooseByKeyAndTempo);
    if (choosing) choice_->StartGeneration(switches_.keepArtistsApart, switches_.chooseByKeyAndTempo);

    while (repeats != limit) {
        const int e = random_.Below(total);
        // Stretches in ingredient order; one of 0 parts is empty and never chosen.
        const std::size_t k = e < p[0] ? 0 : e < p[0] + p[1] ? 1 : 2;

        const std::vector<std::int32_t>& list = files_[k];
        if (list.empty()) continue;
        const std::int32_t f = list[static_cast<std::size_t>(random_.Below(static_cast<std::int32_t>(list.size())))];
        if (!nodes_.IsFile(f) || nodes_.File(f).drawn) {
            ++repeats;
            continue;
        }
        // The file drawn stands for the draw: it alone makes a repeat, as it always did, so that the
        // generation's length and the ingredients' shares do not change. Only a file not drawn yet
        // may give way to another of its ingredient that fits better.
        std::int32_t chosen = f;
        if (choosing) {
            choice_->Heard(playlist_.FilesBeforeNextAdd(TrackChoice::kArtistsHeard));
            chosen = choice_->Choose(k, list, f);
            // Artist folders each of one artist: another artist is in another ingredient.
            if (switches_.keepArtistsApart && switches_.cocktailSubfolders) chosen = choice_->Across(files_, p, chosen);
        }
        nodes_.File(chosen).drawn = 1;
        playlist_.AddToPlaylist(chosen);
    }
}

void CocktailMaker::FillIngredientLists() {
    if (choice_) choice_->Forget();
    filesWithSubfolders_ = switches_.cocktailSubfolders;
    const int current = table_.CurrentCocktail;
    for (std::size_t k = 0; k < 3; ++k) {
        files_[k].clear();
        editor_.IngredientFolderLabels[k].clear();
        if (!IsCocktailIndex(current)) continue;
        // A folder index kept from a larger tree names no folder now: the ingredient stays empty.
        const std::int32_t folder = table_[current].ingredients[k].folder;
        if (!nodes_.IsFolder(folder)) continue;
        files_[k] = FilesOf(folder);
        editor_.IngredientFolderLabels[k] = nodes_.Folder(folder).name;
    }
}

void CocktailMaker::SetSubfolders(bool on) {
    switches_.cocktailSubfolders = on;
    FollowSubfolders();
}

void CocktailMaker::FollowSubfolders() {
    if (filesWithSubfolders_ == switches_.cocktailSubfolders) return;
    // Only the files: the labels may show the cocktail being edited, not the current one.
    filesWithSubfolders_ = switches_.cocktailSubfolders;
    const int current = table_.CurrentCocktail;
    for (std::size_t k = 0; k < 3; ++k)
        files_[k] = IsCocktailIndex(current) ? FilesOf(table_[current].ingredients[k].folder) : std::vector<std::int32_t>{};
}

std::vector<std::int32_t> CocktailMaker::FilesOf(std::int32_t folder) const {
    if (!nodes_.IsFolder(folder)) return {};
    return filesWithSubfolders_ ? nodes_.FilesUnder(folder) : nodes_.ChildFiles(folder);
}

bool CocktailMaker::FolderGivesFiles(std::int32_t folder) const {
    return nodes_.IsFolder(folder) && nodes_.HoldsFiles(folder, switches_.cocktailSubfolders);
}

void CocktailMaker::FillCocktailLists() {
    display_.ComboBox1Items.clear();
    editor_.ComboBox4Items.clear();
    for (const Cocktail& c : table_.cocktails) {
        display_.ComboBox1Items.push_back(c.name);
        editor_.ComboBox4Items.push_back(c.name);
    }
    display_.ComboBox1ItemIndex = table_.CurrentCocktail;
    editor_.ComboBox4ItemIndex = table_.CurrentCocktail;
}

void CocktailMaker::ComboBox1Change(int index) {
    // A list being cleared reports -1; that chooses no cocktail.
    if (!IsCocktailIndex(index)) return;
    editor_.ComboBox4ItemIndex = index;
    table_.CurrentCocktail = index;
    display_.ComboBox1ItemIndex = index;
    FillIngredientLists();
    owner_.CocktailChosen();
}

void CocktailMaker::PickIngredientFolder(std::int32_t folder) {
    const int k = IngredientPick;
    IngredientPick = 0;
    if (k < 1 || k > 3 || !nodes_.IsFolder(folder)) return;
    const int c = editor_.ComboBox4ItemIndex;
    if (!IsCocktailIndex(c)) return;
    table_[c].ingredients[static_cast<std::size_t>(k - 1)].folder = folder;
    editor_.IngredientFolderLabels[static_cast<std::size_t>(k - 1)] = nodes_.Folder(folder).name;
    if (display_.ComboBox1ItemIndex == c) FillIngredientLists();
}

}  // namespace quendo
