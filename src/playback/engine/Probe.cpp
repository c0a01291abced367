// Measuring a file's length from its headers, fast enough to run on the interface thread for
// every file that enters the playlist. A header is trusted only while the file agrees with it;
// where it does not, the frames themselves are counted. The length is what FFmpeg's decoder
// hands out, its gapless trimming included.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "playback/engine/Decoder.h"
#include "playback/engine/FileFormats.h"
#include "playback/engine/MediaFile.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace quendo::audio {

namespace {

// ---- WAV: the data chunk over the frame size says it all ----

double WavSeconds(const SourceFile& f) {
    const auto wav = ParseWav(f);
    if (!wav || !wav->measurable || wav->frameBytes == 0 || wav->rate == 0) return 0;
    return static_cast<double>(wav->dataBytes / wav->frameBytes) / wav->rate;
}

// ---- MPEG audio ----

// A stream no longer than this is walked frame by frame: it costs no more than checking it.
constexpr std::int64_t kWalkWhole = 512 * 1024;
// Checks of a long stream are this far apart at most, so that a stretch of junk or silence this
// long is found wherever it is.
constexpr std::int64_t kCheckSpacing = 64 * 1024;
constexpr int kMinChecks = 16, kMaxChecks = 2048;
// How far a Xing/VBRI byte count may differ from the stream's: tags that are not taken off.
constexpr std::int64_t kByteCountSlack = 256;

// The Xing/Info (with the LAME tag) or VBRI header frame, read as FFmpeg's MP3 reader reads it.
struct VbrTag {
    bool header = false;  // the frame is a header, not audio
    std::int64_t frames = 0, bytes = 0;
    bool lame = false;
    int delay = 0, padding = 0;
    std::int64_t discardFrames = 0;  // the frame count FFmpeg's end trimming goes by (0: none)
};

VbrTag ReadVbrTag(FileWindow& w, std::int64_t at, const FrameHeader& h, std::int64_t fileSize) {
    VbrTag t;
    if (h.layer != 3) return t;
    std::size_t got = 0;
    const unsigned char* fr = w.Get(at, 4 + 36 + 156, got);
    if (!fr || got < 4 + 36 + 18) return t;
    const bool lsf = h.version != 3;
    const std::size_t x = 4 + static_cast<std::size_t>(lsf ? (h.channels == 1 ? 9 : 17) : (h.channels == 1 ? 17 : 32));
    if (x + 8 <= got && (std::memcmp(fr + x, "Xing", 4) == 0 || std::memcmp(fr + x, "Info", 4) == 0)) {
        const std::uint32_t flags = Be32(fr + x + 4);
        std::size_t i = x + 8;
        if ((flags & 1) && i + 4 <= got) t.frames = Be32(fr + i);
        if (flags & 1) i += 4;
        if ((flags & 2) && i + 4 <= got) t.bytes = Be32(fr + i);
        if (flags & 2) i += 4;
        // FFmpeg's own check: a file much longer than the count is two files joined, and its
        // frame count is set aside.
        std::int64_t discard = t.frames;
        const std::int64_t rest = std::max<std::int64_t>(fileSize - (at + 4), 0);
        if (rest && t.bytes) {
            const std::int64_t lo = std::min(rest, t.bytes), delta = std::max(rest, t.bytes) - lo;
            if (rest > t.bytes && delta > (lo >> 4)) discard = 0;
        }
        if (flags & 4) i += 100;
        if (flags & 8) i += 4;
        if (i + 24 <= got && (std::memcmp(fr + i, "LAME", 4) == 0 || std::memcmp(fr + i, "Lavf", 4) == 0 ||
                              std::memcmp(fr + i, "Lavc", 4) == 0)) {
            const unsigned char* d = fr + i + 21;
            t.lame = true;
            t.delay = (d[0] << 4) | (d[1] >> 4);
            t.padding = ((d[1] & 0x0F) << 8) | d[2];
        }
        t.discardFrames = discard;
    }
    if (4 + 32 + 18 <= got && std::memcmp(fr + 4 + 32, "VBRI", 4) == 0 && ((fr[40] << 8) | fr[41]) == 1) {
        t.bytes = Be32(fr + 4 + 32 + 10);
        t.frames = Be32(fr + 4 + 32 + 14);
    }
    t.header = t.frames > 0 || t.bytes > 0;
    return t;
}

// The samples FFmpeg's gapless trimming takes off: the encoder's delay at the start, and the
// padding where the header's frame count says the stream ends. `heard` counts the samples the
// decoder puts out, `stamped` those of every packet the parser handed on (heard or not): the
// end's trimming goes by the packets' time stamps.
std::int64_t Trimmed(std::int64_t heard, std::int64_t stamped, const VbrTag& t, int spf) {
    if (!t.lame) return 0;
    std::int64_t cut = std::min<std::int64_t>(heard, t.delay + 529);
    if (t.discardFrames > 0) {
        const std::int64_t last = t.discardFrames * spf, first = last - t.padding + 529;
        const std::int64_t lo = std::max<std::int64_t>(first, 0), hi = std::min(last, stamped);
        if (first < last && hi > lo) cut += hi - lo;
    }
    return std::min(cut, heard);
}

// FFmpeg's decoder makes a whole frame of a last frame cut short, however little of it is there.
bool PartialFrameCounts(std::int64_t have, const FrameHeader& h) { return have >= 4 && h.length > 0; }

struct Walked {
    double seconds = 0;        // what the decoder puts out
    std::int64_t heard = 0;    // of it, samples at the stream's first rate
    std::int64_t stamped = 0;  // samples of every packet at that rate, heard or not
};

// Every frame from `from` to `end`, as FFmpeg's parser and decoder take them. A valid header
// where the last frame ended is a frame. Anything else is junk: the parser looks on, byte by
// byte, for the next valid header, and hands the junk to the decoder in one packet with that
// frame; the decoder skips zeros at a packet's start but drops a packet that starts with anything
// else, so the frame after junk is heard only when the junk was all zeros.
Walked Walk(FileWindow& w, std::int64_t from, std::int64_t end, const FrameHeader& first) {
    Walked r;
    std::int64_t at = from;
    // The decoder labels a frame with the rate of the frame it decoded before: the first frame
    // after a change of rate is played at the old one.
    int label = first.rate;
    auto count = [&](const FrameHeader& h, bool heard) {
        if (h.rate == first.rate) r.stamped += h.samples;
        if (!heard) return;
        r.seconds += static_cast<double>(h.samples) / label;
        if (label == first.rate) r.heard += h.samples;
        label = h.rate;
    };
    bool junkHeard = true;  // whether the next frame is heard after the junk before it
    while (at + 4 <= end) {
        std::size_t got = 0;
        const unsigned char* p = w.Get(at, 4, got);
        FrameHeader h;
        if (p && got >= 4 && ParseFrameHeader(p, h)) {
            if (at + h.length <= end || PartialFrameCounts(end - at, h)) count(h, junkHeard);
            junkHeard = true;
            at += h.length;
            continue;
        }
        // Junk: on to the next valid header, noting whether everything skipped is zero.
        std::int64_t next = at;
        for (;;) {
            p = w.Get(next, static_cast<std::size_t>(std::min<std::int64_t>(end - next, 16384)), got);
            if (!p || got < 4) {
                next = -1;
                break;
            }
            const std::size_t scan = got - 3;
            const void* ff = std::memchr(p, 0xFF, scan);
            const std::size_t upto = ff ? static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - p) : scan;
            if (junkHeard)
                for (std::size_t i = 0; i < upto; ++i)
                    if (p[i] != 0) {
                        junkHeard = false;
                        break;
                    }
            if (!ff) {
                next += static_cast<std::int64_t>(scan);
                continue;
            }
            if (ParseFrameHeader(p + upto, h)) {
                next += static_cast<std::int64_t>(upto);
                break;
            }
            junkHeard = false;  // the 0xFF itself
            next += static_cast<std::int64_t>(upto) + 1;
        }
        if (next < 0) break;
        at = next;
    }
    return r;
}

