// Decks in step, on the real engine offline: a deck played at another rate keeps its pitch and
// reports where it is in its own file as the plan says, and leaves the stretcher for the file's
// own frames once the plan is back at 1; a deck asked to start on the other deck's frame starts on
// exactly that frame, and right after the other's last one without a gap or a click.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "Clicks.h"
#include "EngineInsides.h"
#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/StallingDecoding.h"

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
        std::size_t i = 0;
        while (i + 1 < plan.size() && plan[i + 1].fileSeconds <= s) ++i;
        if (i + 1 == plan.size() || s <= plan[i].fileSeconds) return plan[i].rate;
        const MediaPlayer::RatePoint &a = plan[i], &b = plan[i + 1];
        return a.rate + (s - a.fileSeconds) / (b.fileSeconds - a.fileSeconds) * (b.rate - a.rate);
    };
    constexpr double kStep = 1e-4;
    for (; heard > 0; heard -= kStep) from += std::min(kStep, heard) * rate(from);
    return from;
}

// The engine offline, its first deck holding `file`.
struct Offline {
    explicit Offline(const std::string& file) { deck.SetFileName(file); }
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    MediaPlayer& deck = engine.Deck1();
};

TEST(InStep, AStretchedDeckKeepsItsPitchAndItsPlaceInTheFile) {
    quendo::testing::TempDir d;
    d.WriteFile("tone.wav", ToneWav(12.0, 1000, 0.5));
    struct Case {
        double from;
        Plan plan;
    } cases[] = {{0, {{0, 0.94}}}, {0, {{0, 1.06}}}, {1.5, {{3, 1.06}, {5, 0.95}, {6, 1.02}}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from << " " << c.plan.size());
        Offline o(d / "tone.wav");
        if (c.from > 0) o.deck.SetCurrentPosition(c.from);
        o.deck.SetRatePlan(c.plan);
        EXPECT_NEAR(o.deck.CurrentPosition(), c.from, 1e-9) << "a plan moves nothing";
        o.deck.Play();
        std::vector<float> all;
        for (int second = 1; second <= 6; ++second) {
            const std::vector<float> out = o.engine.render(kRate);
            all.insert(all.end(), out.begin(), out.end());
            EXPECT_NEAR(o.deck.CurrentPosition(), FileAfter(c.plan, c.from, second), 1e-4) << second;
        }
        EXPECT_NEAR(o.deck.Duration(), 12.0, 1e-3);
        if (c.plan.size() == 1) {
            EXPECT_NEAR(1200 * std::log2(quendo::testing::ToneHz(all, 0, kRate, 6 * kRate - 1) / 1000), 0, 5);
        }
    }
}

// Seeks while paused start generations that are decoded, noted and skipped unheard; their notes
// must not crowd out those of the one that plays.
TEST(InStep, SeeksUnheardLeaveRoomForThePlayingGeneration) {
    quendo::testing::TempDir d;
    d.WriteFile("tone.wav", ToneWav(30.0, 1000, 0.5));
    Offline o(d / "tone.wav");
    const Plan glide{{0, 0.92}, {30, 1.08}};  // every chunk a run of its own
    o.deck.SetRatePlan(glide);
    for (int seek = 0; seek < 12; ++seek) {
        o.deck.SetCurrentPosition(seek);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));  // the decoder fills the ring
        o.engine.render(512);
    }
    o.deck.Play();
    o.engine.render(4096);
    EXPECT_NEAR(o.deck.CurrentPosition(), FileAfter(glide, 11, 4096.0 / kRate), 1e-4);
}

// The plan back at 1 for good, the deck plays the file's own frames, in step with its position,
// to the end; a plan at 1 throughout is no plan at all.
TEST(InStep, BackAtOneTheDeckPlaysTheFileItselfToItsEnd) {
    quendo::testing::TempDir d;
    d.WriteFile("count.wav", CountingWav(8.0));
    Offline o(d / "count.wav");
    int ends = 0;
    o.deck.EndOfStream = [&] { ++ends; };
    o.deck.SetRatePlan({{1, 1.06}, {2, 1.06}, {3, 1}});
    o.deck.Play();
    o.engine.render(4 * kRate);
    const std::vector<float> out = o.engine.render(kRate);
    const long heard = std::lround(o.deck.CurrentPosition() * kRate);
    for (long i = 0; i < kRate; ++i)
        ASSERT_EQ(CountOf(out[2 * i]), (heard - kRate + i) % kCount) << "frame " << i << " of the fifth second";
    o.engine.render(3 * kRate);
    EXPECT_EQ(ends, 1);
    EXPECT_NEAR(o.deck.CurrentPosition(), 8.0, 1e-3);

    Offline plain(d / "count.wav"), atOne(d / "count.wav");
    atOne.deck.SetRatePlan({{0, 1.0}, {2, 1.0}});
    for (Offline* x : {&plain, &atOne}) {
        x->deck.SetCurrentPosition(0.25);
        x->deck.Play();
    }
    EXPECT_EQ(atOne.engine.render(3 * kRate), plain.engine.render(3 * kRate));
}

