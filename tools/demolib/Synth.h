#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace demolib {

enum class Genre { House, Lounge, Rock };
enum class PadSound { Saw, EPiano, Organ, Guitar };
enum class LeadSound { Square, Bell, Soft, Saw };
enum class BassSound { Sub, Acid, Pluck };

// What makes one track sound unlike another: groove, key, tempo and instruments.
struct Style {
    Genre genre;
    double bpm;
    int root;  // MIDI note of the key's tonic, around the third octave
    bool minor;
    int progression[4];  // scale degrees, one chord a bar
    PadSound pad;
    LeadSound lead;
    BassSound bass;
    double swing;    // 0 straight .. 0.33 triplet feel, on off-sixteenths
    double density;  // of the melody, 0..1
};

// Interleaved stereo float, peak below full scale, with a gentle fade at both ends.
std::vector<float> RenderMusic(const Style& style, double seconds, int rate, std::uint32_t seed);

// A steady sine on both channels with the given peak level in dBFS.
std::vector<float> RenderTone(double hz, double levelDb, double seconds, int rate);

// Digital silence for the first half, then loud dense noise over music: frames of a variable
// bit rate encoding go from the smallest size to the largest.
std::vector<float> RenderSilenceThenDense(double seconds, int rate, std::uint32_t seed);

// Stereo interleaved to `channels` (1 or 2) interleaved.
std::vector<float> ToChannels(const std::vector<float>& stereo, int channels);

// A small cover picture as packed RGB24.
std::vector<std::uint8_t> RenderCover(int width, int height, std::uint32_t seed);

}  // namespace demolib
