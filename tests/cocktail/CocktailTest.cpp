#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>

#include "cocktail/TrackChoice.h"
#include "support/Fakes.h"

namespace quendo::testing {
namespace {

// A world with folder A (1) of two files, B (2) of three, C (3) holding only D (4) with one file.
struct CocktailWorld : FakeWorld {
    CocktailWorld() {
        AddFile("A/a1.mp3", 61);
        AddFile("A/a2.mp3", 62);
        AddFile("B/b1.mp3", 71);
        AddFile("C/D/d1.mp3", 81);
        AddFile("B/b2.mp3", 72);
        AddFile("B/b3.mp3", 73);
        core->cocktails.Table().RepeatLimit = 3;
        core->autoMix.cocktailSubfolders = false;  // a folder's own files only
    }
    void Recipe(std::int32_t f1, int p1, std::int32_t f2, int p2, std::int32_t f3, int p3, int cocktail = 0) {
        auto& in = core->cocktails.Table()[cocktail].ingredients;
        in[0].folder = f1, in[0].parts = p1;
        in[1].folder = f2, in[1].parts = p2;
        in[2].folder = f3, in[2].parts = p3;
    }
    // Everything the generation handed on, also a head entry the deck engine took off to play.
    std::vector<std::int32_t> Added() const {
        std::vector<std::int32_t> files;
        if (core->playlist.takenOffNodeId() != -1) files.push_back(core->playlist.takenOffNodeId());
        files.insert(files.end(), core->playlist.ListBox2().begin(), core->playlist.ListBox2().end());
        return files;
    }
    std::int32_t FolderOf(std::int32_t file) const { return core->nodes.File(file).parentFolder; }
};

TEST(CocktailLists, HoldFilesLyingDirectlyInEachFolderInIndexOrder) {
    CocktailWorld w;
    w.Recipe(2, 1, 3, 1, 1, 1);
    w.core->cocktails.FillIngredientLists();
    EXPECT_EQ(w.core->cocktails.IngredientFiles(0), (std::vector<std::int32_t>{2, 4, 5}));
    EXPECT_TRUE(w.core->cocktails.IngredientFiles(1).empty());  // C holds only a subfolder
    EXPECT_EQ(w.core->cocktails.IngredientFiles(2), (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(w.core->editor.IngredientFolderLabels, (std::array<std::string, 3>{"B", "C", "A"}));
}

TEST(CocktailLists, FolderIndexOutsideTheTreeGivesAnEmptyIngredient) {
    CocktailWorld w;
    w.Recipe(0, 1, 5, 1, 64000, 1);  // the music folder itself, one past FolderCount, far beyond
    w.core->cocktails.FillIngredientLists();
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(w.core->cocktails.IngredientFiles(k).empty()) << k;
        EXPECT_EQ(w.core->editor.IngredientFolderLabels[k], "") << k;
    }
    w.core->cocktails.MakeCocktail();
    EXPECT_TRUE(w.Added().empty());
}

TEST(CocktailLists, ChoosingACocktailSelectsItEverywhereAndRebuildsTheLists) {
    CocktailWorld w;
    w.Recipe(1, 1, 1, 1, 1, 1, 0);
    w.Recipe(4, 1, 2, 1, 3, 1, 5);
    w.core->cocktails.FillIngredientLists();
    w.core->ComboBox1Change(5);
    EXPECT_EQ(w.core->cocktails.Table().CurrentCocktail, 5);
    EXPECT_EQ(w.core->display.ComboBox1ItemIndex, 5);
    EXPECT_EQ(w.core->editor.ComboBox4ItemIndex, 5);
    EXPECT_EQ(w.core->cocktails.IngredientFiles(0), (std::vector<std::int32_t>{3}));
    EXPECT_EQ(w.core->cocktails.IngredientFiles(1), (std::vector<std::int32_t>{2, 4, 5}));
    EXPECT_EQ(w.core->editor.IngredientFolderLabels, (std::array<std::string, 3>{"D", "B", "C"}));

    // A cleared list reports -1; nothing may change.
    for (int bad : {-1, 16}) {
        w.core->ComboBox1Change(bad);
        EXPECT_EQ(w.core->cocktails.Table().CurrentCocktail, 5);
        EXPECT_EQ(w.core->editor.ComboBox4ItemIndex, 5);
        EXPECT_EQ(w.core->cocktails.IngredientFiles(0), (std::vector<std::int32_t>{3}));
    }
}

TEST(MakeCocktail, NoPartsOrNoDrawableListLeavesEverythingAlone) {
    struct Case {
        std::int32_t f1; int p1; std::int32_t f2; int p2;
    };
    // Parts 0,0,0; a subfolder-only folder; files only in an ingredient of 0 parts.
    for (Case c : {Case{1, 0, 2, 0}, Case{3, 1, 3, 0}, Case{3, 2, 1, 0}}) {
        CocktailWorld w;
        w.core->playlist.AddToPlaylist(0);
        w.probe.calls.clear();
        w.Recipe(c.f1, c.p1, c.f2, c.p2, 2, 0);
        w.core->cocktails.FillIngredientLists();
        w.core->cocktails.MakeCocktail();
        EXPECT_EQ(w.Added(), (std::vector<std::int32_t>{0})) << c.f1 << " " << c.p1;
        EXPECT_TRUE(w.probe.calls.empty());
    }
}

// Each draw of a one-part, one-file recipe takes two values: random(total), then the position.
TEST(MakeCocktail, StopsAtTheDrawThatMakesTheRepeatLimit) {
    for (int limit : {0, 1, 3}) {
        for (double seconds : {200.0, 0.0}) {  // a file that measures 0 is drawn but declined
            FakeWorld w;
            w.AddFile("A/only.mp3", seconds);
            w.core->cocktails.Table().RepeatLimit = limit;
            w.core->cocktails.Table()[0].ingredients[0] = {0, 1, 1};
            w.core->cocktails.FillIngredientLists();
            w.random.Seed(99);
            w.core->cocktails.MakeCocktail();

            StdRandom expected;
            expected.Seed(99);
            const int draws = limit == 0 ? 0 : limit + 1;
            for (int i = 0; i < 2 * draws; ++i) expected.Next();
            EXPECT_EQ(w.random.Next(), expected.Next()) << limit << " " << seconds;
            EXPECT_EQ(w.probe.openedCount, limit == 0 ? 0 : 1);
            const bool added = limit != 0 && seconds > 0;
            EXPECT_EQ(w.core->playlist.Count() + (w.core->playlist.takenOffNodeId() != -1), added ? 1 : 0);
        }
    }
}

TEST(MakeCocktail, DrawsOnlyFromIngredientsWithParts) {
    CocktailWorld w;
    w.Recipe(1, 0, 2, 2, 3, 0);  // A has files but no parts; C only a subfolder
    w.core->cocktails.FillIngredientLists();
    for (std::uint32_t seed : {1u, 2u, 3u, 4u, 5u}) {
        w.core->playlist.ClearPlaylist();
        w.random.Seed(seed);
        w.core->cocktails.MakeCocktail();
        const std::vector<std::int32_t> added = w.Added();
        ASSERT_FALSE(added.empty());
        for (std::int32_t f : added) EXPECT_EQ(w.FolderOf(f), 2) << f;
        EXPECT_EQ(std::set<std::int32_t>(added.begin(), added.end()).size(), added.size());
    }
    // The parts are read afresh at every generation; the lists need no rebuild.
    w.core->cocktails.Table()[0].ingredients[0].parts = 3;
    w.core->cocktails.Table()[0].ingredients[1].parts = 0;
    w.core->playlist.ClearPlaylist();
    w.core->cocktails.MakeCocktail();
    for (std::int32_t f : w.Added()) EXPECT_EQ(w.FolderOf(f), 1) << f;
}

TEST(MakeCocktail, IngredientsOnOneFolderShareItsDrawnMarks) {
    CocktailWorld w;
    w.Recipe(4, 1, 4, 1, 4, 1);  // D: one file
    w.core->cocktails.FillIngredientLists();
    for (std::uint32_t seed : {7u, 8u, 9u}) {
        w.core->playlist.ClearPlaylist();
        w.random.Seed(seed);
        w.core->cocktails.MakeCocktail();
        EXPECT_EQ(w.Added(), (std::vector<std::int32_t>{3}));
    }
}

TEST(MakeCocktail, InsertsAtTheSelectionWhileEntriesAreSelected) {
    CocktailWorld w;
    w.core->playlist.AddToPlaylist(0);
    w.core->playlist.AddToPlaylist(1);
    w.core->playlist.SetSelected(1, true);
    const std::string total = w.core->display.StaticText1;
    w.Recipe(2, 1, 0, 0, 0, 0);
    w.core->cocktails.FillIngredientLists();
    w.core->cocktails.MakeCocktail();

    const Playlist& pl = w.core->playlist;
    ASSERT_GT(pl.Count(), 2);
    EXPECT_EQ(pl.ListBox2().front(), 0);
    EXPECT_EQ(pl.ListBox2().back(), 1);
    EXPECT_TRUE(pl.Selected(pl.Count() - 1));
    for (int i = 1; i + 1 < pl.Count(); ++i) {
        EXPECT_EQ(w.FolderOf(pl.ListBox2()[static_cast<std::size_t>(i)]), 2);
        EXPECT_NE(pl.ListBox1()[static_cast<std::size_t>(i)].find("= b"), std::string::npos) << pl.ListBox1()[i];
    }
    EXPECT_EQ(w.core->display.StaticText1, total);
}

// Hand-edited files can hold any numbers; they must neither hang the generator nor let an
// ingredient of no parts be drawn.
TEST(MakeCocktail, HoldsPartsAndRepeatLimitInRange) {
    CocktailWorld w;
    w.Recipe(1, -3, 2, 1, 4, 0);
    w.core->cocktails.Table().RepeatLimit = 1000;
    w.core->cocktails.FillIngredientLists();
    w.core->cocktails.MakeCocktail();
    const std::vector<std::int32_t> added = w.Added();
    EXPECT_EQ(added.size(), 3u);  // 255 repeats leave no file of B undrawn
    for (std::int32_t f : added) EXPECT_EQ(w.FolderOf(f), 2);

    w.core->cocktails.Table().RepeatLimit = -1;
    w.core->playlist.ClearPlaylist();
    w.core->cocktails.MakeCocktail();
    EXPECT_TRUE(w.Added().empty());
}

// Folder sizes in proportion to the parts make every file equally likely per draw, so the
// files added from each ingredient follow its parts whatever the repeats cut off.
TEST(MakeCocktail, ShareOfEachIngredientFollowsItsParts) {
    FakeWorld w;
    const int parts[3] = {1, 2, 3};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 40 * parts[k]; ++i)
            w.AddFile("F" + std::to_string(k + 1) + "/t" + std::to_string(i) + ".mp3", 180);
    auto& in = w.core->cocktails.Table()[0].ingredients;
    for (int k = 0; k < 3; ++k) in[static_cast<std::size_t>(k)] = {0, k + 1, parts[k]};
    w.core->cocktails.Table().RepeatLimit = 3;
    w.core->cocktails.FillIngredientLists();
    w.random.Seed(2026);

    double count[3] = {0, 0, 0};
    double n = 0;
    for (int g = 0; g < 400; ++g) {
        w.core->playlist.ClearPlaylist();
        w.core->playlist.SetTakenOff(-1);
        w.core->cocktails.MakeCocktail();
        for (std::int32_t f : w.core->playlist.ListBox2()) count[w.core->nodes.File(f).parentFolder - 1] += 1;
        n += w.core->playlist.Count();
    }
    ASSERT_GT(n, 5000);
    for (int k = 0; k < 3; ++k) {
        // Five binomial standard deviations; draws without replacement vary less than that.
        const double p = parts[k] / 6.0;
        EXPECT_NEAR(count[k] / n, p, 5 * std::sqrt(p * (1 - p) / n)) << k;
    }
}

// What one generation put on, with `playing` as the track playing: that track, then the entries.
std::vector<std::int32_t> Generate(FakeWorld& w, std::uint32_t seed, std::int32_t playing) {
    w.core->playlist.ClearPlaylist();
    w.core->playlist.SetTakenOff(playing);
    w.random.Seed(seed);
    w.core->cocktails.MakeCocktail();
    std::vector<std::int32_t> heard{playing};
    heard.insert(heard.end(), w.core->playlist.ListBox2().begin(), w.core->playlist.ListBox2().end());
    return heard;
}

// A world whose analysis knows the facts of the files added through it; `listening` false, a
// world without an analysis.
struct KnownWorld {
    FakeAnalysis analysis;
    FakeWorld w;
    explicit KnownWorld(bool listening = true) : w(listening ? &analysis : nullptr) {}
    std::int32_t Add(const std::string& path, const std::string& artist, int key = kNoKey, double bpm = 0) {
        const std::int32_t f = w.AddFile(path, 180);
        const std::string full = w.core->nodes.FullPath(f);
        analysis.known[full].tags.artist = artist;
        analysis.known[full].key = key;
        analysis.known[full].beats = {bpm, 0, bpm > 0 ? 60 / bpm : 0, 0};
        analysis.Analysed(full);
        return f;
    }
    void Recipe(const std::array<int, 3>& parts) {
        auto& in = w.core->cocktails.Table()[0].ingredients;
        for (std::size_t k = 0; k < 3; ++k) in[k] = {0, static_cast<std::int32_t>(k + 1), parts[k]};
        w.core->cocktails.Table().RepeatLimit = 3;
        w.core->cocktails.FillIngredientLists();
    }
};

// The tracks heard before an added file: those listed before where it goes, then the one playing.
TEST(MakeCocktail, HearsTheTracksBeforeThePlaceBeingFilled) {
    CocktailWorld w;
    Playlist& pl = w.core->playlist;
    for (std::int32_t f : {0, 1, 2}) pl.AddToPlaylist(f);
    pl.SetTakenOff(5);
    EXPECT_EQ(pl.FilesBeforeNextAdd(5), (std::vector<std::int32_t>{2, 1, 0, 5}));
    EXPECT_EQ(pl.FilesBeforeNextAdd(2), (std::vector<std::int32_t>{2, 1}));
    pl.SetSelected(2, true);
    EXPECT_EQ(pl.FilesBeforeNextAdd(5), (std::vector<std::int32_t>{1, 0, 5}));
}

// Ingredients of parts 1, 2, 3 on folders of 40, 80 and 120 files by eight artists each, a tenth
// of them untagged (which count as their folder's). The draw keeps an artist out of the five
// tracks before, the one playing included, where today's draw repeats artists; the shares stay.
TEST(MakeCocktail, KeepsArtistsApartWithoutMovingTheShares) {
    const std::array<int, 3> parts = {1, 2, 3};
    KnownWorld on, off, unknown, blind(false);
    std::map<std::int32_t, std::string> artist;  // as the draw should tell them apart
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 40 * parts[static_cast<std::size_t>(k)]; ++i) {
            const std::string path = "F" + std::to_string(k + 1) + "/t" + std::to_string(i) + ".mp3";
            const std::string name = std::to_string(k) + "-" + std::to_string(i % 8);
            // Names in two spellings of case, which count as one artist.
            const std::string tag = i % 10 == 9 ? "" : (i % 2 ? "ARTIST " : "Artist ") + name;
            artist[on.Add(path, tag)] = tag.empty() ? "folder " + std::to_string(k) : name;
            off.Add(path, tag);
            unknown.w.AddFile(path, 180);  // facts not known yet
            blind.w.AddFile(path, 180);
        }
    for (KnownWorld* kw : {&on, &off, &unknown, &blind}) kw->Recipe(parts);
    off.w.core->autoMix.keepArtistsApart = false;
    unknown.w.core->autoMix.chooseByKeyAndTempo = true;

