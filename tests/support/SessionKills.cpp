#include "support/SessionKills.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/Fakes.h"

namespace quendo::testing {

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC: the same in the child and the parent

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct State {
    std::int64_t ns;
    std::string content;
};

[[noreturn]] void RunChild(const std::string& folder, const std::string& logPath, std::uint32_t seed) {
    FakeWorld w;
    Core& c = *w.core;
    c.FormCreate();
    w.FirstRunIn(folder);
    std::vector<std::int32_t> files;
    for (int i = 0; i < 40; ++i)
        files.push_back(w.AddFile("Folder" + std::to_string(i % 4) + "/Track " + std::to_string(i) + ".mp3",
                                  30 + 7 * i));
    c.cocktails.FillIngredientLists();
    c.buttons.UP = true;

    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::uint64_t logged = ~std::uint64_t{0};
    auto logState = [&] {
        if (c.playlist.Generation() == logged) return;
        logged = c.playlist.Generation();
        const std::string content = c.playlist.PlaylistFileContent();
        const std::string record = std::to_string(NowNs()) + " " + std::to_string(content.size()) + "\n" + content;
        [[maybe_unused]] const ssize_t n = ::write(log, record.data(), record.size());
    };
    logState();

    std::mt19937 rng(seed);
    auto below = [&](int n) { return n <= 0 ? 0 : static_cast<int>(rng() % static_cast<unsigned>(n)); };
    bool timer3 = false;  // running, until saveAt
    Clock::time_point saveAt{};
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < giveUp) {
        Playlist& pl = c.playlist;
        const int op = below(40);
        if (op < 18) {  // an add, at the end or inserted before a selected entry
            const int at = below(3) == 0 ? below(pl.Count()) : -1;
            pl.SetSelected(at, true);
            pl.AddToPlaylist(files[static_cast<std::size_t>(below(static_cast<int>(files.size())))]);
            for (int i = 0; i < pl.Count(); ++i) pl.SetSelected(i, false);
        } else if (op < 25) {
            for (int n = 1 + below(2); n > 0; --n) pl.SetSelected(below(pl.Count()), true);
            pl.DeleteSelectedEntries();
        } else if (op < 31 && pl.Count() > 1) {  // a move
            const int from = below(pl.Count());
            const std::string text = pl.ListBox1()[static_cast<std::size_t>(from)];
            const std::int32_t file = pl.ListBox2()[static_cast<std::size_t>(from)];
            pl.Erase(from);
            pl.Insert(below(pl.Count() + 1), text, file);
        } else if (op < 39) {  // the playing track ends in a mix: the next leaves the list, or goes round
            c.buttons.Repeat = below(4) == 0;
            w.StartMix();
            w.FinishMix();
        } else {
            c.cocktails.MakeCocktail();
        }
        logState();

        // As the main window renders after every handler, and as its Timer3 then runs.
        for (;;) {
            if (!timer3 && c.PlaylistSaveDue()) {
                timer3 = true;
                saveAt = Clock::now() + std::chrono::milliseconds(Core::kPlaylistSaveDelayMs);
            }
            const Clock::time_point wake = Clock::now() + std::chrono::milliseconds(below(150));
            if (timer3 && saveAt < wake) {
                std::this_thread::sleep_until(saveAt);
                timer3 = false;
                c.Timer3Timer();
                continue;
            }
            std::this_thread::sleep_until(wake);
            break;
        }
    }
    ::_exit(3);
}

std::vector<State> ReadStates(const std::string& content) {
    std::vector<State> states;
    std::size_t at = 0;
    while (at < content.size()) {
        const std::size_t eol = content.find('\n', at);
        if (eol == std::string::npos) break;
        const std::string header = content.substr(at, eol - at);
        const std::size_t blank = header.find(' ');
        if (blank == std::string::npos) break;
        const std::int64_t ns = std::stoll(header.substr(0, blank));
        const std::size_t size = std::stoull(header.substr(blank + 1));
        if (eol + 1 + size > content.size()) break;  // cut by the kill
        states.push_back({ns, content.substr(eol + 1, size)});
        at = eol + 1 + size;
    }
    return states;
}

}  // namespace

SessionKillResult RunSessionKills(int kills, std::uint32_t seed, int minKillMs, int maxKillMs) {
    SessionKillResult result;
    std::mt19937 rng(seed);
    for (int k = 0; k < kills; ++k) {
        TempDir dir;
        const std::string folder = dir / "program";
        std::filesystem::create_directory(folder);
        const std::string logPath = dir / "states";
        const std::uint32_t childSeed = rng();
        const int killAfterMs = minKillMs + static_cast<int>(rng() % static_cast<unsigned>(maxKillMs - minKillMs + 1));

        const pid_t pid = ::fork();
        if (pid < 0) break;
        if (pid == 0) RunChild(folder, logPath, childSeed);
        // Timed from the first state logged: the child is running.
        const Clock::time_point readyBy = Clock::now() + std::chrono::seconds(10);
        std::error_code ec;
        for (;;) {
            const std::uintmax_t size = std::filesystem::file_size(logPath, ec);
            if ((!ec && size > 0) || Clock::now() > readyBy) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
        const std::int64_t killedNs = NowNs();
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        ++result.kills;
        const std::string file = std::filesystem::exists(dir / "program/qnd.m3u") ? dir.ReadFile("program/qnd.m3u") : "";
        const std::vector<State> states = ReadStates(dir.ReadFile("states"));
        std::optional<std::size_t> match;
        for (std::size_t i = states.size(); i-- > 0;)
            if (states[i].content == file) {
                match = i;
                break;
            }
        if (!match) {
            ++result.unmatched;
            std::fprintf(stderr, "session kill %d: the file (%zu bytes) matches none of %zu states\n", k,
                         file.size(), states.size());
            if (std::getenv("QUENDO_KEEP_KILLED")) {
                std::fprintf(stderr, "FILE:\n%s", file.c_str());
                for (std::size_t i = states.size() >= 3 ? states.size() - 3 : 0; i < states.size(); ++i)
                    std::fprintf(stderr, "STATE %zu at %lld:\n%s", i, static_cast<long long>(states[i].ns), states[i].content.c_str());
            }
            continue;
        }
        const double lossMs =
            *match + 1 == states.size() ? 0 : std::max<double>(0, (killedNs - states[*match + 1].ns) / 1e6);
        result.maxLossMs = std::max(result.maxLossMs, lossMs);
    }
    return result;
}

}  // namespace quendo::testing
