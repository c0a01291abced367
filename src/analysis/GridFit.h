#pragma once
#include <array>
#include <cstddef>
#include <vector>

#include "model/TrackFacts.h"

namespace quendo::audio {

// What the beat analysis keeps of a track: a few numbers per hop of about 12 ms, for the hops of
// the stretches it listened to (`stretch` hops out of every `every`, from the start).
struct OnsetEvidence {
    static constexpr int kBands = 8;
    double hopSeconds = 0;
    long stretch = 1, every = 1;
    std::vector<float> onset;  // broadband onset strength (the tracker's detection function)
    std::vector<float> low;    // onset strength below 150 Hz: kicks and bass
    std::vector<float> high;   // onset strength above 1.3 kHz: snares, claps, hats
    std::vector<std::array<float, kBands>> bands;  // log energy in bands from 170 Hz to 2 kHz: harmony

    // Hop h of the sound starts at h * hopSeconds; Index(h) is its place in the vectors when Kept(h).
    std::size_t Index(long h) const { return static_cast<std::size_t>((h / every) * stretch + h % every); }
    bool Kept(long h) const { return h >= 0 && h % every < stretch && Index(h) < onset.size(); }
    long HopOf(std::size_t i) const { return static_cast<long>(i) / stretch * every + static_cast<long>(i) % stretch; }
};

// One straight grid through the beats a tracker found (seconds, rising), checked against the
// evidence: beatless (bpm 0) when the beats do not hold to a straight line or the onsets do not
// gather on it; the tempo folded into 70..180 BPM; the bar start where the evidence tells it.
BeatGrid FitGrid(const std::vector<double>& beats, const OnsetEvidence& evidence, double firstSound);

}  // namespace quendo::audio
