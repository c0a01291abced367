#include "playback/engine/Decoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace quendo::audio {

namespace {

// Naming the container up front spares FFmpeg from probing every demuxer.
const AVInputFormat* FormatHint(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return nullptr;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "mp3") return av_find_input_format("mp3");
    if (ext == "wma") return av_find_input_format("asf");
    if (ext == "wav") return av_find_input_format("wav");
    return nullptr;
}

AVFormatContext* OpenInput(const std::string& path) {
    SilenceFfmpegLog();
    AVFormatContext* fmt = nullptr;
    if (const AVInputFormat* hint = FormatHint(path)) {
        if (avformat_open_input(&fmt, path.c_str(), hint, nullptr) == 0) return fmt;
        fmt = nullptr;
    }
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) == 0) return fmt;
    return nullptr;
}

int AudioStream(AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodecParameters* p = fmt->streams[i]->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_AUDIO && p->codec_id != AV_CODEC_ID_NONE &&
            !(fmt->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

void SilenceFfmpegLog() {
    // A bad file is an ordinary event here; FFmpeg's own messages would only flood the terminal.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
}

AudioDecoder::~AudioDecoder() { Close(); }

void AudioDecoder::Close() {
    swr_free(&swr_);
    avcodec_free_context(&codec_);
    if (fmt_) avformat_close_input(&fmt_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    stream_ = -1;
    swrFormat_ = -1;
    pending_.clear();
    pendingAt_ = 0;
    dropUntil_ = -1;
    draining_ = ended_ = false;
}

bool AudioDecoder::Open(const std::string& path) {
    Close();
    fmt_ = OpenInput(path);
    if (!fmt_) return false;
    stream_ = AudioStream(fmt_);
    if (stream_ < 0 || fmt_->streams[stream_]->codecpar->sample_rate <= 0) {
        // Some containers only fill in the stream parameters after reading a few packets.
        if (avformat_find_stream_info(fmt_, nullptr) >= 0) stream_ = AudioStream(fmt_);
    }
    const AVCodec* codec = stream_ >= 0 ? avcodec_find_decoder(fmt_->streams[stream_]->codecpar->codec_id) : nullptr;
    if (!codec) {
        Close();
        return false;
    }
    codec_ = avcodec_alloc_context3(codec);
    if (!codec_ || avcodec_parameters_to_context(codec_, fmt_->streams[stream_]->codecpar) < 0) {
        Close();
        return false;
    }
    codec_->thread_count = 1;
    if (avcodec_open2(codec_, codec, nullptr) < 0) {
        Close();
        return false;
    }
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != stream_) fmt_->streams[i]->discard = AVDISCARD_ALL;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    return packet_ && frame_;
}

bool AudioDecoder::Seek(double seconds) {
    if (!fmt_) return false;
    if (seconds < 0) seconds = 0;
    AVStream* st = fmt_->streams[stream_];
    const std::int64_t ts = av_rescale_q(static_cast<std::int64_t>(seconds * AV_TIME_BASE), AV_TIME_BASE_Q, st->time_base);
    const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    Flush();
    ended_ = false;
    if (av_seek_frame(fmt_, stream_, ts + start, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(fmt_, stream_, ts + start, 0) < 0) {
        ended_ = true;
        return false;
    }
    avcodec_flush_buffers(codec_);
    dropUntil_ = static_cast<std::int64_t>(seconds * outRate_ + 0.5);
    return true;
}

void AudioDecoder::Flush() {
    swr_free(&swr_);
    swrFormat_ = -1;
    pending_.clear();
    pendingAt_ = 0;
    draining_ = false;
    dropUntil_ = -1;
}

bool AudioDecoder::Convert(AVFrame* frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0 || frame->nb_samples <= 0) return true;
    if (!swr_ || frame->format != swrFormat_ || frame->sample_rate != swrRate_ || channels != swrChannels_) {
        swr_free(&swr_);
        AVChannelLayout in{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&in, channels);
        else av_channel_layout_copy(&in, &frame->ch_layout);
        AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
        const int rc = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_FLT, outRate_, &in,
                                           static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (rc < 0) return false;
        if (channels == 1) {
            // A mono file plays at full level on both sides, not 3 dB down.
            const double unity[2] = {1.0, 1.0};
            swr_set_matrix(swr_, unity, 1);
        }
        if (swr_init(swr_) < 0) {
            swr_free(&swr_);
            return false;
        }
        swrFormat_ = frame->format;
        swrRate_ = frame->sample_rate;
        swrChannels_ = channels;
    }
    // Where this frame starts, in output frames, to drop what lies before a seek target.
    std::int64_t startOut = -1;
    if (dropUntil_ >= 0) {
        const std::int64_t pts = frame->best_effort_timestamp;
        if (pts != AV_NOPTS_VALUE) {
            AVStream* st = fmt_->streams[stream_];
            const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
            startOut = av_rescale_q(pts - start, st->time_base, AVRational{1, outRate_});
        } else {
            dropUntil_ = -1;
        }
    }
    const int room = swr_get_out_samples(swr_, frame->nb_samples);
    if (room <= 0) return true;
    const std::size_t keep = pending_.size() / 2 - pendingAt_;
    if (pendingAt_ > 0) {
        std::memmove(pending_.data(), pending_.data() + 2 * pendingAt_, sizeof(float) * 2 * keep);
        pendingAt_ = 0;
    }
    pending_.resize(2 * (keep + room));
    uint8_t* dst = reinterpret_cast<uint8_t*>(pending_.data() + 2 * keep);
    const int got = swr_convert(swr_, &dst, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
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
    if (!fmt_ || ended_) return false;
    // Corrupt packets are skipped; a run of read errors ends the stream rather than spinning.
    for (int errors = 0; errors < 64;) {
        const int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            const bool ok = Convert(frame_);
            av_frame_unref(frame_);
            if (!ok) return false;
            if (pending_.size() / 2 > pendingAt_) return true;
            continue;
        }
        if (r == AVERROR_EOF) break;
        if (r != AVERROR(EAGAIN)) {
            ++errors;
            continue;
        }
        if (draining_) break;
        const int rr = av_read_frame(fmt_, packet_);
        if (rr < 0) {
            if (rr != AVERROR_EOF && rr != AVERROR(EAGAIN) && !avio_feof(fmt_->pb) && ++errors < 64) continue;
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index == stream_) {
            const int s = avcodec_send_packet(codec_, packet_);
            if (s < 0 && s != AVERROR(EAGAIN)) ++errors;
        }
        av_packet_unref(packet_);
    }
    // The resampler may still hold a tail.
    if (swr_) {
        const int room = swr_get_out_samples(swr_, 0);
        if (room > 0) {
            pending_.assign(2 * room, 0.0f);
            pendingAt_ = 0;
            uint8_t* dst = reinterpret_cast<uint8_t*>(pending_.data());
            const int got = swr_convert(swr_, &dst, room, nullptr, 0);
            pending_.resize(2 * std::max(got, 0));
            swr_free(&swr_);
            swrFormat_ = -1;
            if (got > 0) return true;
        }
    }
    ended_ = true;
    return false;
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