// The deck played is heard on the left and the deck cued on the right, each counting its own
// frames: the cued deck's first frame lies where the other plays the frame asked for (or follows
// its last), at full level when seamless and at the fade's first step otherwise; at once when the
// other is past the point or not playing. Either deck may wait for the other.
TEST(InStep, ACuedDeckStartsOnTheOtherDecksFrame) {
    quendo::testing::TempDir d;
    d.WriteFile("count.wav", CountingWav(3.0));
    struct Case {
        double at;
        bool seamless, otherPlays;
        long startsAt;  // output frame; the deck played plays its frame i at output frame i
    } cases[] = {{1.2345, false, true, 54441},
                 {1.2345, true, true, 54441},
                 {MediaPlayer::kAtOtherEnd, true, true, 3 * kRate},
                 {-1, true, true, 0},
                 {1.0, true, false, 0}};
    for (const Case& c : cases) {
        for (const bool cuedIsDeck1 : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.at << (c.seamless ? " seamless" : " faded") << (cuedIsDeck1 ? " on deck 1" : ""));
            AudioEngine engine{EngineOptions{false, kRate, 512}};
            MediaPlayer& played = cuedIsDeck1 ? engine.Deck2() : engine.Deck1();
            MediaPlayer& cued = cuedIsDeck1 ? engine.Deck1() : engine.Deck2();
            played.SetFileName(d / "count.wav");
            played.SetBalance(-10000);
            cued.SetFileName(d / "count.wav");
            cued.SetBalance(10000);
            cued.SetCurrentPosition(0.5);
            if (c.otherPlays) played.Play();
            cued.PlayAfterOther(c.at, c.seamless);
            EXPECT_EQ(cued.PlayState(), psPlaying);
            const std::vector<float> out = engine.render(4 * kRate);
            long first = 0;
            while (out[2 * first + 1] == 0) ++first;
            EXPECT_EQ(first, c.startsAt);
            if (c.otherPlays && c.at > 0) {
                EXPECT_EQ(CountOf(out[2 * (first - 1)]), (c.startsAt - 1) % kCount);
            }
            const double full = (kRate / 2) % kCount / 32768.0;
            EXPECT_NEAR(out[2 * first + 1], c.seamless ? full : full / 256, 1e-6);
        }
    }
}

