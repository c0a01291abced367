#include "analysis/Analyse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/BeatTracker.h"
#include "analysis/Form.h"
#include "analysis/KeyFinder.h"
#include "analysis/Loudness.h"
#include "analysis/TagReader.h"
#include "playback/engine/Decoder.h"

namespace quendo::audio {

namespace {

// Half the usual rate: the loudness of music hardly lives above 11 kHz, and decoding at it halves
// the filtering that dominates the cost after the decoder itself.
constexpr int kAnalysisRate = 22050;
constexpr double kFirstBeatSlack = 0.01;  // seconds

// The sound at the file's two ends, kept as it goes by: its first stretch, and its last in a ring.
class Edges {
public:
    explicit Edges(int rate)
        : rate_(rate), length_(static_cast<std::size_t>(TrackFacts::kEdgeSeconds * rate)), ring_(length_) {
        head_.reserve(length_);
    }

    void Add(const float* stereo, int frames) {
        for (int i = 0; i < frames; ++i) {
            const float mono = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
            if (head_.size() < length_) head_.push_back(mono);
            ring_[at_] = mono;
            if (++at_ == length_) at_ = 0;
        }
        seen_ += frames;
    }

    TrackFacts::Edge Head() const { return Levels(head_); }
    TrackFacts::Edge Tail() const {
        if (seen_ < static_cast<long>(length_)) return Levels(head_);  // the whole file is both
        std::vector<float> last(ring_.begin() + static_cast<long>(at_), ring_.end());
        last.insert(last.end(), ring_.begin(), ring_.begin() + static_cast<long>(at_));
        return Levels(last);
    }

private:
    // Split by second-order Butterworth filters: gentle slopes, but the same for every file,
    // and that is what the comparison of two files needs.
    struct Biquad {
        double b0, b1, b2, a1, a2, s1 = 0, s2 = 0;
        Biquad(int rate, double hz, bool highPass) {
            const double w = 2 * 3.14159265358979323846 * hz / rate, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
            const double a0 = 1 + alpha, edge = highPass ? (1 + c) / 2 : (1 - c) / 2;
            b0 = b2 = edge / a0;
            b1 = (highPass ? -2 : 2) * edge / a0;
            a1 = -2 * c / a0;
            a2 = (1 - alpha) / a0;
        }
        double operator()(double x) {
            const double y = b0 * x + s1;
            s1 = b1 * x - a1 * y + s2;
            s2 = b2 * x - a2 * y;
            return y;
        }
    };

    TrackFacts::Edge Levels(const std::vector<float>& mono) const {
        Biquad low(rate_, 200, false), high(rate_, 2000, true), midLow(rate_, 200, true), midHigh(rate_, 2000, false);
        double sums[3] = {0, 0, 0};
        for (float x : mono) {
            const double bands[3] = {low(x), midHigh(midLow(x)), high(x)};
            for (int b = 0; b < 3; ++b) sums[b] += bands[b] * bands[b];
        }
        TrackFacts::Edge edge;
        for (int b = 0; b < 3; ++b) {
            const double meanSquare = mono.empty() ? 0 : sums[b] / static_cast<double>(mono.size());
            edge.rmsDb[b] = meanSquare > 0 ? std::max(TrackFacts::kSilentDb, 10 * std::log10(meanSquare))
                                           : TrackFacts::kSilentDb;
        }
        return edge;
    }

