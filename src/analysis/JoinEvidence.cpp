#include "analysis/JoinEvidence.h"

#include <algorithm>
#include <cmath>

namespace quendo {

namespace {

// Sound within this of the file's end (or start) sounds to the edge: the analysis' windows are
// 50 ms, and a fade or a breath is longer.
constexpr double kEdgeReach = 0.15;
constexpr double kSameTempo = 0.003;     // relative
constexpr double kOnTheBeat = 0.010;     // seconds: each grid is good to about half of it
// How far a band's level may step at a cut within one piece: the edges are a second of music on
// either side, which moves by a few dB from one second to the next.
constexpr double kLevelStepDb = 4;
// A band this far under the loudest hardly shapes what is heard, and a few hats more or less move
// it by much: it is compared from there up only.
constexpr double kBandRangeDb = 20;
constexpr int kBeatsPerBar = 4;

bool BeatsRunOn(const TrackFacts& out, const TrackFacts& in) {
    const BeatGrid& o = out.beats;
    const BeatGrid& i = in.beats;
    if (std::fabs(o.period - i.period) > kSameTempo * std::min(o.period, i.period)) return false;
    // The in grid's first beat in the out file's time, against the out grid carried on to it.
    const double at = out.decodedSeconds + i.firstBeat;
    const double beats = (at - o.firstBeat) / o.period;
    const double nearest = std::round(beats);
    if (std::fabs(beats - nearest) * o.period > kOnTheBeat) return false;
    if (o.barPhase < 0 || i.barPhase < 0) return true;
    const auto inBar = [](double k, int phase) {
        const long n = (static_cast<long>(k) - phase) % kBeatsPerBar;
        return n < 0 ? n + kBeatsPerBar : n;
    };
    return inBar(nearest, o.barPhase) == inBar(0, i.barPhase);
}

bool LevelsRunOn(const TrackFacts::Edge& tail, const TrackFacts::Edge& head) {
    const double loudest = std::max(*std::max_element(std::begin(tail.rmsDb), std::end(tail.rmsDb)),
                                    *std::max_element(std::begin(head.rmsDb), std::end(head.rmsDb)));
    for (int b = 0; b < 3; ++b) {
        const double floor = loudest - kBandRangeDb;
        if (std::fabs(std::max(tail.rmsDb[b], floor) - std::max(head.rmsDb[b], floor)) > kLevelStepDb) return false;
    }
    return true;
}

}  // namespace

bool RunsAcrossTheCut(const TrackFacts& out, const TrackFacts& in) {
    if (!out.audible || !in.audible || out.lastSound < out.decodedSeconds - kEdgeReach || in.firstSound > kEdgeReach)
        return false;
    if (out.beats.Steady() && in.beats.Steady()) return BeatsRunOn(out, in);
    return LevelsRunOn(out.tailEdge, in.headEdge);
}

double JoinedLufs(const TrackFacts& a, const TrackFacts& b) {
    double energy = 0, seconds = 0;
    for (const TrackFacts* f : {&a, &b}) {
        if (!f->audible) continue;
        energy += f->decodedSeconds * std::pow(10.0, f->integratedLufs / 10);
        seconds += f->decodedSeconds;
    }
    if (seconds <= 0) return a.audible ? a.integratedLufs : b.integratedLufs;
    return 10 * std::log10(energy / seconds);
}

}  // namespace quendo
