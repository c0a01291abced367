#pragma once
#include <memory>
#include <string>

namespace quendo::audio {

// A file opened for a deck: interleaved stereo float at the rate it was opened for.
// Opened on the interface thread, then read on the deck's decoder thread only.
class DeckStream {
public:
    virtual ~DeckStream() = default;
    // Seconds; asked before the first read.
    virtual double Duration() const = 0;
    // Positions the stream so that the next read starts at `seconds`; false past the end.
    virtual bool Seek(double seconds) = 0;
    struct Chunk {
        int frames;  // written to `out`
        bool ended;  // nothing follows them
    };
    // Up to maxFrames frames into `out`.
    virtual Chunk Read(float* out, int maxFrames) = 0;
};

// What the engine opens the decks' files with.
class DecodeSource {
public:
    // The file decoded to `rate`, or null when it holds no audio that can be decoded. Interface thread.
    virtual std::unique_ptr<DeckStream> Open(const std::string& path, int rate) = 0;

protected:
    ~DecodeSource() = default;
};

// Files decoded by FFmpeg (AudioDecoder): the decks' source unless the engine is given another.
DecodeSource& FileDecoding();

}  // namespace quendo::audio
