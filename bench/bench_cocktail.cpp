#include <unistd.h>

#include <array>
#include <cmath>
#include <memory>
#include <random>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "cocktail/TrackChoice.h"
#include "playback/engine/ProbePlayer.h"
#include "support/Fakes.h"

namespace {

std::string TrackName(int i) { return "Artist " + std::to_string(i) + " - Track " + std::to_string(i) + ".mp3"; }

// Passes everything on to the wrapped player and adds up the time spent opening and measuring.
class TimedPlayer : public quendo::MediaPlayer {
public:
    explicit TimedPlayer(quendo::MediaPlayer& inner) : inner_(inner) {}
    double seconds = 0;

    void SetFileName(const std::string& path) override { Timed([&] { inner_.SetFileName(path); }); }
    double Duration() override {
        double d = 0;
        Timed([&] { d = inner_.Duration(); });
        return d;
    }
    double CurrentPosition() override { return inner_.CurrentPosition(); }
    void SetCurrentPosition(double s) override { inner_.SetCurrentPosition(s); }
    void SetVolume(int v) override { inner_.SetVolume(v); }
    void SetBalance(int b) override { inner_.SetBalance(b); }
    int PlayState() override { return inner_.PlayState(); }
    void Play() override { inner_.Play(); }
    void Pause() override { inner_.Pause(); }

private:
    template <class F>
    void Timed(F&& f) {
        const double t0 = bench::NowSeconds();
        f();
        seconds += bench::NowSeconds() - t0;
    }
    quendo::MediaPlayer& inner_;
};

// 900 names for one five-minute MP3, three folders of 300, as hard links (or copies where the
// file system refuses links).
bool MakeLibrary(const std::string& root) {
    const std::string source = bench::Make(bench::kMp3);
    if (source.empty()) return false;
    ::mkdir(root.c_str(), 0755);
    for (int k = 1; k <= 3; ++k) {
        const std::string folder = root + "/Folder " + std::to_string(k);
        ::mkdir(folder.c_str(), 0755);
        for (int i = 0; i < 300; ++i) {
            const std::string file = folder + "/" + TrackName(i);
            if (bench::Exists(file)) continue;
            if (::link(source.c_str(), file.c_str()) != 0) {
                const std::string cmd = "cp '" + source + "' '" + file + "'";
                if (std::system(cmd.c_str()) != 0) return false;
            }
        }
    }
    return true;
}

// ---- the choice of the next file, on a made-up library the fake analysis knows whole ----

// 40 artists of six files each, over ingredient folders of 42, 78 and 120 files (parts 1, 2, 3:
// folders near proportion, so that the shares follow the parts); keys and tempi at random. The
// probe is a fake too: the figures weigh the draw alone, not the opening of files.
constexpr std::array<int, 3> kParts = {1, 2, 3};
constexpr std::array<int, 3> kArtistsIn = {7, 13, 20};
constexpr int kCocktailTracks = 200;

struct TaggedLibrary {
    quendo::testing::FakeAnalysis analysis;
    quendo::testing::FakeWorld w{&analysis};
    TaggedLibrary() {
        std::mt19937 gen(40);
        int artist = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            for (int a = 0; a < kArtistsIn[k]; ++a, ++artist)
                for (int i = 0; i < 6; ++i) {
                    const std::int32_t f = w.AddFile("F" + std::to_string(k + 1) + "/a" + std::to_string(artist) + "-" +
                                                         std::to_string(i) + ".mp3",
                                                     200);
                    quendo::TrackFacts& facts = analysis.known[w.core->nodes.FullPath(f)];
                    analysis.Analysed(w.core->nodes.FullPath(f));
                    facts.tags.artist = "Artist " + std::to_string(artist);
                    facts.key = static_cast<int>(gen() % 24);
                    facts.beats.bpm = 80 + static_cast<double>(gen() % 81);
                    facts.beats.period = 60 / facts.beats.bpm;
                }
            w.core->cocktails.Table()[0].ingredients[k] = {0, static_cast<std::int32_t>(k + 1), kParts[k]};
        }
        w.core->cocktails.Table().RepeatLimit = 3;
        w.core->cocktails.FillIngredientLists();
    }
    const quendo::TrackFacts& Facts(std::int32_t f) { return analysis.known.at(w.core->nodes.FullPath(f)); }

