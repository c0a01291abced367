#include "playback/analysis/Analyse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "playback/analysis/BeatTracker.h"
#include "playback/analysis/KeyFinder.h"
#include "playback/analysis/Loudness.h"
#include "playback/analysis/TagReader.h"
#include "playback/engine/Decoder.h"

namespace quendo::audio {

namespace {

// Half the usual rate: the loudness of music hardly lives above 11 kHz, and decoding at it halves
// the filtering that dominates the cost after the decoder itself.
constexpr int kAnalysisRate = 22050;

}  // namespace

std::optional<TrackFacts> AnalyseFile(const std::string& path, const std::atomic<bool>* stop, int rate,
                                      AnalysisEnd* end) {
    AudioDecoder decoder(rate > 0 ? rate : kAnalysisRate);
    if (!decoder.Open(path)) {
        if (end) *end = AnalysisEnd::kNoAudio;
        return std::nullopt;
    }
    std::optional<TrackFacts> facts = Analyse(decoder, stop, end);
    if (facts) facts->tags = ReadTags(path);
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
    facts.beats = beats.Finish(facts.firstSound);
    facts.key = key.Finish();
    return facts;
}

}  // namespace quendo::audio
