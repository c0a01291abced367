#include "playback/engine/AudioEngine.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "playback/engine/DecodeSource.h"
#include "playback/engine/Deck.h"
#include "playback/engine/OutputLimiter.h"
#include "playback/engine/ProbePlayer.h"

namespace quendo::audio {

namespace {
// Polled now and then, a callback that has not come for this long means the device is dead.
constexpr std::chrono::seconds kSilentDevice{3};
// Polls further apart than this were not watching: silence across them proves nothing (the
// machine may have slept).
constexpr std::chrono::seconds kWatching{1};
}  // namespace

AudioEngine::AudioEngine(EngineOptions options)
    : options_(options), alive_(std::make_shared<std::atomic<bool>>(true)) {
    DecodeSource& source = options_.decodeSource ? *options_.decodeSource : FileDecoding();
    deck1_ = std::make_unique<Deck>(static_cast<EndNotices&>(*this), source, options_.sampleRate);
    deck2_ = std::make_unique<Deck>(static_cast<EndNotices&>(*this), source, options_.sampleRate);
    probe_ = std::make_unique<ProbePlayer>();
    output_ = std::make_unique<OutputLimiter>(options_.sampleRate);
    if (options_.openDevice) OpenDevice();
    if (!device_) scratch_.resize(2 * static_cast<std::size_t>(std::max(options_.blockFrames, 1)));
}

AudioEngine::~AudioEngine() {
    if (device_) {
        FadeOut();
        SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    alive_->store(false);
    {
        std::lock_guard lock(postMutex_);
        post_ = nullptr;
    }
    deck1_.reset();
    deck2_.reset();
}

// The decks stop and the device plays their fade-outs before it closes, so that the sound goes
// rather than being cut short; a device that has stopped calling is not waited for long.
void AudioEngine::FadeOut() {
    for (Deck* deck : {deck1_.get(), deck2_.get()}) deck->shared.playing.store(false, std::memory_order_release);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    while ((deck1_->shared.sounding.load(std::memory_order_acquire) ||
            deck2_->shared.sounding.load(std::memory_order_acquire)) &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void AudioEngine::DeviceCallback(void* engine, std::uint8_t* stream, int len) {
    auto* self = static_cast<AudioEngine*>(engine);
    self->callbacks_.fetch_add(1, std::memory_order_relaxed);
    self->Mix(reinterpret_cast<float*>(stream), len / static_cast<int>(2 * sizeof(float)));
}

void AudioEngine::OpenDevice() {
    // The program handles its own termination signals (and saves its files); SDL would swallow them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    auto open = [&]() -> bool {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        if (OpenOutput("")) return true;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    };
    if (!open()) {
        const std::string why = SDL_GetError();
        SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
        if (!open()) {
            std::fprintf(stderr, "Quendo: no sound output could be opened (%s)\n", SDL_GetError());
            return;
        }
        std::fprintf(stderr, "Quendo: no sound device could be opened (%s); playing silently in real time\n",
                     why.c_str());
    }
}

bool AudioEngine::OpenOutput(const std::string& name) {
    SDL_AudioSpec want{};
    want.freq = options_.sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.callback = DeviceCallback;
    want.userdata = this;
    // The dummy driver sleeps whole milliseconds per buffer, so its clock, and the decks'
    // positions with it, drift by several percent on small buffers; 2048 frames keep it
    // within a fraction of a percent of real time.
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool dummy = driver && std::string(driver) == "dummy";
    want.samples = static_cast<Uint16>(dummy ? 2048 : options_.blockFrames);
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &want, &have, 0);
    if (device_ == 0) return false;
    driver_ = driver ? driver : "";
    deviceName_ = name;
    callbacksSeen_ = callbacks_.load(std::memory_order_relaxed);
    lastCallbackSeen_ = lastCheck_ = std::chrono::steady_clock::now();
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void AudioEngine::CloseOutput() {
    if (!device_) return;
    SDL_CloseAudioDevice(device_);  // returns once no callback runs: the mixer is free
    device_ = 0;
}

std::vector<std::string> AudioEngine::OutputDevices() {
    std::vector<std::string> names;
    if (!device_) return names;
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i)
        if (const char* name = SDL_GetAudioDeviceName(i, 0)) names.emplace_back(name);
    return names;
}

bool AudioEngine::UseOutputDevice(const std::string& name) {
    if (!device_) return name.empty();  // no output at all: nothing to move
    CloseOutput();
    if (OpenOutput(name)) return true;
    OpenDefaultOutput();
    return false;
}

void AudioEngine::OpenDefaultOutput() {
    if (OpenOutput("")) return;
    // Not even the default opens again: as at start, silence in real time on the dummy driver.
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    OpenDevice();
}

std::optional<std::string> AudioEngine::CheckOutput() {
    if (!device_) return std::nullopt;
    bool lost = SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
    // Hot-plug notices wait in SDL's queue (when its events run); only our device's removal counts.
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_AUDIODEVICEADDED, SDL_AUDIODEVICEREMOVED) == 1)
        if (e.type == SDL_AUDIODEVICEREMOVED && e.adevice.iscapture == 0 && e.adevice.which == device_) lost = true;
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t calls = callbacks_.load(std::memory_order_relaxed);
    if (calls != callbacksSeen_ || now - lastCheck_ > kWatching) {
        callbacksSeen_ = calls;
        lastCallbackSeen_ = now;
    } else if (now - lastCallbackSeen_ > kSilentDevice) {
        lost = true;
    }
    lastCheck_ = now;
    if (!lost) return std::nullopt;
    return OutputLost();
}

std::string AudioEngine::OutputLost() {
    const std::string lost = deviceName_;
    CloseOutput();
    OpenDefaultOutput();
    return lost;
}

MediaPlayer& AudioEngine::Deck1() { return deck1_->control; }
MediaPlayer& AudioEngine::Deck2() { return deck2_->control; }
MediaPlayer& AudioEngine::Probe() { return *probe_; }

void AudioEngine::SetPostToUiThread(PostToUi post) {
    std::lock_guard lock(postMutex_);
    hasPost_.store(static_cast<bool>(post), std::memory_order_release);
    post_ = std::move(post);
}

void AudioEngine::EventDue() {
    std::lock_guard lock(postMutex_);
    if (!post_ || eventPosted_.exchange(true)) return;
    post_([alive = alive_, this] {
        if (alive->load()) DeliverPendingEvents();
    });
}

void AudioEngine::DeliverPendingEvents() {
    eventPosted_.store(false);
    deck1_->control.DeliverEnd();
    deck2_->control.DeliverEnd();
}

void AudioEngine::Mix(float* out, int frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    // A deck that starts on a frame of the other's mixes after it; the sum is the same either way.
    DeckMixer& first = deck1_->mixer.AwaitsOther() ? deck2_->mixer : deck1_->mixer;
    DeckMixer& second = &first == &deck1_->mixer ? deck2_->mixer : deck1_->mixer;
    const bool short1 = first.MixInto(out, frames, second);
    const bool short2 = second.MixInto(out, frames, first);
    if (short1 || short2) underruns_.fetch_add(1, std::memory_order_relaxed);
    float* ahead = output_->Forecast();
    deck1_->mixer.AddForecast(ahead, output_->AheadFrames());
    deck2_->mixer.AddForecast(ahead, output_->AheadFrames());
    // The sum never reaches full scale. Damaged frames can decode far above it, or to NaN; what
    // a device does with those is its own (wrapped, or a burst of noise), so they end here too.
    output_->Limit(out, frames);
}

void AudioEngine::render(float* out, int frames) {
    if (device_) return;  // the device's callback owns the mixer
    const bool deliver = !hasPost_.load(std::memory_order_acquire);
    // Offline, the mixer waits for a decoder rather than reporting an underrun, but not for one
    // held by a file that stopped answering: that deck starves, as it would on the device.
    const auto ready = [](Deck& deck, int n) { return deck.mixer.ReadyFor(n) || deck.decoder.Stuck(); };
    for (int done = 0; done < frames;) {
        const int n = std::min(options_.blockFrames, frames - done);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(ready(*deck1_, n) && ready(*deck2_, n)) && std::chrono::steady_clock::now() < give_up) {
            deck1_->decoder.Wake();
            deck2_->decoder.Wake();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        Mix(out ? out + 2 * static_cast<std::size_t>(done) : scratch_.data(), n);
        done += n;
        if (deliver) DeliverPendingEvents();
    }
}

std::vector<float> AudioEngine::render(int frames) {
    std::vector<float> out(2 * static_cast<std::size_t>(std::max(frames, 0)));
    render(out.data(), frames);
    return out;
}

}  // namespace quendo::audio