    // Cocktails one after the other, as the end of the playlist asks for them, until 200 tracks.
    std::vector<std::int32_t> Cocktail(std::uint32_t seed) {
        w.core->playlist.ClearPlaylist();
        w.random.Seed(seed);
        while (w.core->playlist.Count() < kCocktailTracks) w.core->cocktails.MakeCocktail();
        std::vector<std::int32_t> heard = w.core->playlist.ListBox2();
        heard.resize(kCocktailTracks);
        return heard;
    }
};

// One way of drawing: the switches, and what its cocktails showed.
struct Way {
    Way(bool a, bool k) : apart(a), byKey(k) {}
    bool apart, byKey;
    double artistRepeats = 0;   // a cocktail, on average
    double shareGapPoints = 0;  // the largest of the ingredients' gaps, over all cocktails
    double keyFit = 0;          // of all consecutive pairs
    double seconds = 0;         // a cocktail, median
    double count[3] = {0, 0, 0}, fits = 0;
    std::vector<double> times;
};

void ChoiceFigures(const bench::Figures& figures) {
    TaggedLibrary lib;
    Way off{false, false}, apart{true, false}, byKey{false, true}, both{true, true};
    // The same seeds each way, the ways taken in turn so that a busy machine weighs on all alike.
    // The analysis' answers are learnt in the first cocktail drawn with a switch on.
    constexpr int kCocktails = 100;
    for (int c = 0; c < kCocktails; ++c)
        for (Way* way : {&off, &apart, &byKey, &both}) {
            lib.w.core->autoMix.keepArtistsApart = way->apart;
            lib.w.core->autoMix.chooseByKeyAndTempo = way->byKey;
            const double t0 = bench::NowSeconds();
            const std::vector<std::int32_t> heard = lib.Cocktail(static_cast<std::uint32_t>(1000 + c));
            way->times.push_back(bench::NowSeconds() - t0);
            for (std::size_t i = 0; i < heard.size(); ++i) {
                const quendo::TrackFacts& now = lib.Facts(heard[i]);
                way->count[lib.w.core->nodes.File(heard[i]).parentFolder - 1] += 1;
                bool again = false;
                for (std::size_t j = i > 5 ? i - 5 : 0; j < i; ++j) again = again || lib.Facts(heard[j]).tags.artist == now.tags.artist;
                way->artistRepeats += again;
                if (i > 0) way->fits += quendo::KeysFit(lib.Facts(heard[i - 1]).key, now.key);
            }
        }
    for (Way* way : {&off, &apart, &byKey, &both}) {
        way->artistRepeats /= kCocktails;
        for (std::size_t k = 0; k < 3; ++k)
            way->shareGapPoints = std::max(way->shareGapPoints, 100 * std::fabs(way->count[k] / (kCocktails * kCocktailTracks) -
                                                                               kParts[k] / 6.0));
        way->keyFit = way->fits / (kCocktails * (kCocktailTracks - 1));
        way->seconds = bench::Median(way->times);
    }
    std::fprintf(stderr, "bench_cocktail: a %d-track cocktail in %.3f ms, %.3f ms with artists apart, %.3f ms by key, %.3f ms both\n",
                 kCocktailTracks, off.seconds * 1e3, apart.seconds * 1e3, byKey.seconds * 1e3, both.seconds * 1e3);
    figures.Print("cocktail_artist_repeats_in_five", apart.artistRepeats, "tracks");
    figures.Print("cocktail_artist_repeats_in_five_off", off.artistRepeats, "tracks");
    figures.Print("cocktail_artist_share_gap", apart.shareGapPoints, "points");
    figures.Print("cocktail_share_gap_off", off.shareGapPoints, "points");
    figures.Print("cocktail_key_fit_fraction", byKey.keyFit, "ratio");
    figures.Print("cocktail_key_fit_fraction_off", off.keyFit, "ratio");
    figures.Print("cocktail_key_fit_fraction_artists_apart", both.keyFit, "ratio");
    figures.Print("cocktail_draw_ms_ratio", off.seconds > 0 ? byKey.seconds / off.seconds : 0, "ratio");
    figures.Print("cocktail_draw_ms_ratio_artists_apart", off.seconds > 0 ? both.seconds / off.seconds : 0, "ratio");
}


