#include "playback/engine/Decoder.h"

#include "playback/engine/FileFormats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace quendo::audio {

namespace {

template <class T>
float PeakOf(const std::uint8_t* data, std::size_t n, double scale, double offset = 0) {
    const T* v = reinterpret_cast<const T*>(data);
    double peak = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = std::fabs(static_cast<double>(v[i]) - offset);
        // A damaged float frame's NaNs and infinities are never heard: the output silences them.
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(x)) continue;
        }
        peak = std::max(peak, x);
    }
    // Nothing is heard above full scale: the output clips it there.
    return static_cast<float>(std::min(peak * scale, 1.0));
}

// The largest magnitude among a frame's samples, in any of FFmpeg's sample formats.
float FramePeak(const AVFrame* frame) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? channels : 1;
    const auto n = static_cast<std::size_t>(frame->nb_samples) * static_cast<std::size_t>(planar ? 1 : channels);
    float peak = 0;
    for (int p = 0; p < planes; ++p) {
        const std::uint8_t* d = frame->extended_data[p];
        switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_U8: peak = std::max(peak, PeakOf<std::uint8_t>(d, n, 1.0 / 128, 128)); break;
            case AV_SAMPLE_FMT_S16: peak = std::max(peak, PeakOf<std::int16_t>(d, n, 1.0 / 32768)); break;
            case AV_SAMPLE_FMT_S32: peak = std::max(peak, PeakOf<std::int32_t>(d, n, 1.0 / 2147483648.0)); break;
            case AV_SAMPLE_FMT_S64: peak = std::max(peak, PeakOf<std::int64_t>(d, n, 1.0 / 9223372036854775808.0)); break;
            case AV_SAMPLE_FMT_FLT: peak = std::max(peak, PeakOf<float>(d, n, 1.0)); break;
            case AV_SAMPLE_FMT_DBL: peak = std::max(peak, PeakOf<double>(d, n, 1.0)); break;
            default: break;
        }
    }
    return peak;
}

// Clips the samples and returns the largest magnitude left. Written so that it vectorises: the
// analysis runs it over every sample of every file.
template <class T>
float Clip(std::uint8_t* data, std::size_t n) {
    T* v = reinterpret_cast<T*>(data);
    T peak = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const T x = v[i];
        // NaN and infinities fail the test and are silenced.
        const T c = std::fabs(x) <= std::numeric_limits<T>::max() ? std::min<T>(std::max<T>(x, -1), 1) : 0;
        v[i] = c;
        peak = std::max(peak, std::fabs(c));
    }
    return static_cast<float>(peak);
}

// A frame's samples as the output plays them: NaN and infinities silent, nothing past full scale.
// Only floating-point samples can be either. Returns the largest magnitude left, or -1 for a
// frame of integers, which needs no clipping.
float ClipFrame(AVFrame* frame) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL) return -1;
    if (av_frame_make_writable(frame) < 0) return -1;
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const auto n = static_cast<std::size_t>(frame->nb_samples) * static_cast<std::size_t>(planar ? 1 : channels);
    float peak = 0;
    for (int p = 0; p < (planar ? channels : 1); ++p)
        peak = std::max(peak, packed == AV_SAMPLE_FMT_FLT ? Clip<float>(frame->extended_data[p], n)
                                                          : Clip<double>(frame->extended_data[p], n));
    return peak;
}

// A converter of frames like `frame` to stereo float at `rate`, downmixed as the decks hear them.
// `measuring`: for the analysis, whose meters ask less of the resampler than a listener does.
SwrPtr StereoConverter(const AVFrame* frame, int rate, bool measuring = false) {
    const int channels = frame->ch_layout.nb_channels;
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&in, channels);
    else av_channel_layout_copy(&in, &frame->ch_layout);
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* raw = nullptr;
    const int rc = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLT, rate, &in,
                                       static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    SwrPtr swr(raw);
    if (rc < 0 || !swr) return nullptr;
    if (channels == 1) {
        // A mono file plays at full level on both sides, not 3 dB down.
        const double unity[2] = {1.0, 1.0};
        swr_set_matrix(swr.get(), unity, 1);
    } else {
        // A downmix never goes past full scale: the matrix is scaled so that no output
        // channel's coefficients add up to more than one.
        av_opt_set_double(swr.get(), "rematrix_maxval", 1.0, 0);
    }
    // A shorter filter costs a quarter of the default and keeps the band the meters weigh.
    if (measuring) av_opt_set_int(swr.get(), "filter_size", 8, 0);
    if (swr_init(swr.get()) < 0) return nullptr;
    return swr;
}

}  // namespace

