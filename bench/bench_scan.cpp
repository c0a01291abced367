// The library scan over a large synthetic tree, against a bare readdir walk of the same tree.
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "library/LibraryScan.h"
#include "model/NodeTable.h"

namespace fs = std::filesystem;

namespace {

// Made once and kept between runs; the marker is written last, so a half-made tree is redone.
const std::string kTree = "/tmp/quendo-bench-scan-v1";
constexpr int kFolders = 5000;
constexpr int kMusicFiles = 50000;
constexpr int kOtherFiles = 20000;
constexpr int kMaxDepth = 5;

void Touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

std::string MixedName(std::mt19937& rng, const char* const* words, int wordCount, int number) {
    std::string name;
    const int n = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < n; ++i) {
        std::string w = words[rng() % static_cast<unsigned>(wordCount)];
        switch (rng() % 3) {
            case 0: for (char& c : w) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); break;
            case 1: w[0] = static_cast<char>(w[0] - 32); break;
            default: break;
        }
        if (!name.empty()) name += ' ';
        name += w;
    }
    return name + " " + std::to_string(number);
}

void MakeTree() {
    if (fs::exists(kTree + "/.complete")) return;
    std::error_code ec;
    fs::remove_all(kTree, ec);
    fs::create_directories(kTree);

    static const char* const kWords[] = {"the", "best", "of", "live", "at", "night", "blue", "groove",
                                         "deep", "house", "disco", "funk", "summer", "mix", "vol", "remaster"};
    constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);
    std::mt19937 rng(2026);
    struct Folder {
        std::string path;
        int depth;
    };
    std::vector<Folder> folders{{kTree, 0}};
    std::vector<int> open{0};  // folders that may still get children (depth below the maximum)
    for (int f = 0; f < kFolders; ++f) {
        const int parent = open[rng() % open.size()];
        Folder child{folders[static_cast<std::size_t>(parent)].path + "/" + MixedName(rng, kWords, kWordCount, f),
                     folders[static_cast<std::size_t>(parent)].depth + 1};
        ::mkdir(child.path.c_str(), 0755);
        folders.push_back(child);
        if (child.depth < kMaxDepth) open.push_back(static_cast<int>(folders.size()) - 1);
    }
    static const char* const kMusic[] = {".mp3", ".MP3", ".Mp3", ".wma", ".WAV", ".wav"};
    for (int j = 0; j < kMusicFiles; ++j)
        Touch(folders[rng() % folders.size()].path + "/" + MixedName(rng, kWords, kWordCount, j) + kMusic[rng() % 6]);
    static const char* const kOther[] = {".jpg", ".txt", ".m3u", ".nfo", ".ogg", ".cue", ""};
    for (int j = 0; j < kOtherFiles; ++j)
        Touch(folders[rng() % folders.size()].path + "/" + MixedName(rng, kWords, kWordCount, j) + kOther[rng() % 7]);
    // A few hidden folders with music inside: skipped by both walks.
    for (int h = 0; h < 5; ++h) {
        const std::string hidden = folders[rng() % folders.size()].path + "/.hidden " + std::to_string(h);
        ::mkdir(hidden.c_str(), 0755);
        ::mkdir((hidden + "/Inner").c_str(), 0755);
        for (int j = 0; j < 20; ++j) Touch(hidden + "/Inner/song " + std::to_string(j) + ".mp3");
    }
    Touch(kTree + "/.complete");
}

bool IsMusic(const char* name, std::size_t len) {
    if (len < 4 || name[len - 4] != '.') return false;
    char e[3];
    for (int i = 0; i < 3; ++i) e[i] = static_cast<char>(name[len - 3 + i] | 0x20);
    return (e[0] == 'm' && e[1] == 'p' && e[2] == '3') || (e[0] == 'w' && e[1] == 'm' && e[2] == 'a') ||
           (e[0] == 'w' && e[1] == 'a' && e[2] == 'v');
}

// The least a walk can do: list every folder once and count what the scan would keep.
void ReaddirCount(int dirFd, long& folders, long& files) {
    DIR* d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        return;
    }
    while (const dirent* e = ::readdir(d)) {
        if (e->d_type == DT_DIR) {
            if (e->d_name[0] == '.') continue;
            ++folders;
            const int child = ::openat(::dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0) ReaddirCount(child, folders, files);
        } else if (e->d_type == DT_REG && IsMusic(e->d_name, std::strlen(e->d_name))) {
            ++files;
        }
    }
    ::closedir(d);
}

std::size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("scan_ms") && !figures.Wants("scan_vs_readdir_ratio") && !figures.Wants("first_run_ms") &&
        !figures.Wants("node_table_mb"))
        return 0;
    MakeTree();

    // The filled table's memory: everything allocated from before its construction to after the scan.
    const std::size_t before = HeapInUse();
    auto table = std::make_unique<quendo::NodeTable>();
    quendo::ScanLibrary(kTree, *table);
    const double tableMb = static_cast<double>(HeapInUse() - before) / (1024.0 * 1024.0);
    if (table->FileCount() != kMusicFiles || table->FolderCount() != kFolders)
        std::fprintf(stderr, "bench_scan: found %d folders and %d files\n", table->FolderCount(), table->FileCount());

    // Warm runs, the two walks interleaved so that both see the same cache state.
    constexpr int kRuns = 9;
    std::vector<double> scan, readdirWalk, firstRun;
    for (int r = 0; r < kRuns; ++r) {
        table->Clear();
        double t0 = bench::NowSeconds();
        quendo::ScanLibrary(kTree, *table);
        scan.push_back(bench::NowSeconds() - t0);

        long folders = 0, files = 0;
        t0 = bench::NowSeconds();
        ReaddirCount(::open(kTree.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), folders, files);
        readdirWalk.push_back(bench::NowSeconds() - t0);
        if (folders != kFolders || files != kMusicFiles)
            std::fprintf(stderr, "bench_scan: readdir counted %ld folders and %ld files\n", folders, files);

        table->Clear();
        t0 = bench::NowSeconds();
        const quendo::LibraryCount count = quendo::CountLibrary(kTree);
        quendo::ScanLibrary(kTree, *table);
        firstRun.push_back(bench::NowSeconds() - t0);
        if (count.files != table->FileCount()) std::fprintf(stderr, "bench_scan: count and scan disagree\n");
    }
    const double scanSeconds = bench::Median(scan);
    figures.Print("scan_ms", scanSeconds * 1e3, "ms");
    figures.Print("scan_vs_readdir_ratio", scanSeconds / bench::Median(readdirWalk), "x");
    figures.Print("first_run_ms", bench::Median(firstRun) * 1e3, "ms");
    figures.Print("node_table_mb", tableMb, "MB");
    return 0;
}
