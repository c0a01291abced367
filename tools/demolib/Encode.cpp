#include "Encode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "Synth.h"

namespace demolib {

namespace {

std::string AvError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// Owns everything one encoding allocates, so every exit frees it.
struct Job {
    AVFormatContext* out = nullptr;
    AVCodecContext* audio = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVDictionary* muxOptions = nullptr;
    ~Job() {
        av_dict_free(&muxOptions);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&audio);
        if (out) {
            if (out->pb) avio_closep(&out->pb);
            avformat_free_context(out);
        }
    }
};

AVSampleFormat PickFormat(const AVCodec* codec) {
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_FLT;
    // Float first: no rounding before the encoder's own.
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT) return *f;
    return codec->sample_fmts[0];
}

// Copies `count` frames from interleaved float into the frame's own layout.
void Fill(AVFrame* frame, const float* in, int count, int channels) {
    const auto fmt = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    auto clampd = [](double v) { return std::clamp(v, -1.0, 1.0); };
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = clampd(in[i * channels + c]);
            const int plane = planar ? c : 0;
            const int index = planar ? i : i * channels + c;
            std::uint8_t* base = frame->data[plane];
            switch (av_get_packed_sample_fmt(fmt)) {
                case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(base)[index] = static_cast<float>(v); break;
                case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(base)[index] = v; break;
                case AV_SAMPLE_FMT_S16:
                    reinterpret_cast<std::int16_t*>(base)[index] = static_cast<std::int16_t>(std::lrint(std::min(v * 32768, 32767.0)));
                    break;
                case AV_SAMPLE_FMT_S32:
                    reinterpret_cast<std::int32_t*>(base)[index] =
                        static_cast<std::int32_t>(std::llrint(std::min(v * 2147483648.0, 2147483647.0)));
                    break;
                case AV_SAMPLE_FMT_U8:
                    base[index] = static_cast<std::uint8_t>(std::clamp(std::lrint(v * 128 + 128), 0L, 255L));
                    break;
                default: break;
            }
        }
    }
}

// Encoder output to the muxer; `frame` null drains the encoder.
bool Drain(Job& job, AVFrame* frame, AVStream* st, std::string& error) {
    int r = avcodec_send_frame(job.audio, frame);
    if (r < 0) {
        error = "encoding: " + AvError(r);
        return false;
    }
    while ((r = avcodec_receive_packet(job.audio, job.packet)) == 0) {
        av_packet_rescale_ts(job.packet, job.audio->time_base, st->time_base);
        job.packet->stream_index = st->index;
        if ((r = av_interleaved_write_frame(job.out, job.packet)) < 0) {
            error = "writing: " + AvError(r);
            return false;
        }
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
        error = "encoding: " + AvError(r);
        return false;
    }
    return true;
}

// A PNG of the cover, for the ID3v2 picture frame.
bool CoverPng(std::vector<std::uint8_t>& png, std::string& error) {
    const int w = 300, h = 300;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        error = "no PNG encoder";
        return false;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    bool ok = false;
    ctx->width = w;
    ctx->height = h;
    ctx->pix_fmt = AV_PIX_FMT_RGB24;
    ctx->time_base = AVRational{1, 25};
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = w;
    frame->height = h;
    if (avcodec_open2(ctx, codec, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0) {
        const std::vector<std::uint8_t> rgb = RenderCover(w, h, 7);
        for (int y = 0; y < h; ++y) std::memcpy(frame->data[0] + y * frame->linesize[0], &rgb[y * w * 3], w * 3);
        if (avcodec_send_frame(ctx, frame) >= 0 && avcodec_send_frame(ctx, nullptr) >= 0 &&
            avcodec_receive_packet(ctx, pkt) >= 0) {
            png.assign(pkt->data, pkt->data + pkt->size);
            ok = true;
        }
    }
    if (!ok) error = "PNG encoding failed";
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return ok;
}

}  // namespace

