#include "analysis/Form.h"

#include <algorithm>
#include <cmath>

namespace quendo::audio {

namespace {

constexpr int kBands = TrackForm::kBands;
// Below a band's loudest bar by this much, a level says nothing more: a band that falls silent
// changes by as much as one that falls quiet.
constexpr float kRangeDb = 40;
// The bass plays in full within this much of its typical full level, the level that only a
// tenth of the bars exceed: the kick alone, or a bass filtered down, lies further below.
constexpr float kFullBassDb = 4;
constexpr double kFullBassShare = 0.9;
// A track whose low band never comes near its loudest has no bass to speak of.
constexpr float kNoBassDb = 25;
// A phrase starts where the bars after it differ from those before by this much, summed over the
// bands (each counting for at most kMostPerBandDb, so that one band falling silent does not
// outweigh the rest).
constexpr float kNoveltyDb = 6;
constexpr float kMostPerBandDb = 12;
constexpr int kPhraseBars = 4;
// A fade-out: each bar quieter than the one before by at least kFadeStepDb, kFadeBars bars or
// more to the end, kFadeDb in all, no one step doing most of it.
constexpr float kFadeStepDb = 0.3f;
constexpr float kFadeDb = 10;
constexpr int kFadeBars = 4;

float ToDb(double meanSquare) {
    return meanSquare > 0 ? std::max(TrackForm::kSilentDb, static_cast<float>(10 * std::log10(meanSquare))) : TrackForm::kSilentDb;
}

float Percentile(std::vector<float> v, double share) {
    const auto at = v.begin() + static_cast<std::ptrdiff_t>(share * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), at, v.end());
    return *at;
}

// The first bar of a mastered fade-out over `total` (each bar's level, all bands), -1 for none.
int FadeStart(const std::vector<float>& total) {
    const int last = static_cast<int>(total.size()) - 1;
    int f = last;
    while (f > 0 && total[static_cast<std::size_t>(f - 1)] - total[static_cast<std::size_t>(f)] >= kFadeStepDb) --f;
    if (last - f < 2) return -1;
    // A fade that starts on a bar line takes only half a step off that bar's mean: the bar
    // before it, where the walk may have stopped, is still at the full level.
    std::vector<float> steps;
    for (int b = f + 1; b < last; ++b) steps.push_back(total[static_cast<std::size_t>(b)] - total[static_cast<std::size_t>(b + 1)]);
    const float typical = Percentile(steps, 0.5);
    const float first = total[static_cast<std::size_t>(f)] - total[static_cast<std::size_t>(f + 1)];
    const int start = first < 0.75f * typical ? f + 1 : f;
    const float fall = total[static_cast<std::size_t>(f)] - total[static_cast<std::size_t>(last)];
    const float biggest = std::max(first, *std::max_element(steps.begin(), steps.end()));
    if (last - start + 1 < kFadeBars || fall < kFadeDb || biggest > fall / 2) return -1;
    return start;
}

}  // namespace

BandMeter::Biquad::Biquad(int rate, double hz, bool highPass) {
    // Second-order Butterworth.
    const double w = 2 * 3.14159265358979323846 * hz / rate, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
    const double a0 = 1 + alpha, edge = highPass ? (1 + c) / 2 : (1 - c) / 2;
    b0 = b2 = static_cast<float>(edge / a0);
    b1 = static_cast<float>((highPass ? -2 : 2) * edge / a0);
    a1 = static_cast<float>(-2 * c / a0);
    a2 = static_cast<float>((1 - alpha) / a0);
}

// Each split runs at the lowest rate its band allows: below 4 kHz at half the rate, below 400 Hz
// at an eighth. What folds over lies near the top of the lower band and is 10 to 30 dB down; the
// meter then adds a few per cent to the analysis' cost.
constexpr int kMidFactor = 2, kLowFactor = 8;

BandMeter::BandMeter(int rate, bool outline)
    : hopFrames_(std::max(kLowFactor, rate / 40 / kLowFactor * kLowFactor)), hopSeconds_(static_cast<double>(hopFrames_) / rate),
      below4k_(rate, 4000, false), above400_(rate / kMidFactor, 400, true), below400_(rate / kMidFactor, 400, false),
      below120_(rate / kLowFactor, 120, false), above120_(rate / kLowFactor, 120, true), outline_(outline) {}