// ---- cocktails on a library kept as Artist/Album/Track ----

// 20 artists of two to four albums of 8 to 12 tracks, every file tagged with its artist, the artist
// folders holding albums only. Seven cocktails of three artists each, parts of several shapes.
struct ArtistTree {
    static constexpr int kArtists = 20, kCocktails = 7;
    quendo::testing::FakeAnalysis analysis;
    quendo::testing::FakeWorld w{&analysis};
    std::vector<int> artistOf;  // by file index
    std::vector<std::int32_t> artistFolders;
    ArtistTree() {
        std::mt19937 gen(20);
        for (int a = 0; a < kArtists; ++a) {
            const int albums = 2 + static_cast<int>(gen() % 3);
            for (int b = 0; b < albums; ++b) {
                const int tracks = 8 + static_cast<int>(gen() % 5);
                for (int t = 0; t < tracks; ++t) {
                    const std::int32_t f = w.AddFile("Artist " + std::to_string(a) + "/Album " + std::to_string(b) +
                                                         "/Track " + std::to_string(t) + ".mp3",
                                                     200);
                    const std::string full = w.core->nodes.FullPath(f);
                    analysis.known[full].tags.artist = "Artist " + std::to_string(a);
                    analysis.Analysed(full);
                    artistOf.push_back(a);
                }
            }
        }
        artistFolders = w.core->nodes.ChildFolders(0);
        constexpr std::array<std::array<int, 3>, 4> kShapes = {{{1, 1, 1}, {1, 2, 3}, {3, 1, 1}, {2, 2, 1}}};
        quendo::CocktailTable& table = w.core->cocktails.Table();
        for (int c = 0; c < kCocktails; ++c)
            for (std::size_t k = 0; k < 3; ++k)
                table[c].ingredients[k] = {0, artistFolders[static_cast<std::size_t>(3 * c + static_cast<int>(k)) % artistFolders.size()],
                                           kShapes[static_cast<std::size_t>(c) % kShapes.size()][k]};
        table.RepeatLimit = 3;
    }
    // Each cocktail chosen as a user chooses it, then how many of its ingredients give no file.
    int EmptyIngredients(bool subfolders) {
        w.core->autoMix.cocktailSubfolders = subfolders;
        int empty = 0;
        for (int c = 0; c < kCocktails; ++c) {
            w.core->cocktails.ComboBox1Change(c);
            for (int k = 0; k < 3; ++k) empty += w.core->cocktails.IngredientFiles(k).empty();
        }
        return empty;
    }
    // Every cocktail, cocktails one after the other until 100 tracks as the end of the playlist
    // asks for them, a few seeds each: the tracks whose artist is the one before's.
    int AdjacentRepeats(bool apart) {
        w.core->autoMix.cocktailSubfolders = true;
        w.core->autoMix.keepArtistsApart = apart;
        int repeats = 0;
        for (int c = 0; c < kCocktails; ++c) {
            w.core->cocktails.ComboBox1Change(c);
            for (std::uint32_t seed = 0; seed < 10; ++seed) {
                w.core->playlist.ClearPlaylist();
                w.random.Seed(seed);
                while (w.core->playlist.Count() < 100) w.core->cocktails.MakeCocktail();
                const std::vector<std::int32_t>& heard = w.core->playlist.ListBox2();
                for (std::size_t i = 1; i < heard.size(); ++i)
                    repeats += artistOf[static_cast<std::size_t>(heard[i])] == artistOf[static_cast<std::size_t>(heard[i - 1])];
            }
        }
        return repeats;
    }
};

