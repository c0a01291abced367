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

std::optional<BeatMixPlan> PlanBeatMix(const TrackFacts& out, const TrackFacts& in, double earliest, double latest,
                                       const MixEnvelope& envelope) {
    const BeatGrid& o = out.beats;
    const BeatGrid& i = in.beats;
    if (!o.Steady() || !i.Steady() || !out.audible || !in.audible) return std::nullopt;

    // The incoming track's rate brings its tempo to the outgoing one's, or to its double or half,
    // whichever asks the least of it.
    double rate = 0;
    for (const double fold : {1.0, 2.0, 0.5}) {
        const double r = fold * i.period / o.period;
        if (rate == 0 || std::fabs(r - 1) < std::fabs(rate - 1)) rate = r;
    }
    if (std::fabs(rate - 1) > kMaxTempoGap) return std::nullopt;

    BeatMixPlan plan;
    plan.outBpm = o.bpm;
    plan.inBpm = i.bpm;
    plan.rate = rate;

    // The last bar line of the outgoing track at or before `latest`.
    const double bar = kBeatsPerBar * o.period;
    const long beat = static_cast<long>(std::floor((latest - o.firstBeat) / o.period + 1e-9));
    const long first = beat - Mod(beat - BarPhase(o), kBeatsPerBar);
    plan.start = o.firstBeat + static_cast<double>(first) * o.period;
    if (plan.start < earliest || plan.start < 0) return std::nullopt;

    const int mixLength = std::max(1, envelope.MixLength());
    const long bars = std::max(1L, std::lround(mixLength / 10.0 / bar));
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

double RateAt(const std::vector<MediaPlayer::RatePoint>& plan, double fileSeconds) {
    if (plan.empty()) return 1;
    if (fileSeconds <= plan.front().fileSeconds) return plan.front().rate;
    for (std::size_t k = 1; k < plan.size(); ++k) {
        const MediaPlayer::RatePoint &a = plan[k - 1], &b = plan[k];
        if (fileSeconds < b.fileSeconds) {
            const double span = b.fileSeconds - a.fileSeconds;
            return span > 0 ? a.rate + (b.rate - a.rate) * (fileSeconds - a.fileSeconds) / span : b.rate;
        }
    }
    return plan.back().rate;
}

}  // namespace quendo
