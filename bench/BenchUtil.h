#pragma once
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
