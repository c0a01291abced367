#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "EngineInsides.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/Gains.h"
#include "playback/engine/OutputLimiter.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using quendo::testing::LargestStep;
using quendo::testing::Rms;
using quendo::testing::ToneWav;

namespace {

constexpr int kRate = 44100;

struct Offline {
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    int ends1 = 0, ends2 = 0;
    Offline() {
        engine.Deck1().EndOfStream = [this] { ++ends1; };
        engine.Deck2().EndOfStream = [this] { ++ends2; };
    }
    std::vector<float> Seconds(double s) { return engine.render(static_cast<int>(s * kRate)); }
};

// A damaged or hostile file can decode to samples far above full scale, or to NaN and infinity;
// none of that may reach the sound card, and the music around it plays on.
TEST(Engine, SamplesBeyondFullScaleOrNotFiniteNeverReachTheOutput) {
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const std::uint32_t frames = kRate, data = frames * 8;
    std::string wav = "RIFF" + u32(36 + data) + "WAVEfmt " + u32(16) + u16(3) + u16(2) + u32(kRate) + u32(kRate * 8) +
                      u16(8) + u16(32) + "data" + u32(data);
    const float wild[] = {24.8f, -30.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()};
    for (std::uint32_t i = 0; i < 2 * frames; ++i) {
        const float v = (i / 2000) % 2 ? wild[(i / 2) % 5] : 0.5f * std::sin(0.06f * static_cast<float>(i / 2));
        char b[4];
        std::memcpy(b, &v, 4);
        wav.append(b, 4);
    }
    quendo::testing::TempDir d;
    d.WriteFile("wild.wav", wav);
    Offline o;
    o.engine.Deck1().SetFileName(d / "wild.wav");
    o.engine.Deck2().SetFileName(d / "wild.wav");
    o.engine.Deck1().Play();
    o.engine.Deck2().Play();
    const auto out = o.Seconds(0.9);
    std::size_t bad = 0;
    for (float v : out) bad += !(std::fabs(v) <= 1.0f);
    EXPECT_EQ(bad, 0u) << "of " << out.size() << " samples";
    EXPECT_GT(Rms(out, 0), 0.1) << "the sound goes on around the wild samples";
}

TEST(Engine, PositionFollowsRenderedFramesSeekAndPause) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(3.0, 440, 0.5));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    EXPECT_NEAR(deck.Duration(), 3.0, 0.001);
    EXPECT_EQ(deck.PlayState(), psStopped);
    o.Seconds(0.5);
    EXPECT_EQ(deck.CurrentPosition(), 0) << "a loaded deck does not play by itself";

    deck.Play();
    EXPECT_EQ(deck.PlayState(), psPlaying);
    o.engine.render(kRate);
    EXPECT_NEAR(deck.CurrentPosition(), 1.0, 0.01);

    deck.SetCurrentPosition(2.0);
    EXPECT_NEAR(deck.CurrentPosition(), 2.0, 0.001) << "a seek reads back at once";
    o.engine.render(kRate / 2);
    EXPECT_NEAR(deck.CurrentPosition(), 2.5, 0.02);

    deck.Pause();
    EXPECT_EQ(deck.PlayState(), psPaused);
    o.engine.render(2048);  // the pause fades out
    const double held = deck.CurrentPosition();
    const auto silent = o.Seconds(0.2);
    EXPECT_EQ(deck.CurrentPosition(), held);
    EXPECT_EQ(Rms(silent, 0), 0);

    deck.Play();
    o.Seconds(1.0);
    EXPECT_EQ(o.ends1, 1);
    EXPECT_NE(deck.PlayState(), psPlaying);
    EXPECT_NE(deck.PlayState(), psPaused);
    o.Seconds(1.0);
    EXPECT_EQ(o.ends1, 1) << "the end is raised once per file";
    EXPECT_EQ(o.ends2, 0);
    EXPECT_NEAR(deck.CurrentPosition(), 3.0, 0.01);
}