// Frames of the first's stream found near every check point of [from, end), and, with
// `sameRate`, each of the first's bit rate and on the grid that rate sets. With the grid, the
// number of frames before each point is known.
bool FramesThroughout(FileWindow& w, std::int64_t from, std::int64_t end, const FrameHeader& first, bool sameRate) {
    const std::int64_t span = end - from;
    const int checks = static_cast<int>(std::clamp<std::int64_t>(span / kCheckSpacing, kMinChecks, kMaxChecks));
    const double frameBytes = (first.layer == 1 ? 48.0 : first.samples / 8.0) * first.bitrate / first.rate;
    for (int j = 1; j < checks; ++j) {
        const std::int64_t off = from + span * j / checks;
        FrameHeader h;
        const std::int64_t p = FindFrame(w, off, end, kMaxFrameBytes + 8, 2, h);
        if (p < 0 || !SameStream(h, first)) return false;
        if (sameRate) {
            if (h.bitrate != first.bitrate) return false;
            const double k = std::round(static_cast<double>(p - from) / frameBytes);
            if (std::fabs(static_cast<double>(p - from) - k * frameBytes) > 2.0) return false;
        }
    }
    return true;
}

// The chain of frames that ends the stream: its frames of the first's stream run without a gap
// to `end`, the last one complete or cut short. Returns where its last frame starts and whether
// it is complete; nullopt when junk, silence or a tag the reader does not know ends the stream.
struct Tail {
    std::int64_t lastStart = 0;
    bool complete = false;
    FrameHeader last;
};
std::optional<Tail> FindTail(FileWindow& w, std::int64_t from, std::int64_t end, const FrameHeader& first, bool sameRate) {
    const std::int64_t start = std::max(from, end - 4 * kMaxFrameBytes);
    FrameHeader h;
    std::int64_t at = FindFrame(w, start, end, end - start, 1, h);
    if (at < 0) return std::nullopt;
    for (;;) {
        if (!SameStream(h, first) || (sameRate && h.bitrate != first.bitrate)) return std::nullopt;
        if (at + h.length >= end) return Tail{at, at + h.length == end, h};
        const std::int64_t next = at + h.length;
        std::size_t got = 0;
        const unsigned char* p = w.Get(next, 4, got);
        if (!p || got < 4 || !ParseFrameHeader(p, h)) {
            // Fewer than four bytes left: a last frame too short to have a header.
            if (end - next < 4) return Tail{at, false, h};
            return std::nullopt;
        }
        at = next;
    }
}

