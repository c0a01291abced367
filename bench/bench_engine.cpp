// The sound engine's costs: measuring a file's length, mixing two decks offline against the
// ffmpeg command line, and playing two decks on a device while the interface thread is busy.
// The five-minute files (and a 60-minute one, cut to half, for the probe of damaged files) are
// made once by the demo library tool in /tmp/quendo-bench-fixtures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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


double DecodedSeconds(const std::string& path) {
    quendo::audio::AudioDecoder decoder(kRate);
    if (!decoder.Open(path)) return 0;
    std::vector<float> buf(2 * 8192);
    long frames = 0;
    for (int got; (got = decoder.Read(buf.data(), 8192)) > 0;) frames += got;
    return static_cast<double>(frames) / kRate;
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
    const double t0 = bench::CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
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
    cpu = bench::CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - t0;
    audio = static_cast<double>(ticks) / 10;
}

// A 60-minute MP3 with a Xing header, cut to half (a partial download): the header's frame count
// is twice what is there. Made once beside the other fixtures; "" when the tool failed.
std::string DamagedMp3() {
    const std::string whole = bench::kFixtureDir + "/vbr-60min.mp3", cut = bench::kFixtureDir + "/vbr-60min-half.mp3";
    if (bench::Exists(cut)) return cut;
    ::mkdir(bench::kFixtureDir.c_str(), 0755);
    if (!bench::Exists(whole)) {
        const std::string part = whole + ".part";
        if (quendo::testing::MakeFixture("mp3-vbr", 3600, part, "--seed 5").frames <= 0 ||
            std::rename(part.c_str(), whole.c_str()) != 0)
            return "";
    }
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 1000) return "";
    const std::string part = cut + ".part";
    std::ofstream(part, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
    return std::rename(part.c_str(), cut.c_str()) == 0 ? cut : "";
}

// 800 MB of zeros named .mp3, sparse, so that it costs no disk.
std::string HugeZeros() {
    const std::string path = "/tmp/quendo-bench-huge-zeros.mp3";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return "";
    const bool ok = ::ftruncate(fd, 800LL * 1000 * 1000) == 0;
    ::close(fd);
    return ok ? path : "";
}

// The process's peak resident memory in kB (VmHWM), after resetting it to the current size
// when `reset` (where the kernel lets it be reset).
long PeakKb(bool reset) {
    if (reset) {
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
    }
    long kb = -1;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
        std::fclose(f);
    }
    return kb;
}

// The peak memory of one probe of `path`, in MB, measured in a fresh process of this program
// (where the heap holds nothing yet that the call could reuse); <0 when that failed.
double ProbePeakMb(const std::string& path) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return -1;
    self[n] = '\0';
    const std::string cmd = "'" + std::string(self) + "' --probe-peak-kb '" + path + "'";
    long kb = -1;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        if (std::fscanf(p, "%ld", &kb) != 1) kb = -1;
        if (::pclose(p) != 0) kb = -1;
    }
    return kb >= 0 ? kb / 1024.0 : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--probe-peak-kb") {
        // The child of ProbePeakMb: one probe, and the growth of the peak resident memory.
        const long before = PeakKb(true);
        const double measured = quendo::audio::MeasureDuration(argv[2]);
        const long after = PeakKb(false);
        if (before < 0 || after < 0) return 1;
        std::printf("%ld %g\n", after - before, measured);
        return 0;
    }
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

    // ---- the probe on damaged and junk files ----
    if (figures.Wants("probe_ms_damaged_mp3")) {
        const std::string path = DamagedMp3();
        if (path.empty()) {
            std::fprintf(stderr, "bench_engine: could not make the damaged MP3\n");
            return 1;
        }
        double measured = quendo::audio::MeasureDuration(path);  // warms the page cache
        const double s = bench::MedianSeconds(31, [&] { measured = quendo::audio::MeasureDuration(path); });
        if (measured < 1700 || measured > 1900) std::fprintf(stderr, "bench_engine: the cut file measures %g s\n", measured);
        figures.Print("probe_ms_damaged_mp3", s * 1000, "ms");
    }
    if (figures.Wants("probe_ms_huge_nonaudio") || figures.Wants("probe_mb_huge_nonaudio")) {
        const std::string path = HugeZeros();
        if (path.empty()) {
            std::fprintf(stderr, "bench_engine: could not make the sparse file\n");
            return 1;
        }
        const double mb = figures.Wants("probe_mb_huge_nonaudio") ? ProbePeakMb(path) : 0;
        double measured = quendo::audio::MeasureDuration(path);
        const double s = bench::MedianSeconds(31, [&] { measured = quendo::audio::MeasureDuration(path); });
        ::unlink(path.c_str());
        if (measured != 0) std::fprintf(stderr, "bench_engine: 800 MB of zeros measures %g s\n", measured);
        figures.Print("probe_ms_huge_nonaudio", s * 1000, "ms");
        figures.Print("probe_mb_huge_nonaudio", mb, "MB");
    }

    // ---- offline mixing, against ffmpeg doing the same on one core ----
    if (figures.Wants("engine_realtime_factor") || figures.Wants("engine_vs_ffmpeg_ratio")) {
        const std::string a = Make(kMp3), b = Make(kMp3B);
        if (a.empty() || b.empty()) return 1;
        double cpu = 0, audio = 0;
        OfflineCrossfade(a, b, cpu, audio);
        figures.Print("engine_realtime_factor", cpu > 0 ? audio / cpu : 0, "x");
        if (figures.Wants("engine_vs_ffmpeg_ratio")) {
            const double ff = bench::ChildCpuSeconds({"taskset", "-c", "0", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel",
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
        const double cpu = bench::PlayingCpuPercent(engine, 60);
        if (engine.DriverName() != "dummy") std::fprintf(stderr, "bench_engine: driver %s\n", engine.DriverName().c_str());
        figures.Print("playback_cpu_percent", cpu, "%");
        figures.Print("underruns", static_cast<double>(engine.Underruns()), "count");
    }
    return 0;
}
