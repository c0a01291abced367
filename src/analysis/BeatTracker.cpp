#include "analysis/BeatTracker.h"

#include <dsp/tempotracking/TempoTrackV2.h>
#include <dsp/transforms/FFT.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace quendo::audio {

namespace {

// The tempo tracker's comb filters and tempo prior are laid out for a detection function of about
// 86 values a second. A 64-sample hop gives that at 5.5 kHz, where kicks, snares, bass and chord
// attacks all still show; the decimation to it is most of what the analysis saves.
constexpr int kHop = 64;
constexpr int kFrame = 2 * kHop;
constexpr int kBins = kFrame / 2 + 1;

int FactorFor(int rate) {
    int f = 1;
    while (rate / (2 * f) >= 5512) f *= 2;
    return f;
}

constexpr int kChunk = 1024;  // input frames made mono at a time

// Log compression before the flux, mild: a quiet onset counts, yet a kick still outweighs a hat.
constexpr float kCompression = 10;

// ln(x) for normal x > 0, to 2e-5: the exponent, and a short series for the mantissa. The
// library's log is most of what a hop costs otherwise.
inline float FastLn(float x) {
    const auto bits = std::bit_cast<std::uint32_t>(x);
    const auto exponent = static_cast<float>(static_cast<int>(bits >> 23) - 127);
    const float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);  // [1, 2)
    const float s = (m - 1) / (m + 1), s2 = s * s;                            // [0, 1/3)
    return exponent * 0.69314718f + 2 * s * (1 + s2 * (1.0f / 3 + s2 * (1.0f / 5 + s2 * (1.0f / 7))));
}

// The stretches listened to: 20 s of every 60 s. The tracker and the onsets cost in proportion
// to what they hear, and the analysis has little time to spare. A short track is heard for a
// minute at least (all of it, below a minute): a third of one leaves too few beats, often
// only an intro's, to set the tempo to the hundredth of a BPM a mix needs.
constexpr double kStretchSeconds = 20;
constexpr double kEverySeconds = 60;
constexpr double kLeastHeardSeconds = 60;

double StretchSeconds(double trackSeconds) {
    if (!(trackSeconds > 0)) return kStretchSeconds;
    return std::clamp(kEverySeconds * kLeastHeardSeconds / trackSeconds, kStretchSeconds, kEverySeconds);
}

}  // namespace

BeatTracker::BeatTracker(int rate, double trackSeconds)
    : factor_(FactorFor(rate)),
      gapFrames_(std::lround((kEverySeconds - StretchSeconds(trackSeconds)) * rate / (kHop * factor_)) * kHop * factor_),
      taps_(static_cast<std::size_t>(2 * factor_ - 1)), mono_(taps_.size() - 1 + kChunk), frame_(kFrame),
      fft_(std::make_unique<FFTReal>(kFrame)), window_(kFrame), windowed_(kFrame), magnitude_(kFrame), level_(kBins), last_(kBins) {
    // A triangle (two boxcars) is a cheap low-pass: its first null sits at the new rate, and what
    // still folds over is high hats and noise, which only add to the onsets.
    for (int i = 0; i < 2 * factor_ - 1; ++i)
        taps_[static_cast<std::size_t>(i)] = static_cast<float>(factor_ - std::abs(i - (factor_ - 1))) / static_cast<float>(factor_ * factor_);
    for (int i = 0; i < kFrame; ++i) window_[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kFrame);
    evidence_.hopSeconds = kHop * factor_ / static_cast<double>(rate);
    evidence_.stretch = std::lround(StretchSeconds(trackSeconds) / evidence_.hopSeconds);
    evidence_.every = evidence_.stretch + gapFrames_ / (kHop * factor_);
    // The track's worth up front (eight minutes' when its length is not known): the vectors then
    // seldom move.
    const double minutes = trackSeconds > 0 ? std::min(trackSeconds / kEverySeconds, 8.0) + 1 : 8;
    const auto hops = static_cast<std::size_t>(minutes * static_cast<double>(evidence_.stretch));
    evidence_.onset.reserve(hops);
    evidence_.low.reserve(hops);
    evidence_.high.reserve(hops);
    evidence_.bands.reserve(hops);
    Restart();
}

BeatTracker::~BeatTracker() = default;

void BeatTracker::Restart() {
    std::fill(mono_.begin(), mono_.end(), 0.0f);
    next_ = taps_.size() - 1 + static_cast<std::size_t>(factor_ - 1);
    std::fill(frame_.begin(), frame_.end(), 0.0);
    std::fill(level_.begin(), level_.end(), 0.0f);
    std::fill(last_.begin(), last_.end(), 0.0f);
    filled_ = 0;
    hops_ = 0;
}

