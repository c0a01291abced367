// The track analysis: its cost against ffmpeg's own loudness meter on the same five-minute MP3,
// how far analysing at the lower rate strays from the full rate, and whether the decks keep
// playing while the analyser works through a playlist, and through a library in the background.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "analysis/Analyse.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/MediaFile.h"

namespace {

using bench::ThreadCpu;

using bench::OutOfMemory;


}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    quendo::audio::SilenceFfmpegLog();
    using quendo::audio::AnalyseFile;

    // ---- one five-minute MP3, against ffmpeg's ebur128 filter, both on one core ----
    if (figures.Wants("analysis_vs_ffmpeg_ratio") || figures.Wants("analysis_lufs_error_lu") ||
        figures.Wants("analysis_peak_error_db")) {
        const std::string mp3 = bench::Make(bench::kMp3);
        if (mp3.empty()) return 1;
        std::optional<quendo::TrackFacts> facts = AnalyseFile(mp3);  // also warms the page cache
        if (!facts) {
            std::fprintf(stderr, "bench_analysis: %s gave no facts\n", mp3.c_str());
            return 1;
        }
        std::vector<double> ours, theirs;
        for (int i = 0; i < 5; ++i) {
            const double t0 = ThreadCpu();
            facts = AnalyseFile(mp3);
            ours.push_back(ThreadCpu() - t0);
            const double ff = bench::ChildCpuSeconds({"taskset", "-c", "0", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel",
                                               "error", "-threads", "1", "-i", mp3, "-af", "ebur128", "-f", "null", "-"});
            if (ff <= 0) {
                std::fprintf(stderr, "bench_analysis: the ffmpeg command failed\n");
                return 1;
            }
            theirs.push_back(ff);
        }
        std::fprintf(stderr, "bench_analysis: %.3f s against ffmpeg's %.3f s; %.2f LUFS, peak %.2f dBFS, sound %.2f..%.2f s\n",
                     bench::Median(ours), bench::Median(theirs), facts->integratedLufs, facts->peakDbfs,
                     facts->firstSound, facts->lastSound);
        figures.Print("analysis_vs_ffmpeg_ratio", bench::Median(ours) / bench::Median(theirs), "ratio");
        if (figures.Wants("analysis_lufs_error_lu") || figures.Wants("analysis_peak_error_db")) {
            // The same files at the decoder's full rate: what the lower rate costs in accuracy.
            double worst = 0, worstPeak = 0;
            for (const bench::Fixture* f : {&bench::kMp3, &bench::kMp3B, &bench::kWma}) {
                const std::string path = bench::Make(*f);
                const auto low = AnalyseFile(path), full = AnalyseFile(path, nullptr, 44100);
                if (!low || !full) return 1;
                worst = std::max(worst, std::fabs(low->integratedLufs - full->integratedLufs));
                worstPeak = std::max(worstPeak, std::fabs(low->peakDbfs - full->peakDbfs));
            }
            figures.Print("analysis_lufs_error_lu", worst, "LU");
            figures.Print("analysis_peak_error_db", worstPeak, "dB");
        }
    }
    // ---- 20 tracks analysed while two decks play on the real-time dummy device ----
    if (figures.Wants("analysis_underruns")) {
        const bench::Fixture* kinds[] = {&bench::kMp3, &bench::kMp3B, &bench::kVbr, &bench::kWma, &bench::kWav};
        std::vector<std::string> made;
        for (const bench::Fixture* f : kinds) {
            made.push_back(bench::Make(*f));
            if (made.back().empty()) return 1;
        }
        // Twenty paths (links to the five-minute files), so that each is a track of its own to the cache.
        char dirTemplate[] = "/tmp/quendo-bench-analysis-XXXXXX";
        if (!::mkdtemp(dirTemplate)) return 1;
        const std::string dir = dirTemplate;
        std::vector<std::string> tracks;
        for (int i = 0; i < 20; ++i) {
            tracks.push_back(dir + "/track" + std::to_string(i) + made[i % made.size()].substr(made[i % made.size()].rfind('.')));
            if (::symlink(made[i % made.size()].c_str(), tracks.back().c_str()) != 0) return 1;
        }
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
        using namespace quendo::audio;
        AudioEngine engine{EngineOptions{true, 44100, 512}};
        engine.Deck1().SetFileName(made[0]);
        engine.Deck2().SetFileName(made[1]);
        engine.Deck1().SetVolume(-600);
        engine.Deck2().SetVolume(-1200);
        engine.Deck1().Play();
        engine.Deck2().Play();
        const double t0 = bench::NowSeconds();
        std::size_t done = 0;
        {
            TrackAnalyser analyser(dir + "/facts.cache");
            analyser.Want(tracks);
            // The interface thread's part: ask now and then, as a tick would.
            while (done < tracks.size() && bench::NowSeconds() - t0 < 250) {
                ::usleep(100000);
                engine.DeliverPendingEvents();
                done = 0;
                for (const std::string& t : tracks) done += analyser.Facts(t).has_value();
            }
        }
        const double seconds = bench::NowSeconds() - t0;
        const auto underruns = engine.Underruns();
        if (engine.DriverName() != "dummy") std::fprintf(stderr, "bench_analysis: driver %s\n", engine.DriverName().c_str());
        std::fprintf(stderr, "bench_analysis: %zu of %zu tracks analysed in %.1f s while two decks played\n", done,
                     tracks.size(), seconds);
        std::system(("rm -rf '" + dir + "'").c_str());
        if (done < tracks.size()) return 1;
        figures.Print("analysis_underruns", static_cast<double>(underruns), "count");
    }
    // ---- a library of three dozen files analysed in the background while two decks play ----
    if (figures.Wants("background_analysis_underruns") || figures.Wants("background_files_per_minute")) {
        const std::string deckA = bench::Make(bench::kMp3), deckB = bench::Make(bench::kWma);
        if (deckA.empty() || deckB.empty()) return 1;
        char dirTemplate[] = "/tmp/quendo-bench-library-XXXXXX";
        if (!::mkdtemp(dirTemplate)) return 1;
        const std::string dir = dirTemplate;
        const char* kinds[][2] = {{"mp3-cbr", "mp3"}, {"mp3-vbr-noheader", "mp3"}, {"wma", "wma"}, {"wav-s16", "wav"}};
        std::vector<std::string> library;
        for (int i = 0; i < 36; ++i) {
            const auto& kind = kinds[i % 4];
            library.push_back(dir + "/track" + std::to_string(i) + "." + kind[1]);
            if (quendo::testing::MakeFixture(kind[0], 150, library.back(), "--seed " + std::to_string(100 + i)).frames <= 0 ||
                !OutOfMemory(library.back()))
                return 1;
        }
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
        using namespace quendo::audio;
        AudioEngine engine{EngineOptions{true, 44100, 512}};
        engine.Deck1().SetFileName(deckA);
        engine.Deck2().SetFileName(deckB);
        engine.Deck1().SetVolume(-600);
        engine.Deck2().SetVolume(-1200);
        engine.Deck1().Play();
        engine.Deck2().Play();
        const double t0 = bench::NowSeconds();
        quendo::TrackAnalysis::Progress progress;
        {
            TrackAnalyser analyser(dir + "/facts.cache");
            analyser.AnalyseInBackground(library);
            // Within the decks' five minutes; the interface thread looks now and then, as a tick would.
            while (bench::NowSeconds() - t0 < 280) {
                ::usleep(100000);
                engine.DeliverPendingEvents();
                progress = analyser.BackgroundProgress();
                if (progress.analysed == progress.total) break;
            }
        }
        const double seconds = bench::NowSeconds() - t0;
        const auto underruns = engine.Underruns();
        std::fprintf(stderr, "bench_analysis: %d of %d files analysed in the background in %.1f s while two decks played\n",
                     progress.analysed, progress.total, seconds);
        std::system(("rm -rf '" + dir + "'").c_str());
        if (progress.total != static_cast<int>(library.size())) return 1;
        figures.Print("background_analysis_underruns", static_cast<double>(underruns), "count");
        figures.Print("background_files_per_minute", progress.analysed * 60.0 / seconds, "files/min");
    }
    return 0;
}