TEST(Engine, SeekLandsOnTheRightSample) {
    quendo::testing::TempDir d;
    // A ramp of sample values identifies each frame.
    std::string wav = ToneWav(2.0, 0, 0);
    const std::size_t header = 44;
    for (std::size_t i = 0; header + 4 * i + 3 < wav.size(); ++i) {
        const auto v = static_cast<std::int16_t>(i % 30000);
        wav[header + 4 * i] = char(v);
        wav[header + 4 * i + 1] = char(v >> 8);
    }
    d.WriteFile("ramp.wav", wav);
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "ramp.wav");
    deck.SetCurrentPosition(1.0);
    deck.Play();
    const auto out = o.engine.render(2048);
    // After the fade-in the ramp continues from frame 44100.
    const double at = out[2 * 1000] * 32768.0;
    EXPECT_NEAR(at, (44100 + 1000) % 30000, 2);
}

TEST(Engine, VolumeAndBalanceGainsMeasuredOnRenderedSound) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(4.0, 1000, 0.5));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();
    const double full = Rms(o.Seconds(0.5), 0, 2048);
    ASSERT_GT(full, 0.3);

    deck.SetVolume(-600);
    o.Seconds(0.05);
    auto half = o.Seconds(0.3);
    EXPECT_NEAR(Rms(half, 0) / full, 0.501, 0.01);
    EXPECT_NEAR(Rms(half, 1) / full, 0.501, 0.01);

    deck.SetVolume(0);
    deck.SetBalance(4000);
    o.Seconds(0.05);
    auto right = o.Seconds(0.3);
    EXPECT_NEAR(20 * std::log10(Rms(right, 0) / full), -40, 0.2);
    EXPECT_NEAR(Rms(right, 1) / full, 1.0, 0.01);

    deck.SetBalance(-10000);
    o.Seconds(0.05);
    auto left = o.Seconds(0.3);
    EXPECT_EQ(Rms(left, 1), 0);
    EXPECT_NEAR(Rms(left, 0) / full, 1.0, 0.01);

    deck.SetBalance(0);
    deck.SetVolume(-10000);
    o.Seconds(0.05);
    EXPECT_EQ(Rms(o.Seconds(0.3), 0), 0);
}

TEST(Engine, GainStepsStartPauseAndSeekDoNotClick) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(4.0, 200, 0.9));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();
    std::vector<float> all;
    auto take = [&](int frames) {
        auto v = o.engine.render(frames);
        all.insert(all.end(), v.begin(), v.end());
    };
    // A cycle of the tone is 220.5 frames: every change below comes a quarter cycle past a zero
    // crossing, on a crest, where a gain that jumped would step by most (at a crossing it would
    // not show).
    constexpr int kCycles20 = 4410;
    take(3 * kCycles20 + 55);
    const float own = LargestStep(all, 0);
    ASSERT_GT(std::fabs(all[all.size() - 2]), 0.85f) << "on a crest";
    deck.SetVolume(-10000);
    take(kCycles20);
    deck.SetVolume(-600);
    take(kCycles20);
    deck.SetBalance(10000);
    take(kCycles20);
    deck.SetBalance(-3000);
    take(kCycles20);
    deck.SetBalance(0);
    deck.SetVolume(0);
    take(kCycles20);
    deck.Pause();
    take(kCycles20);
    deck.Play();
    take(kCycles20);
    deck.SetCurrentPosition(0.0123);
    take(2 * kCycles20);
    EXPECT_LE(LargestStep(all, 0), own * 1.05);
    EXPECT_LE(LargestStep(all, 1), own * 1.05);
}

