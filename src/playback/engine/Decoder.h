#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace quendo::audio {

// Length in seconds of a music file, from its headers where they suffice; 0 when the file
// cannot be opened, is empty or holds no audio.
double MeasureDuration(const std::string& path);

// Keeps FFmpeg from logging on stderr; called before any file is opened.
void SilenceFfmpegLog();

// Decodes one file to interleaved stereo float at a fixed rate. Not thread-safe; one owner.
class AudioDecoder {
public:
    explicit AudioDecoder(int outRate) : outRate_(outRate) {}
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fmt_ != nullptr; }
    // Positions the stream so that the next Read starts at `seconds`; false past the end.
    bool Seek(double seconds);
    // Up to maxFrames frames; 0 only at the end of the stream.
    int Read(float* out, int maxFrames);

private:
    bool DecodeMore();  // fills pending_; false at the end
    bool Convert(AVFrame* frame);
    void Flush();

    const int outRate_;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    int swrFormat_ = -1, swrRate_ = 0, swrChannels_ = 0;
    std::vector<float> pending_;
    std::size_t pendingAt_ = 0;  // frames of pending_ already handed out
    std::int64_t dropUntil_ = -1;  // output frame before which decoded audio is discarded (after a seek)
    bool draining_ = false, ended_ = false;
};

}  // namespace quendo::audio
