// A simulated day of automix on fake decks: "soak_violations" must stay 0.
#include <cstdlib>

#include "BenchUtil.h"
#include "support/Soak.h"

int main(int argc, char** argv) {
    const bench::Figures figures(argc, argv);
    if (!figures.Wants("soak_simulated_hours") && !figures.Wants("soak_violations") &&
        !figures.Wants("soak_ms_per_simulated_hour"))
        return 0;
    constexpr double kHours = 24;
    std::uint32_t seed = 1;
    if (const char* s = std::getenv("QUENDO_SOAK_SEED")) seed = static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10));

    const double t0 = bench::NowSeconds();
    const quendo::testing::SoakReport r = quendo::testing::RunSoak(seed, kHours);
    const double elapsed = bench::NowSeconds() - t0;

    if (r.violations > 0) std::fprintf(stderr, "%s", r.Describe().c_str());
    figures.Print("soak_simulated_hours", r.simulatedSeconds / 3600, "h");
    figures.Print("soak_violations", static_cast<double>(r.violations), "count");
    figures.Print("soak_ms_per_simulated_hour", elapsed * 1000 / kHours, "ms");
    return 0;
}
