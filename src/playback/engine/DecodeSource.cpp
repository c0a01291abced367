#include "playback/engine/DecodeSource.h"

#include "playback/engine/Decoder.h"

namespace quendo::audio {

namespace {

class DecodedFile final : public DeckStream {
public:
    explicit DecodedFile(int rate) : decoder_(rate) {}
    bool Open(const std::string& path) { return decoder_.Open(path); }
    double Duration() const override { return decoder_.Duration(); }
    bool Seek(double seconds) override { return decoder_.Seek(seconds); }
    // The decoder reads short only at the end of the stream.
    Chunk Read(float* out, int maxFrames) override {
        const int got = decoder_.Read(out, maxFrames);
        return {got, got < maxFrames};
    }

private:
    AudioDecoder decoder_;
};

class FileDecoder final : public DecodeSource {
public:
    std::unique_ptr<DeckStream> Open(const std::string& path, int rate) override {
        auto file = std::make_unique<DecodedFile>(rate);
        if (!file->Open(path)) return nullptr;
        return file;
    }
};

}  // namespace

DecodeSource& FileDecoding() {
    static FileDecoder source;
    return source;
}

}  // namespace quendo::audio
