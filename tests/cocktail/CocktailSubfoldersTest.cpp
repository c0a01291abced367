#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "library/AutoMixSettings.h"
#include "library/LibraryScan.h"
#include "support/Fakes.h"

namespace quendo::testing {
namespace {

// Music kept as Artist/Album/Track, scanned from disk: Alpha holds only albums, Beta a file of its
// own and a live album, Gamma an album of no music.
struct TreeWorld : FakeWorld {
    TempDir d;
    TreeWorld() {
        for (const char* f : {"Alpha/One/a1.mp3", "Alpha/One/a2.mp3", "Alpha/Two/a3.wma", "Alpha/Two/cover.jpg",
                              "Beta/b0.mp3", "Beta/Live/b1.wav", "Gamma/Empty/notes.txt"})
            d.WriteFile(f, "");
        core->nodes.MusicFolder = d.path() + "/";
        EXPECT_TRUE(ScanLibrary(d.path(), core->nodes));
        for (std::int32_t j = 0; j < core->nodes.FileCount(); ++j) probe.durations[core->nodes.FullPath(j)] = 60;
        core->cocktails.Table().RepeatLimit = 3;
    }
    std::int32_t FolderAt(const std::string& path) const {
        for (std::int32_t f = 1; f <= core->nodes.FolderCount(); ++f) {
            std::string p = core->nodes.Folder(f).name;
            for (std::int32_t up = core->nodes.Folder(f).parentFolder; up > 0; up = core->nodes.Folder(up).parentFolder)
                p = core->nodes.Folder(up).name + "/" + p;
            if (p == path) return f;
        }
        return -1;
    }
    std::set<std::string> Paths(const std::vector<std::int32_t>& files) const {
        std::set<std::string> paths;
        for (std::int32_t j : files) paths.insert(core->nodes.RelativePath(j));
        return paths;
    }
};

TEST(CocktailSubfolders, AnIngredientTakesTheMusicUnderItsFolderOnlyWithTheSwitchOn) {
    struct Row {
        bool on;
        const char* folder;
        std::set<std::string> files;
        bool saysNoFiles;  // "holds no music files" on its glass
    };
    const Row rows[] = {
        {true, "Alpha", {"Alpha/One/a1.mp3", "Alpha/One/a2.mp3", "Alpha/Two/a3.wma"}, false},
        {false, "Alpha", {}, false},  // the rule as it was, and a page as it was
        {true, "Beta", {"Beta/b0.mp3", "Beta/Live/b1.wav"}, false},
        {false, "Beta", {"Beta/b0.mp3"}, false},
        {true, "Alpha/Two", {"Alpha/Two/a3.wma"}, false},
        {true, "Gamma", {}, true},
        {false, "Gamma", {}, false},
    };
    for (const Row& row : rows) {
        TreeWorld w;
        const std::int32_t folder = w.FolderAt(row.folder);
        ASSERT_GT(folder, 0) << row.folder;
        w.core->cocktails.Table()[0].ingredients = {Ingredient{0, folder, 1}, Ingredient{0, 0, 0}, Ingredient{0, 0, 0}};
        // Filled under the other rule, then the page's box: the lists follow at once.
        w.core->autoMix.cocktailSubfolders = !row.on;
        w.core->cocktails.FillIngredientLists();
        w.core->recipeEditor.ComboBox4Change(0);
        w.core->recipeEditor.chkCocktailSubfoldersClick(row.on);
        EXPECT_EQ(w.core->autoMix.cocktailSubfolders, row.on);
        EXPECT_EQ(w.Paths(w.core->cocktails.IngredientFiles(0)), row.files) << row.folder << " " << row.on;
        EXPECT_EQ(w.core->recipeEditor.HoldsNoFiles(0), row.saysNoFiles) << row.folder << " " << row.on;
        // A glass with no folder at all gives nothing either.
        EXPECT_EQ(w.core->recipeEditor.HoldsNoFiles(1), row.on);

        w.core->cocktails.MakeCocktail();
        std::vector<std::int32_t> added = w.core->playlist.ListBox2();
        if (w.core->playlist.takenOffNodeId() != -1) added.push_back(w.core->playlist.takenOffNodeId());
        const std::set<std::string> drawn = w.Paths(added);
        EXPECT_TRUE(std::includes(row.files.begin(), row.files.end(), drawn.begin(), drawn.end())) << row.folder;
        EXPECT_EQ(drawn.empty(), row.files.empty()) << row.folder << " " << row.on;
    }

    // Kept in "automix.cfg" only when off, so that a file of defaults keeps its layout.
    AutoMixOptions o;
    EXPECT_EQ(FormatAutoMixSettings(o).find("cocktailSubfolders"), std::string::npos);
    o.cocktailSubfolders = false;
    EXPECT_FALSE(ParseAutoMixSettings(FormatAutoMixSettings(o)).cocktailSubfolders);
    EXPECT_TRUE(ParseAutoMixSettings("cocktailSubfolders=maybe\n").cocktailSubfolders);
    EXPECT_TRUE(ParseAutoMixSettings("").cocktailSubfolders);
}

// Three ingredients on three artists' folders, each of albums only, all tagged: with artists kept
// apart no artist follows itself, through cocktails made one after the other, where the plain draw
// gives the same one back to back; an ingredient of no parts still gives nothing, and the parts
// still rank the shares.
TEST(CocktailSubfolders, ArtistsApartLookAcrossTheIngredients) {
    struct Row {
        std::array<int, 3> parts;
        bool apart;
    };
    const Row rows[] = {{{1, 1, 1}, true}, {{1, 2, 3}, true}, {{2, 2, 0}, true}, {{1, 1, 1}, false}};
    for (const Row& row : rows) {
        FakeAnalysis analysis;
        FakeWorld w(&analysis);
        w.core->autoMix.cocktailSubfolders = true;
        w.core->autoMix.keepArtistsApart = row.apart;
        std::map<std::int32_t, int> artistOf;
        for (int a = 0; a < 3; ++a)
            for (int album = 0; album < 3; ++album)
                for (int t = 0; t < 10; ++t) {
                    const std::int32_t f = w.AddFile("Artist " + std::to_string(a) + "/Album " + std::to_string(album) +
                                                         "/t" + std::to_string(t) + ".mp3",
                                                     180);
                    const std::string full = w.core->nodes.FullPath(f);
                    analysis.known[full].tags.artist = "Artist " + std::to_string(a);
                    analysis.Analysed(full);
                    artistOf[f] = a;
                }
        auto& in = w.core->cocktails.Table()[0].ingredients;
        for (std::size_t k = 0; k < 3; ++k) in[k] = {0, w.core->nodes.ChildFolders(0)[k], row.parts[k]};
        w.core->cocktails.Table().RepeatLimit = 3;
        w.core->cocktails.FillIngredientLists();

        int adjacent = 0;
        std::array<int, 3> count{};
        for (std::uint32_t seed = 0; seed < 40; ++seed) {
            w.core->playlist.ClearPlaylist();
            w.random.Seed(seed);
            while (w.core->playlist.Count() < 30) w.core->cocktails.MakeCocktail();
            const std::vector<std::int32_t>& heard = w.core->playlist.ListBox2();
            for (std::size_t i = 0; i < heard.size(); ++i) {
                ++count[static_cast<std::size_t>(artistOf[heard[i]])];
                adjacent += i > 0 && artistOf[heard[i]] == artistOf[heard[i - 1]];
            }
        }
        const std::string what = std::to_string(row.parts[0]) + std::to_string(row.parts[1]) +
                                 std::to_string(row.parts[2]) + (row.apart ? " apart" : "");
        EXPECT_EQ(adjacent == 0, row.apart) << what << ": " << adjacent;
        for (std::size_t k = 0; k < 3; ++k) EXPECT_TRUE(row.parts[k] != 0 || count[k] == 0) << what;
        const bool ranked = row.parts[0] < row.parts[1] && row.parts[1] < row.parts[2];
        EXPECT_TRUE(!ranked || (count[0] < count[1] && count[1] < count[2])) << what;
    }
}

}  // namespace
}  // namespace quendo::testing
