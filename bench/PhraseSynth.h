#pragma once
// Dance tracks built from sections of whole bars, as a DJ would read them: an intro without bass,
// full parts, a breakdown, an outro, a radio-edit ending or a mastered fade-out. Each comes with
// the truth of its beats, bars, phrase lines and where its bass plays, for the benchmarks of the
// analysis and of whole shows.
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

enum class Part {
    Intro,      // kick, hats and claps; no bass, no chords
    Full,       // drums, bass and chords
    Breakdown,  // chords and a thin hat; no kick, no bass
    Outro,      // as the intro
    RadioEdit,  // as a full part, the track ending on its last bar with the bass still playing
    FadeOut,    // as a full part under a mastered fade: the level falls steadily to fadeDb
};

// What tells where a bar starts; the other cues are made even across the beats of a bar.
enum class BarMark {
    Chords,  // the chord changes on each bar line
    Bass,    // one chord throughout; the bass holds a long note on each bar's first beat
    Accent,  // one chord, an even bass; only a louder hit (a clap) on each first beat
};

struct Section {
    Part part = Part::Full;
    int bars = 16;
};

struct PhraseSpec {
    double bpm = 124;
    int key = 0;          // 0..11 major on C..B, 12..23 minor: the chords
    int bassNote = 33;    // MIDI note of the bass's root (33: A1, 55 Hz); keep it within 24..45
    BarMark marks = BarMark::Chords;
    std::vector<Section> sections;
    double lead = 0.5;    // silence before the first bar
    double fadeDb = -40;  // where a fade-out ends
    std::uint32_t seed = 1;
};

// Times in seconds from the file's start; -1 where the track has none.
struct PhraseTrack {
    std::vector<float> stereo;  // interleaved, peak at -1 dBFS
    int rate = 0;
    int bars = 0;                   // bars played, all sections
    std::vector<double> beats;      // every beat of every bar
    std::vector<double> downbeats;  // the first beat of each bar, bars of them
    std::vector<double> phrases;    // where each section starts
    double bassIn = -1;   // the first bar where the bass plays in full
    double bassOut = -1;  // the end of the last bar where it plays in full (a fade's start)
    double fadeOut = -1;  // where a fade-out begins
    double end = 0;       // the end of the last bar
    // The same as bar numbers, bar 0 the first downbeat.
    int BarAt(double t) const;
};

PhraseTrack SynthesizePhrases(const PhraseSpec& spec, int rate);

// A short name of the track for the benchmarks' logs, e.g. "124 chords i8 f32 b8 f32 o16" (r: radio edit, d: fade-out).
std::string Describe(const PhraseSpec& spec);

}  // namespace bench
