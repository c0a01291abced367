#include "analysis/GridFit.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace quendo::audio {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

struct Line {
    double origin = 0, period = 0;  // beat k at origin + k * period
    double At(double k) const { return origin + k * period; }
    double Index(double t) const { return (t - origin) / period; }
};

// How well the beats sit on one period: the length of their mean phase vector, 0..1, and the
// origin it points at.
double Coherence(const std::vector<double>& beats, double period, double* origin) {
    std::complex<double> sum = 0;
    for (double t : beats) sum += std::polar(1.0, 2 * kPi * t / period);
    *origin = std::arg(sum) / (2 * kPi) * period;
    return std::abs(sum) / static_cast<double>(beats.size());
}

// Least squares through the times that lie within `tolerance` of `line`, each on its nearest grid
// index. False when too few do.
bool Refit(const std::vector<double>& times, double tolerance, Line* line) {
    double n = 0, sk = 0, st = 0, skk = 0, skt = 0;
    for (double t : times) {
        const double k = std::round(line->Index(t));
        if (std::fabs(t - line->At(k)) > tolerance) continue;
        n += 1, sk += k, st += t, skk += k * k, skt += k * t;
    }
    const double det = n * skk - sk * sk;
    if (n < 8 || det <= 0) return false;
    line->period = (n * skt - sk * st) / det;
    line->origin = (st - line->period * sk) / n;
    return line->period > 0;
}

// Reads the evidence at times of the sound.
class Reader {
public:
    explicit Reader(const OnsetEvidence& e) : e_(e) {}

    // The strongest value of f within two hops of t (about 25 ms); false where the analysis did not
    // listen.
    bool Peak(const std::vector<float>& f, double t, float* value, double* at = nullptr) const {
        const long centre = std::lround(t / e_.hopSeconds);
        long best = -1;
        for (long h = centre - 2; h <= centre + 2; ++h) {
            if (!e_.Kept(h)) return false;
            if (best < 0 || f[e_.Index(h)] > f[e_.Index(best)]) best = h;
        }
        *value = f[e_.Index(best)];
        if (at) {
            // A parabola through the peak and its neighbours places it between hops.
            double offset = 0;
            if (e_.Kept(best - 1) && e_.Kept(best + 1)) {
                const double a = f[e_.Index(best - 1)], b = f[e_.Index(best)], c = f[e_.Index(best + 1)];
                const double d = a - 2 * b + c;
                if (d < 0) offset = std::clamp(0.5 * (a - c) / d, -0.5, 0.5);
            }
            *at = (static_cast<double>(best) + offset) * e_.hopSeconds;
        }
        return true;
    }

    // The mean of f's peaks at the beats k + shift of `line` between two times, for k a multiple
    // of `step`.
    double MeanAt(const std::vector<float>& f, const Line& line, double from, double to, double shift, double step = 1) const {
        double sum = 0;
        int count = 0;
        for (double k = step * std::ceil(line.Index(from) / step); line.At(k) <= to; k += step) {
            float v = 0;
            if (Peak(f, line.At(k + shift), &v)) sum += v, ++count;
        }
        return count ? sum / count : 0;
    }

    // The mean of f over the kept hops between two times.
    double Mean(const std::vector<float>& f, double from, double to) const {
        double sum = 0;
        long count = 0;
        for (long h = std::lround(from / e_.hopSeconds); h < std::lround(to / e_.hopSeconds); ++h)
            if (e_.Kept(h)) sum += f[e_.Index(h)], ++count;
        return count ? sum / static_cast<double>(count) : 0;
    }

    // The mean band energies over [from, to), when the analysis listened to all of it.
    bool Bands(double from, double to, std::array<double, OnsetEvidence::kBands>* out) const {
        out->fill(0);
        long count = 0;
        for (long h = std::lround(from / e_.hopSeconds); h < std::lround(to / e_.hopSeconds); ++h) {
            if (!e_.Kept(h)) return false;
            for (int b = 0; b < OnsetEvidence::kBands; ++b) (*out)[static_cast<std::size_t>(b)] += e_.bands[e_.Index(h)][static_cast<std::size_t>(b)];
            ++count;
        }
        for (double& v : *out) v /= static_cast<double>(std::max(1L, count));
        return count > 0;
    }

