#pragma once
// What the engine tests reach inside the engine with: the mixer's place in a deck's ring (through
// the engine's test-only friend), and a decoder the test holds back.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "playback/engine/AudioEngine.h"
#include "playback/engine/DecodeSource.h"
#include "playback/engine/Deck.h"

namespace quendo::audio {

class EngineTestAccess {
public:
    // Where a deck (1 or 2) stands in its ring, in frames since the engine was made. The mixer
    // reads at `mixerAt`, in the generation (file or seek) whose frames begin at `start`; it never
    // falls below `released` (the slots the decoder may fill again) nor passes `written`.
    // On the thread that mixes (offline).
    struct DeckRing {
        std::uint64_t written, released, start, mixerAt;
    };
    static DeckRing Ring(const AudioEngine& engine, int deck) {
        const DeckMixer& m = (deck == 2 ? engine.deck2_ : engine.deck1_)->mixer;
        return {m.Ring().Written(), m.Ring().ReadIndex(), m.GenerationStart(), m.ReadAt()};
    }
    // Whether a deck's decoder thread is held in a call into its file that has stopped answering.
    static bool DecoderHeld(const AudioEngine& engine, int deck) {
        return (deck == 2 ? engine.deck2_ : engine.deck1_)->decoder.Stuck();
    }
    // The device in use goes away, as when SDL reports its removal: the default takes over.
    // Returns the lost device's name.
    static std::string LoseOutput(AudioEngine& engine) { return engine.OutputLost(); }
};

}  // namespace quendo::audio

namespace quendo::testing {

// The real decoder, read only as far as the test lets it: before each read the deck's decoder
// thread calls `gate` with the frames it means to read, and then reads at most the frames it
// returns (0: none this time; the call comes again at once, so a gate with nothing to give should
// wait a little first). It may block, but not for ever: the engine's destructor waits for the
// decoder threads. Give it to the engine in EngineOptions; it must outlive the engine.
class GatedDecoding final : public audio::DecodeSource {
public:
    explicit GatedDecoding(std::function<int(int frames)> gate) : gate_(std::move(gate)) {}
    std::unique_ptr<audio::DeckStream> Open(const std::string& path, int rate) override {
        std::unique_ptr<audio::DeckStream> file = audio::FileDecoding().Open(path, rate);
        if (!file) return nullptr;
        return std::make_unique<Stream>(std::move(file), gate_);
    }

private:
    class Stream final : public audio::DeckStream {
    public:
        Stream(std::unique_ptr<audio::DeckStream> file, const std::function<int(int)>& gate)
            : file_(std::move(file)), gate_(gate) {}
        double Duration() const override { return file_->Duration(); }
        bool Seek(double seconds) override { return file_->Seek(seconds); }
        Chunk Read(float* out, int maxFrames) override {
            const int want = std::clamp(gate_(maxFrames), 0, maxFrames);
            if (want == 0) return {0, false};
            return file_->Read(out, want);
        }

    private:
        std::unique_ptr<audio::DeckStream> file_;
        const std::function<int(int)>& gate_;
    };
    std::function<int(int)> gate_;
};

}  // namespace quendo::testing
