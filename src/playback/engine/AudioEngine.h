#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/MediaPlayer.h"
#include "playback/engine/EndNotices.h"
#include "playback/engine/Gains.h"

namespace quendo::audio {

class DecodeSource;
struct Deck;

struct EngineOptions {
    // false: no output stream at all; the caller drives the mixer with render().
    bool openDevice = true;
    int sampleRate = 44100;
    int blockFrames = 512;  // frames per device callback (SDL's dummy driver uses 2048)
    // What the decks open their files with; null: FFmpeg (FileDecoding()). Must outlive the engine.
    DecodeSource* decodeSource = nullptr;
};

// One output stream mixing two decks, plus a probe that only measures files.
//
// Threads: the interface thread calls the players (DeckControl); each deck has a decoder thread
// (DeckDecoder); the device callback (or render()) mixes (DeckMixer). EndOfStream is raised on
// the interface thread only: through the hook given to SetPostToUiThread, or, without one, when
// the interface thread calls DeliverPendingEvents().
class AudioEngine : private EndNotices {
public:
    // Runs its argument later on the interface thread; may be called from any thread.
    using PostToUi = std::function<void(std::function<void()>)>;

    explicit AudioEngine(EngineOptions options = {});
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    MediaPlayer& Deck1();
    MediaPlayer& Deck2();
    MediaPlayer& Probe();

    void SetPostToUiThread(PostToUi post);
    // Raises any EndOfStream that is due. Interface thread only.
    void DeliverPendingEvents();

    // Offline mixing (only when the engine was made without a device): the next `frames` frames of
    // interleaved stereo, waiting for the decoders as needed. `out` may be null. Neither allocates
    // nor locks, but for the EndOfStream handlers it may run.
    void render(float* out, int frames);
    std::vector<float> render(int frames);

    int SampleRate() const { return options_.sampleRate; }
    bool HasDevice() const { return device_ != 0; }
    // The driver in use ("dummy" after the fallback), "" without a device.
    const std::string& DriverName() const { return driver_; }
    // Mixer callbacks that found a playing deck's ring short of data (down to the last few
    // milliseconds, which it keeps to fade out over).
    std::uint64_t Underruns() const { return underruns_.load(std::memory_order_relaxed); }

    // The mixer itself: what the device callback runs. Never locks, allocates, waits or decodes.
    void Mix(float* out, int frames);

private:
    // Tests only: defined in the tests, it reads where each deck's mixer stands in its ring.
    friend class EngineTestAccess;

    void EventDue() override;  // from the decks' decoder threads or the interface thread
    void OpenDevice();

    EngineOptions options_;
    std::unique_ptr<Deck> deck1_, deck2_;
    std::unique_ptr<MediaPlayer> probe_;
    std::uint32_t device_ = 0;
    std::string driver_;
    std::mutex postMutex_;
    PostToUi post_;
    std::shared_ptr<std::atomic<bool>> alive_;
    std::atomic<bool> eventPosted_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<bool> hasPost_{false};        // whether post_ is set, for render() to ask without a lock
    std::vector<float> scratch_;              // render()'s output when the caller wants none
};

}  // namespace quendo::audio
