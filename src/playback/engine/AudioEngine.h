#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/MediaPlayer.h"

namespace quendo::audio {

class DeckPlayer;

struct EngineOptions {
    // false: no output stream at all; the caller drives the mixer with render().
    bool openDevice = true;
    int sampleRate = 44100;
    int blockFrames = 512;  // frames per device callback (SDL's dummy driver uses 2048)
};

// One output stream mixing two decks, plus a probe that only measures files.
//
// Threads: the interface thread calls the players; each deck has a decoder thread; the device
// callback (or render()) mixes. EndOfStream is raised on the interface thread only: through the
// hook given to SetPostToUiThread, or, without one, when the interface thread calls
// DeliverPendingEvents().
class AudioEngine {
public:
    explicit AudioEngine(EngineOptions options = {});
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    MediaPlayer& Deck1();
    MediaPlayer& Deck2();
    MediaPlayer& Probe();

    // `post` runs its argument later on the interface thread; it may be called from any thread.
    void SetPostToUiThread(std::function<void(std::function<void()>)> post);
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

    // Tests only, on the thread that mixes (offline): where a deck (1 or 2) stands in its ring,
    // in frames since the engine was made. The mixer reads at `mixerAt`, in the generation (file
    // or seek) whose frames begin at `start`; it never falls below `released` (the slots the
    // decoder may fill again) nor passes `written`.
    struct DeckRing {
        std::uint64_t written, released, start, mixerAt;
    };
    DeckRing DeckRingForTest(int deck) const;
    // Tests only, before either deck is given a file: the decoder threads call `gate` before each
    // read, with the deck (1 or 2) and the frames they mean to read, and then read at most the
    // frames it returns (0: none this time; the call comes again at once, so a gate with nothing
    // to give should wait a little first). It may block, but not for ever: the engine's
    // destructor waits for the decoder threads.
    void SetDecodeGateForTest(std::function<int(int deck, int frames)> gate);
    // Tests only: `hook` runs on the mixing thread on entry to Mix (true) and on leaving (false),
    // so that a test can tell the mixer's thread and moment from any other, the device's too.
    void SetMixHookForTest(void (*hook)(bool entering));

private:
    friend class DeckPlayer;
    void EventDue();  // from decoder threads or the mixer's side
    void OpenDevice();

    EngineOptions options_;
    std::unique_ptr<DeckPlayer> deck1_, deck2_;
    std::unique_ptr<MediaPlayer> probe_;
    std::uint32_t device_ = 0;
    std::string driver_;
    std::mutex postMutex_;
    std::function<void(std::function<void()>)> post_;
    std::shared_ptr<std::atomic<bool>> alive_;
    std::atomic<bool> eventPosted_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<bool> hasPost_{false};        // whether post_ is set, for render() to ask without a lock
    std::vector<float> scratch_;              // render()'s output when the caller wants none
    std::atomic<void (*)(bool)> mixHook_{nullptr};
};

// Gains as the player's units define them.
float VolumeGain(int volume);
void BalanceGains(int balance, float& left, float& right);

}  // namespace quendo::audio
