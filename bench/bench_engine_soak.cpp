// The engine over hours: two simulated hours of crossfades, rendered offline as fast as the decoders
// go, over the demo library, the benchmarks' five-minute files and damaged or unplayable files.
// Each track is loaded, probed, played (now and then from a seek, now and then sought within),
// faded into the other deck with gain and balance steps, and the decks swap. What the process holds
// after a warm-up that plays every file once is compared with what it holds at the end, each time
// with both decks closed. Resident memory is taken once as it stands and once after the allocator
// has returned its free pages: files opened on the interface thread and closed on a decoder thread,
// and FFmpeg's megabyte probe of a 16-bit WAV, leave glibc's heaps with free holes that come and go,
// so the untrimmed figure wanders by a megabyte or two with the moment; the trimmed one and the heap's
// bytes in use are what a leak would move.
//
// Offline, render() waits for the decoders, so a starved block (the engine's underrun count) means
// the wait and the mixer disagree about what is buffered, or a decoder stalled for seconds.
//
// QUENDO_SOAK_HOURS shortens or lengthens the run (default 2).
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/Decoder.h"

namespace {

namespace fs = std::filesystem;
using quendo::MediaPlayer;
using namespace quendo::audio;

constexpr int kRate = 44100;
constexpr int kTick = kRate / 20;  // the main window's 50 ms timer
constexpr double kFadeSeconds = 6;

long Entries(const char* dir) {
    long n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

double RssMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct Held {
    double rssMb;         // after the allocator has returned its free pages
    double untrimmedMb;   // as it stood
    double heapKb;        // the allocator's bytes in use (its per-thread caches included)
    long fds, threads;
};
Held Now() {
    Held h{};
    h.untrimmedMb = RssMb();
    ::malloc_trim(0);
    h.rssMb = RssMb();
    const struct mallinfo2 mi = ::mallinfo2();
    h.heapKb = static_cast<double>(mi.uordblks + mi.hblkhd) / 1024.0;
    // The listing of /proc/self/fd holds its own descriptor open; it counts the same each time.
    h.fds = Entries("/proc/self/fd");
    h.threads = Entries("/proc/self/task");
    return h;
}

// Copies the first `bytes` bytes of `from` (all when negative), scrambling `scramble` bytes from
// the middle on; in small pieces, so that the benchmark's own allocations leave the heap as the
// program would have it.
bool Copy(const std::string& from, const std::string& to, long bytes, long scramble = 0) {
    std::error_code ec;
    const long size = static_cast<long>(fs::file_size(from, ec));
    if (ec) return false;
    if (bytes < 0 || bytes > size) bytes = size;
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    bool ok = in && out;
    char buf[1 << 16];
    for (long at = 0; ok && at < bytes;) {
        const std::size_t n = std::fread(buf, 1, static_cast<std::size_t>(std::min<long>(sizeof buf, bytes - at)), in);
        if (n == 0) break;
        for (std::size_t i = 0; i < n; ++i) {
            const long pos = at + static_cast<long>(i);
            if (pos >= size / 2 && pos < size / 2 + scramble) buf[i] = static_cast<char>(pos * 7919);
        }
        ok = std::fwrite(buf, 1, n, out) == n;
        at += static_cast<long>(n);
    }
    if (in) std::fclose(in);
    if (out && std::fclose(out) != 0) ok = false;
    return ok;
}
bool Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The demo library, as the build makes it beside the program, else made once here.
std::vector<std::string> DemoLibrary() {
    std::vector<fs::path> dirs;
    if (const char* tools = std::getenv("QUENDO_TOOLS_DIR")) dirs.emplace_back(fs::path(tools) / "Demo Music");
    const fs::path own = fs::path(bench::kFixtureDir) / "Demo Music";
    dirs.push_back(own);
    std::vector<std::string> files;
    for (int attempt = 0; attempt < 2 && files.empty(); ++attempt) {
        for (const fs::path& dir : dirs) {
            std::error_code ec;
            if (!fs::is_directory(dir, ec)) continue;
            for (const auto& e : fs::recursive_directory_iterator(dir, ec))
                if (e.is_regular_file()) files.push_back(e.path().string());
            if (!files.empty()) break;
        }
        if (files.empty() && attempt == 0) {
            const char* tools = std::getenv("QUENDO_TOOLS_DIR");
#ifdef QUENDO_TOOLS_DIR
            if (!tools || !*tools) tools = QUENDO_TOOLS_DIR;
#endif
            fs::create_directories(bench::kFixtureDir);
            const std::string cmd = "'" + std::string(tools ? tools : ".") + "/quendo-demolib' '" + own.string() + "' >/dev/null";
            if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "bench_engine_soak: the demo library tool failed\n");
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The benchmarks' files, and damaged or unplayable ones made from them.
std::vector<std::string> FixtureFiles() {
    std::vector<std::string> files;
    for (const bench::Fixture* f : {&bench::kMp3, &bench::kMp3B, &bench::kVbr, &bench::kWma, &bench::kWav}) {
        const std::string path = bench::Make(*f);
        if (path.empty()) return {};
        files.push_back(path);
    }
    const std::string dir = bench::kFixtureDir + "/soak";
    fs::create_directories(dir);
    std::error_code ec;
    const long mp3 = static_cast<long>(fs::file_size(files[0], ec)), wav = static_cast<long>(fs::file_size(files[4], ec));
    const bool made = Copy(files[0], dir + "/cut.mp3", mp3 / 2) &&          // a partial download
                      Copy(files[2], dir + "/corrupt-vbr.mp3", -1, 3000) &&  // a damaged stretch in the middle
                      Copy(files[4], dir + "/truncated.wav", wav / 4) &&     // the header says five minutes
                      Write(dir + "/junk.wma", std::string(20000, 'q')) && Write(dir + "/empty.mp3", "");
    if (!made) return {};
    for (const char* name : {"cut.mp3", "corrupt-vbr.mp3", "truncated.wav", "junk.wma", "empty.mp3"})
        files.push_back(dir + "/" + name);
    files.push_back(dir + "/missing.wav");
    return files;
}

int VolumeFor(double level) { return level <= 1e-3 ? -10000 : static_cast<int>(std::lround(2000 * std::log10(level))); }

class Session {
public:
    explicit Session(std::vector<std::string> files) : files_(std::move(files)) {
        engine_.Deck1().EndOfStream = [this] { ended_[0] = true; };
        engine_.Deck2().EndOfStream = [this] { ended_[1] = true; };
    }

    // Plays the files in order, each briefly, through crossfades.
    void Warm() {
        for (std::size_t i = 0; i < files_.size(); ++i) Track(files_[i], 8);
    }
    // Crossfades through files at random until `seconds` more of sound have been rendered.
    void Run(double seconds) {
        const double until = rendered_ + seconds;
        while (rendered_ < until) Track(files_[rnd_() % files_.size()], 15 + rnd_() % 40);
    }
    // Closes both decks and renders on until the decoder threads have let their files go (they
    // do so on their own time), for a measure that does not depend on where a fade stood.
    Held Settle() {
        engine_.Deck1().SetFileName("");
        engine_.Deck2().SetFileName("");
        long fds = -1, threads = -1;
        for (int same = 0, n = 0; same < 3 && n < 200; ++n) {
            Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const long f = Entries("/proc/self/fd"), t = Entries("/proc/self/task");
            same = f == fds && t == threads ? same + 1 : 0;
            fds = f;
            threads = t;
        }
        return Now();
    }
    std::uint64_t Underruns() const { return engine_.Underruns(); }
    long Tracks() const { return tracks_; }
    long Seeks() const { return seeks_; }
    double Rendered() const { return rendered_; }

private:
    MediaPlayer& Deck(int i) { return i == 0 ? engine_.Deck1() : engine_.Deck2(); }

    void Tick() {
        engine_.render(block_.data(), kTick);
        rendered_ += static_cast<double>(kTick) / kRate;
    }

    // Brings `path` in on the idle deck over a fade, then plays it for about `seconds` (a seek
    // within now and then), or to its end when that comes first.
    void Track(const std::string& path, double seconds) {
        ++tracks_;
        const int in = 1 - current_;
        MediaPlayer& next = Deck(in);
        MediaPlayer& prev = Deck(current_);
        engine_.Probe().SetFileName(path);  // the interface measures the next track first
        next.SetFileName(path);
        ended_[in] = false;
        next.SetVolume(-10000);
        next.SetBalance(0);
        const double length = next.Duration();
        if (length > 60 && rnd_() % 3 == 0) {
            next.SetCurrentPosition(static_cast<double>(rnd_() % static_cast<unsigned>(length - 30)));
            ++seeks_;
        }
        next.Play();
        const int fadeTicks = static_cast<int>(kFadeSeconds * 20);
        for (int t = 1; t <= fadeTicks && !ended_[in]; ++t) {
            const double p = static_cast<double>(t) / fadeTicks;
            next.SetVolume(VolumeFor(p));
            prev.SetVolume(VolumeFor(1 - p));
            next.SetBalance(static_cast<int>(-1500 * (1 - p)));
            prev.SetBalance(static_cast<int>(1500 * p));
            Tick();
        }
        // The old deck stops, or lets its file go.
        if (rnd_() % 2) prev.Pause();
        else prev.SetFileName("");
        current_ = in;
        if (ended_[in]) return;  // a file that does not play moves the mix on at once
        next.SetVolume(0);
        next.SetBalance(0);
        const int ticks = static_cast<int>(seconds * 20);
        const int seekAt = rnd_() % 2 ? static_cast<int>(rnd_() % static_cast<unsigned>(ticks)) : -1;
        for (int t = 0; t < ticks && !ended_[in]; ++t) {
            if (t == seekAt && length > 0) {
                next.SetCurrentPosition(length * (rnd_() % 1000) / 1000.0);
                ++seeks_;
            }
            if (t % 10 == 0) next.SetBalance(static_cast<int>(300 * std::sin(t * 0.3)));
            Tick();
        }
    }

    std::vector<std::string> files_;
    AudioEngine engine_{EngineOptions{false, kRate, 512}};
    std::vector<float> block_ = std::vector<float>(2 * kTick);
    std::minstd_rand rnd_{20261208};
    bool ended_[2] = {false, false};
    int current_ = 0;
    long tracks_ = 0, seeks_ = 0;
    double rendered_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    const char* names[] = {"engine_soak_rss_growth_mb", "engine_soak_untrimmed_rss_growth_mb", "engine_soak_heap_growth_kb",
                           "engine_soak_fd_growth", "engine_soak_thread_growth", "engine_soak_underruns"};
    bool wanted = false;
    for (const char* n : names) wanted = wanted || figures.Wants(n);
    if (!wanted) return 0;
    SilenceFfmpegLog();

    std::vector<std::string> files = DemoLibrary();
    const std::vector<std::string> fixtures = FixtureFiles();
    if (files.empty() || fixtures.empty()) {
        std::fprintf(stderr, "bench_engine_soak: could not make the files\n");
        return 1;
    }
    files.insert(files.end(), fixtures.begin(), fixtures.end());
    double hours = 2;
    if (const char* h = std::getenv("QUENDO_SOAK_HOURS")) hours = std::atof(h);

    const double wall0 = bench::NowSeconds();
    Session session(files);
    session.Warm();
    session.Run(600);
    const Held before = session.Settle();
    session.Run(hours * 3600);
    const Held after = session.Settle();
    std::fprintf(stderr, "bench_engine_soak: %.0f s of sound, %ld tracks, %ld seeks, %zu files, %.0f s\n",
                 session.Rendered(), session.Tracks(), session.Seeks(), files.size(), bench::NowSeconds() - wall0);

    figures.Print("engine_soak_rss_growth_mb", after.rssMb - before.rssMb, "MB");
    figures.Print("engine_soak_untrimmed_rss_growth_mb", after.untrimmedMb - before.untrimmedMb, "MB");
    figures.Print("engine_soak_heap_growth_kb", after.heapKb - before.heapKb, "kB");
    figures.Print("engine_soak_fd_growth", static_cast<double>(after.fds - before.fds), "count");
    figures.Print("engine_soak_thread_growth", static_cast<double>(after.threads - before.threads), "count");
    figures.Print("engine_soak_underruns", static_cast<double>(session.Underruns()), "count");
    return 0;
}
