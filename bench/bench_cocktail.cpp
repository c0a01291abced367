#include <unistd.h>

#include <memory>

#include "BenchUtil.h"
#include "Fixtures.h"
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

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
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