    const int rate_;
    const std::size_t length_;
    std::vector<float> head_, ring_;
    std::size_t at_ = 0;
    long seen_ = 0;
};

}  // namespace

std::optional<TrackFacts> AnalyseFile(const std::string& path, const std::atomic<bool>* stop, int rate,
                                      AnalysisEnd* end, bool* tagsFailed) {
    AudioDecoder decoder(rate > 0 ? rate : kAnalysisRate);
    if (!decoder.Open(path)) {
        if (end) *end = AnalysisEnd::kNoAudio;
        return std::nullopt;
    }
    std::optional<TrackFacts> facts = Analyse(decoder, stop, end);
    if (facts) facts->tags = ReadTags(path, tagsFailed);
    return facts;
}

std::optional<TrackFacts> Analyse(AudioDecoder& decoder, const std::atomic<bool>* stop, AnalysisEnd* end) {
    AnalysisEnd ignored;
    AnalysisEnd& why = end ? *end : ignored;
    why = AnalysisEnd::kFailed;
    const int rate = decoder.Rate();
    // The peak is the file's own: at the lower rate the high band's peaks are gone, and a
    // clipped master's are overshot.
    decoder.MeasureSourcePeak();
    // Damaged samples count as what is heard of them: one NaN would make the meter's whole sum NaN,
    // and one far past full scale would read louder than any track.
    decoder.ClipSource();
    Loudness meter(rate);

    // The file goes through in whole windows, each measured as it completes; the last, partial
    // one is measured over the window too, its missing part silent.
    const int window = rate * kWindowMs / 1000;
    std::vector<float> block(2 * static_cast<std::size_t>(window));
    std::vector<float> levels;  // each window's loudness, LUFS (-inf for digital silence)
    // The beat and the key from the same sound.
    BeatTracker beats(rate, decoder.Duration());
    KeyFinder key(rate);
    Edges edges(rate);
    BandMeter bands(rate);
    long total = 0;  // frames decoded
    bool ended = false;
    while (!ended) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            why = AnalysisEnd::kStopped;
            return std::nullopt;
        }
        int filled = 0;
        while (filled < window) {
            const int got = decoder.Read(block.data() + 2 * filled, window - filled);
            if (got <= 0) {
                ended = true;
                break;
            }
            filled += got;
        }
        if (filled == 0) break;
        total += filled;
        // Whatever the conversion still made of them.
        for (auto v = block.begin(); v != block.begin() + 2 * filled; ++v)
            *v = std::isfinite(*v) ? std::clamp(*v, -1.0f, 1.0f) : 0.0f;
        beats.Add(block.data(), filled);
        key.Add(block.data(), filled);
        edges.Add(block.data(), filled);
        bands.Add(block.data(), filled);
        std::fill(block.begin() + 2 * filled, block.end(), 0.0f);
        levels.push_back(static_cast<float>(meter.Add(block.data(), window)));
    }
    // A failed read looks like an early end; measured, it would put the last sound there.
    if (decoder.ReadFailed()) return std::nullopt;
    if (total == 0) {
        why = AnalysisEnd::kNoAudio;
        return std::nullopt;
    }
    why = AnalysisEnd::kMeasured;

    TrackFacts facts;
    const double integrated = meter.Integrated();
    const double peak = decoder.SourcePeak();
    facts.peakDbfs = peak > 0 ? std::max(-200.0, 20 * std::log10(peak)) : -200.0;
    facts.decodedSeconds = static_cast<double>(total) / rate;
    facts.headEdge = edges.Head();
    facts.tailEdge = edges.Tail();
    if (!std::isfinite(integrated)) return facts;  // nothing above the gate: silent

    const double threshold = std::max(integrated - kRelativeLu, kFloorLufs);
    const auto loud = [&](float level) { return level >= threshold; };
    const auto first = std::find_if(levels.begin(), levels.end(), loud);
    if (first == levels.end()) return facts;
    const auto last = std::find_if(levels.rbegin(), levels.rend(), loud);
    const double step = static_cast<double>(window) / rate;
    facts.audible = true;
    facts.integratedLufs = integrated;
    facts.firstSound = static_cast<double>(first - levels.begin()) * step;
    facts.lastSound = std::min(static_cast<double>(levels.rend() - last) * step, static_cast<double>(total) / rate);
    // A track that opens on a beat has its first sound at the start of that beat's window, and
    // the grid may place the beat a few ms before it: still the first beat, and bar 0 of its form.
    facts.beats = beats.Finish(std::max(0.0, facts.firstSound - kFirstBeatSlack));
    facts.key = key.Finish();
    facts.form = FindForm(FoldIntoBars(bands.Hops(), bands.HopSeconds(), facts.beats, facts.lastSound));
    if (TrackWave wave = bands.Outline(); wave.Known()) facts.wave = std::make_shared<const TrackWave>(std::move(wave));
    return facts;
}

}  // namespace quendo::audio