namespace {

std::uint8_t OutlinePoint(float peak) {
    if (!(peak > 0)) return 0;
    const double db = 20 * std::log10(static_cast<double>(peak));
    const double share = 1 - std::min(db, 0.0) / TrackWave::kFloorDb;
    return static_cast<std::uint8_t>(std::lround(std::clamp(share, 0.0, 1.0) * TrackWave::kTop));
}

}  // namespace

TrackWave BandMeter::Outline() const {
    TrackWave wave;
    if (!outline_ || outlinePoints_[0].empty()) return wave;
    wave.pointSeconds = hopSeconds_ / 2;
    wave.points = outlinePoints_;
    return wave;
}

void BandMeter::Add(const float* stereo, int frames) {
    // The filters and sums in locals, which the compiler may keep in registers: as members, every
    // store to a sum might change them.
    Biquad below4k = below4k_, above400 = above400_, below400 = below400_, below120 = below120_, above120 = above120_;
    float low = sums_[0], lowMid = sums_[1], mid = sums_[2], high = sums_[3];
    float lowPeak = peaks_[0], midPeak = peaks_[1], highPeak = peaks_[2];
    int phase = phase_, filled = filled_;
    const int half = hopFrames_ / 2;
    for (int i = 0; i < frames; ++i) {
        const float x = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
        const float under4k = below4k(x), over4k = x - under4k;
        high += over4k * over4k;
        highPeak = std::max(highPeak, std::fabs(over4k));
        // Each value at a lower rate stands for as many samples as it skips.
        if (++phase % kMidFactor == 0) {
            const float m = above400(under4k), under400 = below400(under4k);
            mid += kMidFactor * m * m;
            midPeak = std::max(midPeak, std::fabs(m));
            lowPeak = std::max(lowPeak, std::fabs(under400));
            if (phase == kLowFactor) {
                phase = 0;
                const float l = below120(under400), lm = above120(under400);
                low += kLowFactor * l * l, lowMid += kLowFactor * lm * lm;
            }
        }
        if (++filled % half == 0 && outline_) {
            for (auto [band, peak] : {std::pair{0, lowPeak}, {1, midPeak}, {2, highPeak}})
                outlinePoints_[static_cast<std::size_t>(band)].push_back(OutlinePoint(peak));
            lowPeak = midPeak = highPeak = 0;
        }
        if (filled == hopFrames_) {
            const auto n = static_cast<float>(hopFrames_);
            hops_.push_back({low / n, lowMid / n, mid / n, high / n});
            low = lowMid = mid = high = 0;
            filled = 0;
        }
    }
    below4k_ = below4k, above400_ = above400, below400_ = below400, below120_ = below120, above120_ = above120;
    sums_ = {low, lowMid, mid, high};
    peaks_ = {lowPeak, midPeak, highPeak};
    phase_ = phase, filled_ = filled;
}

std::vector<TrackForm::BarLevels> FoldIntoBars(const std::vector<BandMeter::Hop>& hops, double hopSeconds,
                                               const BeatGrid& grid, double lastSound) {
    if (!grid.Steady() || grid.barPhase < 0) return {};
    const double bar0 = BarStart(grid, 0), length = 4 * grid.period;
    const long bars = static_cast<long>(std::floor((lastSound - bar0) / length + 0.25));
    if (bars <= 0) return {};
    std::vector<std::array<double, kBands>> sums(static_cast<std::size_t>(bars));
    std::vector<int> counts(static_cast<std::size_t>(bars));
    // Only the hops wholly within a bar: the kick that opens the next one would lift the last.
    for (std::size_t h = 0; h < hops.size(); ++h) {
        const double start = (static_cast<double>(h) * hopSeconds - bar0) / length;
        const double b = std::floor(start);
        if (b < 0 || b >= static_cast<double>(bars) || start + hopSeconds / length > b + 1) continue;
        const auto i = static_cast<std::size_t>(b);
        for (int k = 0; k < kBands; ++k) sums[i][static_cast<std::size_t>(k)] += hops[h][static_cast<std::size_t>(k)];
        ++counts[i];
    }
    std::vector<TrackForm::BarLevels> levels(static_cast<std::size_t>(bars));
    for (std::size_t i = 0; i < levels.size(); ++i)
        for (std::size_t k = 0; k < kBands; ++k) levels[i][k] = counts[i] ? ToDb(sums[i][k] / counts[i]) : TrackForm::kSilentDb;
    return levels;
}

