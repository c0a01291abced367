// The sound engine's costs: measuring a file's length, mixing two decks offline against the
// ffmpeg command line, and playing two decks on a device while the interface thread is busy.
// The five-minute files are made once by the demo library tool in /tmp/quendo-bench-fixtures.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/Decoder.h"

namespace {

constexpr int kRate = 44100;
using bench::Fixture;
using bench::Make;
using bench::kMp3;
using bench::kMp3B;
using bench::kVbr;
using bench::kWma;
using bench::kWav;
constexpr double kSeconds = bench::kFixtureSeconds;

double Cpu(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double DecodedSeconds(const std::string& path) {
    quendo::audio::AudioDecoder decoder(kRate);
    if (!decoder.Open(path)) return 0;
    std::vector<float> buf(2 * 8192);
    long frames = 0;
    for (int got; (got = decoder.Read(buf.data(), 8192)) > 0;) frames += got;
    return static_cast<double>(frames) / kRate;
}

// CPU seconds (user + system) of a child running `argv`; <0 when it failed.
double ChildCpuSeconds(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    if (::wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec * 1e-6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec * 1e-6;
}

// Two decks crossfading over the whole of both files, volume and balance moved every 100 ms.
// Returns the CPU seconds of the process (decoder threads included) and the audio seconds.
void OfflineCrossfade(const std::string& a, const std::string& b, double& cpu, double& audio) {
    using namespace quendo::audio;
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    quendo::MediaPlayer& d1 = engine.Deck1();
    quendo::MediaPlayer& d2 = engine.Deck2();
    d1.SetFileName(a);
    d2.SetFileName(b);
    const double length = std::min(d1.Duration(), d2.Duration()) - 1;
    const int tick = kRate / 10;
    const int ticks = static_cast<int>(length * 10);
    std::vector<float> block(2 * static_cast<std::size_t>(tick));
    const double t0 = Cpu(CLOCK_PROCESS_CPUTIME_ID);
    d1.Play();
    d2.Play();
    for (int n = 0; n < ticks; ++n) {
        const double p = static_cast<double>(n) / ticks;
        d1.SetVolume(static_cast<int>(-3000 * p));
        d2.SetVolume(static_cast<int>(-3000 * (1 - p)));
        const int swing = static_cast<int>(3000 * std::sin(n * 0.05));
        d1.SetBalance(swing);
        d2.SetBalance(-swing);
        engine.render(block.data(), tick);
    }
    cpu = Cpu(CLOCK_PROCESS_CPUTIME_ID) - t0;
    audio = static_cast<double>(ticks) / 10;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    quendo::audio::SilenceFfmpegLog();

    // ---- the probe ----
    const bool probe = figures.Wants("probe_ms_mp3") || figures.Wants("probe_ms_vbr_mp3") ||
                       figures.Wants("probe_ms_wma") || figures.Wants("probe_ms_wav") ||
                       figures.Wants("duration_error_ms");
    if (probe) {
        struct Probed {
            const char* figure;
            const Fixture* fixture;
            int runs;
        };
        const Probed list[] = {{"probe_ms_mp3", &kMp3, 201},
                               {"probe_ms_vbr_mp3", &kVbr, 31},
                               {"probe_ms_wma", &kWma, 201},
                               {"probe_ms_wav", &kWav, 201}};
        double worstError = 0;
        for (const Probed& p : list) {
            const bool time = figures.Wants(p.figure);
            if (!time && !figures.Wants("duration_error_ms")) continue;
            const std::string path = Make(*p.fixture);
            if (path.empty()) return 1;
            double measured = quendo::audio::MeasureDuration(path);  // also warms the page cache
            if (time) {
                const double s = bench::MedianSeconds(p.runs, [&] { measured = quendo::audio::MeasureDuration(path); });
                figures.Print(p.figure, s * 1000, "ms");
            }
            if (figures.Wants("duration_error_ms")) {
                const double decoded = DecodedSeconds(path);
                worstError = std::max(worstError, std::fabs(measured - decoded) * 1000);
            }
        }
        figures.Print("duration_error_ms", worstError, "ms");
    }

    // ---- offline mixing, against ffmpeg doing the same on one core ----
    if (figures.Wants("engine_realtime_factor") || figures.Wants("engine_vs_ffmpeg_ratio")) {
        const std::string a = Make(kMp3), b = Make(kMp3B);
        if (a.empty() || b.empty()) return 1;
        double cpu = 0, audio = 0;
        OfflineCrossfade(a, b, cpu, audio);
        figures.Print("engine_realtime_factor", cpu > 0 ? audio / cpu : 0, "x");
        if (figures.Wants("engine_vs_ffmpeg_ratio")) {
            const double ff = ChildCpuSeconds({"taskset", "-c", "0", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel",
                                               "error", "-threads", "1", "-i", a, "-i", b, "-filter_complex", "amix",
                                               "-f", "null", "-"});
            if (ff <= 0) {
                std::fprintf(stderr, "bench_engine: the ffmpeg command failed\n");
                return 1;
            }
            figures.Print("engine_vs_ffmpeg_ratio", cpu / ff, "ratio");
        }
    }

    // ---- playing on a device while the interface thread is busy ----
    if (figures.Wants("playback_cpu_percent") || figures.Wants("underruns")) {
        const std::string a = Make(kMp3), b = Make(kMp3B);
        if (a.empty() || b.empty()) return 1;
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
        using namespace quendo::audio;
        AudioEngine engine{EngineOptions{true, kRate, 512}};
        engine.Deck1().SetFileName(a);
        engine.Deck2().SetFileName(b);
        engine.Deck1().SetVolume(-600);
        engine.Deck2().SetVolume(-1200);
        const double wall0 = bench::NowSeconds();
        const double proc0 = Cpu(CLOCK_PROCESS_CPUTIME_ID), busy0 = Cpu(CLOCK_THREAD_CPUTIME_ID);
        engine.Deck1().Play();
        engine.Deck2().Play();
        // The interface thread keeps a core busy: the engine must not need it.
        volatile double sink = 0;
        int n = 0;
        while (bench::NowSeconds() - wall0 < 60) {
            for (int i = 0; i < 100000; ++i) sink = sink + std::sqrt(static_cast<double>(i + n));
            if (++n % 64 == 0) {
                engine.Deck1().SetBalance(n % 2000);
                engine.DeliverPendingEvents();
            }
        }
        const double busy = Cpu(CLOCK_THREAD_CPUTIME_ID) - busy0;
        const double proc = Cpu(CLOCK_PROCESS_CPUTIME_ID) - proc0;
        const double wall = bench::NowSeconds() - wall0;
        if (engine.DriverName() != "dummy") std::fprintf(stderr, "bench_engine: driver %s\n", engine.DriverName().c_str());
        figures.Print("playback_cpu_percent", 100 * (proc - busy) / wall, "%");
        figures.Print("underruns", static_cast<double>(engine.Underruns()), "count");
    }
    return 0;
}
