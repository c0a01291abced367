#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "playback/engine/MediaFile.h"

namespace quendo::audio {

// Length in seconds of a music file, from its headers where the file agrees with them, else from
// its frames; 0 when the file cannot be opened, is empty or holds no audio that FFmpeg decodes.
double MeasureDuration(const std::string& path);

// Decodes one file to interleaved stereo float at a fixed rate. Not thread-safe; one owner.
class AudioDecoder {
public:
    explicit AudioDecoder(int outRate) : outRate_(outRate) {}
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Opens the file (once) and its decoder; false, with nothing left open, when it holds no
    // audio that can be decoded.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return input_ != nullptr; }
    // The probe's length of the open file, measured through the same open file; call it before
    // the first Read. 0 when nothing is open.
    double Duration() const;
    // Positions the stream so that the next Read starts at `seconds`, on the very frame that reading
    // from the start reaches there; false past the end. Decodes a little before the target.
    bool Seek(double seconds);
    int Rate() const { return outRate_; }
    // Up to maxFrames frames; 0 only at the end of the stream, or where reading the file failed.
    int Read(float* out, int maxFrames);
    // The stream stopped early because the file could not be read (an I/O error, or the file cut
    // short while open): what Read gave is not the whole file.
    bool ReadFailed() const { return readFailed_; }
    // The largest sample magnitude decoded so far (1 = full scale, the most that is heard),
    // taken before the conversion to the output's rate, which would drop or invent peaks; over two
    // channels, on the stereo downmix the decks play. Measured only once asked for.
    void MeasureSourcePeak() { measurePeak_ = true; }
    // Makes the decoded samples what the output plays of them, before the conversion spreads them:
    // NaN and infinities silent, nothing past full scale. (The decks leave that to the output, after
    // their gain.) Call it before the first Read.
    void ClipSource() { clipSource_ = true; }
    float SourcePeak() const { return sourcePeak_; }

private:
    bool DecodeMore();  // fills pending_; false at the end
    bool Resync(std::int64_t failedAt);
    bool Convert(AVFrame* frame);
    float DownmixPeak(const AVFrame* frame);
    void Flush();
    bool SeekDemuxer(double seconds);
    void FindOrigin();
    std::int64_t FrameStart(const AVFrame* frame) const;  // output frames; -1 unknown
    void DrainResampler();  // appends what the resampler still holds to pending_, then drops it
    AVFormatContext* Format() const { return input_->fmt.get(); }

    const int outRate_;
    std::unique_ptr<Demuxer> input_;
    CodecPtr codec_;
    SwrPtr swr_;
    PacketPtr packet_;
    FramePtr frame_;
    int stream_ = -1;
    int swrFormat_ = -1, swrRate_ = 0, swrChannels_ = 0;
    std::vector<float> pending_;
    std::size_t pendingAt_ = 0;  // frames of pending_ already handed out
    std::int64_t dropUntil_ = -1;  // output frame before which decoded audio is discarded (after a seek)
    // The timestamp and length of the first frame decoded from the start: the file's time counts
    // from there, whatever delay or padding the codec and container keep before it.
    std::int64_t origin_ = 0;
    int originSamples_ = 0;
    bool originKnown_ = false;
    bool late_ = false;  // the first frame after a seek began past its target
    std::int64_t sentAt_ = -1;  // where in the file the packet last sent to the decoder lies
    bool draining_ = false, ended_ = false, readFailed_ = false;
    bool measurePeak_ = false, clipSource_ = false;
    float sourcePeak_ = 0;
    SwrPtr downmix_;  // to stereo at the file's own rate, for the peak of a file of more channels
    int downmixFormat_ = -1, downmixRate_ = 0, downmixChannels_ = 0;
    std::vector<float> downmixed_;
};

}  // namespace quendo::audio