TrackForm FindForm(std::vector<TrackForm::BarLevels> levels) {
    TrackForm form;
    const int n = static_cast<int>(levels.size());
    form.levels = std::move(levels);
    if (n == 0) return form;
    form.bars = n;
    form.phrases = {0};
    const auto& lv = form.levels;

    std::array<float, kBands> floor{};
    for (std::size_t k = 0; k < kBands; ++k) {
        floor[k] = TrackForm::kSilentDb;
        for (const auto& bar : lv) floor[k] = std::max(floor[k], bar[k] - kRangeDb);
    }
    const auto level = [&](int b, std::size_t k) { return std::max(lv[static_cast<std::size_t>(b)][k], floor[k]); };

    std::vector<float> total(static_cast<std::size_t>(n)), bass(static_cast<std::size_t>(n));
    float loudestBand = TrackForm::kSilentDb;
    for (int b = 0; b < n; ++b) {
        double power = 0;
        for (std::size_t k = 0; k < kBands; ++k) power += std::pow(10.0, lv[static_cast<std::size_t>(b)][k] / 10);
        total[static_cast<std::size_t>(b)] = ToDb(power);
        bass[static_cast<std::size_t>(b)] = lv[static_cast<std::size_t>(b)][0];
    }
    for (std::size_t k = 0; k < kBands; ++k) {
        std::vector<float> band;
        for (const auto& bar : lv) band.push_back(bar[k]);
        loudestBand = std::max(loudestBand, Percentile(band, kFullBassShare));
    }

    // The bass: two full bars in a row, so that one loud hit does not count.
    const float typical = Percentile(bass, kFullBassShare);
    if (typical > loudestBand - kNoBassDb) {
        const auto full = [&](int b) { return b >= 0 && b < n && bass[static_cast<std::size_t>(b)] >= typical - kFullBassDb; };
        for (int b = 0; b < n && form.bassIn < 0; ++b)
            if (full(b) && (b + 1 == n || full(b + 1))) form.bassIn = b;
        for (int b = n - 1; b >= 0 && form.bassOut < 0; --b)
            if (full(b) && (b == 0 || full(b - 1))) form.bassOut = b + 1;
    }

    form.fadeOut = FadeStart(total);
    // The fade is one phrase however much it changes the bars; a fade that starts within a bar of
    // a phrase line starts the phrase.
    const int end = form.fadeOut >= 0 ? form.fadeOut : n;
    for (int b = kPhraseBars; b < end; b += kPhraseBars) {
        const int w = std::min({kPhraseBars, b, n - b});
        if (w < 2) continue;
        float novelty = 0;
        for (std::size_t k = 0; k < kBands; ++k) {
            float before = 0, after = 0;
            for (int i = 0; i < w; ++i) before += level(b - 1 - i, k), after += level(b + i, k);
            novelty += std::min(kMostPerBandDb, std::fabs(after - before) / static_cast<float>(w));
        }
        if (novelty >= kNoveltyDb) form.phrases.push_back(b);
    }
    if (form.fadeOut > 0) {
        const int line = (form.fadeOut + kPhraseBars / 2) / kPhraseBars * kPhraseBars;
        if (line > 0 && std::abs(line - form.fadeOut) <= 1) form.phrases.push_back(line);
    }
    std::sort(form.phrases.begin(), form.phrases.end());
    form.phrases.erase(std::unique(form.phrases.begin(), form.phrases.end()), form.phrases.end());
    return form;
}

}  // namespace quendo::audio
