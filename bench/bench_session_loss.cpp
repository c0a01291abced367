#include "BenchUtil.h"
#include "support/SessionKills.h"

// How much of the playlist a SIGKILL costs: 200 kills of a core whose playlist changes at random;
// each time, the playlist file read back equals the playlist as it was at most this long before.
int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("session_loss_ms_max") && !figures.Wants("session_loss_unmatched")) return 0;
    const quendo::testing::SessionKillResult r = quendo::testing::RunSessionKills(200, 20240611u, 100, 1600);
    if (r.kills != 200) std::fprintf(stderr, "bench_session_loss: only %d kills\n", r.kills);
    figures.Print("session_loss_ms_max", r.maxLossMs, "ms");
    // Files that match no state at all: a loss without bound.
    figures.Print("session_loss_unmatched", r.unmatched, "count");
}