AudioDecoder::~AudioDecoder() { Close(); }

void AudioDecoder::Close() {
    swr_.reset();
    codec_.reset();
    packet_.reset();
    frame_.reset();
    input_.reset();
    stream_ = -1;
    swrFormat_ = -1;
    pending_.clear();
    pendingAt_ = 0;
    dropUntil_ = -1;
    draining_ = ended_ = readFailed_ = false;
    originKnown_ = late_ = false;
    sentAt_ = -1;
    origin_ = 0;
    originSamples_ = 0;
    sourcePeak_ = 0;
    downmix_.reset();
    downmixFormat_ = -1;
}

bool AudioDecoder::Open(const std::string& path) {
    Close();
    auto file = SourceFile::Open(path);
    if (!file) return false;
    const Sniffed sniffed = Sniff(*file);
    auto input = OpenDemuxer(std::move(file), sniffed);
    if (!input) return false;
    CodecPtr context = OpenDecoder(*input);
    if (!context) return false;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return false;
    // Only a decoder that is whole counts as open.
    stream_ = input->stream;
    input_ = std::move(input);
    codec_ = std::move(context);
    packet_ = std::move(packet);
    frame_ = std::move(frame);
    return true;
}

double AudioDecoder::Duration() const {
    return input_ ? MeasureFile(input_->file, input_->sniffed, input_.get()) : 0;
}

namespace {
// Decoding starts this far before a seek's target: a codec's first frames after a jump lack the
// overlap and the bit reservoir of those before them, and are not heard.
constexpr double kPreroll = 0.25;

// Samples as they are stored: each stands where its timestamp says, and needs nothing before it.
bool Pcm(AVCodecID id) { return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT; }
}  // namespace

bool AudioDecoder::SeekDemuxer(double seconds) {
    AVStream* st = Format()->streams[stream_];
    const std::int64_t ts = av_rescale_q(static_cast<std::int64_t>(seconds * AV_TIME_BASE), AV_TIME_BASE_Q, st->time_base);
    const std::int64_t at = seconds > 0 ? origin_ + ts : std::min<std::int64_t>(origin_, st->start_time != AV_NOPTS_VALUE ? st->start_time : 0);
    return av_seek_frame(Format(), stream_, at, AVSEEK_FLAG_BACKWARD) >= 0 || av_seek_frame(Format(), stream_, at, 0) >= 0;
}

// The first frame decoded from the start names the file's time zero; only PCM is taken at its
// stream's word.
void AudioDecoder::FindOrigin() {
    AVStream* st = Format()->streams[stream_];
    origin_ = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    if (!Pcm(st->codecpar->codec_id)) DecodeMore();
    originKnown_ = true;
}

bool AudioDecoder::Seek(double seconds) {
    if (!input_) return false;
    if (seconds < 0) seconds = 0;
    if (!originKnown_) FindOrigin();
    double preroll = Pcm(Format()->streams[stream_]->codecpar->codec_id) ? 0 : kPreroll;
    for (;;) {
        const double from = std::max(0.0, seconds - preroll);
        Flush();
        ended_ = false;
        if (!SeekDemuxer(from)) {
            ended_ = true;
            return false;
        }
        avcodec_flush_buffers(codec_.get());
        dropUntil_ = static_cast<std::int64_t>(seconds * outRate_ + 0.5);
        late_ = false;
        // Nothing reaches the target: it lies past the end.
        if (!DecodeMore()) return false;
        // The demuxer landed past where decoding had to start (its index is coarse, or the codec
        // held back its first frames): from further back, down to the start, where it cannot.
        if (!late_ || from == 0) return true;
        preroll = std::max(4 * preroll, 1.0);
    }
}

// Timestamps coarser than a sample (ASF counts milliseconds) are rounded: frames of the first
// frame's length lie on its grid.
std::int64_t AudioDecoder::FrameStart(const AVFrame* frame) const {
    const std::int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || frame->sample_rate <= 0) return -1;
    const AVRational tb = Format()->streams[stream_]->time_base;
    double at = static_cast<double>(pts - origin_) * tb.num * frame->sample_rate / tb.den;
    const bool coarse = static_cast<std::int64_t>(tb.num) * frame->sample_rate > tb.den;
    if (coarse && originSamples_ > 0 && frame->nb_samples == originSamples_)
        at = std::round(at / originSamples_) * originSamples_;
    return std::llround(std::round(at) * outRate_ / frame->sample_rate);
}