    // The tracks whose artist is among the five before.
    auto repeats = [&](const std::vector<std::int32_t>& h) {
        int n = 0;
        for (auto i = h.begin() + 1; i < h.end(); ++i)
            n += std::any_of(i - std::min(i - h.begin(), 5L), i, [&](std::int32_t f) { return artist[f] == artist[*i]; });
        return n;
    };
    double count[3] = {0, 0, 0}, n = 0;
    int repeatsOn = 0, repeatsOff = 0;
    for (std::uint32_t g = 0; g < 300; ++g) {
        const std::vector<std::int32_t> a = Generate(on.w, g, 0), b = Generate(off.w, g, 0);
        repeatsOn += repeats(a);
        repeatsOff += repeats(b);
        for (std::size_t i = 1; i < a.size(); ++i) count[on.w.core->nodes.File(a[i]).parentFolder - 1] += 1, n += 1;
        // Switched off, or with facts not known yet (which are not waited for), the draw is the one
        // made without any analysis.
        if (g < 20) {
            const std::vector<std::int32_t> plain = Generate(blind.w, g, 0);
            EXPECT_EQ(b, plain) << g;
            EXPECT_EQ(Generate(unknown.w, g, 0), plain) << g;
        }
    }
    EXPECT_EQ(repeatsOn, 0);
    EXPECT_GT(repeatsOff, 300);
    ASSERT_GT(n, 5000);
    for (std::size_t k = 0; k < 3; ++k) {
        const double p = parts[k] / 6.0;
        EXPECT_NEAR(count[k] / n, p, 5 * std::sqrt(p * (1 - p) / n)) << k;
    }
}

TEST(MakeCocktail, PrefersAKeyAndATempoThatFitTheTrackBefore) {
    // Relative keys, fifths and folded tempi; the parallel minor, a tone apart and 6.7 % do not fit.
    EXPECT_TRUE(KeysFit(0, 0) && KeysFit(0, 7) && KeysFit(0, 5) && KeysFit(0, 21) && KeysFit(21, 0));
    EXPECT_TRUE(KeysFit(12, 19) && KeysFit(12, 17) && KeysFit(12, 3) && KeysFit(11, 20) && KeysFit(23, 2));
    EXPECT_FALSE(KeysFit(0, 12) || KeysFit(0, 2) || KeysFit(0, 9) || KeysFit(12, 21) || KeysFit(0, kNoKey) ||
                 KeysFit(24, 0));
    EXPECT_TRUE(TemposFit(120, 126) && TemposFit(120, 61) && TemposFit(70, 147) && TemposFit(128, 64));
    EXPECT_FALSE(TemposFit(120, 128) || TemposFit(120, 0) || TemposFit(120, 360) || TemposFit(0, 0));

    // One folder of 96 files by one artist, keys and tempi spread: the switch makes most
    // neighbours fit where chance makes few.
    KnownWorld kw;
    for (int i = 0; i < 96; ++i) kw.Add("F/t" + std::to_string(i) + ".mp3", "Solo", (i * 7) % 24, 90 + (i * 37) % 60);
    kw.Recipe({1, 0, 0});
    double fit[2] = {0, 0}, tempo[2] = {0, 0}, pairs[2] = {0, 0};
    for (int byKey : {0, 1}) {
        kw.w.core->autoMix.chooseByKeyAndTempo = byKey == 1;
        for (std::uint32_t g = 0; g < 100; ++g) {
            const std::vector<std::int32_t> heard = Generate(kw.w, g, static_cast<std::int32_t>(g % 96));
            for (std::size_t i = 1; i < heard.size(); ++i) {
                const TrackFacts& a = kw.analysis.known.at(kw.w.core->nodes.FullPath(heard[i - 1]));
                const TrackFacts& b = kw.analysis.known.at(kw.w.core->nodes.FullPath(heard[i]));
                fit[byKey] += KeysFit(a.key, b.key);
                tempo[byKey] += KeysFit(a.key, b.key) && TemposFit(a.beats.bpm, b.beats.bpm);
                pairs[byKey] += 1;
            }
        }
    }
    EXPECT_LT(fit[0] / pairs[0], 0.35);
    EXPECT_GT(fit[1] / pairs[1], 0.75);
    EXPECT_GT(tempo[1] / pairs[1], 2 * tempo[0] / pairs[0]);
}

TEST(CocktailStartUp, FirstRunAndLoadCocktailChoiceMakeACocktail) {
    for (bool firstRun : {true, false}) {
        CocktailWorld w;
        w.core->playlist.AddToPlaylist(3);  // stands for a restored playlist
        w.Recipe(2, 1, 0, 0, 0, 0);
        w.core->startup.FirstRun = firstRun;
        w.core->options.RadioGroup1 = suLoadCocktail;
        w.core->options.CheckBox1 = true;
        w.core->FormShow();
        EXPECT_FALSE(w.core->startup.FirstRun);
        const std::vector<std::int32_t> added = w.Added();
        ASSERT_GE(added.size(), 2u);
        // A first run keeps what was restored; the start-up choice empties the playlist first.
        EXPECT_EQ(added.front() == 3, firstRun);
        for (std::size_t i = firstRun ? 1 : 0; i < added.size(); ++i) EXPECT_EQ(w.FolderOf(added[i]), 2);
    }
}

}  // namespace
}  // namespace quendo::testing