    const OnsetEvidence& Evidence() const { return e_; }

private:
    const OnsetEvidence& e_;
};

// The period within each stretch the analysis listened to, where the tracker's beats run
// unbroken: the stretches lie a minute apart, so a period off by one beat a minute would fit them
// all as well; within one, it would not.
double StretchPeriod(const std::vector<double>& beats, const OnsetEvidence& e, double rough) {
    std::vector<double> periods;
    std::vector<double> group;
    const auto close = [&] {
        if (group.size() >= 8) {
            // Each beat's index from the one before: a typical interval off by a per cent does not
            // add up over the stretch, as it would counted from the first beat.
            double k = 0, n = 0, sk = 0, st = 0, skk = 0, skt = 0;
            for (std::size_t i = 0; i < group.size(); ++i) {
                if (i > 0) k += std::max(1.0, std::round((group[i] - group[i - 1]) / rough));
                n += 1, sk += k, st += group[i], skk += k * k, skt += k * group[i];
            }
            Line l;
            l.period = (n * skt - sk * st) / (n * skk - sk * sk);
            l.origin = (st - l.period * sk) / n;
            if (l.period > 0 && Refit(group, 0.15 * l.period, &l)) periods.push_back(l.period);
        }
        group.clear();
    };
    long stretch = -1;
    for (double t : beats) {
        const long s = std::lround(t / e.hopSeconds) / e.every;
        if (s != stretch) close(), stretch = s;
        group.push_back(t);
    }
    close();
    return periods.empty() ? rough : Median(periods);
}

// The period within `range` of the line's and the phase that put the grid's beats on the strongest
// onsets, the grid turning about the middle of the track, where its phase is surest. `reach`: how
// far (seconds) the phase may move at each period; the best phase at the line's period comes first.
Line Sharpen(const Line& line, double range, double reach, const Reader& read, const std::vector<float>& onset, double hop,
             double from, double to) {
    const double middle = (from + to) / 2, k = std::round(line.Index(middle));
    Line best = line;
    double most = -1;
    const auto consider = [&](const Line& l) {
        const double v = read.MeanAt(onset, l, from, to, 0);
        if (v > most) most = v, best = l;
    };
    for (double shift = -line.period / 2; shift < line.period / 2; shift += hop / 2) consider({line.origin + shift, line.period});
    const Line phased = best;
    const double step = 0.05 * line.period * line.period / (to - from);
    for (double p = line.period * (1 - range); p <= line.period * (1 + range); p += step)
        for (double shift = -reach; shift <= reach; shift += hop / 2) consider({phased.At(k) + shift - k * p, p});
    return best;
}

// How far the accented beat's onsets must stand above each other beat's.
constexpr double kAccentMargin = 1.15;

