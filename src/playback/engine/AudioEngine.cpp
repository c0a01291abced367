#include "playback/engine/AudioEngine.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "playback/engine/DecodeSource.h"
#include "playback/engine/Deck.h"
#include "playback/engine/ProbePlayer.h"

namespace quendo::audio {

namespace {
void SdlCallback(void* engine, Uint8* stream, int len) {
    static_cast<AudioEngine*>(engine)->Mix(reinterpret_cast<float*>(stream), len / static_cast<int>(2 * sizeof(float)));
}
}  // namespace

AudioEngine::AudioEngine(EngineOptions options)
    : options_(options), alive_(std::make_shared<std::atomic<bool>>(true)) {
    DecodeSource& source = options_.decodeSource ? *options_.decodeSource : FileDecoding();
    deck1_ = std::make_unique<Deck>(static_cast<EndNotices&>(*this), source, options_.sampleRate);
    deck2_ = std::make_unique<Deck>(static_cast<EndNotices&>(*this), source, options_.sampleRate);
    probe_ = std::make_unique<ProbePlayer>();
    if (options_.openDevice) OpenDevice();
    if (!device_) scratch_.resize(2 * static_cast<std::size_t>(std::max(options_.blockFrames, 1)));
}

AudioEngine::~AudioEngine() {
    if (device_) {
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

void AudioEngine::OpenDevice() {
    SDL_AudioSpec want{};
    want.freq = options_.sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.callback = SdlCallback;
    want.userdata = this;
    // The program handles its own termination signals (and saves its files); SDL would swallow them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    auto open = [&]() -> bool {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        // The dummy driver sleeps whole milliseconds per buffer, so its clock, and the decks'
        // positions with it, drift by several percent on small buffers; 2048 frames keep it
        // within a fraction of a percent of real time.
        const char* driver = SDL_GetCurrentAudioDriver();
        const bool dummy = driver && std::string(driver) == "dummy";
        want.samples = static_cast<Uint16>(dummy ? 2048 : options_.blockFrames);
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        const char* name = SDL_GetCurrentAudioDriver();
        driver_ = name ? name : "";
        return true;
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
    SDL_PauseAudioDevice(device_, 0);
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
    const bool short1 = deck1_->mixer.MixInto(out, frames);
    const bool short2 = deck2_->mixer.MixInto(out, frames);
    if (short1 || short2) underruns_.fetch_add(1, std::memory_order_relaxed);
    // Damaged frames can decode far above full scale, or to NaN; what a device does with those
    // is its own (wrapped, or a burst of noise), so they end here, clipped or silenced.
    for (float* p = out; p != out + 2 * frames; ++p) {
        const float v = *p;
        *p = v > 1.0f ? 1.0f : v < -1.0f ? -1.0f : v == v ? v : 0.0f;
    }
}

void AudioEngine::render(float* out, int frames) {
    if (device_) return;  // the device's callback owns the mixer
    const bool deliver = !hasPost_.load(std::memory_order_acquire);
    for (int done = 0; done < frames;) {
        const int n = std::min(options_.blockFrames, frames - done);
        // Offline, the mixer waits for the decoders rather than reporting an underrun.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(deck1_->mixer.ReadyFor(n) && deck2_->mixer.ReadyFor(n)) && std::chrono::steady_clock::now() < give_up) {
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
