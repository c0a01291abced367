// Decks in step, on the real engine offline: a deck played at another rate keeps its pitch and
// reports where it is in its own file as the plan says, and leaves the stretcher for the file's
// own frames once the plan is back at 1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using quendo::testing::ToneWav;
using Plan = std::vector<MediaPlayer::RatePoint>;

namespace {

constexpr int kRate = 44100;
constexpr int kCount = 30000;

// A WAV whose samples count its frames, from 0 and modulo kCount, so that a frame heard names
// itself: x / 32768 with x the frame's count.
std::string CountingWav(double seconds) {
    std::string wav = ToneWav(seconds, 0, 0);
    for (std::size_t i = 0; 44 + 4 * i + 3 < wav.size(); ++i) {
        const auto v = static_cast<std::int16_t>(i % kCount);
        for (std::size_t c : {0, 2}) {
            wav[44 + 4 * i + c] = char(v);
            wav[44 + 4 * i + c + 1] = char(v >> 8);
        }
    }
    return wav;
}
long CountOf(float sample) { return std::lround(sample * 32768.0); }

// The file second reached after `heard` seconds heard from `from`, by the plan, in small steps.
double FileAfter(const Plan& plan, double from, double heard) {
    auto rate = [&](double s) {
        if (s <= plan.front().fileSeconds) return plan.front().rate;
        for (std::size_t i = 1; i < plan.size(); ++i)
            if (s < plan[i].fileSeconds)
                return plan[i - 1].rate + (s - plan[i - 1].fileSeconds) / (plan[i].fileSeconds - plan[i - 1].fileSeconds) *
                                              (plan[i].rate - plan[i - 1].rate);
        return plan.back().rate;
    };
    constexpr double kStep = 1e-4;
    for (; heard > 0; heard -= kStep) from += std::min(kStep, heard) * rate(from);
    return from;
}

// The left channel's frequency over [from, to), from its rising zero crossings.
double ToneHz(const std::vector<float>& v, std::size_t from, std::size_t to) {
    double first = -1, last = -1;
    long cycles = -1;
    for (std::size_t i = from + 1; i < to; ++i)
        if (v[2 * (i - 1)] < 0 && v[2 * i] >= 0) {
            last = static_cast<double>(i - 1) + v[2 * (i - 1)] / (v[2 * (i - 1)] - v[2 * i]);
            if (first < 0) first = last;
            ++cycles;
        }
    return cycles / ((last - first) / kRate);
}

TEST(InStep, AStretchedDeckKeepsItsPitchAndItsPlaceInTheFile) {
    quendo::testing::TempDir d;
    d.WriteFile("tone.wav", ToneWav(12.0, 1000, 0.5));
    struct Case {
        double from;
        Plan plan;
    } cases[] = {{0, {{0, 0.94}}}, {0, {{0, 1.06}}}, {1.5, {{3, 1.06}, {5, 0.95}, {6, 1.02}}}};
    for (const Case& c : cases) {
        AudioEngine engine{EngineOptions{false, kRate, 512}};
        MediaPlayer& deck = engine.Deck1();
        deck.SetFileName(d / "tone.wav");
        if (c.from > 0) deck.SetCurrentPosition(c.from);
        deck.SetRatePlan(c.plan);
        EXPECT_NEAR(deck.CurrentPosition(), c.from, 1e-9) << "a plan moves nothing";
        deck.Play();
        std::vector<float> all;
        for (int second = 1; second <= 6; ++second) {
            const std::vector<float> out = engine.render(kRate);
            all.insert(all.end(), out.begin(), out.end());
            EXPECT_NEAR(deck.CurrentPosition(), FileAfter(c.plan, c.from, second), 1e-4) << c.plan.size() << " " << second;
        }
        EXPECT_NEAR(deck.Duration(), 12.0, 1e-3);
        if (c.plan.size() == 1) {
            EXPECT_NEAR(1200 * std::log2(ToneHz(all, kRate, 6 * kRate - 1) / 1000), 0, 5) << c.plan[0].rate;
        }
    }
}

// The plan back at 1 for good, the deck plays the file's own frames, in step with its position,
// to the end; a plan at 1 throughout is no plan at all.
TEST(InStep, BackAtOneTheDeckPlaysTheFileItselfToItsEnd) {
    quendo::testing::TempDir d;
    d.WriteFile("count.wav", CountingWav(8.0));
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    int ends = 0;
    MediaPlayer& deck = engine.Deck1();
    deck.EndOfStream = [&] { ++ends; };
    deck.SetFileName(d / "count.wav");
    deck.SetRatePlan({{1, 1.06}, {2, 1.06}, {3, 1}});
    deck.Play();
    engine.render(4 * kRate);
    const std::vector<float> out = engine.render(kRate);
    const long heard = std::lround(deck.CurrentPosition() * kRate);
    for (long i = 0; i < kRate; ++i)
        ASSERT_EQ(CountOf(out[2 * i]), (heard - kRate + i) % kCount) << "frame " << i << " of the fifth second";
    engine.render(3 * kRate);
    EXPECT_EQ(ends, 1);
    EXPECT_NEAR(deck.CurrentPosition(), 8.0, 1e-3);

    d.WriteFile("tone.wav", ToneWav(3.0, 330, 0.5));
    auto play = [&](const Plan& plan) {
        AudioEngine e{EngineOptions{false, kRate, 512}};
        e.Deck1().SetFileName(d / "tone.wav");
        if (!plan.empty()) e.Deck1().SetRatePlan(plan);
        e.Deck1().SetCurrentPosition(0.25);
        e.Deck1().Play();
        return e.render(3 * kRate);
    };
    EXPECT_EQ(play({{0, 1.0}, {2, 1.0}}), play({}));
}

}  // namespace