// Which beats k of the line start a bar, as k mod 4: where the harmony changes and the low end
// hits, summed over each of the four phases; where those leave it open, the one beat hit harder
// than the other three (a crash, an accent); -1 when no phase stands out.
int BarStart(const Line& line, const Reader& read, double from, double to) {
    double change[4] = {}, low[4] = {}, hit[4] = {}, high[4] = {};
    int counts[4] = {};
    std::array<double, OnsetEvidence::kBands> before{}, after{};
    for (double k = std::ceil(line.Index(from)) + 1; line.At(k + 1) <= to; k += 1) {
        if (!read.Bands(line.At(k - 1), line.At(k), &before) || !read.Bands(line.At(k), line.At(k + 1), &after)) continue;
        double d = 0;
        for (std::size_t b = 0; b < before.size(); ++b) d += std::fabs(after[b] - before[b]);
        float v = 0;
        read.Peak(read.Evidence().low, line.At(k), &v);
        const int p = static_cast<int>(static_cast<long>(k) % 4 + 4) % 4;
        change[p] += d, low[p] += v, ++counts[p];
        v = 0;
        read.Peak(read.Evidence().onset, line.At(k), &v);
        hit[p] += v;
        v = 0;
        read.Peak(read.Evidence().high, line.At(k), &v);
        high[p] += v;
    }
    // Each cue as a share of its sum over the phases, so that neither outweighs the other.
    double scores[4] = {}, changeSum = 0, lowSum = 0;
    for (int p = 0; p < 4; ++p) {
        if (!counts[p]) return -1;
        change[p] /= counts[p], low[p] /= counts[p];
        changeSum += change[p], lowSum += low[p];
    }
    for (int p = 0; p < 4; ++p) scores[p] = (changeSum > 0 ? change[p] / changeSum : 0) + (lowSum > 0 ? low[p] / lowSum : 0);
    const int best = static_cast<int>(std::max_element(scores, scores + 4) - scores);
    bool clear = true;
    for (int p = 0; p < 4; ++p) clear = clear && (p == best || scores[p] * 1.1 < scores[best]);
    if (clear) return best;
    // Where they leave it open, one beat hit harder than the other three tells (a crash, an
    // accent); a backbeat lifts two beats of four alike and tells nothing.
    double accent[4] = {}, hitSum = 0, highSum = 0;
    for (int p = 0; p < 4; ++p) hit[p] /= counts[p], high[p] /= counts[p], hitSum += hit[p], highSum += high[p];
    for (int p = 0; p < 4; ++p) accent[p] = (hitSum > 0 ? hit[p] / hitSum : 0) + (highSum > 0 ? high[p] / highSum : 0);
    const int loudest = static_cast<int>(std::max_element(accent, accent + 4) - accent);
    for (int p = 0; p < 4; ++p)
        if (p != loudest && accent[p] * kAccentMargin >= accent[loudest]) return -1;
    return loudest;
}

}  // namespace

