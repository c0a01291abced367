#pragma once
#include <string>

namespace quendo {

// The automix's use of the track analysis. With every switch off the automix places its mixes
// by the files' lengths alone and plays each file at the level it was mastered at.
struct AutoMixOptions {
    bool mixAtLastSound = true;      // "Start the mix at the last audible sound"
    bool skipSilenceAtStart = true;  // "Skip the silence at a track's start"
    bool matchLoudness = true;       // "Match loudness"
    double targetLufs = -16.0;       // target loudness, LUFS
    std::string outputDevice;        // the sound output's device by name; "" the default
};

// Targets outside this range are not loudness a listener would choose: a typing slip.
constexpr double kLowestTargetLufs = -40.0, kHighestTargetLufs = -5.0;

}  // namespace quendo