// A deck told to stop, whether paused, closed or given another file, is heard going: a full-scale
// tone falls to silence over at least 20 ms, never by more than the tone's own step.
TEST(Engine, StoppingFadesOutOverTwentyMilliseconds) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(4.0, 100, 1.0));
    d.WriteFile("b.wav", ToneWav(4.0, 100, 1.0));
    const std::function<void(MediaPlayer&)> stops[] = {
        [](MediaPlayer& deck) { deck.Pause(); },
        [](MediaPlayer& deck) { deck.SetFileName(""); },
        [&](MediaPlayer& deck) { deck.SetFileName(d / "b.wav"); },
    };
    for (std::size_t i = 0; i < std::size(stops); ++i) {
        SCOPED_TRACE(i);
        Offline o;
        MediaPlayer& deck = o.engine.Deck1();
        deck.SetFileName(d / "a.wav");
        deck.Play();
        const std::vector<float> before = o.Seconds(0.5);
        const float own = LargestStep(std::vector<float>(before.end() - 2 * kRate / 10, before.end()), 0);
        stops[i](deck);
        std::vector<float> after = o.Seconds(0.2);
        after.insert(after.begin(), before.end() - 2, before.end());
        long last = static_cast<long>(after.size() / 2) - 1;
        while (last > 0 && after[2 * static_cast<std::size_t>(last)] == 0) --last;
        EXPECT_GE(last, kRate / 50) << "frames to silence";
        EXPECT_LE(last, kRate / 20);
        EXPECT_LE(LargestStep(after, 0), own * 1.05);
    }
}

// The track's gain is heard on top of the volume, in dB, and moves in a ramp as the volume does.
TEST(Engine, TrackGainAddsToTheVolumeWithoutClicks) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(6.0, 200, 0.25));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();
    // As above, each change comes on a crest of the tone.
    constexpr int kCycles20 = 4410;
    std::vector<float> all = o.engine.render(3 * kCycles20 + 55);
    const float own = LargestStep(all, 0);
    const double full = Rms(all, 0, kCycles20);
    ASSERT_GT(full, 0.15);
    struct Step {
        int volume;
        double gainDb;
    };
    for (const Step s : {Step{-600, -4.5}, Step{-600, 5.0}, Step{0, 6.0}, Step{-1500, 0.0}, Step{-250, -12.5}}) {
        deck.SetVolume(s.volume);
        deck.SetTrackGain(s.gainDb);
        const auto v = o.engine.render(3 * kCycles20);
        all.insert(all.end(), v.begin(), v.end());
        for (int ch : {0, 1})
            EXPECT_NEAR(20 * std::log10(Rms(v, ch, kCycles20) / full), s.volume / 100.0 + s.gainDb, 0.1)
                << s.volume << " " << s.gainDb;
    }
    // Raised by 6 dB the tone's own steps are twice as large; no step is larger than that.
    EXPECT_LE(LargestStep(all, 0), 2 * own * 1.05);
    EXPECT_LE(LargestStep(all, 1), 2 * own * 1.05);
}

// A track raised past its ceiling is limited: its peaks never pass the ceiling, the music between
// them plays at the gain asked for, and the gain moves without a click. A track whose peaks stay
// below its ceiling plays exactly as it would without one.
TEST(Engine, TrackGainPastTheCeilingIsLimitedWithoutClicks) {
    // A quiet tone broken by loud 1 kHz hits for 3 s, then the tone alone; each part starts and
    // ends at a zero crossing, so the file has no step of its own.
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const std::uint32_t frames = 6 * kRate, data = frames * 4;
    std::string wav = "RIFF" + u32(36 + data) + "WAVEfmt " + u32(16) + u16(1) + u16(2) + u32(kRate) + u32(kRate * 4) +
                      u16(4) + u16(16) + "data" + u32(data);
    constexpr double kTone = 0.1, kPi = 3.14159265358979323846;
    double peak = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const bool hit = i < 3 * kRate && i % (kRate / 4) < kRate / 50;
        const double v = hit ? 0.8 * std::sin(2 * kPi * 1000 * i / kRate) : kTone * std::sin(2 * kPi * 200 * i / kRate);
        const auto q = static_cast<std::int16_t>(std::lround(32767 * v));
        peak = std::max(peak, std::fabs(q / 32768.0));
        wav += u16(static_cast<std::uint16_t>(q)) + u16(static_cast<std::uint16_t>(q));
    }
    quendo::testing::TempDir d;
    d.WriteFile("hits.wav", wav);
    const double ceilingDbfs = -1, ceiling = std::pow(10, ceilingDbfs / 20);
    const double free = 20 * std::log10(ceiling / peak);  // the most gain the peaks take
    auto play = [&](double gainDb, bool limited) {
        Offline o;
        MediaPlayer& deck = o.engine.Deck1();
        if (limited) deck.SetLimitedTrackGain(gainDb, ceilingDbfs);
        else deck.SetTrackGain(gainDb);
        deck.SetFileName(d / "hits.wav");
        deck.Play();
        return o.Seconds(5.8);
    };
    auto largest = [](const std::vector<float>& v) {
        float m = 0;
        for (float x : v) m = std::max(m, std::fabs(x));
        return m;
    };

    const std::vector<float> limited = play(free + 5, true);
    EXPECT_LE(largest(limited), static_cast<float>(ceiling));
    EXPECT_GT(largest(limited), ceiling - 0.01) << "the hits reach the ceiling";
    for (int ch : {0, 1}) {
        const double steady = Rms(limited, ch, static_cast<std::size_t>(4.0 * kRate));
        EXPECT_NEAR(20 * std::log10(steady / (kTone / std::sqrt(2.0))), free + 5, 0.1) << ch;
        // The hits' own steps, played with their peaks at the ceiling: the limiter adds none larger.
        EXPECT_LE(LargestStep(limited, ch), LargestStep(play(free, false), ch) * 1.05) << ch;
    }

    EXPECT_EQ(play(free - 0.5, true), play(free - 0.5, false)) << "below the ceiling: the plain path";
}