// Whether `frames` frames of the first's stream can fill `bytes`: each frame lies between the
// stream's lowest bit rate without padding and its highest with. A count outside that is not the
// count of this stream, however well its byte count agrees.
bool CountFitsBytes(const FrameHeader& first, std::int64_t frames, std::int64_t bytes) {
    unsigned char p[4] = {static_cast<unsigned char>(first.raw >> 24), static_cast<unsigned char>(first.raw >> 16),
                          static_cast<unsigned char>(first.raw >> 8), static_cast<unsigned char>(first.raw)};
    FrameHeader lo, hi;
    p[2] = static_cast<unsigned char>((p[2] & 0x0C) | 0x10);  // bit rate index 1, no padding
    if (!ParseFrameHeader(p, lo)) return false;
    p[2] = static_cast<unsigned char>((p[2] & 0x0C) | 0xE2);  // bit rate index 14, padding
    if (!ParseFrameHeader(p, hi)) return false;
    return frames * lo.length <= bytes + kMaxFrameBytes && bytes <= frames * hi.length + kMaxFrameBytes;
}

// Where FFmpeg's MP3 reader starts: the first of two frames in a row whose headers agree, within
// 64 KiB of `off`; `off` itself when there are none.
std::int64_t ReaderStart(FileWindow& w, std::int64_t off, std::int64_t end) {
    const std::int64_t start = ScanSyncBytes(w, off, std::min(end, off + 64 * 1024), 3, [&](std::int64_t cand) {
        FrameHeader a, b;
        std::size_t n = 0;
        const unsigned char* q = w.Get(cand, 4, n);
        if (!q || n != 4 || !ParseFrameHeader(q, a)) return false;
        q = w.Get(cand + a.length, 4, n);
        return q && n == 4 && ParseFrameHeader(q, b) && (a.raw & kStartMask) == (b.raw & kStartMask);
    });
    return start >= 0 ? start : off;
}

