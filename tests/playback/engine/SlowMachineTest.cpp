// The engine on a busy or slow machine: a decoder that falls behind is heard as a short fade out
// and back in, never as a cut; an interface thread that stalls costs the device nothing; a file
// that stops answering, in a read, an open or a seek, starves its deck and holds nothing else up.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EngineInsides.h"
#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/StallingDecoding.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using quendo::audio::EngineTestAccess;
using quendo::testing::LargestStep;
using quendo::testing::Rms;
using quendo::testing::ToneWav;

namespace {

constexpr int kRate = 44100;

// Frames the decoder may read, handed out by the test.
class Budget {
public:
    void Set(long frames) {
        std::lock_guard lock(m_);
        left_ = frames;
    }
    void Add(long frames) {
        std::lock_guard lock(m_);
        left_ += frames;
    }
    int Take(int frames) {
        {
            std::lock_guard lock(m_);
            const int n = static_cast<int>(std::min<long>(frames, left_));
            left_ -= n;
            if (n > 0) return n;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    }

private:
    std::mutex m_;
    long left_ = 1L << 40;
};

// The test thread is the device: it calls the mixer, which never waits for the decoder.
TEST(SlowMachine, ADecoderBelowRealTimeFadesOutAndBackInWithoutAClick) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(30.0, 440, 0.5));
    Budget budget;  // these two outlive the engine, whose decoder thread calls them
    quendo::testing::GatedDecoding decoding([&budget](int frames) { return budget.Take(frames); });
    AudioEngine engine{EngineOptions{false, kRate, 512, &decoding}};
    MediaPlayer& deck = engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();

    const auto ahead = [&] {
        const auto r = EngineTestAccess::Ring(engine, 1);
        return r.written - r.mixerAt;
    };
    const auto waitAhead = [&](std::uint64_t frames) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ahead() < frames && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ahead() >= frames;
    };
    std::vector<float> all, block(2 * 512);
    const auto mix = [&](int blocks) {
        for (; blocks > 0; --blocks) {
            engine.Mix(block.data(), 512);
            all.insert(all.end(), block.begin(), block.end());
        }
    };

    ASSERT_TRUE(waitAhead(32768));
    mix(40);
    const float own = LargestStep(all, 0);
    const double full = Rms(all, 0, 2048);
    ASSERT_GT(own, 0.02f);
    ASSERT_EQ(engine.Underruns(), 0u);

    // A quarter of real time: the ring drains, then the deck lives from hand to mouth.
    budget.Set(0);
    for (int b = 0; b < 400; ++b) {
        budget.Add(128);
        mix(1);
    }
    EXPECT_GT(engine.Underruns(), 0u) << "a starved deck is counted";

    // The decoder catches up: the deck fades back in, and stays (the ring holds more than the
    // test then mixes, however fast it goes).
    budget.Set(1L << 40);
    ASSERT_TRUE(waitAhead(40000));
    const std::uint64_t starved = engine.Underruns();
    const std::size_t recovered = all.size() / 2;
    mix(60);
    EXPECT_EQ(engine.Underruns(), starved);
    EXPECT_NEAR(Rms(all, 0, recovered + 2048) / full, 1.0, 0.01);

    EXPECT_LE(LargestStep(all, 0), own * 1.05) << "no click where the data ran out or came back";
    EXPECT_LE(LargestStep(all, 1), own * 1.05);
}

