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
    figures.Print("cocktail_artist_repeats", apart.artistRepeats, "tracks");
    figures.Print("cocktail_artist_repeats_off", off.artistRepeats, "tracks");
    figures.Print("cocktail_artist_share_gap", apart.shareGapPoints, "points");
    figures.Print("cocktail_share_gap_off", off.shareGapPoints, "points");
    figures.Print("cocktail_key_fit_fraction", byKey.keyFit, "ratio");
    figures.Print("cocktail_key_fit_fraction_off", off.keyFit, "ratio");
    figures.Print("cocktail_key_fit_fraction_artists_apart", both.keyFit, "ratio");
    figures.Print("cocktail_draw_ms_ratio", off.seconds > 0 ? byKey.seconds / off.seconds : 0, "ratio");
    figures.Print("cocktail_draw_ms_ratio_artists_apart", off.seconds > 0 ? both.seconds / off.seconds : 0, "ratio");
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    for (const char* name : {"cocktail_artist_repeats", "cocktail_artist_repeats_off", "cocktail_artist_share_gap",
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
