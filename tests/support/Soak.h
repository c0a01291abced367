#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quendo::testing {

// A simulated stretch of automix: the real Core on fake decks with a hand-driven clock, a
// generated library, the main window's timers and events, and a random user acting every few
// seconds. After every step the playlist is checked against a model ledger that knows each
// entry's fate (played, deleted, cleared or still listed), and the displays, decks and mix
// against their ranges.
struct SoakViolation {
    std::uint32_t seed = 0;
    double simulatedSeconds = 0;
    std::string what;
    std::vector<std::string> lastActions;  // oldest first
};

struct SoakReport {
    std::uint32_t seed = 0;
    double simulatedSeconds = 0;
    std::int64_t ticks = 0;
    std::int64_t actions = 0;
    std::int64_t violations = 0;
    std::vector<SoakViolation> firstViolations;  // the first few, with their context

    // The ledger's totals.
    std::int64_t added = 0;
    std::int64_t played = 0;   // taken off the head after reaching a deck
    std::int64_t deleted = 0;
    std::int64_t cleared = 0;
    std::int64_t listed = 0;   // at the end
    std::int64_t lost = 0;     // left the list unexplained (each also a violation)
    std::int64_t starts = 0;   // tracks opened on a deck
    std::int64_t mixes = 0;
    double playingSeconds = 0;  // with a deck playing
    std::int64_t sessions = 0; // restarts after a close or a power-off included

    std::string Describe() const;  // the seed and the first violations, for a failing test
};

SoakReport RunSoak(std::uint32_t seed, double simulatedHours);

}  // namespace quendo::testing