// The main window's timers call the engine; when the interface thread stalls (a slow dialog, a
// busy disk), the device goes on mixing a crossfade from what the decoders have buffered.
TEST(SlowMachine, AStalledInterfaceThreadCostsTheDeviceNothing) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(30.0, 440, 0.5));
    const std::string b = d / "b.mp3";
    ASSERT_GT(quendo::testing::MakeFixture("mp3-cbr", 20.0, b).frames, 0) << "the demo library tool";
    AudioEngine engine{EngineOptions{true, kRate, 512}};  // SDL's dummy driver in tests
    ASSERT_TRUE(engine.HasDevice());
    MediaPlayer& out = engine.Deck1();
    MediaPlayer& in = engine.Deck2();
    out.SetFileName(d / "a.wav");
    out.Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Six seconds of crossfade in 50 ms steps, the interface thread stalling for half a second
    // every two seconds; the new deck is loaded and started from inside the fade.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextStall = start + std::chrono::seconds(1);
    int stalls = 0;
    for (;;) {
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (t >= 6.0) break;
        if (t >= 0.3 && in.Duration() == 0) {
            in.SetFileName(b);
            in.SetVolume(-10000);
            in.Play();
        }
        const double p = t / 6.0;
        out.SetVolume(static_cast<int>(-4000 * p));
        in.SetVolume(static_cast<int>(-4000 * (1 - p)));
        out.SetBalance(static_cast<int>(2000 * std::sin(t)));
        engine.DeliverPendingEvents();
        if (Clock::now() >= nextStall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            nextStall += std::chrono::seconds(2);
            ++stalls;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(stalls, 3);
    EXPECT_EQ(engine.Underruns(), 0u);
    // The device really mixed all along: the dummy driver consumes in real time.
    EXPECT_GT(in.CurrentPosition(), 3.0);
    EXPECT_EQ(in.PlayState(), psPlaying);
}

// Offline here: render() waits for a decoder at work, but not for one its file holds, so what is
// heard is what the device would play. The held deck takes another file, the other deck plays,
// and the engine closes, though the read never returns.
TEST(SlowMachine, AFileThatStopsAnsweringStarvesItsDeckAndHoldsNothingElseUp) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(10.0, 440, 0.5));
    d.WriteFile("b.wav", ToneWav(10.0, 440, 0.5));
    quendo::testing::StallingDecoding decoding;  // outlives the engine
    decoding.StallAfter(d / "a.wav", kRate);
    auto engine = std::make_unique<AudioEngine>(EngineOptions{false, kRate, 512, &decoding});
    MediaPlayer& held = engine->Deck1();
    MediaPlayer& other = engine->Deck2();
    held.SetFileName(d / "a.wav");
    held.Play();
    const auto out = engine->render(3 * kRate);  // returns: a second's wait at most, once
    EXPECT_NEAR(held.CurrentPosition(), 1.0, 0.01);
    EXPECT_EQ(held.PlayState(), psPlaying);
    EXPECT_TRUE(held.Starved());
    EXPECT_GT(Rms(out, 0), 0.1);
    EXPECT_EQ(Rms(out, 0, static_cast<std::size_t>(1.1 * kRate)), 0) << "silent from where the file stopped";

    for (MediaPlayer* deck : {&other, &held}) {
        deck->SetFileName(d / "b.wav");
        deck->Play();
        EXPECT_GT(Rms(engine->render(kRate / 2), 0, 2048), 0.3);
        EXPECT_NEAR(deck->CurrentPosition(), 0.5, 0.01);
        EXPECT_FALSE(deck->Starved());
    }

    // Held again at the end: closing does not wait on the file for long.
    decoding.StallAfter(d / "a.wav", 0);
    other.SetFileName(d / "a.wav");
    other.Play();
    engine->render(kRate / 10);
    EXPECT_TRUE(other.Starved());
    engine.reset();
    decoding.Release();  // lets the readers given up on leave
}

// A file on a share that went away may hold its open or a seek for seconds, or for good. The
// interface thread waits a moment at most; the deck is starved meanwhile, which is what the
// show's watchdog sees; another file plays at once; and a file that answers late plays as asked.
TEST(SlowMachine, AFileSlowToOpenOrSeekHoldsNeitherTheInterfaceThreadNorItsDeck) {
    using Clock = std::chrono::steady_clock;
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(10.0, 440, 0.5));
    d.WriteFile("b.wav", ToneWav(10.0, 440, 0.5));
    constexpr double kForever = quendo::testing::StallingDecoding::kForever;
    struct Case {
        const char* what;
        bool open;  // else a seek
        double seconds;
    } cases[] = {{"an open that never answers", true, kForever}, {"an open of 2.5 s", true, 2.5}, {"a seek of 2.5 s", false, 2.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        quendo::testing::StallingDecoding decoding;  // outlives the engine
        if (c.open) decoding.StallOpen(d / "a.wav", c.seconds);
        else decoding.StallSeek(d / "a.wav", c.seconds);
        auto engine = std::make_unique<AudioEngine>(EngineOptions{false, kRate, 512, &decoding});
        MediaPlayer& deck = engine->Deck1();
        const auto start = Clock::now();
        deck.SetFileName(d / "a.wav");
        if (c.open) {
            EXPECT_EQ(deck.Duration(), 0) << "not known yet";
        } else {
            deck.Play();
            engine->render(kRate / 2);
            deck.SetCurrentPosition(5.0);
        }
        deck.Play();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900)) << "the interface thread is not held";
        engine->render(kRate / 2);  // offline, waits for the held file until the deck gives up on it
        EXPECT_EQ(deck.PlayState(), psPlaying);
        EXPECT_TRUE(deck.Starved());
        if (c.seconds == kForever) {
            deck.SetFileName(d / "b.wav");  // another file plays at once
            deck.Play();
        } else {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(2600));
            while (EngineTestAccess::DecoderHeld(*engine, 1)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_NEAR(deck.Duration(), 10.0, 1e-3);
        EXPECT_GT(Rms(engine->render(kRate / 2), 0, 2048), 0.3) << "a file plays";
        EXPECT_FALSE(deck.Starved());
        EXPECT_NEAR(deck.CurrentPosition(), c.open ? 0.5 : 5.5, 0.01);
        engine.reset();  // not held by a file either
        decoding.Release();
    }
}

}  // namespace
