#include "playback/engine/PreviewOutput.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "playback/engine/ChangeRenderer.h"

namespace quendo::audio {

namespace {
// The rendering thread works this far at a time: a tick of the automix.
constexpr int kChunkFrames = 4410;
// But the first is short: the sooner it is there, the sooner the change is heard.
constexpr int kFirstChunkFrames = 1024;
// And keeps this far ahead of the device, no further: its work spread out, not in one burst
// beside the show's decoders.
constexpr double kAheadSeconds = 2.0;
}  // namespace

PreviewOutput::PreviewOutput(int rate) : rate_(rate) {}

PreviewOutput::~PreviewOutput() {
    Stop();
    if (audio_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool PreviewOutput::StartAudio() {
    if (audio_) return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    audio_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return audio_;
}

std::vector<std::string> PreviewOutput::Devices() {
    std::vector<std::string> names;
    if (!StartAudio()) return names;
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i)
        if (const char* name = SDL_GetAudioDeviceName(i, 0)) names.emplace_back(name);
    return names;
}

std::string PreviewOutput::Listen(const PlannedChange& change, const std::string& device) {
    Stop();
    const std::string label = device.empty() ? "the default output" : "the output \"" + device + "\"";
    if (!StartAudio()) return "The change cannot be heard: no sound output can be opened (" + std::string(SDL_GetError()) + ").";
    auto renderer = std::make_unique<ChangeRenderer>(change, rate_);
    total_ = renderer->Frames();
    buffer_.assign(2 * static_cast<std::size_t>(total_), 0.0f);
    rendered_.store(0);
    played_.store(0);
    done_.store(false);
    firstSound_.store(0);
    starved_.store(0);
    quit_.store(false);

    SDL_AudioSpec want{};
    want.freq = rate_;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(device.empty() ? nullptr : device.c_str(), 0, &want, &have, 0);
    if (device_ == 0) return "The change cannot be heard: " + label + " cannot be opened (" + SDL_GetError() + ").";
    deviceName_ = device;
    // The decks open their files on this thread too: nothing of it waits on the interface.
    worker_ = std::thread([this, r = std::move(renderer)] {
        while (!quit_.load(std::memory_order_relaxed)) {
            const std::int64_t at = rendered_.load(std::memory_order_relaxed);
            if (at >= total_) break;
            if (at - played_.load(std::memory_order_relaxed) > static_cast<std::int64_t>(kAheadSeconds * rate_)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            const int chunk = at == 0 ? kFirstChunkFrames : kChunkFrames;
            const int n = r->Render(buffer_.data() + 2 * at, static_cast<int>(std::min<std::int64_t>(chunk, total_ - at)));
            if (n <= 0) break;
            rendered_.store(at + n, std::memory_order_release);
        }
    });
    SDL_PauseAudioDevice(device_, 0);
    return {};
}

void PreviewOutput::Stop() {
    quit_.store(true);
    if (device_) {
        SDL_CloseAudioDevice(device_);  // returns once no callback runs
        device_ = 0;
    }
    if (worker_.joinable()) worker_.join();
}

bool PreviewOutput::Listening() { return device_ != 0 && !done_.load(std::memory_order_acquire); }

std::optional<std::string> PreviewOutput::CheckDevice() {
    if (!device_) return std::nullopt;
    if (done_.load(std::memory_order_acquire)) {
        Stop();  // played to its end: the device goes
        return std::nullopt;
    }
    if (SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED) return std::nullopt;
    const std::string lost = deviceName_;
    Stop();
    return lost;
}

void PreviewOutput::Callback(void* self, std::uint8_t* stream, int len) {
    static_cast<PreviewOutput*>(self)->Feed(reinterpret_cast<float*>(stream), len / static_cast<int>(2 * sizeof(float)));
}

void PreviewOutput::Feed(float* out, int frames) {
    const std::int64_t ready = rendered_.load(std::memory_order_acquire);
    std::int64_t played = played_.load(std::memory_order_relaxed);
    const int n = static_cast<int>(std::clamp<std::int64_t>(ready - played, 0, frames));
    if (n > 0) {
        std::memcpy(out, buffer_.data() + 2 * played, sizeof(float) * 2 * static_cast<std::size_t>(n));
        if (played == 0)
            firstSound_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch()).count(),
                              std::memory_order_release);
        played += n;
        played_.store(played, std::memory_order_relaxed);
    }
    std::memset(out + 2 * n, 0, sizeof(float) * 2 * static_cast<std::size_t>(frames - n));
    if (n < frames && played > 0 && played < total_) starved_.fetch_add(1, std::memory_order_relaxed);
    if (played >= total_) done_.store(true, std::memory_order_release);
}

}  // namespace quendo::audio
