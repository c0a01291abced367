#pragma once
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace bench {

// The figures asked for on the command line; none asked means all.
class Figures {
public:
    Figures(int argc, char** argv) {
        for (int i = 1; i < argc; ++i) wanted_.insert(argv[i]);
    }
    bool Wants(const std::string& name) const { return wanted_.empty() || wanted_.count(name) > 0; }
    void Print(const std::string& name, double value, const char* unit) const {
        if (Wants(name)) std::printf("%s %.6g %s\n", name.c_str(), value, unit);
        std::fflush(stdout);
    }

private:
    std::set<std::string> wanted_;
};

inline double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

inline double CpuSeconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}
inline double ThreadCpu() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// Written out and dropped from the page cache, so that reading it goes to the disk.
inline bool OutOfMemory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return done;
}

// The engine's share of one core, percent, while its two decks play for `seconds` from now and
// the interface thread (this one) keeps a core busy, as it may: the engine must not need it.
template <class Engine>
double PlayingCpuPercent(Engine& engine, double seconds) {
    const double wall0 = NowSeconds();
    const double proc0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID), busy0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    engine.Deck1().Play();
    engine.Deck2().Play();
    volatile double sink = 0;
    int n = 0;
    while (NowSeconds() - wall0 < seconds) {
        for (int i = 0; i < 100000; ++i) sink = sink + std::sqrt(static_cast<double>(i + n));
        if (++n % 64 == 0) {
            engine.Deck1().SetBalance(n % 2000);
            engine.DeliverPendingEvents();
        }
    }
    const double busy = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - busy0;
    const double proc = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - proc0;
    return 100 * (proc - busy) / (NowSeconds() - wall0);
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Median seconds of one call of f over `runs` runs.
template <class F>
double MedianSeconds(int runs, F&& f) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double t0 = NowSeconds();
        f();
        times.push_back(NowSeconds() - t0);
    }
    return Median(times);
}

// CPU seconds (user + system) of a child running `args`; <0 when it failed.
inline double ChildCpuSeconds(const std::vector<std::string>& args) {
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

}  // namespace bench