TEST(Engine, TwoDecksSumOnOneOutput) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(2.0, 300, 0.25));
    d.WriteFile("b.wav", ToneWav(2.0, 300, 0.25));
    Offline o;
    o.engine.Deck1().SetFileName(d / "a.wav");
    o.engine.Deck2().SetFileName(d / "b.wav");
    o.engine.Deck1().Play();
    const double one = Rms(o.Seconds(0.5), 0, 2048);
    o.engine.Deck2().SetCurrentPosition(o.engine.Deck1().CurrentPosition());
    o.engine.Deck2().Play();
    o.Seconds(0.05);
    // Same tone in phase: the sum is twice as loud.
    EXPECT_NEAR(Rms(o.Seconds(0.3), 0) / one, 2.0, 0.05);
    EXPECT_NEAR(o.engine.Deck2().CurrentPosition() - o.engine.Deck1().CurrentPosition(), 0.0, 0.01);
}

// The decks' sum never reaches full scale: past the output's ceiling it is limited, without a
// click even where a hit begins right at the start of a block (the limiter sees it coming in the
// decks' rings); a sum that stays below the ceiling is the plain sum, bit for bit.
TEST(Engine, TheSumOfTheDecksStaysBelowTheCeilingWithoutClicks) {
    // 20 ms bursts of 1 kHz, each beginning on a block boundary, in silence.
    const auto hits = [](double amplitude) {
        std::string wav = ToneWav(3.0, 1000, amplitude);
        for (std::size_t i = 0; 44 + 4 * i < wav.size(); ++i)
            if (i % (40 * 512) >= kRate / 50) wav.replace(44 + 4 * i, 4, 4, '\0');
        return wav;
    };
    quendo::testing::TempDir d;
    d.WriteFile("tone.wav", ToneWav(3.0, 200, 0.3));
    d.WriteFile("soft hits.wav", hits(0.6));
    d.WriteFile("loud hits.wav", hits(0.9));
    const auto play = [&](const char* one, const char* two) {
        Offline o;
        for (auto [deck, file] : {std::pair{&o.engine.Deck1(), one}, std::pair{&o.engine.Deck2(), two}}) {
            if (!*file) continue;
            deck->SetFileName(d / file);
            deck->Play();
        }
        return o.Seconds(2.5);
    };
    const float ceiling = quendo::audio::CeilingFactor(quendo::audio::OutputLimiter::kCeilingDbfs);
    const std::vector<float> tone = play("tone.wav", "");
    for (const char* h : {"soft hits.wav", "loud hits.wav"}) {
        std::vector<float> sum = play("", h);
        for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += tone[i];
        const std::vector<float> both = play("tone.wav", h);
        float loudest = 0, peak = 0;
        for (float v : sum) loudest = std::max(loudest, std::fabs(v));
        for (float v : both) peak = std::max(peak, std::fabs(v));
        if (loudest < ceiling) {
            EXPECT_EQ(both, sum) << h;
            continue;
        }
        ASSERT_GT(loudest, 1.0f) << h;
        EXPECT_LE(peak, ceiling) << h;
        EXPECT_GT(peak, ceiling - 0.01f) << h;
        // The gain the limiter gave, where there is signal to read it from: it moves in ramps of
        // a few milliseconds, never in a step (a click) at a block's start.
        float largestMove = 0;
        for (std::size_t i = 2; i < sum.size(); i += 2)
            if (std::fabs(sum[i]) > 0.05f && std::fabs(sum[i - 2]) > 0.05f)
                largestMove = std::max(largestMove, std::fabs(both[i] / sum[i] - both[i - 2] / sum[i - 2]));
        EXPECT_LT(largestMove, 0.02f) << h;
    }
}

