// What reading a file's tags costs beside analysing it, on the demo library: both on this thread's
// CPU clock, each file read once before so that the disk plays no part.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "analysis/Analyse.h"
#include "analysis/TagReader.h"
#include "playback/engine/MediaFile.h"

namespace {

double ThreadCpu() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// The demo library as the build makes it, or made here when that build has none.
std::string DemoLibrary() {
    const char* tools = std::getenv("QUENDO_TOOLS_DIR");
#ifdef QUENDO_TOOLS_DIR
    if (!tools || !*tools) tools = QUENDO_TOOLS_DIR;
#endif
    const std::string dir = std::string(tools ? tools : ".") + "/Demo Music";
    if (bench::Exists(dir + "/Rock/Last Call.wma")) return dir;
    const std::string made = bench::kFixtureDir + "/Demo Music";
    if (bench::Exists(made + "/Rock/Last Call.wma")) return made;
    ::mkdir(bench::kFixtureDir.c_str(), 0755);
    const std::string cmd = "'" + std::string(tools ? tools : ".") + "/quendo-demolib' '" + made + "' >/dev/null";
    return std::system(cmd.c_str()) == 0 ? made : "";
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("tags_read_ms") && !figures.Wants("tags_vs_analysis_pct")) return 0;
    quendo::audio::SilenceFfmpegLog();
    const std::string library = DemoLibrary();
    if (library.empty()) {
        std::fprintf(stderr, "bench_tags: no demo library\n");
        return 1;
    }
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(library))
        if (e.is_regular_file()) files.push_back(e.path().string());

    double tags = 0, analysis = 0;
    int tagged = 0, measured = 0;
    for (const std::string& f : files) {
        if (!quendo::audio::AnalyseFile(f)) continue;  // not music; also brings the file into memory
        constexpr int kReads = 20;
        double t0 = ThreadCpu();
        quendo::TrackTags t;
        for (int i = 0; i < kReads; ++i) t = quendo::audio::ReadTags(f);
        tags += (ThreadCpu() - t0) / kReads;
        tagged += !t.artist.empty() && !t.title.empty();
        t0 = ThreadCpu();
        (void)quendo::audio::AnalyseFile(f);
        analysis += ThreadCpu() - t0;
        ++measured;
    }
    if (measured == 0) return 1;
    std::fprintf(stderr, "bench_tags: %d files, %d with artist and title; %.3f ms of tags against %.1f ms of analysis a file\n",
                 measured, tagged, tags / measured * 1e3, analysis / measured * 1e3);
    figures.Print("tags_read_ms", tags / measured * 1e3, "ms");
    figures.Print("tags_vs_analysis_pct", 100 * tags / analysis, "%");
    return 0;
}