bool Encode(const std::string& path, const EncodeOptions& opts, const std::vector<float>& samples, std::string& error) {
    Job job;
    const char* muxer = "wav";
    const AVCodec* codec = nullptr;
    switch (opts.codec) {
        case Codec::Mp3Cbr:
        case Codec::Mp3Vbr:
            muxer = "mp3";
            codec = avcodec_find_encoder_by_name("libmp3lame");
            break;
        case Codec::Wma:
        case Codec::Wma1:
            muxer = "asf";
            codec = avcodec_find_encoder(opts.codec == Codec::Wma ? AV_CODEC_ID_WMAV2 : AV_CODEC_ID_WMAV1);
            break;
        case Codec::Vorbis:
            muxer = "ogg";
            codec = avcodec_find_encoder_by_name("libvorbis");
            if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_VORBIS);
            break;
        case Codec::Flac:
            muxer = "flac";
            codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
            break;
        case Codec::PcmU8: codec = avcodec_find_encoder(AV_CODEC_ID_PCM_U8); break;
        case Codec::PcmS16: codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE); break;
        case Codec::PcmS24: codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S24LE); break;
        case Codec::PcmF32: codec = avcodec_find_encoder(AV_CODEC_ID_PCM_F32LE); break;
    }
    if (!codec) {
        error = "encoder not available";
        return false;
    }
    int r = avformat_alloc_output_context2(&job.out, nullptr, muxer, path.c_str());
    if (r < 0 || !job.out) {
        error = "muxer: " + AvError(r);
        return false;
    }

    job.audio = avcodec_alloc_context3(codec);
    AVCodecContext* a = job.audio;
    a->sample_rate = opts.rate;
    av_channel_layout_default(&a->ch_layout, opts.channels);
    a->sample_fmt = PickFormat(codec);
    a->time_base = AVRational{1, opts.rate};
    if (opts.codec == Codec::Mp3Vbr) {
        a->flags |= AV_CODEC_FLAG_QSCALE;
        a->global_quality = FF_QP2LAMBDA * opts.vbrQuality;
    } else if (opts.codec == Codec::Mp3Cbr || opts.codec == Codec::Wma || opts.codec == Codec::Wma1) {
        a->bit_rate = static_cast<std::int64_t>(opts.kbps) * 1000;
    }
    if (opts.codec == Codec::PcmS24) a->bits_per_raw_sample = 24;
    // LAME quality 7 encodes about three times as fast as its default; plenty for synthesized demos.
    if (opts.codec == Codec::Mp3Cbr || opts.codec == Codec::Mp3Vbr) a->compression_level = 7;
    if (job.out->oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((r = avcodec_open2(a, codec, nullptr)) < 0) {
        error = "opening the encoder: " + AvError(r);
        return false;
    }

    AVStream* st = avformat_new_stream(job.out, nullptr);
    avcodec_parameters_from_context(st->codecpar, a);
    st->time_base = a->time_base;

    std::vector<std::uint8_t> png;
    AVStream* pic = nullptr;
    if (opts.coverPicture && muxer == std::string("mp3")) {
        if (!CoverPng(png, error)) return false;
        pic = avformat_new_stream(job.out, nullptr);
        pic->disposition = AV_DISPOSITION_ATTACHED_PIC;
        pic->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        pic->codecpar->codec_id = AV_CODEC_ID_PNG;
        pic->codecpar->width = 300;
        pic->codecpar->height = 300;
        pic->time_base = AVRational{1, 90000};
        av_dict_set(&pic->metadata, "title", "Cover", 0);
        av_dict_set(&pic->metadata, "comment", "Cover (front)", 0);
    }

    auto tag = [&](const char* key, const std::string& value) {
        if (!value.empty()) av_dict_set(&job.out->metadata, key, value.c_str(), 0);
    };
    tag("title", opts.title);
    tag("artist", opts.artist);
    tag("album", opts.album);
    tag("genre", opts.genre);
    if (muxer == std::string("mp3")) av_dict_set(&job.muxOptions, "write_xing", opts.xingHeader ? "1" : "0", 0);
    // Encoder and library version strings would make the files differ from one machine to another.
    job.out->flags |= AVFMT_FLAG_BITEXACT;

    if ((r = avio_open(&job.out->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
        error = "cannot create the file: " + AvError(r);
        return false;
    }
    // As a pipe: the header keeps what the muxer knew before the first sample (no length).
    if (opts.streamed) job.out->pb->seekable = 0;
    if ((r = avformat_write_header(job.out, &job.muxOptions)) < 0) {
        error = "writing the header: " + AvError(r);
        return false;
    }
    job.packet = av_packet_alloc();
    if (pic) {
        // The MP3 muxer holds the audio back until the pictures have arrived.
        job.packet->data = png.data();
        job.packet->size = static_cast<int>(png.size());
        job.packet->stream_index = pic->index;
        job.packet->flags |= AV_PKT_FLAG_KEY;
        job.packet->pts = job.packet->dts = 0;
        if ((r = av_write_frame(job.out, job.packet)) < 0) {
            error = "writing the picture: " + AvError(r);
            return false;
        }
        job.packet->data = nullptr;
        job.packet->size = 0;
        av_packet_unref(job.packet);
    }

    const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    const bool smallLast = anySize || (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
    const int chunk = (anySize || a->frame_size <= 0) ? 4096 : a->frame_size;
    const std::int64_t total = static_cast<std::int64_t>(samples.size() / opts.channels);
    job.frame = av_frame_alloc();
    for (std::int64_t at = 0; at < total; at += chunk) {
        const int count = static_cast<int>(std::min<std::int64_t>(chunk, total - at));
        av_frame_unref(job.frame);
        job.frame->format = a->sample_fmt;
        job.frame->sample_rate = a->sample_rate;
        av_channel_layout_copy(&job.frame->ch_layout, &a->ch_layout);
        job.frame->nb_samples = smallLast ? count : chunk;
        if ((r = av_frame_get_buffer(job.frame, 0)) < 0) {
            error = "frame: " + AvError(r);
            return false;
        }
        if (count < job.frame->nb_samples)
            av_samples_set_silence(job.frame->data, 0, job.frame->nb_samples, opts.channels, a->sample_fmt);
        Fill(job.frame, samples.data() + at * opts.channels, count, opts.channels);
        job.frame->pts = at;
        if (!Drain(job, job.frame, st, error)) return false;
    }
    if (!Drain(job, nullptr, st, error)) return false;
    if ((r = av_write_trailer(job.out)) < 0) {
        error = "writing the trailer: " + AvError(r);
        return false;
    }
    return true;
}

}  // namespace demolib
