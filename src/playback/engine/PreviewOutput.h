#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/ChangePreview.h"

namespace quendo::audio {

// A second sound output, beside the show's engine, on a device of its own (headphones): it plays
// a planned change rendered ahead on a thread of its own, never on the show's mixing thread. The
// device's callback only copies what the thread has rendered, and plays silence where it has not
// (yet). Interface thread, but for the callback and the rendering thread.
class PreviewOutput final : public ChangePreview {
public:
    explicit PreviewOutput(int rate = 44100);
    ~PreviewOutput() override;
    PreviewOutput(const PreviewOutput&) = delete;
    PreviewOutput& operator=(const PreviewOutput&) = delete;

    std::vector<std::string> Devices() override;
    std::string Listen(const PlannedChange& change, const std::string& device) override;
    void Stop() override;
    bool Listening() override;
    std::optional<std::string> CheckDevice() override;

    // When the device was first given a frame of the change (since the clock's epoch); 0 not yet.
    std::int64_t FirstSoundNs() const { return firstSound_.load(std::memory_order_acquire); }
    // Callbacks that found the rendering behind, after the change's first frame.
    std::uint64_t Starved() const { return starved_.load(std::memory_order_relaxed); }

private:
    static void Callback(void* self, std::uint8_t* stream, int len);
    void Feed(float* out, int frames);
    bool StartAudio();

    const int rate_;
    bool audio_ = false;  // the audio subsystem started by this output
    std::uint32_t device_ = 0;
    std::string deviceName_;
    std::thread worker_;
    std::atomic<bool> quit_{false};
    std::vector<float> buffer_;  // the whole change, filled by the worker
    std::atomic<std::int64_t> rendered_{0};
    std::int64_t total_ = 0;
    std::atomic<std::int64_t> played_{0};  // by the callback
    std::atomic<bool> done_{false};
    std::atomic<std::int64_t> firstSound_{0};
    std::atomic<std::uint64_t> starved_{0};
};

}  // namespace quendo::audio
