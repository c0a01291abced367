#pragma once
#include <atomic>
#include <optional>
#include <string>

#include "model/TrackFacts.h"

namespace quendo::audio {

class AudioDecoder;

// Where the analysis draws the line between sound and silence: a stretch is audible when its
// short-term loudness reaches the track's integrated loudness minus kRelativeLu, and never when it
// lies below kFloorLufs, whatever the track.
constexpr double kRelativeLu = 30;
constexpr double kFloorLufs = -60;
constexpr int kWindowMs = 50;  // the short-term window, also the step of the first and last sound

// The version of what the analysis measures and how: facts kept from an older one are made again.
constexpr int kAnalysisVersion = 5;

// How an analysis ended.
enum class AnalysisEnd {
    kMeasured,  // the whole file went through
    kNoAudio,   // it holds no audio that can be decoded
    kFailed,    // reading it failed on the way (not at its end): another try may do
    kStopped,   // `stop` turned true
};

// Decodes the whole file (with the engine's decoder) and measures it as the decks play it: samples
// that are no numbers count as silence, and those past full scale as full scale. Nothing unless
// the whole file was measured; `end` tells why. Any thread; blocks for as long as decoding takes.
// `rate`: the rate decoded at, 0 for the analysis' own (a benchmark compares). `tagsFailed`: the
// facts came, but the tags could not be read (and are empty).
std::optional<TrackFacts> AnalyseFile(const std::string& path, const std::atomic<bool>* stop = nullptr,
                                      int rate = 0, AnalysisEnd* end = nullptr, bool* tagsFailed = nullptr);
// The same for a decoder that is open and not read from yet.
std::optional<TrackFacts> Analyse(AudioDecoder& decoder, const std::atomic<bool>* stop = nullptr,
                                  AnalysisEnd* end = nullptr);

}  // namespace quendo::audio
