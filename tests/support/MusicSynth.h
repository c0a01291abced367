#pragma once
// Music whose beat, bars and key are known: drums, bass and chords at realistic levels, for the
// tests and benchmarks of the tempo and key analysis.
#include <cstdint>
#include <vector>

namespace quendo::testing {

enum class Groove {
    FourOnTheFloor,  // kick on every beat, clap on 2 and 4, off-beat hats and bass
    Breakbeat,       // syncopated kick, snare on 2 and 4, ghost notes
    Swing,           // shuffled eighths on a ride, walking bass
    Drifting,        // a live take: the tempo wanders by a few per cent, the hands are loose
    Pad,             // slow chords and no drums: no beat at all
};

struct MusicSpec {
    Groove groove = Groove::FourOnTheFloor;
    double bpm = 124;
    int key = 0;  // 0..11 major on C..B, 12..23 minor
    double seconds = 60;
    double lead = 0.6;    // silence before the first sound
    double fadeIn = 0;    // seconds over which the start rises from -60 dB
    int pickup = 0;       // beats of a bar gone when the music starts (0..3): it starts mid-bar
    std::uint32_t seed = 1;
};

struct SynthMusic {
    std::vector<float> stereo;  // interleaved, peak at -1 dBFS
    int rate = 0;
    std::vector<double> beats;      // seconds; empty for a pad
    std::vector<double> downbeats;  // the beats that start a bar
    double bpm = 0;                 // 0: no steady beat
    int key = 0;
};

SynthMusic SynthesizeMusic(const MusicSpec& spec, int rate);

}  // namespace quendo::testing
