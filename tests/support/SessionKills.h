#pragma once
#include <cstdint>

namespace quendo::testing {

struct SessionKillResult {
    int kills = 0;
    int unmatched = 0;     // playlist files equal to no state the playlist ever had
    double maxLossMs = 0;  // how long before its kill the newest state a file held had already changed
};

// Runs the core in a child process, on fake decks, with its playlist changing at random (adds,
// inserts, deletions, moves, tracks ending, now and then a cocktail) and the playlist file's
// timer run as the main window runs it; the child logs each state of the playlist with its time.
// The child is killed with SIGKILL between minKillMs and maxKillMs after it started, `kills`
// times; each time "qnd.m3u" is read back and matched against the logged states.
SessionKillResult RunSessionKills(int kills, std::uint32_t seed, int minKillMs, int maxKillMs);

}  // namespace quendo::testing
