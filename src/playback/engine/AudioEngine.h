#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/MediaPlayer.h"
#include "model/SoundOutputs.h"
#include "playback/engine/EndNotices.h"
#include "playback/engine/Gains.h"

namespace quendo::audio {

class DecodeSource;
struct Deck;
class OutputLimiter;

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
// the interface thread calls DeliverPendingEvents(). The output device may change under the decks
// (the interface thread closes one and opens another): they play on, only the mixing pauses.
class AudioEngine : private EndNotices, public SoundOutputs {
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
    // interleaved stereo, waiting for the decoders as needed (but not for one its file holds
    // stuck: that deck starves, as on the device). `out` may be null. Neither allocates nor
    // locks, but for the EndOfStream handlers it may run.
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
    // Its output never reaches full scale: the decks' sum is held below a ceiling (OutputLimiter).
    void Mix(float* out, int frames);

    // The output's device (interface thread); none of them does anything without a device.
    std::vector<std::string> OutputDevices() override;
    bool UseOutputDevice(const std::string& name) override;
    // A loss is the device's removal reported by SDL, SDL's stopping it, or its callback silent
    // for seconds.
    std::optional<std::string> CheckOutput() override;
    // The device in use: "" the default.
    const std::string& OutputDevice() const { return deviceName_; }

private:
    // Tests only: defined in the tests, it reads where each deck's mixer stands in its ring.
    friend class EngineTestAccess;

    void EventDue() override;  // from the decks' decoder threads or the interface thread
    void OpenDevice();
    void FadeOut();  // before the device closes
    static void DeviceCallback(void* engine, std::uint8_t* stream, int len);
    bool OpenOutput(const std::string& name);  // on the audio subsystem already started
    void CloseOutput();
    void OpenDefaultOutput();  // after a close: the default, or else silence as at start
    // The device in use has gone: the default takes over. What CheckOutput runs on a loss.
    std::string OutputLost();

    EngineOptions options_;
    std::unique_ptr<Deck> deck1_, deck2_;
    std::unique_ptr<MediaPlayer> probe_;
    std::unique_ptr<OutputLimiter> output_;  // the mixer's last stage
    std::uint32_t device_ = 0;
    std::string driver_;
    std::string deviceName_;
    std::atomic<std::uint64_t> callbacks_{0};  // device callbacks so far: the device is alive
    std::uint64_t callbacksSeen_ = 0;
    std::chrono::steady_clock::time_point lastCallbackSeen_{}, lastCheck_{};
    std::mutex postMutex_;
    PostToUi post_;
    std::shared_ptr<std::atomic<bool>> alive_;
    std::atomic<bool> eventPosted_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<bool> hasPost_{false};        // whether post_ is set, for render() to ask without a lock
    std::vector<float> scratch_;              // render()'s output when the caller wants none
};

}  // namespace quendo::audio