BeatGrid FitGrid(const std::vector<double>& beats, const OnsetEvidence& e, double firstSound) {
    if (beats.size() < 16) return {};
    std::vector<double> intervals;
    for (std::size_t i = 1; i < beats.size(); ++i) intervals.push_back(beats[i] - beats[i - 1]);
    const double rough = Median(intervals);
    if (rough <= 0) return {};
    const Reader read(e);
    const double from = beats.front(), to = beats.back();

    // The period that gathers all the beats best, near the stretches' own: extra or missing beats
    // do not move it, a tempo that drifts finds none. A tracker at half the tempo may take the
    // odd beats in one stretch and the even ones in the next; half the period then gathers both.
    const auto gather = [&](double near, Line* best) {
        const double step = 0.05 * near * near / (to - from);
        double most = 0;
        for (double p = near * 0.997; p <= near * 1.003; p += step) {
            double origin = 0;
            const double c = Coherence(beats, p, &origin);
            if (c > most) most = c, *best = {origin, p};
        }
        return most;
    };
    const double near = StretchPeriod(beats, e, rough);
    // A tracker that counts a breakbeat in beats and a half may land on the beat in one stretch
    // and between two in the next; a third of its period, half the true beat, gathers both, and
    // the fold into 70..180 BPM below finds the beat from there.
    Line line, half, third;
    const double coherence = gather(near, &line);
    const double halves = gather(near / 2, &half);
    if (halves > coherence + 0.05) line = half;
    if (gather(near / 3, &third) > std::max(coherence, halves) + 0.05) line = third;
    const double tolerance = std::max(0.025, 0.06 * line.period);
    std::size_t on = 0;
    for (double t : beats) on += std::fabs(t - line.At(std::round(line.Index(t)))) <= tolerance;
    const double held = static_cast<double>(on) / static_cast<double>(beats.size());
    const double mean = read.Mean(e.onset, from, to);
    const double contrast = mean > 0 ? read.MeanAt(e.onset, line, from, to, 0) / mean : 0;
    // Steady: most of the tracker's beats keep to one line (a live take wanders off it, swing and
    // syncopation pull a few), and the onsets gather on its beats (a pad's do not).
    if (held < 0.63 || contrast < 2.5) return {};

    // The tracker keeps to its tempo; the metre it chose may still be a third off (a beat and a
    // half, or two thirds of one). Those grids share few beats with this one: the onsets judge,
    // kicks and snares each against their own mean. Where off-beats sound as loud as beats, the
    // tracker may count the eighths in threes; a grid that counts them in twos and hits as hard is
    // the likelier metre, so two thirds need not win by as much as a half more. Either way the
    // other grid must split in two where this one does not: its off-beats must sound louder.
    const double lowMean = read.Mean(e.low, from, to), highMean = read.Mean(e.high, from, to);
    const auto strength = [&](const Line& l) {
        return (lowMean > 0 ? read.MeanAt(e.low, l, from, to, 0) / lowMean : 0) +
               (highMean > 0 ? read.MeanAt(e.high, l, from, to, 0) / highMean : 0);
    };
    const Line tracked = line;
    const double score = strength(line), between = strength(Line{line.At(0.5), line.period});
    bool recounted = false;
    for (double ratio : {2.0 / 3, 1.5}) {
        if (recounted) break;
        double most = 0;
        Line l;
        for (double shift = 0; shift < tracked.period * ratio; shift += e.hopSeconds) {
            const Line s{tracked.origin + shift, tracked.period * ratio};
            const double v = strength(s);
            if (v > most) most = v, l = s;
        }
        const double lBetween = strength(Line{l.At(0.5), l.period});
        if (most > (ratio < 1 ? 0.85 : 1.2) * score && lBetween > between) line = l, recounted = true;
    }
    if (recounted) line = Sharpen(line, 0.005, line.period / 2, read, e.onset, e.hopSeconds, from, to);

    // Halves and doubles: into 70..180 BPM, then, where both readings fit, by the backbeat. At the
    // faster reading's beats, snares and claps of a true backbeat fall on every other beat, alike;
    // when that reading is double time, they fall on one beat in four, or (a soft backbeat under
    // hats) every other beat is all but silent.
    const auto bpm = [](const Line& l) { return 60 / l.period; };
    const auto halve = [&](const Line& fast) {  // onto the beats with the stronger onsets
        const bool odd = strength(Line{fast.At(1), 2 * fast.period}) > strength(Line{fast.origin, 2 * fast.period});
        return Line{fast.At(odd ? 1 : 0), 2 * fast.period};
    };
    while (bpm(line) > 180.5) line = halve(line);
    while (bpm(line) < 69.5) line.period /= 2;
    if (bpm(line) < 90.25 || bpm(line) >= 139.5) {
        const Line fast = bpm(line) < 90.25 ? Line{line.origin, line.period / 2} : line;
        double snare[4];
        for (int p = 0; p < 4; ++p) snare[p] = read.MeanAt(e.high, fast, from, to, p, 4);
        const int top = static_cast<int>(std::max_element(snare, snare + 4) - snare);
        const double strong = std::min(snare[top], snare[(top + 2) % 4]), weak = std::max(snare[(top + 1) % 4], snare[(top + 3) % 4]);
        const double alike = snare[top] > 0 ? strong / snare[top] : 1, gaps = strong > 0 ? weak / strong : 1;
        line = alike >= 0.7 && gaps >= 0.27 ? fast : Line{fast.At(top % 2 ? 1 : 0), 2 * fast.period};
    }

    // The tracker's beats sit on whole hops, and where the stretches join it may slip by part of a
    // beat: the onsets under the grid, between hops, set the final line.
    line = Sharpen(line, 0.0005, e.hopSeconds, read, e.onset, e.hopSeconds, from, to);
    std::vector<double> peaks;
    for (double k = std::ceil(line.Index(from)); line.At(k) <= to; k += 1) {
        float v = 0;
        double at = 0;
        if (read.Peak(e.onset, line.At(k), &v, &at) && v > 0) peaks.push_back(at);
    }
    const Line chosen = line;
    if (!Refit(peaks, 2 * e.hopSeconds, &line)) line = chosen;

    const int bar = BarStart(line, read, from, to);
    BeatGrid grid;
    grid.period = line.period;
    grid.bpm = 60 / line.period;
    const double first = std::ceil(line.Index(firstSound) - 1e-9);
    grid.firstBeat = line.At(first);
    if (bar >= 0) grid.barPhase = static_cast<int>((bar - static_cast<long>(first)) % 4 + 4) % 4;
    return grid;
}

}  // namespace quendo::audio
