#pragma once
// Opening a music file, for the probe and the decoder alike: the file is opened once, its kind is
// told from its content (the name is only a hint), and FFmpeg reads it through the same descriptor
// with bounded stream discovery. Every FFmpeg handle is held by an owner that frees it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "playback/engine/SourceFile.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct AVIOContext;
struct SwrContext;

namespace quendo::audio {

// ---- owners ----
struct FormatCloser { void operator()(AVFormatContext* p) const; };
struct CodecFreer { void operator()(AVCodecContext* p) const; };
struct PacketFreer { void operator()(AVPacket* p) const; };
struct FrameFreer { void operator()(AVFrame* p) const; };
struct IoFreer { void operator()(AVIOContext* p) const; };  // and its buffer
struct SwrFreer { void operator()(SwrContext* p) const; };
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using IoPtr = std::unique_ptr<AVIOContext, IoFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

// Bounds of FFmpeg's discovery: what it may read to recognise a format and to learn a stream's
// parameters, so that a huge file of junk costs no more than a small one.
// (Past 32 KiB, FFmpeg's probing of every format costs tens of milliseconds on junk.)
constexpr int kFormatProbeBytes = 32 * 1024;
constexpr std::int64_t kStreamProbeBytes = 1 << 20;
constexpr std::int64_t kAnalyzeMicroseconds = 2'000'000;

// What the content is, as far as the engine's own readers are concerned.
enum class Container {
    kNone,    // empty or unreadable
    kMp3,     // MPEG audio frames (after any ID3v2 tags)
    kWavPcm,  // RIFF WAVE with PCM or float samples: the header measures it
    kWav,     // RIFF WAVE with another codec: FFmpeg measures it
    kAsf,     // ASF (WMA)
    kOther,   // left to FFmpeg's recognition
};

struct Sniffed {
    Container kind = Container::kNone;
    std::int64_t tagsEnd = 0;     // MP3: where the leading ID3v2 tags end
    std::int64_t audioStart = 0;  // MP3: the first frame
};
Sniffed Sniff(const SourceFile& file);

// An FFmpeg demuxer reading a SourceFile, with its audio stream picked. Stays where it was made.
struct Demuxer {
    Demuxer() = default;
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;
    std::shared_ptr<SourceFile> file;
    Sniffed sniffed;
    std::int64_t base = 0;      // where FFmpeg's view of the file starts
    std::int64_t position = 0;  // the I/O context's read offset in that view (it reads through `this`)
    IoPtr io;                                // declared before fmt: freed after it
    FormatPtr fmt;
    int stream = -1;
    // FFmpeg's probe score when it recognised the format itself; 100 when the content named it.
    int score = 0;
};

// Opens a demuxer for `file`: the container that Sniff names, else whatever FFmpeg recognises
// with confidence (the file's name as a hint). nullptr when no decodable audio stream is found
// within the discovery bounds.
std::unique_ptr<Demuxer> OpenDemuxer(std::shared_ptr<SourceFile> file, const Sniffed& sniffed);

// The decoder of the demuxer's stream, opened as playing opens it; nullptr when it will not open
// (FFmpeg knows the codec but turns down its parameters). Decodes nothing.
CodecPtr OpenDecoder(const Demuxer& demuxer);

// The probe's length of an opened file (Probe.cpp). `opened` may be null; when given, it is a
// demuxer on the same file that has not been read from yet, whose decoder opened.
double MeasureFile(const std::shared_ptr<SourceFile>& file, const Sniffed& sniffed, const Demuxer* opened);

// Keeps FFmpeg from logging on stderr; called before any file is opened.
void SilenceFfmpegLog();

}  // namespace quendo::audio
