#include "playback/BeatMix.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <tuple>

namespace quendo {

namespace {

constexpr int kBeatsPerBar = 4;

// A bar starts on the beats whose index is the grid's bar phase, modulo four; a grid that cannot
// tell counts its first beat as a bar's first.
int BarPhase(const BeatGrid& g) { return g.barPhase < 0 ? 0 : g.barPhase % kBeatsPerBar; }

long Mod(long a, long n) { return ((a % n) + n) % n; }

// The incoming deck's rates: held through the mix, then a glide back to its own.
void PlanRates(BeatMixPlan& plan, const BeatGrid& i) {
    if (std::fabs(plan.rate - 1) <= 1e-9) return;
    const double mixEnd = plan.incomingFrom + (plan.start + plan.length - plan.incomingAt) * plan.rate;
    plan.ratePlan = {{plan.incomingFrom, plan.rate},
                     {mixEnd, plan.rate},
                     {mixEnd + kGlideBars * kBeatsPerBar * i.period, 1.0}};
}

bool HasPhrases(const TrackFacts& f) {
    return f.audible && f.beats.Steady() && f.beats.barPhase >= 0 && f.form.Known() && f.form.phrases.size() >= 2;
}

// The bar lines a mix on phrases may start or end on: the phrase lines found, every eighth bar
// after each (a section that runs on unchanged is still played in phrases of eight bars), and the
// last bar line, where the music ends.
std::vector<int> PhraseLines(const TrackForm& f) {
    std::vector<int> found;
    for (const int p : f.phrases)
        if (p >= 0 && p < f.bars && (found.empty() || p > found.back())) found.push_back(p);
    std::vector<int> lines;
    for (std::size_t k = 0; k < found.size(); ++k) {
        const int next = k + 1 < found.size() ? found[k + 1] : f.bars;
        for (int line = found[k]; line < next; line += kPhraseBars) lines.push_back(line);
    }
    if (!lines.empty()) lines.push_back(f.bars);
    return lines;
}

// The first phrase line at or after `bar`; `bar` itself past the last one.
int LineFrom(const std::vector<int>& lines, int bar) {
    const auto it = std::lower_bound(lines.begin(), lines.end(), bar);
    return it == lines.end() ? bar : *it;
}

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
    plan.bars = static_cast<int>(bars);
    const long startBar =
        std::clamp(std::lround(static_cast<double>(envelope.StartingPosition()) / mixLength * static_cast<double>(bars)),
                   0L, bars - 1);
    plan.incomingAt = plan.start + static_cast<double>(startBar) * bar;
    plan.incomingFrom = i.firstBeat + BarPhase(i) * i.period;
    PlanRates(plan, i);
    return plan;
}

std::optional<BeatMixPlan> PlanPhraseMix(const TrackFacts& out, const TrackFacts& in, double earliest, double end,
                                         const MixEnvelope& envelope) {
    if (!HasPhrases(out) || !HasPhrases(in)) return std::nullopt;
    const std::optional<double> inStep = InStepRate(out.beats, in.beats);
    if (!inStep) return std::nullopt;
    const BeatGrid& o = out.beats;
    const TrackForm& form = out.form;
    const double bar = kBeatsPerBar * o.period;
    // The last bar line at the end, or within a beat after it: the last sound is the tail of
    // the last beat more often than not.
    const double endBars = std::floor((end - BarStart(o, 0)) / bar + 1.0 / kBeatsPerBar + 1e-9);
    const double earliestBars = std::ceil((earliest - BarStart(o, 0)) / bar - 1e-9);
    if (!(std::fabs(endBars) < 1e6) || !(std::fabs(earliestBars) < 1e6)) return std::nullopt;
    const int limit = std::min(form.bars, static_cast<int>(endBars));
    const int first = std::max(0, static_cast<int>(earliestBars));
    // What the envelope's ticks can hold.
    const int most = std::min(kMaxPhraseMixBars, static_cast<int>((MixEnvelope::kPoints - 1) / 10.0 / bar));
    const std::vector<int> lines = PhraseLines(form);
    const std::vector<int> inLines = PhraseLines(in.form);
    // The incoming track's intro: the phrases before its bass comes in.
    const int intro = in.form.bassIn > 0 ? LineFrom(inLines, in.form.bassIn) : 0;

    BeatMixPlan plan;
    int from = -1, to = -1, outro = 0;
    plan.fadeOut = form.fadeOut > 0 && form.fadeOut < limit;
    to = plan.fadeOut ? std::min(limit, form.fadeOut + most) : limit;

    // How the mix from `start` lies: its lines, the outgoing line the incoming track starts on
    // (the nearest the envelope's starting position), and the incoming phrase line it starts
    // from: the one whose lines then fall on the most of the outgoing track's, the earliest of
    // those; under a fade-out, where its full part begins, so that the show does not sag.
    struct Layout {
        std::vector<int> lines;
        int at = 0, from = -1;
    };
    const double share = static_cast<double>(envelope.StartingPosition()) / std::max(1, envelope.MixLength());
    const auto lay = [&](int start) {
        Layout l;
        l.lines.push_back(start);
        for (const int line : lines)
            if (line > start && line < to) l.lines.push_back(line);
        l.lines.push_back(to);
        const double wanted = start + share * (to - start);
        l.at = start;
        for (const int line : l.lines)
            if (line < to && std::fabs(line - wanted) < std::fabs(l.at - wanted)) l.at = line;
        int aligned = -1;
        for (const int line : inLines) {
            if (line > kMaxPhraseMixBars || in.form.bars - line < to - l.at) break;
            int on = 0;
            for (const int i : inLines)
                if (i >= line && i < line + (to - l.at) &&
                    std::binary_search(l.lines.begin(), l.lines.end(), l.at + i - line))
                    ++on;
            if (plan.fadeOut && intro > 0) on = line == intro ? 1 << 20 : on;
            if (on > aligned) {
                aligned = on;
                l.from = line;
            }
        }
        return l;
    };
    // How far the weakest bar of a mix falls below the two tracks' full parts, each at its own
    // loudness (as matched), the two decks at full: a breakdown laid under an outro sags.
    std::vector<double> usual;
    const auto level = [](const TrackFacts& f, int b) {
        if (b < 0 || b >= static_cast<int>(f.form.levels.size())) return -HUGE_VAL;
        double power = 0;
        for (const float db : f.form.levels[b]) power += std::pow(10.0, db / 10.0);
        return 10 * std::log10(power) - f.integratedLufs;
    };
    const bool heard = static_cast<int>(form.levels.size()) == form.bars && !in.form.levels.empty();
    if (heard) {
        for (const TrackFacts* f : {&out, &in})
            for (int b = 0; b < f->form.bars; ++b) usual.push_back(level(*f, b));
        // The tracks' full parts, though intros and outros may be the most of their bars.
        std::nth_element(usual.begin(), usual.begin() + usual.size() * 3 / 4, usual.end());
    }
    const auto dip = [&](int start, const Layout& l) {
        if (!heard) return 0.0;
        double weakest = HUGE_VAL;
        for (int b = start; b < to; ++b) {
            const double a = level(out, b), i = b >= l.at ? level(in, l.from + b - l.at) : -HUGE_VAL;
            weakest = std::min(weakest, 10 * std::log10(std::pow(10.0, a / 10) + std::pow(10.0, i / 10)));
        }
        return usual[usual.size() * 3 / 4] - weakest;
    };

    Layout layout;
    if (plan.fadeOut) {
        // A fade-out is mixed from where it begins: played out alone, it sags.
        from = form.fadeOut;
        layout = lay(from);
    } else {
        // The mix ends where the music does, so that nothing of the outgoing track plays on after it.
        // The outgoing track's outro: the phrases after its bass has gone.
        if (form.bassOut >= 0 && form.bassOut < to) outro = to - LineFrom(lines, form.bassOut);
        // Neither an outro nor an intro: the envelope's length in whole phrases.
        int want = std::max(outro, intro);
        if (want < kMinPhraseBars) {
            const double seconds = envelope.MixLength() / 10.0;
            want = kPhraseBars * std::max(1, static_cast<int>(std::ceil(seconds / (kPhraseBars * bar) - 1e-9)));
        }
        want = std::min(want, most);
        // The nearest to the length wanted of those that hold the level within kMaxMixDipDb, else
        // of those that fall least below it; of two as near, the shorter.
        std::tuple<double, int, int> best{HUGE_VAL, 0, 0};
        for (const int line : lines) {
            const int length = to - line;
            if (line < first || length < kMinPhraseBars || length > most) continue;
            Layout l = lay(line);
            if (l.from < 0) continue;
            const std::tuple<double, int, int> key{std::max(0.0, dip(line, l) - kMaxMixDipDb), std::abs(length - want), length};
            if (key < best) {
                best = key;
                from = line;
                layout = std::move(l);
            }
        }
    }
    if (from < first || to - from < 1 || layout.from < 0) return std::nullopt;

    plan.onPhrases = true;
    plan.outBpm = o.bpm;
    plan.inBpm = in.beats.bpm;
    plan.rate = *inStep;
    plan.bars = to - from;
    plan.start = BarStart(o, from);
    plan.length = plan.bars * bar;
    if (plan.start < earliest || plan.start < 0) return std::nullopt;
    plan.outro = outro > 0;  // the mix ends with the track, so within its outro
    plan.intro = intro > layout.from;
    for (const int line : layout.lines) plan.phraseLines.push_back(BarStart(o, line));
    plan.incomingAt = BarStart(o, layout.at);
    plan.incomingFrom = BarStart(in.beats, layout.from);
    PlanRates(plan, in.beats);
    return plan;
}

void PlanBassSwap(BeatMixPlan& plan, const TrackFacts& out, const TrackFacts& in) {
    plan.bassSwapAt = -1;
    plan.outgoingBass.clear();
    plan.incomingBass.clear();
    const TrackForm &fo = out.form, &fi = in.form;
    if (!fo.Known() || !fi.Known() || out.beats.barPhase < 0 || in.beats.barPhase < 0 || fo.bassIn < 0 ||
        fi.bassIn < 0 || !(plan.rate > 0) || plan.length <= 0)
        return;
    const BeatGrid& o = out.beats;
    const double bar = kBeatsPerBar * o.period;
    const double mixEnd = plan.start + plan.length;
    const auto heard = [&](double inSeconds) { return plan.incomingAt + (inSeconds - plan.incomingFrom) / plan.rate; };
    const auto inFile = [&](double outSeconds) { return plan.incomingFrom + (outSeconds - plan.incomingAt) * plan.rate; };
    // A fade-out's bass fades with it, to the end.
    const double outBassEnd =
        plan.fadeOut ? mixEnd : std::min(mixEnd, BarStart(o, fo.bassOut < 0 ? fo.bars : fo.bassOut));
    const double inBassAt = std::max(plan.incomingAt, heard(BarStart(in.beats, fi.bassIn)));
    if (outBassEnd <= inBassAt + 1e-6) return;  // the one has gone before the other comes

    // The line of the swap: where the incoming bass comes in, held back to the next line, or,
    // when it plays from its start, the line nearest the middle of the two bass lines' overlap.
    // A phrase line of the mix where there is one, else a bar line; the mix's end at the latest.
    const auto choose = [&](const std::vector<double>& lines) -> std::optional<double> {
        std::optional<double> at;
        const double middle = (inBassAt + outBassEnd) / 2;
        for (const double line : lines) {
            if (inBassAt > plan.incomingAt + 1e-6 || plan.fadeOut) {
                if (line >= inBassAt - 1e-6) return line;
            } else if (!at || std::fabs(line - middle) < std::fabs(*at - middle)) {
                at = line;
            }
        }
        return at;
    };
    std::vector<double> phrases, bars;
    for (const double line : plan.phraseLines)
        if (line > plan.incomingAt + 1e-6 && line < mixEnd - 1e-6) phrases.push_back(line);
    for (double line = plan.incomingAt + bar; line < mixEnd - 1e-6; line += bar) bars.push_back(line);
    std::optional<double> chosen = choose(phrases);
    if (!chosen) chosen = choose(bars);
    const double at = chosen.value_or(mixEnd);
    const double ramp = o.period / 4;
    plan.bassSwapAt = at;
    plan.bassSwapBar = static_cast<int>(std::lround((at - plan.start) / bar)) + 1;
    plan.outgoingBass = {{at - ramp, 1.0}, {at, 0.0}};
    plan.incomingBass = {{inFile(at - ramp), 0.0}, {inFile(at), 1.0}};
}

std::string MixInWords(const BeatMixPlan& plan, const std::string& out, const std::string& in) {
    std::string words = "Mixed over " + std::to_string(plan.bars) + (plan.bars == 1 ? " bar" : " bars");
    if (plan.onPhrases)
        words += std::string(": ") + (plan.fadeOut ? "the fade-out of " : plan.outro ? "the outro of " : "the end of ") +
                 out + " under " + (plan.intro ? "the intro of " : "the start of ") + in;
    if (plan.bassSwapAt >= 0) words += "; bass swapped at bar " + std::to_string(plan.bassSwapBar);
    return words;
}

}  // namespace quendo
