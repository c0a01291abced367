#pragma once
// Damaged and unusual music files for the engine's tests, made from the fixture tool's files with
// plain byte surgery: cut, join, pad, insert or overwrite junk, add tags, write odd headers.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "playback/engine/Decoder.h"

namespace quendo::testing {

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that no format starts with and no frame hides in (seeded, so every run is the same).
inline std::string Garbage(std::size_t n, unsigned seed = 1) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

inline std::string Le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline std::string Le16(std::uint16_t v) { return {char(v), char(v >> 8)}; }

// The length of the ID3v2 tag at the start, 0 without one.
inline std::size_t Id3v2Length(const std::string& b) {
    if (b.size() < 10 || b.compare(0, 3, "ID3") != 0) return 0;
    auto u = [&](int i) { return static_cast<std::size_t>(static_cast<unsigned char>(b[i]) & 0x7F); };
    return 10 + (u(6) << 21 | u(7) << 14 | u(8) << 7 | u(9));
}

// An APEv2 tag with a header and a footer, as taggers append it (before any ID3v1 tag).
inline std::string ApeTag() {
    std::string items;
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"Title", "A title"},
                                     std::pair<std::string, std::string>{"Comment", std::string(3000, 'c')}}) {
        items += Le32(static_cast<std::uint32_t>(value.size())) + Le32(0) + key + '\0' + value;
    }
    const auto size = static_cast<std::uint32_t>(items.size() + 32);
    auto block = [&](std::uint32_t flags) {
        return "APETAGEX" + Le32(2000) + Le32(size) + Le32(2) + Le32(flags) + std::string(8, '\0');
    };
    return block(0xA0000000u) + items + block(0x80000000u);
}

inline std::string Id3v1Tag() {
    return "TAG" + std::string(30, 'T') + std::string(30, 'A') + std::string(30, 'L') + "2001" + std::string(30, '\0') + '\x0D';
}

// A WAV header and data of `frames` frames (zeros unless `sample` fills them in).
struct WavSpec {
    std::uint16_t tag = 1;  // 0xFFFE: extensible, with `subformat`
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    int blockAlign = -1;  // -1: what it should be
    std::string subformat;  // 16 bytes for extensible
    int samplesField = -1;  // extensible: the valid bits (or samples per block); -1: `bits`
};
template <class Sample>
std::string MakeWav(const WavSpec& w, std::uint32_t frames, Sample sample) {
    const std::uint16_t bytes = static_cast<std::uint16_t>((w.bits + 7) / 8);
    const auto align = static_cast<std::uint16_t>(w.blockAlign >= 0 ? w.blockAlign : w.channels * bytes);
    std::string fmt = Le16(w.tag) + Le16(w.channels) + Le32(w.rate) + Le32(w.rate * align) + Le16(align) + Le16(w.bits);
    if (w.tag == 0xFFFE)
        fmt += Le16(22) + Le16(static_cast<std::uint16_t>(w.samplesField >= 0 ? w.samplesField : w.bits)) + Le32(0) +
               w.subformat;
    std::string data;
    data.reserve(static_cast<std::size_t>(frames) * w.channels * bytes);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < w.channels; ++c) {
            const std::int32_t v = sample(i, c);
            for (int k = 0; k < bytes; ++k) data += static_cast<char>(v >> (8 * k));
        }
    std::string body = "WAVEfmt " + Le32(static_cast<std::uint32_t>(fmt.size())) + fmt + "data" +
                       Le32(static_cast<std::uint32_t>(data.size())) + data;
    return "RIFF" + Le32(static_cast<std::uint32_t>(body.size())) + body;
}
inline std::string MakeWav(const WavSpec& w, std::uint32_t frames) {
    return MakeWav(w, frames, [](std::uint32_t, int) { return 0; });
}
// The tail of the PCM subformat GUID; the first two bytes name the codec.
inline std::string SubformatGuid(std::uint16_t codec) {
    return Le16(codec) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
}

// What FFmpeg's decoder makes of the whole file, in seconds at `rate`; -1 when it cannot open it.
inline double DecodedSeconds(const std::string& path, int rate, float* peak = nullptr) {
    quendo::audio::AudioDecoder decoder(rate);
    if (!decoder.Open(path)) return -1;
    std::vector<float> buf(2 * 8192);
    long frames = 0;
    float top = 0;
    for (int got; (got = decoder.Read(buf.data(), 8192)) > 0;) {
        frames += got;
        if (peak)
            for (int i = 0; i < 2 * got; ++i) top = std::max(top, buf[i] < 0 ? -buf[i] : buf[i]);
    }
    if (peak) *peak = top;
    return static_cast<double>(frames) / rate;
}

}  // namespace quendo::testing