TEST(Engine, BadFilesDoNotPlayAndMoveOn) {
    quendo::testing::TempDir d;
    d.WriteFile("empty.mp3", "");
    d.WriteFile("text.wma", std::string(20000, 'q'));
    std::string wav = ToneWav(2.0, 440, 0.5);
    d.WriteFile("truncated.wav", wav.substr(0, wav.size() / 4));  // the header still says 2 s
    d.WriteFile("silence.wav", ToneWav(0.0, 440, 0.5));

    for (const char* bad : {"empty.mp3", "text.wma", "missing.wav"}) {
        Offline o;
        MediaPlayer& deck = o.engine.Deck1();
        deck.SetFileName(d / bad);
        EXPECT_EQ(deck.Duration(), 0) << bad;
        deck.Play();
        EXPECT_NE(deck.PlayState(), psPlaying) << bad;
        EXPECT_NE(deck.PlayState(), psPaused) << bad;
        EXPECT_EQ(o.ends1, 0) << "raised later, not from inside Play";
        o.Seconds(0.1);
        EXPECT_EQ(o.ends1, 1) << bad;
        o.Seconds(0.1);
        EXPECT_EQ(o.ends1, 1) << bad;
    }
    for (const char* early : {"truncated.wav", "silence.wav"}) {
        Offline o;
        MediaPlayer& deck = o.engine.Deck1();
        deck.SetFileName(d / early);
        deck.Play();
        o.Seconds(1.0);
        EXPECT_EQ(o.ends1, 1) << early;
        EXPECT_NE(deck.PlayState(), psPlaying) << early;
    }
}

TEST(Engine, ReloadingAndClosingADeck) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(1.0, 440, 0.5));
    d.WriteFile("b.wav", ToneWav(5.0, 440, 0.5));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();
    o.Seconds(1.2);
    ASSERT_EQ(o.ends1, 1);
    deck.SetFileName(d / "b.wav");
    EXPECT_NEAR(deck.Duration(), 5.0, 0.001);
    EXPECT_EQ(deck.CurrentPosition(), 0);
    deck.Play();
    o.Seconds(0.5);
    EXPECT_NEAR(deck.CurrentPosition(), 0.5, 0.02);
    deck.SetFileName("");
    EXPECT_NE(deck.PlayState(), psPlaying);
    EXPECT_EQ(Rms(o.Seconds(0.2), 0, 2048), 0) << "past the close's fade";
    EXPECT_EQ(o.ends1, 1);
}

