#include "playback/engine/FileFormats.h"

#include <algorithm>
#include <cstring>

#include "playback/engine/SourceFile.h"

namespace quendo::audio {

FileWindow::FileWindow(const SourceFile& file, std::size_t window)
    : file_(file), size_(file.Size()), window_(window) {}

const unsigned char* FileWindow::Get(std::int64_t offset, std::size_t n, std::size_t& got) {
    got = 0;
    if (offset < 0 || offset >= size_) return nullptr;
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), size_ - offset));
    if (at_ < 0 || offset < at_ || offset + static_cast<std::int64_t>(want) > at_ + static_cast<std::int64_t>(len_)) {
        const std::size_t span = std::max(window_, want);
        if (buf_.size() < span) buf_.resize(span);
        at_ = offset;
        len_ = file_.Read(offset, buf_.data(), static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(span), size_ - offset)));
    }
    const std::size_t have = static_cast<std::size_t>(at_ + static_cast<std::int64_t>(len_) - offset);
    got = std::min(want, have);
    return got ? buf_.data() + (offset - at_) : nullptr;
}

// ---- WAV ----

std::optional<WavInfo> ParseWav(const SourceFile& f) {
    unsigned char h[12];
    if (f.Read(0, h, 12) != 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return std::nullopt;
    WavInfo info;
    std::int64_t at = 12;
    bool haveFormat = false;
    for (int chunks = 0; chunks < 256 && at + 8 <= f.Size(); ++chunks) {
        unsigned char c[8];
        if (f.Read(at, c, 8) != 8) break;
        const std::uint32_t size = Le32(c + 4);
        if (std::memcmp(c, "fmt ", 4) == 0) {
            unsigned char fmt[40] = {};
            if (size < 16 || f.Read(at + 8, fmt, std::min<std::uint32_t>(size, 40)) < 16) return info;
            std::uint16_t tag = Le16(fmt);
            const std::uint16_t channels = Le16(fmt + 2);
            const std::uint32_t rate = Le32(fmt + 4);
            const std::uint16_t bits = Le16(fmt + 14);
            if (tag == 0xFFFE) {
                // WAVE_FORMAT_EXTENSIBLE: the subformat GUID names the codec; only the PCM and
                // float ones are measured here.
                static const unsigned char kTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
                if (size < 40 || std::memcmp(fmt + 26, kTail, 14) != 0) return info;
                tag = Le16(fmt + 24);
            }
            // What FFmpeg's WAV reader makes of the sample size: whole bytes, and only the sizes
            // its PCM decoders have (block-align plays no part in the decoded length).
            int sampleBytes = 0;
            if (tag == 1) {
                const int b = (bits + 7) / 8;
                if (bits > 0 && (b <= 4 || b == 8)) sampleBytes = b;
            } else if (tag == 3) {
                if (bits == 32 || bits == 64) sampleBytes = bits / 8;
            } else if (tag == 6 || tag == 7) {
                sampleBytes = 1;
            }
            if (sampleBytes == 0 || channels == 0 || rate == 0) return info;
            info.rate = rate;
            info.frameBytes = static_cast<std::uint32_t>(sampleBytes) * channels;
            haveFormat = true;
        } else if (std::memcmp(c, "data", 4) == 0) {
            if (!haveFormat) return info;
            // A truncated file or a streamed header (size 0 or all ones) holds what is there.
            std::int64_t bytes = f.Size() - (at + 8);
            if (size != 0 && size != 0xFFFFFFFFu) bytes = std::min<std::int64_t>(bytes, size);
            info.dataBytes = std::max<std::int64_t>(bytes, 0);
            info.measurable = true;
            return info;
        }
        at += 8 + static_cast<std::int64_t>(size) + (size & 1);
    }
    return info;
}

// ---- MPEG audio ----

bool ParseFrameHeader(const unsigned char* p, FrameHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version = (p[1] >> 3) & 3, layerBits = (p[1] >> 1) & 3;
    const int brIndex = p[2] >> 4, srIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
    if (version == 1 || layerBits == 0 || brIndex == 0 || brIndex == 15 || srIndex == 3) return false;
    static const int kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kRates[3] = {44100, 48000, 32000};
    h.raw = Be32(p);
    h.version = version;
    h.layer = 4 - layerBits;
    const bool mpeg1 = version == 3;
    h.bitrate = kBitrates[mpeg1 ? 0 : 1][h.layer - 1][brIndex] * 1000;
    h.rate = kRates[srIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    h.channels = ((p[3] >> 6) == 3) ? 1 : 2;
    h.padding = padding;
    if (h.layer == 1) {
        h.samples = 384;
        h.length = (12 * h.bitrate / h.rate + padding) * 4;
    } else {
        h.samples = (h.layer == 3 && !mpeg1) ? 576 : 1152;
        h.length = h.samples / 8 * h.bitrate / h.rate + padding;
    }
    return true;
}

std::int64_t Id3v2Size(const unsigned char* t) {
    if (std::memcmp(t, "ID3", 3) != 0 || t[3] == 0xFF || t[4] == 0xFF) return 0;
    if ((t[6] | t[7] | t[8] | t[9]) & 0x80) return 0;
    const std::int64_t size = (t[6] << 21) | (t[7] << 14) | (t[8] << 7) | t[9];
    return 10 + size + ((t[5] & 0x10) ? 10 : 0);
}

std::int64_t SkipId3v2(const SourceFile& f, std::int64_t at) {
    for (int tags = 0; tags < 16; ++tags) {
        unsigned char t[10];
        if (f.Read(at, t, 10) != 10) break;
        const std::int64_t s = Id3v2Size(t);
        if (s == 0) break;
        at += s;
    }
    return at;
}

std::int64_t AudioEnd(const SourceFile& f, std::int64_t start) {
    std::int64_t end = f.Size();
    for (int round = 0; round < 4 && end > start; ++round) {
        unsigned char t[32];
        // ID3v1: 128 bytes starting "TAG".
        if (end - 128 >= start && f.Read(end - 128, t, 3) == 3 && std::memcmp(t, "TAG", 3) == 0) {
            end -= 128;
            continue;
        }
        // APEv2: a 32-byte footer "APETAGEX" whose size counts the items and the footer; a
        // header of 32 bytes more when its flag says so.
        if (end - 32 >= start && f.Read(end - 32, t, 32) == 32 && std::memcmp(t, "APETAGEX", 8) == 0) {
            const std::uint32_t size = Le32(t + 12), flags = Le32(t + 20);
            const std::int64_t whole = static_cast<std::int64_t>(size) + ((flags & 0x80000000u) ? 32 : 0);
            if (size >= 32 && end - whole >= start) {
                end -= whole;
                continue;
            }
        }
        // Lyrics3v2: "LYRICSBEGIN" ... a six-digit size and "LYRICS200".
        if (end - 15 >= start && f.Read(end - 15, t, 15) == 15 && std::memcmp(t + 6, "LYRICS200", 9) == 0) {
            std::int64_t size = 0;
            bool digits = true;
            for (int i = 0; i < 6; ++i) {
                if (t[i] < '0' || t[i] > '9') digits = false;
                size = size * 10 + (t[i] - '0');
            }
            unsigned char b[11];
            if (digits && end - 15 - size >= start && f.Read(end - 15 - size, b, 11) == 11 &&
                std::memcmp(b, "LYRICSBEGIN", 11) == 0) {
                end -= 15 + size;
                continue;
            }
        }
        break;
    }
    return end;
}

bool ConfirmedFrame(FileWindow& w, std::int64_t at, std::int64_t end, int confirm, FrameHeader& h) {
    std::size_t got = 0;
    const unsigned char* p = w.Get(at, 4, got);
    if (got < 4 || at + 4 > end || !ParseFrameHeader(p, h)) return false;
    std::int64_t next = at + h.length;
    for (int k = 0; k < confirm; ++k) {
        if (next == end) return true;  // the stream ends exactly here
        FrameHeader n;
        p = w.Get(next, 4, got);
        if (next + 4 > end || got < 4 || !ParseFrameHeader(p, n) || !SameStream(h, n)) return false;
        next += n.length;
    }
    return true;
}

std::int64_t FindFrame(FileWindow& w, std::int64_t from, std::int64_t end, std::int64_t limit, int confirm,
                       FrameHeader& h) {
    return ScanSyncBytes(w, from, std::min(end, from + limit), 0,
                         [&](std::int64_t cand) { return ConfirmedFrame(w, cand, end, confirm, h); });
}

// ---- ASF ----

namespace {
const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const unsigned char kAsfData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
}  // namespace

bool IsAsf(const unsigned char* p) { return std::memcmp(p, kAsfHeader, 16) == 0; }

std::optional<AsfInfo> ParseAsf(const SourceFile& f) {
    unsigned char h[30];
    if (f.Read(0, h, 30) != 30 || !IsAsf(h)) return std::nullopt;
    const std::uint64_t headerSize = Le64(h + 16);
    if (headerSize < 30 || headerSize > static_cast<std::uint64_t>(f.Size())) return std::nullopt;
    AsfInfo info;
    bool props = false;
    std::uint64_t at = 30;
    for (int objects = 0; objects < 256 && at + 24 <= headerSize; ++objects) {
        unsigned char o[24 + 80];
        if (f.Read(static_cast<std::int64_t>(at), o, 24) != 24) break;
        const std::uint64_t size = Le64(o + 16);
        if (size < 24 || at + size > headerSize) break;
        if (std::memcmp(o, kAsfFileProperties, 16) == 0 && size >= 24 + 80 &&
            f.Read(static_cast<std::int64_t>(at), o, sizeof o) == sizeof o) {
            const unsigned char* d = o + 24;
            info.fileSize = Le64(d + 16);
            info.packets = Le64(d + 32);
            info.playDuration = Le64(d + 40);
            info.preroll = Le64(d + 56);
            info.flags = Le32(d + 64);
            info.minPacket = Le32(d + 68);
            info.maxPacket = Le32(d + 72);
            props = true;
        }
        at += size;
    }
    if (!props) return std::nullopt;
    unsigned char d[24];
    if (f.Read(static_cast<std::int64_t>(headerSize), d, 24) == 24 && std::memcmp(d, kAsfData, 16) == 0)
        info.dataStart = static_cast<std::int64_t>(headerSize) + 50;
    return info;
}

}  // namespace quendo::audio