// A cued deck whose file answers only after its cue has come (slow to seek, or to give its first
// frames) still starts in step with the other: it skips what it should have played meanwhile, and
// fades in.
TEST(InStep, ACuedDeckThatIsLateForItsCueCatchesUpInStep) {
    quendo::testing::TempDir d;
    d.WriteFile("count.wav", CountingWav(3.0));
    d.WriteFile("slow.wav", CountingWav(3.0));
    for (const bool slowSeek : {true, false}) {
        SCOPED_TRACE(slowSeek ? "slow to seek" : "slow to read");
        quendo::testing::StallingDecoding decoding;  // outlives the engine
        if (slowSeek) decoding.StallSeek(d / "slow.wav");
        else decoding.StallAfter(d / "slow.wav", 0);
        AudioEngine engine{EngineOptions{false, kRate, 512, &decoding}};
        MediaPlayer& played = engine.Deck1();
        MediaPlayer& cued = engine.Deck2();
        played.SetFileName(d / "count.wav");
        played.SetBalance(-10000);
        cued.SetFileName(d / "slow.wav");
        cued.SetBalance(10000);
        cued.SetCurrentPosition(0.5);
        played.Play();
        cued.PlayAfterOther(0.2, true);
        // Offline, the mixer waits for the stalled file until the deck gives up on it (a second).
        std::vector<float> out = engine.render(kRate / 2);
        EXPECT_TRUE(cued.Starved());
        decoding.Release();
        while (quendo::audio::EngineTestAccess::DecoderHeld(engine, 2)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::vector<float> rest = engine.render(kRate);
        out.insert(out.end(), rest.begin(), rest.end());
        long first = 0;
        while (first < kRate * 3 / 2 && out[2 * first + 1] == 0) ++first;
        ASSERT_LT(first, kRate * 3 / 2) << "the cued deck plays";
        EXPECT_GE(first, kRate / 2) << "not before its file answered";
        const long steady = first + 1024;  // past the fade-in
        EXPECT_EQ(CountOf(out[2 * steady + 1]), (CountOf(out[2 * steady]) + (kRate / 2 - kRate / 5)) % kCount);
        EXPECT_NEAR(cued.CurrentPosition() - played.CurrentPosition(), 0.3, 1e-6);
    }
}

// A deck stretched to the other's tempo and cued on its beat keeps its beats on the other's, on
// average within a millisecond: the stretcher lets the sound through a little late, and the cue
// comes that much earlier.
TEST(InStep, AStretchedDeckCuedOnABeatKeepsItsBeatsOnTheOthers) {
    quendo::testing::TempDir d;
    constexpr double kStretch = 1.05;
    d.WriteFile("120.wav", quendo::testing::ClickTrack(12.0));
    d.WriteFile("114.wav", quendo::testing::ClickTrack(12.0, 0.5 * kStretch));  // played 5% faster
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    MediaPlayer& played = engine.Deck1();
    MediaPlayer& cued = engine.Deck2();
    played.SetFileName(d / "120.wav");
    played.SetBalance(-10000);
    cued.SetFileName(d / "114.wav");
    cued.SetBalance(10000);
    cued.SetCurrentPosition(0.25 + 2 * 0.5 * kStretch);  // on its third beat
    cued.SetRatePlan({{0, kStretch}});
    played.Play();
    cued.PlayAfterOther(0.25 + 4 * 0.5, true);  // on the other's fifth
    const std::vector<float> out = engine.render(10 * kRate);
    double late = 0;  // frames, over the 14 beats that follow
    for (int k = 5; k < 19; ++k) {
        const long at = std::lround((0.25 + 0.5 * k) * kRate);
        ASSERT_NEAR(quendo::testing::LoudestIn(out, at - kRate / 10, at + kRate / 10, 0), at, 1) << k;
        late += static_cast<double>(quendo::testing::LoudestIn(out, at - kRate / 10, at + kRate / 10, 1) - at) / 14;
    }
    EXPECT_NEAR(late, 0, kRate / 1000);
}

// An album's tracks cut from one tone and encoded apart, each with its encoder's delay and
// padding: played one right after the other, the tone goes on without a gap or a click.
TEST(InStep, TracksWithoutAGapBetweenThemPlayAsOne) {
    quendo::testing::TempDir d;
    // 441 Hz: a second holds whole cycles, so the second track takes the tone up where the first
    // left it.
    for (const char* name : {"a.mp3", "b.mp3"})
        ASSERT_GT(quendo::testing::MakeFixture("mp3-cbr", 1.0, d / name, "--tone 441").frames, 0) << "the demo library tool";
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    MediaPlayer& a = engine.Deck1();
    MediaPlayer& b = engine.Deck2();
    a.SetFileName(d / "a.mp3");
    b.SetFileName(d / "b.mp3");
    a.Play();
    b.PlayAfterOther(MediaPlayer::kAtOtherEnd, true);
    const std::vector<float> out = engine.render(2 * kRate + 4096);
    // The tone fades in over the first 256 frames; past them, every step is the tone's own.
    const std::vector<float> steady(out.begin() + 2 * 1024, out.begin() + 2 * (kRate - 1024));
    const std::vector<float> junction(out.begin() + 2 * (kRate - 1024), out.begin() + 2 * (kRate + 1024));
    EXPECT_LE(quendo::testing::LargestStep(junction, 0), quendo::testing::LargestStep(steady, 0) * 1.1);
    EXPECT_NEAR(quendo::testing::Rms(junction, 0), quendo::testing::Rms(steady, 0), 0.01) << "no gap";
    EXPECT_NEAR(a.CurrentPosition(), 1.0, 1e-9) << "the first track's encoder padding is not heard";
    EXPECT_NEAR(b.CurrentPosition(), 1.0, 1e-9);
    EXPECT_EQ(quendo::testing::Rms(std::vector<float>(out.end() - 2 * 2048, out.end()), 0), 0) << "nor the second's";
}

}  // namespace