// The lists of a cocktail on three top folders of a library near the table's size (50 genres of
// 40 artists of 3 albums of 8 tracks, 48000 files): what choosing a cocktail costs with subfolders.
double FillListsMs() {
    quendo::testing::FakeWorld w;
    quendo::NodeTable& t = w.core->nodes;
    for (int g = 0; g < 50; ++g) {
        const std::int32_t genre = t.AddFolderNode(0, "Genre " + std::to_string(g));
        for (int a = 0; a < 40; ++a) {
            const std::int32_t artist = t.AddFolderNode(genre, "Artist " + std::to_string(a));
            for (int b = 0; b < 3; ++b) {
                const std::int32_t album = t.AddFolderNode(artist, "Album " + std::to_string(b));
                for (int i = 0; i < 8; ++i) t.AddFileNode(album, "Track " + std::to_string(i) + ".mp3");
            }
        }
    }
    const std::vector<std::int32_t> genres = t.ChildFolders(0);
    w.core->cocktails.Table()[0].ingredients = {quendo::Ingredient{0, genres[3], 1}, quendo::Ingredient{0, genres[20], 1},
                                                quendo::Ingredient{0, genres[47], 1}};
    w.core->autoMix.cocktailSubfolders = true;
    std::vector<double> times;
    for (int run = 0; run < 15; ++run) {
        const double t0 = bench::NowSeconds();
        w.core->cocktails.ComboBox1Change(0);
        times.push_back(bench::NowSeconds() - t0);
    }
    return bench::Median(times) * 1e3;
}

void TreeFigures(const bench::Figures& figures) {
    ArtistTree tree;
    figures.Print("cocktail_empty_ingredients", tree.EmptyIngredients(true), "count");
    figures.Print("cocktail_empty_ingredients_off", tree.EmptyIngredients(false), "count");
    figures.Print("cocktail_artist_repeats", tree.AdjacentRepeats(true), "count");
    figures.Print("cocktail_artist_repeats_apart_off", tree.AdjacentRepeats(false), "count");
    if (figures.Wants("cocktail_fill_lists_ms")) figures.Print("cocktail_fill_lists_ms", FillListsMs(), "ms");
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    for (const char* name : {"cocktail_artist_repeats", "cocktail_artist_repeats_apart_off", "cocktail_empty_ingredients",
                             "cocktail_empty_ingredients_off", "cocktail_fill_lists_ms"})
        if (figures.Wants(name)) {
            TreeFigures(figures);
            break;
        }
    for (const char* name : {"cocktail_artist_repeats_in_five", "cocktail_artist_repeats_in_five_off", "cocktail_artist_share_gap",
                             "cocktail_share_gap_off", "cocktail_key_fit_fraction", "cocktail_key_fit_fraction_off",
                             "cocktail_key_fit_fraction_artists_apart", "cocktail_draw_ms_ratio",
                             "cocktail_draw_ms_ratio_artists_apart"})
        if (figures.Wants(name)) {
            ChoiceFigures(figures);
            break;
        }
    if (!figures.Wants("cocktail_ms") && !figures.Wants("cocktail_probe_share")) return 0;

    using namespace quendo::testing;
    FakePlayer deck1, deck2;
    FakeShell shell;
    FakePowerOff powerOff;
    FakeDialogs dialogs;
    FakeForms forms;
    quendo::StdRandom random;
    const std::string root = bench::kFixtureDir + "/cocktail";
    if (!MakeLibrary(root)) return 1;
    quendo::ProbePlayer inner;
    TimedPlayer probe(inner);
    quendo::Core core({deck1, deck2, probe, shell, powerOff, dialogs, random}, forms);
    random.Seed(2026);

    // Three folders of 300 MP3 files each, one cocktail of equal parts.
    core.nodes.MusicFolder = root + "/";
    for (int k = 1; k <= 3; ++k) {
        const std::int32_t folder = core.nodes.AddFolderNode(0, "Folder " + std::to_string(k));
        for (int i = 0; i < 300; ++i)
            core.nodes.AddFileNode(folder, TrackName(i));
        core.cocktails.Table()[0].ingredients[static_cast<std::size_t>(k - 1)] = {0, folder, 1};
    }
    core.cocktails.Table().RepeatLimit = 3;
    core.cocktails.FillIngredientLists();

    double total = 0, inProbe = 0;
    std::vector<double> times;
    for (int run = 0; run < 15; ++run) {
        core.playlist.ClearPlaylist();
        probe.seconds = 0;
        const double t0 = bench::NowSeconds();
        core.cocktails.MakeCocktail();
        const double t = bench::NowSeconds() - t0;
        times.push_back(t);
        total += t;
        inProbe += probe.seconds;
    }
    figures.Print("cocktail_ms", bench::Median(times) * 1e3, "ms");
    figures.Print("cocktail_probe_share", total > 0 ? inProbe / total : 0, "ratio");
    return 0;
}
