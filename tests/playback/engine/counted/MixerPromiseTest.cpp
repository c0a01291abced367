// The mixer neither allocates nor locks, offline or on the device's thread, while both decks play
// and the interface thread moves gains, seeks and loads files, some of them played at a rate plan
// or started on a frame of the other deck's, and the output's limiter holds the decks' sum at its
// ceiling.
//
// Offline, the test thread marks itself around render(). On the device, the thread and the moment
// of the mixer are SDL's: this program puts its own SDL_OpenAudioDevice before SDL's, and hands
// SDL the engine's callback wrapped in one that marks the device's thread while it runs.
#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Counting.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/Gains.h"
#include "playback/engine/OutputLimiter.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;

namespace {

constexpr int kRate = 44100;

::testing::AssertionResult NoneCounted() {
    const counting::Counts c = counting::Read();
    if (c.allocations == 0 && c.locks == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << c.allocations << " allocation calls and " << c.locks
                                         << " lock calls, the first " << c.first;
}

const float kCeiling = quendo::audio::CeilingFactor(quendo::audio::OutputLimiter::kCeilingDbfs);

float Loudest(const float* samples, std::size_t count) {
    float peak = 0;
    for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

// Two loud tones first, which sum past the output's ceiling.
struct Files {
    quendo::testing::TempDir dir;
    std::vector<std::string> paths;
    Files() {
        dir.WriteFile("a.wav", quendo::testing::ToneWav(8.0, 440, 0.9));
        dir.WriteFile("c.wav", quendo::testing::ToneWav(8.0, 300, 0.9));
        paths.push_back(dir / "a.wav");
        paths.push_back(dir / "c.wav");
        for (const char* kind : {"mp3-cbr", "wma"}) {
            const std::string p = dir / (std::string("b.") + (kind[0] == 'm' ? "mp3" : "wma"));
            if (quendo::testing::MakeFixture(kind, 8.0, p).frames > 0) paths.push_back(p);
        }
        dir.WriteFile("junk.mp3", std::string(5000, 'q'));
        paths.push_back(dir / "junk.mp3");
    }
};

// What the main window does between two of the mixer's blocks: gains every time, now and then a
// seek, a bass plan, a pause and play, a new file (played at another rate, through a glide back to its own, or
// started where the other deck reaches a point or its end).
void Interfere(AudioEngine& engine, const Files& files, int n) {
    MediaPlayer& d1 = engine.Deck1();
    MediaPlayer& d2 = engine.Deck2();
    d1.SetVolume(-(n * 37) % 1200);
    d2.SetVolume(-(n * 53) % 1500);
    d1.SetBalance(static_cast<int>(3000 * std::sin(n * 0.1)));
    d2.SetBalance(-static_cast<int>(3000 * std::sin(n * 0.1)));
    if (n % 19 == 0) d2.SetLimitedTrackGain(n % 2 ? 9 : -3, -1);
    if (n % 23 == 0) d1.SetCurrentPosition((n % 7) * 0.9);
    if (n % 31 == 0) d2.SetCurrentPosition((n % 5) * 1.1);
    // The first deck's bass cut and brought back, planned anew while it plays.
    if (n % 29 == 0) d1.SetBassPlan({{(n % 5) * 0.5, 1}, {(n % 5) * 0.5 + 0.3, 0}, {(n % 5) * 0.5 + 1.5, 1}});
    if (n % 41 == 0) d1.Pause();
    if (n % 41 == 3) d1.Play();
    if (n % 57 == 0) {
        const int k = n / 57;
        MediaPlayer& d = n % 2 ? d1 : d2;
        d.SetFileName(files.paths[static_cast<std::size_t>(k) % files.paths.size()]);
        if (k % 3 != 0) d.SetRatePlan({{0.5, k % 2 ? 0.94 : 1.06}, {1.5, 1.06}, {2.5, 1.0}});
        if (k % 4 == 0) d.Play();
        else d.PlayAfterOther(k % 4 == 1 ? MediaPlayer::kAtOtherEnd : (k % 9) * 0.4, k % 4 == 2);
    }
    engine.DeliverPendingEvents();
}

TEST(MixerPromise, TheCountersSeeAllocationsAndLocksOnMarkedThreadsOnly) {
    counting::Reset();
    std::mutex m;
    std::thread([&] {
        std::vector<int> v(100);
        std::lock_guard lock(m);
    }).join();
    EXPECT_TRUE(NoneCounted()) << "an unmarked thread";
    counting::Mark(true);
    {
        std::vector<int> v(100);
        std::lock_guard lock(m);
    }
    counting::Mark(false);
    const counting::Counts c = counting::Read();
    EXPECT_GE(c.allocations, 2u);
    EXPECT_EQ(c.locks, 1u);
    counting::Reset();
}

TEST(MixerPromise, OfflineRenderNeitherAllocatesNorLocks) {
    Files files;
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    engine.Deck1().SetFileName(files.paths[0]);
    engine.Deck2().SetFileName(files.paths[1 % files.paths.size()]);
    engine.Deck1().Play();
    engine.Deck2().Play();
    std::vector<float> out(2 * 1024);
    float peak = 0;
    counting::Reset();
    for (int n = 0; n < 1500; ++n) {  // about 35 s of sound
        Interfere(engine, files, n);
        counting::Mark(true);
        engine.render(out.data(), 1024);
        engine.render(nullptr, 512);
        counting::Mark(false);
        peak = std::max(peak, Loudest(out.data(), out.size()));
    }
    EXPECT_TRUE(NoneCounted());
    EXPECT_LE(peak, kCeiling);
    EXPECT_GT(peak, kCeiling - 0.01f) << "the limiter worked";
}

// The engine's callback and its argument, as the engine gave them to SDL (one device at a time).
SDL_AudioCallback gEngineCallback = nullptr;
void* gEngineUserdata = nullptr;
std::atomic<bool> gWatchDevice{false};
std::atomic<long> gMixes{0};
std::atomic<float> gPeak{0};  // the loudest sample the watched callbacks gave

void WatchedCallback(void*, Uint8* stream, int len) {
    const bool watch = gWatchDevice.load(std::memory_order_relaxed);
    if (watch) {
        counting::Mark(true);
        gMixes.fetch_add(1, std::memory_order_relaxed);
    }
    gEngineCallback(gEngineUserdata, stream, len);
    if (watch) {
        counting::Mark(false);
        const float peak = Loudest(reinterpret_cast<const float*>(stream), static_cast<std::size_t>(len) / sizeof(float));
        gPeak.store(std::max(gPeak.load(std::memory_order_relaxed), peak), std::memory_order_relaxed);
    }
}

TEST(MixerPromise, TheDeviceCallbackNeitherAllocatesNorLocks) {
    Files files;
    AudioEngine engine{EngineOptions{true, kRate, 512}};  // SDL's dummy driver in tests
    ASSERT_TRUE(engine.HasDevice());
    engine.Deck1().SetFileName(files.paths[0]);
    engine.Deck2().SetFileName(files.paths[1 % files.paths.size()]);
    engine.Deck1().Play();
    engine.Deck2().Play();
    counting::Reset();
    gMixes = 0;
    gPeak = 0;
    gWatchDevice = true;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; std::chrono::steady_clock::now() - start < std::chrono::seconds(3); ++n) {
        Interfere(engine, files, n);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    gWatchDevice = false;
    EXPECT_GT(gMixes.load(), 20) << "the device mixed";
    EXPECT_TRUE(NoneCounted());
    // Whether the limiter had work here depends on how much the decoders kept up on a loaded
    // machine; offline, above, it always has.
    EXPECT_LE(gPeak.load(), kCeiling);
}

}  // namespace

extern "C" SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int capture, const SDL_AudioSpec* desired,
                                                 SDL_AudioSpec* obtained, int allowedChanges) {
    static const auto sdls = reinterpret_cast<SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*,
                                                                     SDL_AudioSpec*, int)>(
        ::dlsym(RTLD_NEXT, "SDL_OpenAudioDevice"));
    SDL_AudioSpec wrapped = *desired;
    gEngineCallback = desired->callback;
    gEngineUserdata = desired->userdata;
    wrapped.callback = WatchedCallback;
    wrapped.userdata = nullptr;
    return sdls(device, capture, &wrapped, obtained, allowedChanges);
}
