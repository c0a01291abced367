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

    // For a night without anyone at the controls; off, the program does as it always did.
    bool playlistFollowsPlay = true;  // "qnd.m3u" written within a second of each change, not only at close
    bool oneInstance = true;          // a second start for the same files raises the first and ends
    bool stayAwake = true;            // no idling or sleep while a track plays

    // Mixing like a DJ, and what plays next.
    bool mixOnBeat = true;             // "Mix on the beat"
    bool mixOnPhrases = true;          // "Mix on phrases": a mix on the beat laid phrase on phrase
    bool swapBass = true;              // "Swap the bass": one bass line at a time in a mix on the beat
    bool showArtistAndTitle = true;    // "Show artist and title"
    bool keepArtistsApart = true;      // "Keep the same artist apart"
    bool joinContinuousAlbums = true;  // "Join continuous albums"
    bool chooseByKeyAndTempo = false;  // "Choose the next track by key and tempo"
    bool showTracks = true;            // "Show the tracks in the mix editor"

    // Libraries kept as Artist/Album/Track: off, an ingredient takes only the files lying
    // directly in its folder.
    bool cocktailSubfolders = true;  // "Cocktail folders include their subfolders"

    // "Pre-listen output": the device (headphones) where the mix editor's "Listen" plays the next
    // change; "" none, and the main output does while nothing plays on it.
    std::string preListenDevice{};

    // The file's lines of settings this copy does not know (a newer copy's), each with its line
    // end, written back after the known ones so that a save here does not lose them.
    std::string otherLines{};
};

// Targets outside this range are not loudness a listener would choose: a typing slip.
constexpr double kLowestTargetLufs = -40.0, kHighestTargetLufs = -5.0;

}  // namespace quendo
