#include "playback/engine/MediaFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "playback/engine/FileFormats.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace quendo::audio {

void FormatCloser::operator()(AVFormatContext* p) const { avformat_close_input(&p); }
void CodecFreer::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void PacketFreer::operator()(AVPacket* p) const { av_packet_free(&p); }
void FrameFreer::operator()(AVFrame* p) const { av_frame_free(&p); }
void IoFreer::operator()(AVIOContext* p) const {
    if (!p) return;
    av_freep(&p->buffer);
    avio_context_free(&p);
}
void SwrFreer::operator()(SwrContext* p) const { swr_free(&p); }

void SilenceFfmpegLog() {
    // A bad file is an ordinary event here; FFmpeg's own messages would only flood the terminal.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
}

// ---- what the content is ----

namespace {

// How far past the tags the first MPEG audio frame is looked for. Leading junk or silence padding
// of a few hundred kilobytes is found; a large file of junk costs no more than this.
constexpr std::int64_t kFirstFrameSearch = 1 << 20;

// Another container known by its first bytes: whatever MPEG-like bytes it holds, it is not an
// MPEG audio stream.
bool OtherMagic(const unsigned char* p, std::size_t n) {
    auto is = [&](std::size_t at, std::string_view m) {
        return n >= at + m.size() && std::memcmp(p + at, m.data(), m.size()) == 0;
    };
    using namespace std::string_view_literals;
    if (is(0, "OggS") || is(0, "fLaC") || is(0, "FORM") || is(0, "RIFF") || is(0, "RIFX") || is(0, "RF64") ||
        is(0, "BW64") || is(4, "ftyp") || is(0, "\x1A\x45\xDF\xA3") || is(0, "MAC ") || is(0, "wvpk") ||
        is(0, "#!AMR") || is(0, ".snd") || is(0, "caff") || is(0, "MThd") || is(0, "TTA1") || is(0, "MPCK") ||
        is(0, "\x00\x00\x01\xBA"sv))
        return true;
    // MPEG transport stream: a sync byte every 188 bytes.
    return n >= 189 && p[0] == 0x47 && p[188] == 0x47;
}

}  // namespace

Sniffed Sniff(const SourceFile& file) {
    Sniffed s;
    if (file.Size() <= 0) return s;
    unsigned char head[192] = {};
    const std::size_t n = file.Read(0, head, sizeof head);
    if (const auto wav = ParseWav(file)) {
        s.kind = wav->measurable ? Container::kWavPcm : Container::kWav;
        return s;
    }
    if (n >= 16 && IsAsf(head)) {
        s.kind = Container::kAsf;
        return s;
    }
    s.kind = Container::kOther;
    if (OtherMagic(head, n)) return s;
    s.tagsEnd = SkipId3v2(file, 0);
    const std::int64_t end = AudioEnd(file, s.tagsEnd);
    FileWindow w(file);
    FrameHeader h;
    const std::int64_t at = FindFrame(w, s.tagsEnd, end, kFirstFrameSearch, 3, h);
    if (at >= 0) {
        s.kind = Container::kMp3;
        s.audioStart = at;
    }
    return s;
}

// ---- FFmpeg on the file ----

namespace {

int ReadIo(void* opaque, uint8_t* buf, int size) {
    auto* d = static_cast<Demuxer*>(opaque);
    if (size <= 0) return 0;
    const std::size_t got = d->file->Read(d->base + d->position, buf, static_cast<std::size_t>(size));
    d->position += static_cast<std::int64_t>(got);
    if (got > 0) return static_cast<int>(got);
    // Nothing where the file had bytes when it was opened is a failed read (or a file cut short
    // since), not its end: FFmpeg keeps the error for the decoder to tell.
    return d->base + d->position < d->file->Size() ? AVERROR(EIO) : AVERROR_EOF;
}

int64_t SeekIo(void* opaque, int64_t offset, int whence) {
    auto* d = static_cast<Demuxer*>(opaque);
    const std::int64_t size = d->file->Size() - d->base;
    std::int64_t to = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return size;
        case SEEK_SET: to = offset; break;
        case SEEK_CUR: to = d->position + offset; break;
        case SEEK_END: to = size + offset; break;
        default: return AVERROR(EINVAL);
    }
    if (to < 0) return AVERROR(EINVAL);
    d->position = to;
    return to;
}