double Mp3Seconds(const SourceFile& f, const Sniffed& s) {
    FileWindow w(f);
    // The checks read a little here and there: a small window of their own.
    FileWindow spots(f, 4096);
    const std::int64_t end = AudioEnd(f, s.tagsEnd);
    std::size_t got = 0;
    const unsigned char* p = w.Get(s.audioStart, 4, got);
    FrameHeader stream;
    if (!p || got < 4 || !ParseFrameHeader(p, stream)) return 0;
    // FFmpeg reads a Xing header only from a frame right after the ID3v2 tags; elsewhere it is
    // a frame like any other.
    VbrTag tag;
    FrameHeader xing;
    p = w.Get(s.tagsEnd, 4, got);
    if (p && got >= 4 && ParseFrameHeader(p, xing)) tag = ReadVbrTag(w, s.tagsEnd, xing, f.Size());
    const std::int64_t from = ReaderStart(w, tag.header ? s.tagsEnd + xing.length : s.tagsEnd, end);
    const int spf = tag.header ? xing.samples : stream.samples;
    const int rate = tag.header ? xing.rate : stream.rate;
    auto seconds = [&](std::int64_t samples) { return static_cast<double>(samples - Trimmed(samples, samples, tag, spf)) / rate; };
    if (from >= end) return 0;

    FrameHeader first;
    p = w.Get(from, 4, got);
    const bool clean = p && got >= 4 && ParseFrameHeader(p, first) && first.rate == rate;
    if (clean && end - from > kWalkWhole) {
        // The header's frame count, while the file agrees: its byte count, frames throughout,
        // and a last frame that ends the file.
        // Encoders count the bytes from the header frame, some from the start of the file.
        auto near = [&](std::int64_t bytes) { return std::llabs(tag.bytes - bytes) <= kByteCountSlack; };
        if (tag.frames > 0 && tag.bytes > 0 && (near(end - s.tagsEnd) || near(end) || near(f.Size())) &&
            CountFitsBytes(first, tag.frames, end - from)) {
            const auto tail = FindTail(spots, from, end, first, false);
            if (tail && tail->complete && FramesThroughout(spots, from, end, first, false)) return seconds(tag.frames * spf);
        }
        // Constant bit rate: every check on the frame grid, and the chain that ends the file on it.
        if (const auto tail = FindTail(spots, from, end, first, true)) {
            const double frameBytes = (first.layer == 1 ? 48.0 : first.samples / 8.0) * first.bitrate / first.rate;
            const double k = std::round(static_cast<double>(tail->lastStart - from) / frameBytes);
            if (std::fabs(static_cast<double>(tail->lastStart - from) - k * frameBytes) <= 2.0 &&
                FramesThroughout(spots, from, end, first, true)) {
                const bool counts = tail->complete || PartialFrameCounts(end - tail->lastStart, tail->last);
                return seconds((static_cast<std::int64_t>(k) + (counts ? 1 : 0)) * spf);
            }
        }
    }
    const Walked r = Walk(w, from, end, clean ? first : stream);
    return std::max(0.0, r.seconds - static_cast<double>(Trimmed(r.heard, r.stamped, tag, spf)) / rate);
}

// ---- FFmpeg's containers ----

// WMA v1/v2: FFmpeg's decoder hears one frame fewer than the container's packets span (it drops
// its first overlap), so the container's length is a frame long. Returns that frame in seconds.
double WmaFrameSeconds(const AVCodecParameters* p) {
    const bool v1 = p->codec_id == AV_CODEC_ID_WMAV1, v2 = p->codec_id == AV_CODEC_ID_WMAV2;
    if ((!v1 && !v2) || p->sample_rate <= 0) return 0;
    int frame = 2048;
    if (p->sample_rate <= 16000) frame = 512;
    else if (p->sample_rate <= 22050 || (v1 && p->sample_rate <= 32000)) frame = 1024;
    return static_cast<double>(frame) / p->sample_rate;
}

// The end of the last packet read from where the demuxer stands, in seconds from the stream's
// start; <0 when no packet carried a time.
double LastPacketEnd(Demuxer& d, std::int64_t maxPackets) {
    AVFormatContext* fmt = d.fmt.get();
    const AVStream* st = fmt->streams[d.stream];
    // Where the stream starts, as the headers say: reading on from a seek must not move it.
    const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    // WMA's decoder turns down a packet shorter than its block (the last one of a cut file).
    const AVCodecParameters* par = st->codecpar;
    const int whole = (par->codec_id == AV_CODEC_ID_WMAV1 || par->codec_id == AV_CODEC_ID_WMAV2) ? par->block_align : 0;
    PacketPtr pkt(av_packet_alloc());
    if (!pkt) return -1;
    std::int64_t last = AV_NOPTS_VALUE;
    int errors = 0;
    for (std::int64_t n = 0; n < maxPackets;) {
        const int r = av_read_frame(fmt, pkt.get());
        if (r < 0) {
            if (r == AVERROR_EOF || avio_feof(fmt->pb) || ++errors > 64) break;
            continue;
        }
        if (pkt->stream_index == d.stream && pkt->size >= whole) {
            ++n;
            const std::int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (ts != AV_NOPTS_VALUE) last = std::max(last == AV_NOPTS_VALUE ? ts : last, ts + std::max<std::int64_t>(pkt->duration, 0));
        }
        av_packet_unref(pkt.get());
    }
    if (last == AV_NOPTS_VALUE) return -1;
    return static_cast<double>(last - start) * av_q2d(st->time_base);
}