// The output moves between devices under the decks. A chosen device that is missing leaves the
// default playing; a device lost while playing is replaced by the default, and the deck plays on
// from where it was.
TEST(Engine, OutputDeviceFallsBackToTheDefaultWithTheDecksPlayingOn) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(5.0, 440, 0.5));
    AudioEngine engine{EngineOptions{true, kRate, 512}};  // SDL's dummy driver in tests
    ASSERT_TRUE(engine.HasDevice());
    EXPECT_FALSE(engine.UseOutputDevice("USB Interface (unplugged)"));
    EXPECT_TRUE(engine.HasDevice());
    EXPECT_EQ(engine.OutputDevice(), "");

    MediaPlayer& deck = engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();
    const auto playedTo = [&](double seconds) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (deck.CurrentPosition() < seconds && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return deck.CurrentPosition() >= seconds;
    };
    ASSERT_TRUE(playedTo(0.3));

    // A device the system names is opened by its name, the deck playing on.
    const std::vector<std::string> devices = engine.OutputDevices();
    ASSERT_FALSE(devices.empty());
    EXPECT_TRUE(engine.UseOutputDevice(devices[0]));
    EXPECT_EQ(engine.OutputDevice(), devices[0]);
    EXPECT_EQ(deck.PlayState(), psPlaying);
    EXPECT_GE(deck.CurrentPosition(), 0.3);
    ASSERT_TRUE(playedTo(0.5));

    EXPECT_EQ(quendo::audio::EngineTestAccess::LoseOutput(engine), devices[0]);
    EXPECT_TRUE(engine.HasDevice());
    EXPECT_EQ(engine.OutputDevice(), "");
    EXPECT_EQ(deck.PlayState(), psPlaying);
    const double at = deck.CurrentPosition();
    EXPECT_GE(at, 0.5);
    EXPECT_TRUE(playedTo(at + 0.3));  // heard on the default, on from where it was
    EXPECT_FALSE(engine.CheckOutput());  // which is alive
}

TEST(Engine, PostsTheEndToTheInterfaceThread) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(0.2, 440, 0.5));
    AudioEngine engine{EngineOptions{true, kRate, 512}};  // SDL's dummy driver in tests
    ASSERT_TRUE(engine.HasDevice());
    std::vector<std::function<void()>> queue;
    std::mutex m;
    engine.SetPostToUiThread([&](std::function<void()> f) {
        std::lock_guard lock(m);
        queue.push_back(std::move(f));
    });
    int ends = 0;
    const auto ui = std::this_thread::get_id();
    engine.Deck1().EndOfStream = [&] {
        EXPECT_EQ(std::this_thread::get_id(), ui);
        ++ends;
    };
    engine.Deck1().SetFileName(d / "a.wav");
    engine.Deck1().Play();
    const auto start = std::chrono::steady_clock::now();
    while (ends == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        std::vector<std::function<void()>> run;
        {
            std::lock_guard lock(m);
            run.swap(queue);
        }
        for (auto& f : run) f();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(ends, 1);
    // The dummy driver consumes in real time: the 0.2 s file takes about that long.
    EXPECT_GT(took, 0.15);
    EXPECT_NEAR(engine.Deck1().CurrentPosition(), 0.2, 0.01);
}

}  // namespace

namespace {

// Real encoded files: a corrupt stretch in the middle is skipped and a cut-off file ends early,
// each with one end raised and nothing hanging.
TEST(Engine, DamagedMp3sPlayOnAndEnd) {
    quendo::testing::TempDir d;
    const std::string good = d / "good.mp3";
    ASSERT_GT(quendo::testing::MakeFixture("mp3-cbr", 4.0, good).frames, 0) << "the demo library tool";
    const std::string bytes = d.ReadFile("good.mp3");
    std::string corrupt = bytes;
    for (std::size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 3000; ++i) corrupt[i] = static_cast<char>(i * 7919);
    d.WriteFile("corrupt.mp3", corrupt);
    d.WriteFile("cut.mp3", bytes.substr(0, bytes.size() / 2));

    struct Case {
        const char* file;
        double heardAtLeast, heardAtMost;
    } cases[] = {{"good.mp3", 3.9, 4.1}, {"corrupt.mp3", 3.5, 4.1}, {"cut.mp3", 1.8, 2.2}};
    for (const Case& c : cases) {
        Offline o;
        MediaPlayer& deck = o.engine.Deck2();
        deck.SetFileName(d / c.file);
        const double length = deck.Duration();
        deck.Play();
        const auto out = o.Seconds(5.0);
        EXPECT_EQ(o.ends2, 1) << c.file;
        EXPECT_NEAR(length, deck.CurrentPosition(), 0.05) << c.file << ": the length is what is heard";
        EXPECT_GE(deck.CurrentPosition(), c.heardAtLeast) << c.file;
        EXPECT_LE(deck.CurrentPosition(), c.heardAtMost) << c.file;
        for (float v : out) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f) << c.file;
    }
}

}  // namespace

