#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quendo {

// A steady beat, as one straight grid over the whole file: beat k (any integer) sounds at
// firstBeat + k * period seconds of the file.
struct BeatGrid {
    double bpm = 0;        // 0: no steady beat was found (beatless)
    double firstBeat = 0;  // seconds: the first beat at or after the first sound
    double period = 0;     // seconds from one beat to the next, 60 / bpm
    // Beats k with (k - barPhase) a multiple of 4 start a bar (4/4); -1 when that cannot be told.
    int barPhase = -1;
    bool Steady() const { return bpm > 0 && period > 0; }
};

// Bar b of a grid with known bars starts on beat barPhase + 4 b: bar 0 is the first bar line at or
// after firstBeat, and a negative bar lies before it.
inline double BarStart(const BeatGrid& grid, int bar) {
    return grid.firstBeat + (grid.barPhase + 4.0 * bar) * grid.period;
}

// How a track is built on its bars, as a DJ reads it: its phrases, where its bass plays, whether it
// fades out. Known only for a steady beat with known bars; bars as BarStart counts them.
struct TrackForm {
    // Each bar's level in dB of full scale in four bands: 20-120 Hz (the bass and kick), 120-400 Hz,
    // 400 Hz-4 kHz and above.
    static constexpr int kBands = 4;
    static constexpr float kSilentDb = -120;
    using BarLevels = std::array<float, kBands>;

    int bars = 0;                  // whole bars from bar 0 to the last sound; 0: the form is not known
    std::vector<int> phrases;      // the bars where a phrase starts, ascending; 0 first
    int bassIn = -1;               // the first bar where the bass plays in full; -1: never
    int bassOut = -1;              // the bar after the last one where it plays in full; -1: never
    int fadeOut = -1;              // the bar where a mastered fade-out begins; -1: none
    std::vector<BarLevels> levels; // one per bar, bars of them
    bool Known() const { return bars > 0; }
};

// The sound's outline, for drawing it as DJ programs do: in three bands (low: the bass and kick,
// mid, high), each point the peak level of pointSeconds of sound, 0 (kFloorDb or quieter) to kTop
// (full scale) on a dB scale. Made from the analysis' own decode and kept with the facts.
struct TrackWave {
    static constexpr int kBands = 3;
    static constexpr int kTop = 63;
    static constexpr double kFloorDb = -60;
    double pointSeconds = 0;  // 0: not known
    std::array<std::vector<std::uint8_t>, kBands> points;
    bool Known() const { return pointSeconds > 0 && !points[0].empty(); }
    static double Db(std::uint8_t point) { return kFloorDb * (1.0 - static_cast<double>(point) / kTop); }
};

// A key: 0..11 major on C, C#, D, ... B; 12..23 minor on C, C#, ... B.
constexpr int kNoKey = -1;

// What a file's tags say of it; empty or 0 where they say nothing.
struct TrackTags {
    std::string artist, title, album;
    int trackNumber = 0, discNumber = 0;
};

// What the analysis knows of one music file. Times in seconds from the file's start.
struct TrackFacts {
    // How the sound stands at one end of the file: its level in dB of full scale (the RMS of the
    // two channels' mean) below 200 Hz, from 200 Hz to 2 kHz and above, over the first or the
    // last kEdgeSeconds. What tells a piece that runs on into the next file from one that stops.
    static constexpr double kEdgeSeconds = 1.0;
    static constexpr double kSilentDb = -200;
    struct Edge {
        double rmsDb[3] = {kSilentDb, kSilentDb, kSilentDb};
    };

    double integratedLufs = 0;  // EBU R128 integrated loudness; meaningless when !audible
    double peakDbfs = 0;        // sample peak in dBFS
    double firstSound = 0;      // first audible moment
    double lastSound = 0;       // last audible moment (the end of the last audible stretch)
    bool audible = false;       // false: digital silence or nothing above the floor
    double decodedSeconds = 0;  // the length of the sound decoded, to the sample
    Edge headEdge{}, tailEdge{};
    BeatGrid beats{};
    TrackForm form{};
    // Shared: facts are copied often, an outline is some 100 kB.
    std::shared_ptr<const TrackWave> wave{};
    int key = kNoKey;
    TrackTags tags{};
};

// The analysis as the deck engine sees it. Interface thread only. Facts(path) answers at once:
// the facts, or nothing yet (not analysed, or still working); it never waits. Want(paths) says
// which files are wanted now, the most urgent first: those not known are analysed in that order,
// and earlier wishes not among them are dropped. Cheap when nothing changed.
class TrackAnalysis {
public:
    virtual std::optional<TrackFacts> Facts(const std::string& path) = 0;
    virtual void Want(const std::vector<std::string>& paths) = 0;

    // The rest of the library, analysed when nothing is wanted and the pass is not held, so that
    // the cocktail's choice knows most files. A new list replaces the last; files known from the
    // cache count as analysed without being read again.
    virtual void AnalyseInBackground(const std::vector<std::string>& /*paths*/) {}
    // Held while a deck is loading or a mix is near: the decks' own reads come first.
    virtual void HoldBackground(bool /*held*/) {}
    struct Progress {
        int analysed = 0, total = 0;  // of the files given to the background pass
        int unreadable = 0;           // of the total, not among the analysed: no audio, or a failed read
    };
    virtual Progress BackgroundProgress() { return {}; }

protected:
    ~TrackAnalysis() = default;
};

}  // namespace quendo
