#include <random>

#include "BenchUtil.h"
#include "model/NodeTable.h"

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("fullpath_lookup_us")) return 0;

    // 50000 files in 5000 folders up to five deep.
    quendo::NodeTable t;
    t.MusicFolder = "/home/dj/Music/";
    std::mt19937 rng(7);
    std::vector<std::int32_t> folders{0};
    for (int f = 0; f < 5000; ++f) {
        const std::int32_t parent = folders[rng() % folders.size()];
        folders.push_back(t.AddFolderNode(parent, "Folder " + std::to_string(f)));
    }
    for (int j = 0; j < 50000; ++j)
        t.AddFileNode(folders[rng() % folders.size()], "Artist - Track " + std::to_string(j) + ".mp3");

    std::vector<std::string> paths;
    for (int i = 0; i < 1000; ++i) paths.push_back(t.FullPath(static_cast<std::int32_t>(rng() % 50000)));
    t.FindByFullPath(paths[0]);  // the index is built once, at the first lookup

    std::vector<double> times;
    volatile std::int32_t sink = 0;
    for (const std::string& p : paths) {
        const double t0 = bench::NowSeconds();
        sink = sink + t.FindByFullPath(p);
        times.push_back(bench::NowSeconds() - t0);
    }
    figures.Print("fullpath_lookup_us", bench::Median(times) * 1e6, "us");
    return 0;
}