namespace {

// A WAV whose left channel counts frames modulo 30000, so that a rendered frame names its source.
std::string RampWav(double seconds) {
    std::string wav = ToneWav(seconds, 0, 0);
    const std::size_t header = 44;
    for (std::size_t i = 0; header + 4 * i + 3 < wav.size(); ++i) {
        const auto v = static_cast<std::int16_t>(i % 30000);
        wav[header + 4 * i] = char(v);
        wav[header + 4 * i + 1] = char(v >> 8);
    }
    return wav;
}

TEST(Engine, PlayAfterTheTrackEndedByItselfStartsAtTheBeginning) {
    quendo::testing::TempDir d;
    d.WriteFile("ramp.wav", RampWav(1.0));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "ramp.wav");
    deck.Play();
    o.Seconds(1.3);
    ASSERT_EQ(o.ends1, 1);
    EXPECT_NE(deck.PlayState(), psPlaying);
    EXPECT_NEAR(deck.CurrentPosition(), 1.0, 0.001);

    deck.Play();
    EXPECT_EQ(deck.PlayState(), psPlaying);
    EXPECT_EQ(deck.CurrentPosition(), 0) << "at once";
    const auto out = o.engine.render(2048);
    // Past the fade-in the ramp runs from the file's first frame.
    for (int i : {300, 1000, 2047}) EXPECT_NEAR(out[2 * i] * 32768.0, i, 0.5) << i;
    EXPECT_NEAR(deck.CurrentPosition(), 2048.0 / kRate, 1e-9);
    o.Seconds(1.2);
    EXPECT_EQ(o.ends1, 2) << "and it ends again";
    EXPECT_NEAR(deck.CurrentPosition(), 1.0, 0.001);
}

TEST(Engine, SeekPastTheEndEndsOnceAndReadsTheDuration) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(3.0, 440, 0.5));
    Offline o;
    MediaPlayer& deck = o.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    deck.Play();
    o.Seconds(0.5);
    deck.SetCurrentPosition(13.0);
    EXPECT_EQ(deck.CurrentPosition(), deck.Duration()) << "a seek reads back at once, at most the length";
    o.Seconds(0.3);
    EXPECT_EQ(o.ends1, 1);
    EXPECT_NE(deck.PlayState(), psPlaying);
    EXPECT_EQ(deck.CurrentPosition(), deck.Duration());
    EXPECT_EQ(o.engine.Underruns(), 0u) << "nothing left to play is no shortage of data";
    o.Seconds(0.3);
    EXPECT_EQ(o.ends1, 1) << "once";
    EXPECT_EQ(deck.CurrentPosition(), deck.Duration());

    // The same when the deck is not playing.
    deck.SetFileName(d / "a.wav");
    deck.SetCurrentPosition(20.0);
    o.Seconds(0.1);
    EXPECT_EQ(deck.CurrentPosition(), deck.Duration());
}

// Destroying the engine while the interface thread still holds posted EndOfStream deliveries:
// running them afterwards does nothing (no handler is called, nothing of the engine is touched).
TEST(Engine, TeardownWithEndOfStreamStillQueued) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", ToneWav(0.1, 440, 0.5));
    for (const bool device : {false, true}) {
        // Declared before the engine: the queue outlives it, as the interface thread's does.
        std::mutex m;
        std::vector<std::function<void()>> queue;
        int ends = 0;
        auto engine = std::make_unique<AudioEngine>(EngineOptions{device, kRate, 512});
        engine->SetPostToUiThread([&](std::function<void()> f) {
            std::lock_guard lock(m);
            queue.push_back(std::move(f));
        });
        for (MediaPlayer* deck : {&engine->Deck1(), &engine->Deck2()}) {
            deck->EndOfStream = [&ends] { ++ends; };
            deck->SetFileName(d / "a.wav");
            deck->Play();
        }
        if (!device) engine->render(kRate / 5);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            {
                std::lock_guard lock(m);
                if (!queue.empty()) break;
            }
            ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "an end was posted";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        engine.reset();
        std::vector<std::function<void()>> run;
        {
            std::lock_guard lock(m);
            run.swap(queue);
        }
        for (auto& f : run) f();
        EXPECT_EQ(ends, 0) << (device ? "device" : "offline");
    }
}

}  // namespace
