#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace demolib {

enum class Codec { Mp3Cbr, Mp3Vbr, Wma, Wma1, Vorbis, Flac, PcmU8, PcmS16, PcmS24, PcmF32 };

struct EncodeOptions {
    Codec codec = Codec::Mp3Cbr;
    int rate = 44100;
    int channels = 2;
    int kbps = 192;            // constant bit rate codecs
    int vbrQuality = 2;        // 0 best .. 9 smallest
    bool xingHeader = true;    // MP3: the Xing/Info frame that carries the frame count
    bool coverPicture = false; // MP3: an ID3v2 picture frame ahead of the audio
    bool streamed = false;     // written as to a pipe: the muxer cannot go back to finish its header
    std::string title, artist, album, genre;
};

// Encodes interleaved float samples (opts.channels per frame) into `path`. On failure returns
// false with a reason in `error`.
bool Encode(const std::string& path, const EncodeOptions& opts, const std::vector<float>& samples, std::string& error);

}  // namespace demolib