void BeatTracker::Add(const float* stereo, int frames) {
    const std::size_t history = taps_.size() - 1;
    while (frames > 0) {
        if (skip_ > 0) {
            const int n = static_cast<int>(std::min<long>(skip_, frames));
            skip_ -= n;
            stereo += 2 * n;
            frames -= n;
            continue;
        }
        const int n = std::min(frames, kChunk);
        for (int i = 0; i < n; ++i) mono_[history + static_cast<std::size_t>(i)] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
        stereo += 2 * n;
        frames -= n;
        const std::size_t end = history + static_cast<std::size_t>(n);
        bool ended = false;
        for (; next_ < end && !ended; next_ += static_cast<std::size_t>(factor_)) {
            float v = 0;
            for (std::size_t k = 0; k <= history; ++k) v += taps_[k] * mono_[next_ - k];
            frame_[static_cast<std::size_t>(kHop + filled_)] = v;
            if (++filled_ < kHop) continue;
            Hop();
            std::copy(frame_.begin() + kHop, frame_.end(), frame_.begin());
            filled_ = 0;
            if (++hops_ == evidence_.stretch) {
                // The rest of this chunk is the start of the gap.
                skip_ = gapFrames_ - static_cast<long>(end - next_ - 1);
                ended = true;
            }
        }
        if (ended) {
            Restart();
            continue;
        }
        // The low-pass's history moves to the front for the next chunk.
        std::copy(mono_.begin() + static_cast<std::ptrdiff_t>(end - history), mono_.begin() + static_cast<std::ptrdiff_t>(end), mono_.begin());
        next_ -= end - history;
    }
}

void BeatTracker::Hop() {
    for (int i = 0; i < kFrame; ++i) windowed_[static_cast<std::size_t>(i)] = frame_[static_cast<std::size_t>(i)] * window_[static_cast<std::size_t>(i)];
    fft_->forwardMagnitude(windowed_.data(), magnitude_.data());
    const double binHz = 1 / (evidence_.hopSeconds * 2);
    const auto bin = [&](double hz) { return std::clamp(static_cast<int>(std::lround(hz / binHz)), 1, kBins); };
    const int lowEnd = bin(150), highStart = bin(1300);
    // Two plain loops, so that the compiler can vectorise the first.
    std::array<float, kBins> level;
    for (int b = 0; b < kBins; ++b) level[static_cast<std::size_t>(b)] = FastLn(1 + kCompression * static_cast<float>(magnitude_[static_cast<std::size_t>(b)]));
    float flux = 0, low = 0, high = 0;
    for (int b = 1; b < kBins; ++b) {
        const float rise = std::max(0.0f, level[static_cast<std::size_t>(b)] - level_[static_cast<std::size_t>(b)]);
        flux += rise;
        const auto m = static_cast<float>(magnitude_[static_cast<std::size_t>(b)]);
        const float linear = std::max(0.0f, m - last_[static_cast<std::size_t>(b)]);
        last_[static_cast<std::size_t>(b)] = m;
        if (b < lowEnd) low += linear;
        if (b >= highStart) high += linear;
    }
    std::copy(level.begin(), level.end(), level_.begin());
    static constexpr double kEdges[OnsetEvidence::kBands + 1] = {170, 255, 340, 430, 560, 730, 990, 1330, 2000};
    std::array<float, OnsetEvidence::kBands> bands{};
    for (int k = 0; k < OnsetEvidence::kBands; ++k) {
        double e = 0;
        for (int b = bin(kEdges[k]); b < bin(kEdges[k + 1]); ++b) e += magnitude_[static_cast<std::size_t>(b)] * magnitude_[static_cast<std::size_t>(b)];
        bands[static_cast<std::size_t>(k)] = FastLn(static_cast<float>(e) + 1e-20f);
    }
    // The first hops of a stretch rise from the silence the window started on.
    if (hops_ < 2) flux = low = high = 0;
    evidence_.onset.push_back(flux);
    evidence_.low.push_back(low);
    evidence_.high.push_back(high);
    evidence_.bands.push_back(bands);
}

BeatGrid BeatTracker::Finish(double firstSound) {
    // Silence at either end says nothing of the beat and would drag the tracker's tempo
    // estimate toward its prior.
    const std::vector<float>& f = evidence_.onset;
    std::size_t begin = 0, end = f.size();
    while (begin < end && f[begin] <= 0) ++begin;
    while (end > begin && f[end - 1] <= 0) --end;
    if (end - begin < 512 + 2 * 128) return {};  // the tracker's window and two steps: about 9 s
    const std::vector<double> df(f.begin() + static_cast<std::ptrdiff_t>(begin), f.begin() + static_cast<std::ptrdiff_t>(end));
    // The stretches go to the tracker one after another; where they join, its beats slip once.
    TempoTrackV2 tracker(static_cast<float>(kHop / evidence_.hopSeconds), kHop);
    // The tracker writes one period per value of the detection function into a vector sized so.
    std::vector<double> periods(df.size()), tempi, beats;
    tracker.calculateBeatPeriod(df, periods, tempi);
    tracker.calculateBeats(df, periods, beats);
    for (double& b : beats) b = static_cast<double>(evidence_.HopOf(static_cast<std::size_t>(b) + begin)) * evidence_.hopSeconds;
    return FitGrid(beats, evidence_, firstSound);
}

}  // namespace quendo::audio
