// Measuring a file's length from its headers, fast enough to run on the interface thread for
// every file that enters the playlist.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "playback/engine/Decoder.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace quendo::audio {

namespace {

class File {
public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
    }
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0 && size_ > 0; }
    std::int64_t Size() const { return size_; }
    // Reads up to n bytes at offset; returns the count read.
    std::size_t Read(std::int64_t offset, void* buf, std::size_t n) const {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, offset + static_cast<std::int64_t>(done));
            if (r <= 0) break;
            done += static_cast<std::size_t>(r);
        }
        return done;
    }

private:
    int fd_;
    std::int64_t size_ = 0;
};

std::uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Be32(const unsigned char* p) { return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// ---- WAV: the data chunk's size over the block size says it all. ----
// Returns <0 when the file is not a plain PCM WAV this parser understands.
double WavDuration(const File& f) {
    unsigned char h[12];
    if (f.Read(0, h, 12) != 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return -1;
    std::int64_t at = 12;
    std::uint32_t rate = 0, blockAlign = 0;
    for (int chunks = 0; chunks < 64 && at + 8 <= f.Size(); ++chunks) {
        unsigned char c[8];
        if (f.Read(at, c, 8) != 8) break;
        const std::uint32_t size = Le32(c + 4);
        if (std::memcmp(c, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || f.Read(at + 8, fmt, 16) != 16) return -1;
            const std::uint16_t tag = Le16(fmt);
            if (tag != 1 && tag != 3 && tag != 6 && tag != 7 && tag != 0xFFFE) return -1;
            if (Le16(fmt + 2) == 0) return 0;
            rate = Le32(fmt + 4);
            blockAlign = Le16(fmt + 12);
            if (rate == 0 || blockAlign == 0) return 0;
        } else if (std::memcmp(c, "data", 4) == 0) {
            if (rate == 0) return -1;
            // A truncated file or a streamed header (size 0 or all ones) holds what is there.
            std::int64_t bytes = f.Size() - (at + 8);
            if (size != 0 && size != 0xFFFFFFFFu) bytes = std::min<std::int64_t>(bytes, size);
            return static_cast<double>(std::max<std::int64_t>(bytes, 0) / blockAlign) / rate;
        }
        at += 8 + size + (size & 1);
    }
    return -1;
}

// ---- MP3 ----
struct FrameHeader {
    int version = 0;  // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
    int layer = 0;    // 1..3
    int bitrate = 0;  // bits per second
    int rate = 0;
    int channels = 0;
    int length = 0;   // bytes, with padding
    int samples = 0;  // per frame
};

bool ParseHeader(const unsigned char* p, FrameHeader& h) {
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
    h.version = version;
    h.layer = 4 - layerBits;
    const bool mpeg1 = version == 3;
    h.bitrate = kBitrates[mpeg1 ? 0 : 1][h.layer - 1][brIndex] * 1000;
    h.rate = kRates[srIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    h.channels = ((p[3] >> 6) == 3) ? 1 : 2;
    if (h.layer == 1) {
        h.samples = 384;
        h.length = (12 * h.bitrate / h.rate + padding) * 4;
    } else {
        h.samples = (h.layer == 3 && !mpeg1) ? 576 : 1152;
        h.length = h.samples / 8 * h.bitrate / h.rate + padding;
    }
    return h.length >= 21;
}

bool SameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}

// A frame header at buf[i] that is followed by `confirm` more consistent headers.
bool ConfirmedFrame(const unsigned char* buf, std::size_t n, std::size_t i, int confirm, FrameHeader& h) {
    if (i + 4 > n || !ParseHeader(buf + i, h)) return false;
    std::size_t at = i + h.length;
    for (int k = 0; k < confirm; ++k) {
        FrameHeader next;
        if (at + 4 > n) return k > 0;  // end of the buffer: accept what was seen
        if (!ParseHeader(buf + at, next) || !SameStream(h, next)) return false;
        at += next.length;
    }
    return true;
}

std::int64_t Id3v2Size(const File& f, std::int64_t at) {
    unsigned char t[10];
    if (f.Read(at, t, 10) != 10 || std::memcmp(t, "ID3", 3) != 0) return 0;
    if ((t[6] | t[7] | t[8] | t[9]) & 0x80) return 0;
    const std::int64_t size = (t[6] << 21) | (t[7] << 14) | (t[8] << 7) | t[9];
    return 10 + size + ((t[5] & 0x10) ? 10 : 0);
}

// Walks every frame header from `start` to `end`; resynchronises over damaged stretches.
double ScanFrames(const File& f, std::int64_t start, std::int64_t end, const FrameHeader& first) {
    std::vector<unsigned char> buf(static_cast<std::size_t>(end - start));
    const std::size_t n = f.Read(start, buf.data(), buf.size());
    std::int64_t samples = 0;
    std::size_t i = 0;
    while (i + 4 <= n) {
        FrameHeader h;
        if (ParseHeader(buf.data() + i, h) && SameStream(h, first)) {
            if (i + h.length > n) {
                // A last frame cut short still decodes in part; count it if most of it is there.
                if ((n - i) * 2 >= static_cast<std::size_t>(h.length)) samples += h.samples;
                break;
            }
            samples += h.samples;
            i += h.length;
            continue;
        }
        FrameHeader probe;
        ++i;
        while (i + 4 <= n && !(buf[i] == 0xFF && ConfirmedFrame(buf.data(), n, i, 2, probe) && SameStream(probe, first))) ++i;
    }
    return static_cast<double>(samples) / first.rate;
}

// Returns <0 when no MPEG audio stream is found.
double Mp3Duration(const File& f) {
    std::int64_t start = 0;
    for (int tags = 0; tags < 4; ++tags) {
        const std::int64_t s = Id3v2Size(f, start);
        if (s == 0) break;
        start += s;
    }
    std::int64_t end = f.Size();
    {
        unsigned char t[3];
        if (end - 128 > start && f.Read(end - 128, t, 3) == 3 && std::memcmp(t, "TAG", 3) == 0) end -= 128;
    }
    if (end <= start) return -1;

    // First frame: within the first 64 KiB after the tags, confirmed by the frames after it.
    std::vector<unsigned char> head(static_cast<std::size_t>(std::min<std::int64_t>(end - start, 65536 + 8192)));
    const std::size_t n = f.Read(start, head.data(), head.size());
    FrameHeader first;
    std::size_t at = 0;
    while (at + 4 <= n && !(head[at] == 0xFF && ConfirmedFrame(head.data(), n, at, 3, first))) ++at;
    if (at + 4 > n) return -1;
    const std::int64_t audioStart = start + static_cast<std::int64_t>(at);
    const unsigned char* fr = head.data() + at;
    const std::size_t frAvail = n - at;

    // Xing / Info header (with the LAME tag's gapless delay and padding), or VBRI.
    const int side = first.version == 3 ? (first.channels == 1 ? 17 : 32) : (first.channels == 1 ? 9 : 17);
    const std::size_t x = 4 + static_cast<std::size_t>(side);
    if (first.layer == 3 && x + 120 + 24 <= frAvail &&
        (std::memcmp(fr + x, "Xing", 4) == 0 || std::memcmp(fr + x, "Info", 4) == 0)) {
        const std::uint32_t flags = Be32(fr + x + 4);
        if (flags & 1) {
            const std::int64_t frames = Be32(fr + x + 8);
            std::size_t lame = x + 8;
            for (std::uint32_t bit : {1u, 2u}) if (flags & bit) lame += 4;
            if (flags & 4) lame += 100;
            if (flags & 8) lame += 4;
            std::int64_t trim = 0;
            if (lame + 24 <= frAvail && (std::memcmp(fr + lame, "LAME", 4) == 0 || std::memcmp(fr + lame, "Lavf", 4) == 0 ||
                                         std::memcmp(fr + lame, "Lavc", 4) == 0)) {
                const unsigned char* d = fr + lame + 21;
                trim = ((d[0] << 4) | (d[1] >> 4)) + (((d[1] & 0x0F) << 8) | d[2]);
            }
            if (frames > 0) return static_cast<double>(std::max<std::int64_t>(frames * first.samples - trim, 0)) / first.rate;
        }
    }
    if (36 + 18 <= frAvail && std::memcmp(fr + 36, "VBRI", 4) == 0) {
        const std::int64_t frames = Be32(fr + 36 + 14);
        if (frames > 0) return static_cast<double>(frames * first.samples) / first.rate;
    }

    // No header: constant bit rate if frames sampled across the file agree; otherwise walk them.
    bool constant = true;
    {
        FrameHeader h;
        std::size_t i = at;
        for (int j = 0; j < 8 && constant; ++j) {
            if (i + 4 > n || !ParseHeader(head.data() + i, h)) break;
            if (h.bitrate != first.bitrate) constant = false;
            i += h.length;
        }
    }
    const std::int64_t span = end - audioStart;
    // A short file is walked whole: its first frames say little about the rest (it may open with
    // silence), and walking it costs no more than sampling it.
    if (span <= 65536) constant = false;
    for (int k = 1; k <= 7 && constant && span > 65536; ++k) {
        unsigned char buf[8192];
        const std::int64_t off = audioStart + span * k / 8;
        const std::size_t got = f.Read(off, buf, sizeof buf);
        std::size_t i = 0;
        FrameHeader h;
        while (i + 4 <= got && !(buf[i] == 0xFF && ConfirmedFrame(buf, got, i, 3, h) && SameStream(h, first))) ++i;
        for (int j = 0; j < 4 && i + 4 <= got; ++j) {
            if (!ParseHeader(buf + i, h)) break;
            if (h.bitrate != first.bitrate) constant = false;
            i += h.length;
        }
    }
    if (constant) {
        const double bytesPerSample = static_cast<double>(first.bitrate) / 8 / first.rate;
        const std::int64_t frames = static_cast<std::int64_t>(span / (bytesPerSample * first.samples));
        return static_cast<double>(frames * first.samples) / first.rate;
    }
    return ScanFrames(f, audioStart, end, first);
}

// WMA v1/v2: FFmpeg's decoder hears one frame fewer than the container's packets span (it drops
// its first overlap), so the header's length is a frame long. Returns that frame in seconds.
double WmaFrameSeconds(const AVCodecParameters* p) {
    const bool v1 = p->codec_id == AV_CODEC_ID_WMAV1, v2 = p->codec_id == AV_CODEC_ID_WMAV2;
    if ((!v1 && !v2) || p->sample_rate <= 0) return 0;
    int frame = 2048;
    if (p->sample_rate <= 16000) frame = 512;
    else if (p->sample_rate <= 22050 || (v1 && p->sample_rate <= 32000)) frame = 1024;
    return static_cast<double>(frame) / p->sample_rate;
}

// Any other container: FFmpeg's header reading, then its stream analysis, then the packets.
double GenericDuration(const std::string& path) {
    AVFormatContext* fmt = nullptr;
    const auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const AVInputFormat* hint = ext == "wma" ? av_find_input_format("asf") : nullptr;
    SilenceFfmpegLog();
    if (!hint || avformat_open_input(&fmt, path.c_str(), hint, nullptr) != 0) {
        fmt = nullptr;
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) != 0) return 0;
    }
    auto audioStream = [&]() -> int {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                fmt->streams[i]->codecpar->codec_id != AV_CODEC_ID_NONE)
                return static_cast<int>(i);
        return -1;
    };
    int s = audioStream();
    double seconds = 0;
    auto fromHeaders = [&]() {
        AVStream* st = fmt->streams[s];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) return st->duration * av_q2d(st->time_base);
        if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) return static_cast<double>(fmt->duration) / AV_TIME_BASE;
        return 0.0;
    };
    if (s < 0 && avformat_find_stream_info(fmt, nullptr) >= 0) s = audioStream();
    if (s >= 0) {
        seconds = fromHeaders();
        if (seconds <= 0 && avformat_find_stream_info(fmt, nullptr) >= 0) seconds = fromHeaders();
        if (seconds <= 0) {
            AVPacket* pkt = av_packet_alloc();
            std::int64_t last = 0;
            while (pkt && av_read_frame(fmt, pkt) >= 0) {
                if (pkt->stream_index == s && pkt->pts != AV_NOPTS_VALUE)
                    last = std::max(last, pkt->pts + pkt->duration);
                av_packet_unref(pkt);
            }
            av_packet_free(&pkt);
            seconds = last * av_q2d(fmt->streams[s]->time_base);
        }
        if (seconds > 0) seconds = std::max(0.0, seconds - WmaFrameSeconds(fmt->streams[s]->codecpar));
    }
    avformat_close_input(&fmt);
    return seconds > 0 ? seconds : 0;
}

}  // namespace

double MeasureDuration(const std::string& path) {
    File f(path);
    if (!f.Ok()) return 0;
    const double wav = WavDuration(f);
    if (wav >= 0) return wav;
    unsigned char magic[4] = {};
    f.Read(0, magic, 4);
    const bool asf = magic[0] == 0x30 && magic[1] == 0x26 && magic[2] == 0xB2 && magic[3] == 0x75;
    if (!asf && std::memcmp(magic, "RIFF", 4) != 0) {
        const double mp3 = Mp3Duration(f);
        if (mp3 >= 0) return mp3;
    }
    return GenericDuration(path);
}

}  // namespace quendo::audio