void AudioDecoder::Flush() {
    swr_.reset();
    swrFormat_ = -1;
    pending_.clear();
    pendingAt_ = 0;
    draining_ = false;
    dropUntil_ = -1;
}

void AudioDecoder::DrainResampler() {
    if (!swr_) return;
    const int room = swr_get_out_samples(swr_.get(), 0);
    if (room > 0) {
        const std::size_t keep = pending_.size() / 2;
        pending_.resize(2 * (keep + static_cast<std::size_t>(room)));
        uint8_t* dst = reinterpret_cast<uint8_t*>(pending_.data() + 2 * keep);
        const int got = swr_convert(swr_.get(), &dst, room, nullptr, 0);
        pending_.resize(2 * (keep + static_cast<std::size_t>(std::max(got, 0))));
    }
    swr_.reset();
    swrFormat_ = -1;
}

// Over two channels, the peak that counts is the downmix's that the decks play, at the file's own
// rate: the channels' own peaks may add up or cancel out in it.
float AudioDecoder::DownmixPeak(const AVFrame* frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (!downmix_ || frame->format != downmixFormat_ || frame->sample_rate != downmixRate_ ||
        channels != downmixChannels_) {
        downmix_ = StereoConverter(frame, frame->sample_rate);
        downmixFormat_ = downmix_ ? frame->format : -1;
        downmixRate_ = frame->sample_rate;
        downmixChannels_ = channels;
    }
    if (!downmix_) return FramePeak(frame);
    const int room = swr_get_out_samples(downmix_.get(), frame->nb_samples);
    if (room <= 0) return 0;
    downmixed_.resize(2 * static_cast<std::size_t>(room));
    uint8_t* dst = reinterpret_cast<uint8_t*>(downmixed_.data());
    const int got = swr_convert(downmix_.get(), &dst, room, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    float peak = 0;
    for (int i = 0; i < 2 * got; ++i) {
        const float x = std::fabs(downmixed_[static_cast<std::size_t>(i)]);
        if (std::isfinite(x)) peak = std::max(peak, x);
    }
    return std::min(peak, 1.0f);
}

bool AudioDecoder::Convert(AVFrame* frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0 || frame->nb_samples <= 0) return true;
    const float clipped = clipSource_ ? ClipFrame(frame) : -1.0f;
    if (measurePeak_)
        sourcePeak_ = std::max(sourcePeak_, channels > 2 ? DownmixPeak(frame) : clipped >= 0 ? clipped : FramePeak(frame));
    if (!swr_ || frame->format != swrFormat_ || frame->sample_rate != swrRate_ || channels != swrChannels_) {
        DrainResampler();  // what the old one still holds is heard before the new material
        SwrPtr swr = StereoConverter(frame, outRate_, clipSource_);
        if (!swr) return false;
        swr_ = std::move(swr);
        swrFormat_ = frame->format;
        swrRate_ = frame->sample_rate;
        swrChannels_ = channels;
    }
    if (!originKnown_) {
        origin_ = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : origin_;
        originSamples_ = frame->nb_samples;
        originKnown_ = true;
    }
    // Where this frame starts, in output frames, to drop what lies before a seek target.
    std::int64_t startOut = -1;
    if (dropUntil_ >= 0) {
        startOut = FrameStart(frame);
        if (startOut < 0) dropUntil_ = -1;
        else if (startOut > dropUntil_) late_ = true;
    }
    const int room = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (room <= 0) return true;
    const std::size_t keep = pending_.size() / 2 - pendingAt_;
    if (pendingAt_ > 0) {
        std::memmove(pending_.data(), pending_.data() + 2 * pendingAt_, sizeof(float) * 2 * keep);
        pendingAt_ = 0;
    }
    pending_.resize(2 * (keep + room));
    uint8_t* dst = reinterpret_cast<uint8_t*>(pending_.data() + 2 * keep);
    const int got = swr_convert(swr_.get(), &dst, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    pending_.resize(2 * (keep + std::max(got, 0)));
    if (got > 0 && dropUntil_ >= 0 && startOut >= 0) {
        const std::int64_t drop = std::clamp<std::int64_t>(dropUntil_ - startOut, 0, got);
        if (drop > 0) pendingAt_ = keep + static_cast<std::size_t>(drop);
        if (startOut + got >= dropUntil_) dropUntil_ = -1;
        if (drop == got) pendingAt_ = pending_.size() / 2;
    }
    return true;
}

bool AudioDecoder::DecodeMore() {
    if (!input_ || ended_) return false;
    // Damaged data is skipped, however long the stretch: the demuxer looks for the next frame
    // past it, and each packet read is a step on. Only a run of failures that gets nowhere (no
    // packet, no frame, the reader not moving) ends the stream rather than spinning; an I/O error
    // ends it at once.
    std::int64_t failedAt = -1;
    for (int errors = 0; errors < 64;) {
        const int r = avcodec_receive_frame(codec_.get(), frame_.get());
        if (r == 0) {
            errors = 0;
            const bool ok = Convert(frame_.get());
            av_frame_unref(frame_.get());
            if (!ok) return false;
            if (pending_.size() / 2 > pendingAt_) return true;
            continue;
        }
        if (r == AVERROR_EOF) break;
        if (r != AVERROR(EAGAIN)) {
            if (!Resync(sentAt_)) ++errors;
            continue;
        }
        if (draining_) break;
        const int rr = av_read_frame(Format(), packet_.get());
        if (rr < 0) {
            // FFmpeg's reader stops alike at the end and on a failed read; only the latter leaves an error.
            AVIOContext* pb = Format()->pb;
            if (pb && pb->error < 0) readFailed_ = true;
            const std::int64_t at = pb ? avio_tell(pb) : -1;
            if (at != failedAt) errors = 0;
            failedAt = at;
            if (!readFailed_ && rr != AVERROR_EOF && rr != AVERROR(EAGAIN) && !avio_feof(pb) && ++errors < 64) continue;
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        errors = 0;
        if (packet_->stream_index == stream_) {
            sentAt_ = packet_->pos;
            const int s = avcodec_send_packet(codec_.get(), packet_.get());
            if (s < 0 && s != AVERROR(EAGAIN) && !Resync(sentAt_)) ++errors;
        }
        av_packet_unref(packet_.get());
    }
    // The resampler may still hold a tail.
    DrainResampler();
    if (pending_.size() / 2 > pendingAt_) return true;
    ended_ = true;
    return false;
}

// FFmpeg's MPEG audio parser, lost in a damaged stretch, takes any bytes that look like a header
// for a frame, and then wants three frames alike before it trusts the stream again: it throws
// away good frames well past the damage. The engine's own reader finds the first frame past a
// packet that did not decode, confirmed by those after it, and the demuxer starts again there.
// True when it did.
bool AudioDecoder::Resync(std::int64_t failedAt) {
    if (input_->sniffed.kind != Container::kMp3 || failedAt < 0) return false;
    FileWindow w(*input_->file);
    FrameHeader first, found;
    std::size_t got = 0;
    const unsigned char* p = w.Get(input_->sniffed.audioStart, 4, got);
    if (got < 4 || !ParseFrameHeader(p, first)) return false;
    const std::int64_t end = input_->file->Size();
    std::int64_t at = failedAt;
    for (;;) {
        at = FindFrame(w, at, end, end - at, 3, found);
        if (at < 0) return false;
        if (SameStream(first, found)) break;
        ++at;
    }
    // The packet was a frame of the stream after all, only damaged within: the next one follows it.
    if (at == failedAt) return false;
    if (av_seek_frame(Format(), -1, at, AVSEEK_FLAG_BYTE) < 0) return false;
    avcodec_flush_buffers(codec_.get());
    // Past the damage the timestamps are guesses: what follows is not cut to a seek's target.
    dropUntil_ = -1;
    sentAt_ = -1;
    return true;
}

int AudioDecoder::Read(float* out, int maxFrames) {
    int done = 0;
    while (done < maxFrames) {
        std::size_t have = pending_.size() / 2 - pendingAt_;
        if (have == 0) {
            pending_.clear();
            pendingAt_ = 0;
            if (!DecodeMore()) break;
            continue;
        }
        const std::size_t n = std::min<std::size_t>(have, static_cast<std::size_t>(maxFrames - done));
        std::memcpy(out + 2 * done, pending_.data() + 2 * pendingAt_, sizeof(float) * 2 * n);
        pendingAt_ += n;
        done += static_cast<int>(n);
    }
    return done;
}

}  // namespace quendo::audio
