#include <random>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "playback/engine/ProbePlayer.h"
#include "support/Fakes.h"

using namespace quendo;

namespace {

// One AddToPlaylist of a five-minute MP3, measured by the program's own probe.
void AddToPlaylistFigure(const bench::Figures& figures) {
    const std::string path = bench::Make(bench::kMp3);
    if (path.empty()) return;
    testing::FakePlayer deck1, deck2;
    testing::FakeShell shell;
    testing::FakePowerOff powerOff;
    testing::FakeDialogs dialogs;
    testing::FakeForms forms;
    StdRandom random;
    ProbePlayer probe;
    Core c({deck1, deck2, probe, shell, powerOff, dialogs, random}, forms);
    c.nodes.MusicFolder = bench::kFixtureDir + "/";
    const std::int32_t j = c.nodes.AddFileNode(0, path.substr(c.nodes.MusicFolder.size()));
    c.playlist.AddToPlaylist(j);  // the file's pages are in memory from here on, as in a warm library
    const double t = bench::MedianSeconds(101, [&] { c.playlist.AddToPlaylist(j); });
    if (c.nodes.File(j).durationSeconds < 299) std::fprintf(stderr, "bench_playlist: the probe misread %s\n", path.c_str());
    figures.Print("add_to_playlist_ms", t * 1e3, "ms");
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (figures.Wants("add_to_playlist_ms")) AddToPlaylistFigure(figures);
    if (!figures.Wants("restore_ms") && !figures.Wants("restore_vs_linear_ratio")) return 0;

    // A 50000-file library; the probe is a fake of fixed duration, so only our own work is timed.
    testing::FakeWorld w;
    Core& c = *w.core;
    testing::TempDir dir;
    c.nodes.ProgramFolder = dir.path();
    c.nodes.MusicFolder = "/home/dj/Music/";
    w.probe.defaultDuration = 240;
    std::mt19937 rng(11);
    std::vector<std::int32_t> folders{0};
    for (int f = 0; f < 5000; ++f)
        folders.push_back(c.nodes.AddFolderNode(folders[rng() % folders.size()], "Folder " + std::to_string(f)));
    for (int j = 0; j < 50000; ++j)
        c.nodes.AddFileNode(folders[rng() % folders.size()], "Artist - Track " + std::to_string(j) + ".mp3");

    std::vector<std::string> lines;
    std::string file;
    for (int i = 0; i < 1000; ++i) {
        lines.push_back(c.nodes.FullPath(static_cast<std::int32_t>(rng() % 50000)));
        file += lines.back() + "\r\n";
    }
    dir.WriteFile("qnd.m3u", file);

    const double restore = bench::MedianSeconds(5, [&] {
        // A fresh table state each run: the index is built as at start-up.
        c.nodes.AddFileNode(0, "invalidate.mp3");
        c.playlist.ClearPlaylist();
        c.playlist.RestorePlaylist();
    });
    // The first-match pass: every line builds full paths from index 0 up.
    const double linear = bench::MedianSeconds(1, [&] {
        volatile std::int64_t found = 0;
        for (const std::string& line : lines)
            for (std::int32_t j = 0; j < c.nodes.FileCount(); ++j)
                if (c.nodes.FullPath(j) == line) {
                    found = found + j;
                    break;
                }
    });
    figures.Print("restore_ms", restore * 1e3, "ms");
    figures.Print("restore_vs_linear_ratio", restore / linear, "ratio");
    return 0;
}
