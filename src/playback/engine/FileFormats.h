#pragma once
// The engine's own readers of the headers it measures: WAV chunks, MPEG audio frame headers and
// their tags, ASF's file properties. Nothing here decodes; everything reads through small windows.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <optional>
#include <vector>

namespace quendo::audio {

class SourceFile;

inline std::uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint64_t Le64(const unsigned char* p) { return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32; }
inline std::uint32_t Be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Reads a file through one window of a fixed size, moved on demand: memory stays bounded
// whatever the file's size.
class FileWindow {
public:
    explicit FileWindow(const SourceFile& file, std::size_t window = 64 * 1024);
    // The bytes at [offset, offset + n), clipped to the file: `got` < n only at its end.
    const unsigned char* Get(std::int64_t offset, std::size_t n, std::size_t& got);
    std::int64_t FileSize() const { return size_; }

private:
    const SourceFile& file_;
    std::int64_t size_;
    std::size_t window_;
    std::vector<unsigned char> buf_;
    std::int64_t at_ = -1;
    std::size_t len_ = 0;
};

// ---- WAV ----
struct WavInfo {
    bool measurable = false;  // PCM or float samples whose size FFmpeg's PCM decoders take
    std::uint32_t rate = 0;
    std::uint32_t frameBytes = 0;  // channels × bytes per sample, as the decoder reads them
    std::int64_t dataBytes = 0;    // what the file holds of the data chunk
};
// A RIFF WAVE file's format and data; nullopt when the file is not RIFF WAVE.
std::optional<WavInfo> ParseWav(const SourceFile& file);

// ---- MPEG audio ----
struct FrameHeader {
    std::uint32_t raw = 0;  // the four bytes, big-endian
    int version = 0;  // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
    int layer = 0;    // 1..3
    int bitrate = 0;  // bits per second
    int rate = 0;
    int channels = 0;
    int padding = 0;
    int length = 0;   // bytes, with padding
    int samples = 0;  // per frame
};
// A frame header as FFmpeg's parser takes one (free format is not).
bool ParseFrameHeader(const unsigned char* p, FrameHeader& h);
// FFmpeg's MP3 reader takes two frames in a row as the stream's start when these bits agree
// (all but the bit rate, padding and private bits).
constexpr std::uint32_t kStartMask = 0xFFFE0CCF;
// Same version, layer and sample rate: FFmpeg's test for one stream.
inline bool SameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}
constexpr int kMaxFrameBytes = 2881;  // layer 2/3 at 384 kbit/s, 8 kHz, with padding bound

// End of the ID3v2 tags that start at `at` (several may follow one another).
std::int64_t SkipId3v2(const SourceFile& file, std::int64_t at);
// Size of one ID3v2 tag at `p` (10 bytes available), 0 when there is none.
std::int64_t Id3v2Size(const unsigned char* p);
// Where the audio ends: before a trailing ID3v1, APEv2 and Lyrics3v2 tag, in any order.
std::int64_t AudioEnd(const SourceFile& file, std::int64_t start);

// The first byte 0xFF at or after `from` (and before `stop`) for which `accept(offset)` holds, or
// -1. Reads may run `readPast` bytes beyond `stop`, so that a header starting before it is seen whole.
template <class Accept>
std::int64_t ScanSyncBytes(FileWindow& w, std::int64_t from, std::int64_t stop, std::int64_t readPast,
                           Accept accept) {
    for (std::int64_t at = from; at + 4 <= stop;) {
        std::size_t got = 0;
        const unsigned char* p =
            w.Get(at, static_cast<std::size_t>(std::min<std::int64_t>(stop - at + readPast, 16384)), got);
        if (!p || got < 4) break;
        const void* ff = std::memchr(p, 0xFF, got - 3);
        if (!ff) {
            at += static_cast<std::int64_t>(got - 3);
            continue;
        }
        const std::int64_t cand = at + (static_cast<const unsigned char*>(ff) - p);
        if (accept(cand)) return cand;
        at = cand + 1;
    }
    return -1;
}

// A frame at `at` confirmed by the `confirm` frames after it (one stream); a chain that ends
// exactly at `end` is confirmed too.
bool ConfirmedFrame(FileWindow& w, std::int64_t at, std::int64_t end, int confirm, FrameHeader& h);
// The first confirmed frame in [from, min(end, from + limit)); -1 when none.
std::int64_t FindFrame(FileWindow& w, std::int64_t from, std::int64_t end, std::int64_t limit, int confirm,
                       FrameHeader& h);

// ---- ASF ----
struct AsfInfo {
    std::uint64_t fileSize = 0;  // as the header says
    std::uint64_t packets = 0;
    std::uint64_t playDuration = 0;  // 100 ns units
    std::uint64_t preroll = 0;       // ms
    std::uint32_t flags = 0;         // 1: broadcast (no length known), 2: seekable
    std::uint32_t minPacket = 0, maxPacket = 0;
    std::int64_t dataStart = -1;  // the first data packet
};
std::optional<AsfInfo> ParseAsf(const SourceFile& file);
bool IsAsf(const unsigned char* p);  // 16 bytes

}  // namespace quendo::audio