int PickAudioStream(const AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        const AVCodecParameters* p = st->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_AUDIO && p->codec_id != AV_CODEC_ID_NONE &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

bool Playable(const AVFormatContext* fmt, int s) {
    if (s < 0) return false;
    const AVCodecParameters* p = fmt->streams[s]->codecpar;
    return p->sample_rate > 0 && p->ch_layout.nb_channels > 0;
}

}  // namespace

std::unique_ptr<Demuxer> OpenDemuxer(std::shared_ptr<SourceFile> file, const Sniffed& sniffed) {
    if (!file || sniffed.kind == Container::kNone) return nullptr;
    SilenceFfmpegLog();
    auto d = std::make_unique<Demuxer>();
    d->file = std::move(file);
    d->sniffed = sniffed;
    // Content left to FFmpeg's recognition is shown to it without the ID3v2 tags in front: its
    // probing would otherwise work through a large tag over and over.
    if (sniffed.kind == Container::kOther) d->base = std::min(sniffed.tagsEnd, d->file->Size());
    constexpr int kIoBuffer = 32 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    if (!buffer) return nullptr;
    d->io.reset(avio_alloc_context(buffer, kIoBuffer, 0, d.get(), ReadIo, nullptr, SeekIo));
    if (!d->io) {
        av_free(buffer);
        return nullptr;
    }

    const AVInputFormat* format = nullptr;
    switch (sniffed.kind) {
        case Container::kMp3: format = av_find_input_format("mp3"); break;
        case Container::kWavPcm:
        case Container::kWav: format = av_find_input_format("wav"); break;
        case Container::kAsf: format = av_find_input_format("asf"); break;
        default: break;
    }
    d->score = AVPROBE_SCORE_MAX;
    if (!format) {
        // FFmpeg tells the content, the name only tipping a close call, within a bounded read.
        const int score = av_probe_input_buffer2(d->io.get(), &format, d->file->Path().c_str(), nullptr, 0,
                                                 kFormatProbeBytes);
        // A guess is not a recognition; and MPEG audio is the engine's own reader's to find.
        if (score <= AVPROBE_SCORE_RETRY || !format || std::strcmp(format->name, "mp3") == 0) return nullptr;
        d->score = score;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return nullptr;
    raw->pb = d->io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->probesize = kStreamProbeBytes;
    raw->max_analyze_duration = kAnalyzeMicroseconds;
    raw->format_probesize = kFormatProbeBytes;
    // FFmpeg's WAV reader looks for other audio carried as 16-bit PCM over its first 32 packets, but
    // a seek before those are read widens the look to every packet up to a megabyte, all read (and
    // the buffer grown packet by packet) before the first sample: keep the reader's own bound.
    if (sniffed.kind == Container::kWavPcm || sniffed.kind == Container::kWav) raw->max_probe_packets = 32;
    if (avformat_open_input(&raw, d->file->Path().c_str(), format, nullptr) != 0) return nullptr;  // frees raw
    d->fmt.reset(raw);
    d->stream = PickAudioStream(raw);
    if (!Playable(raw, d->stream)) {
        // Some containers fill in the stream parameters only from the first packets.
        if (avformat_find_stream_info(raw, nullptr) < 0) return nullptr;
        d->stream = PickAudioStream(raw);
        if (!Playable(raw, d->stream)) return nullptr;
    }
    if (!avcodec_find_decoder(raw->streams[d->stream]->codecpar->codec_id)) return nullptr;
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        if (static_cast<int>(i) != d->stream) raw->streams[i]->discard = AVDISCARD_ALL;
    return d;
}

CodecPtr OpenDecoder(const Demuxer& demuxer) {
    if (!demuxer.fmt || demuxer.stream < 0) return nullptr;
    const AVCodecParameters* params = demuxer.fmt->streams[demuxer.stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    if (!codec) return nullptr;
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), params) < 0) return nullptr;
    context->thread_count = 1;
    // Without it the samples a packet asks to skip would leave the frame's timestamp behind them.
    context->pkt_timebase = demuxer.fmt->streams[demuxer.stream]->time_base;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    return context;
}

}  // namespace quendo::audio
