#include "playback/BeatMix.h"

#include <algorithm>
#include <cmath>

namespace quendo {

namespace {

constexpr int kBeatsPerBar = 4;

// A bar starts on the beats whose index is the grid's bar phase, modulo four; a grid that cannot
// tell counts its first beat as a bar's first.
int BarPhase(const BeatGrid& g) { return g.barPhase < 0 ? 0 : g.barPhase % kBeatsPerBar; }

long Mod(long a, long n) { return ((a % n) + n) % n; }

}  // namespace

std::optional<double> InStepRate(const BeatGrid& o, const BeatGrid& i) {
    if (!o.Steady() || !i.Steady()) return std::nullopt;
    double rate = 0;
    for (const double fold : {1.0, 2.0, 0.5}) {
        const double r = fold * i.period / o.period;
        if (rate == 0 || std::fabs(r - 1) < std::fabs(rate - 1)) rate = r;
    }
    if (!(std::fabs(rate - 1) <= kMaxTempoGap)) return std::nullopt;
    return rate;
}

std::optional<BeatMixPlan> PlanBeatMix(const TrackFacts& out, const TrackFacts& in, double earliest, double latest,
                                       double end, const MixEnvelope& envelope) {
    const BeatGrid& o = out.beats;
    const BeatGrid& i = in.beats;
    if (!out.audible || !in.audible) return std::nullopt;
    const std::optional<double> inStep = InStepRate(o, i);
    if (!inStep) return std::nullopt;
    const double rate = *inStep;

    BeatMixPlan plan;
    plan.outBpm = o.bpm;
    plan.inBpm = i.bpm;
    plan.rate = rate;

    // The last bar line of the outgoing track at or before `latest`.
    const double bar = kBeatsPerBar * o.period;
    const double beats = std::floor((latest - o.firstBeat) / o.period + 1e-9);
    if (!(std::fabs(beats) < 1e9)) return std::nullopt;  // no track is that long: the facts are wrong
    const long beat = static_cast<long>(beats);
    const long first = beat - Mod(beat - BarPhase(o), kBeatsPerBar);
    plan.start = o.firstBeat + static_cast<double>(first) * o.period;

    const int mixLength = std::max(1, envelope.MixLength());
    long bars = std::max(1L, std::lround(mixLength / 10.0 / bar));
    // Rounded up, or longer than the sound left, the bars would outlast the track: fewer of them,
    // or one bar line earlier where not even one fits.
    bars = std::min(bars, static_cast<long>(std::floor((end - plan.start) / bar + 1e-9)));
    if (bars < 1) {
        plan.start -= bar;
        bars = 1;
    }
    if (plan.start < earliest || plan.start < 0 || plan.start + bar > end + 1e-9) return std::nullopt;
    plan.length = static_cast<double>(bars) * bar;
    const long startBar =
        std::clamp(std::lround(static_cast<double>(envelope.StartingPosition()) / mixLength * static_cast<double>(bars)),
                   0L, bars - 1);
    plan.incomingAt = plan.start + static_cast<double>(startBar) * bar;
    plan.incomingFrom = i.firstBeat + BarPhase(i) * i.period;

    if (std::fabs(rate - 1) > 1e-9) {
        const double mixEnd = plan.incomingFrom + (plan.start + plan.length - plan.incomingAt) * rate;
        plan.ratePlan = {{plan.incomingFrom, rate},
                         {mixEnd, rate},
                         {mixEnd + kGlideBars * kBeatsPerBar * i.period, 1.0}};
    }
    return plan;
}

}  // namespace quendo