constexpr std::int64_t kWalkAllPackets = std::int64_t{1} << 40;

// ASF with fixed-size packets: the last packets, read from where they start, tell where the
// stream really ends.
double AsfTailEnd(const std::shared_ptr<SourceFile>& file, const Sniffed& s, const AsfInfo& asf) {
    auto d = OpenDemuxer(file, s);
    if (!d) return -1;
    if (asf.dataStart > 0 && asf.minPacket == asf.maxPacket && asf.maxPacket > 0) {
        const std::int64_t packet = asf.maxPacket;
        const std::int64_t whole = (file->Size() - asf.dataStart) / packet;
        const std::int64_t back = std::max<std::int64_t>(8, (256 * 1024) / packet);
        const std::int64_t from = std::max<std::int64_t>(0, whole - back);
        if (from > 0 && av_seek_frame(d->fmt.get(), -1, asf.dataStart + from * packet, AVSEEK_FLAG_BYTE) >= 0) {
            const double end = LastPacketEnd(*d, kWalkAllPackets);
            if (end > 0) return end;
        }
        d = OpenDemuxer(file, s);
        if (!d) return -1;
    }
    return LastPacketEnd(*d, kWalkAllPackets);
}

double GenericSeconds(const std::shared_ptr<SourceFile>& file, const Sniffed& s, const Demuxer* opened) {
    std::unique_ptr<Demuxer> own;
    const Demuxer* d = opened;
    if (!d) {
        own = OpenDemuxer(file, s);
        d = own.get();
        // A file that cannot be played has no length, whatever its headers say (an opened
        // demuxer comes with its decoder open already).
        if (d && !OpenDecoder(*d)) return 0;
    }
    if (!d) return 0;
    const AVFormatContext* fmt = d->fmt.get();
    const AVStream* st = fmt->streams[d->stream];
    double seconds = 0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) seconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
    else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) seconds = static_cast<double>(fmt->duration) / AV_TIME_BASE;
    // A length worked out from the bit rate is a guess, not a header.
    bool trusted = seconds > 0 && fmt->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
    if (s.kind == Container::kAsf) {
        // ASF's header is right while the file is the one it was written for: the size it names,
        // and a length it knew (a streamed file's header has none).
        const auto asf = ParseAsf(*file);
        trusted = trusted && asf && !(asf->flags & 1) && asf->playDuration > 0 &&
                  asf->fileSize == static_cast<std::uint64_t>(file->Size());
        if (!trusted) seconds = asf ? AsfTailEnd(file, s, *asf) : -1;
    } else if (!trusted) {
        auto walker = OpenDemuxer(file, s);
        seconds = walker ? LastPacketEnd(*walker, kWalkAllPackets) : -1;
    }
    if (seconds > 0) seconds = std::max(0.0, seconds - WmaFrameSeconds(st->codecpar));
    return seconds > 0 ? seconds : 0;
}

}  // namespace

double MeasureFile(const std::shared_ptr<SourceFile>& file, const Sniffed& sniffed, const Demuxer* opened) {
    if (!file) return 0;
    switch (sniffed.kind) {
        case Container::kNone: return 0;
        case Container::kWavPcm: return WavSeconds(*file);
        case Container::kMp3: return Mp3Seconds(*file, sniffed);
        default: return GenericSeconds(file, sniffed, opened);
    }
}

double MeasureDuration(const std::string& path) {
    const auto file = SourceFile::Open(path);
    if (!file) return 0;
    return MeasureFile(file, Sniff(*file), nullptr);
}

}  // namespace quendo::audio
