// The mixer against a decoder that cannot keep up: when a seek or a new file arrives while the old
// material is nearly drained, the fade-out of the old generation stops where the new one starts,
// the mixer's read position never falls back below what it released to the decoder, and nothing
// of a superseded generation is heard. The decoder is held back through a gated decode source;
// the test thread is the mixer (AudioEngine::Mix), so nothing waits for the decoder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineInsides.h"
#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using quendo::audio::EngineTestAccess;
using quendo::testing::GatedDecoding;

namespace {

constexpr int kRate = 44100;
constexpr int kCount = 30000;  // the counting channel wraps here, below the output's ceiling
constexpr double kFadeStep = 1.0 / 256;

// A 16-bit stereo WAV whose left channel counts frames, from `first` and modulo kCount, and whose
// right channel holds half of full scale: in the mix, the ratio of the two channels names the
// file frame heard and the right channel the fade it was heard at, whatever the fade.
std::string CountingWav(double seconds, int first) {
    std::string wav = quendo::testing::ToneWav(seconds, 0, 0);
    const std::size_t header = 44;
    for (std::size_t i = 0; header + 4 * i + 3 < wav.size(); ++i) {
        const auto v = static_cast<std::int16_t>((first + i) % kCount);
        wav[header + 4 * i] = char(v);
        wav[header + 4 * i + 1] = char(v >> 8);
        wav[header + 4 * i + 2] = char(16384 & 0xff);
        wav[header + 4 * i + 3] = char(16384 >> 8);
    }
    return wav;
}
int Count(int first, long frame) { return static_cast<int>((first + frame) % kCount); }

// Follows the mixed frames of one deck. Between two frames heard in a row the file frame goes on
// by one; any other step is a new start, which must be the first frame of a fade-in and land on a
// frame that was asked for (a seek target or the start of a file), or skip the one frame that a
// fade-out to silence consumed. A fade-out that ran on into the next generation's frames would
// step to that generation's first frame in the middle of a fade.
class Follower {
public:
    void MayStartAt(int count) { starts_.insert(count); }
    void Take(const std::vector<float>& out) {
        for (std::size_t i = 0; 2 * i + 1 < out.size(); ++i, ++frame_) {
            const double l = out[2 * i], r = out[2 * i + 1];
            if (l == 0 && r == 0) continue;  // not mixed
            const double fade = r / 0.5;
            const int count = static_cast<int>(std::lround(l / r * 16384));
            const bool fadeInStart = std::fabs(fade - kFadeStep) < 1e-5;
            if (!heard_) {
                if (!fadeInStart || !starts_.count(count)) Problem(count, fade, "begins");
            } else {
                const int step = ((count - last_) % kCount + kCount) % kCount;
                if (step != 1 && !(fadeInStart && (step == 2 || starts_.count(count)))) Problem(count, fade, "steps");
            }
            heard_ = true;
            last_ = count;
            ++mixed_;
            if (fadeInStart) ++fadeIns_;
        }
    }
    int Last() const { return last_; }
    long Mixed() const { return mixed_; }
    long FadeIns() const { return fadeIns_; }
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    void Problem(int count, double fade, const char* what) {
        if (problems_.size() >= 10) return;
        std::ostringstream s;
        s << "output frame " << frame_ << " " << what << " to file frame " << count << " (mod " << kCount << ") from "
          << (heard_ ? std::to_string(last_) : std::string("nothing")) << " at fade " << fade;
        problems_.push_back(s.str());
    }
    std::set<int> starts_;
    bool heard_ = false;
    int last_ = 0;
    long frame_ = 0, mixed_ = 0, fadeIns_ = 0;
    std::vector<std::string> problems_;
};

// The mixer's place in the deck's ring, checked after every block: it reads at or above what it
// released, never beyond what was written, and neither moves back, not even for the moment of a
// move to the next generation, whose frames start at or above where the old ones were read.
class RingWatch {
public:
    explicit RingWatch(AudioEngine& engine) : engine_(engine) {}
    void Check() {
        const auto r = EngineTestAccess::Ring(engine_, 1);
        if (r.mixerAt < r.released) Problem("the mixer reads below what it released", r);
        if (r.mixerAt > r.written) Problem("the mixer reads past what was written", r);
        if (r.released < last_.released) Problem("the released position moved back", r);
        if (r.mixerAt < last_.mixerAt) Problem("the read position moved back", r);
        if (r.start != last_.start && r.start < last_.mixerAt) Problem("a generation started below the read position", r);
        last_ = r;
    }
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    void Problem(const char* what, const EngineTestAccess::DeckRing& r) {
        if (problems_.size() >= 10) return;
        std::ostringstream s;
        s << what << ": written " << r.written << ", released " << r.released << " (was " << last_.released
          << "), generation from " << r.start << " (was " << last_.start << "), read at " << r.mixerAt << " (was "
          << last_.mixerAt << ")";
        problems_.push_back(s.str());
    }
    AudioEngine& engine_;
    EngineTestAccess::DeckRing last_{0, 0, 0, 0};
    std::vector<std::string> problems_;
};

// The decoder reads only the frames the test hands it. Waits are short, so the decoder thread goes
// round its loop (and takes new commands) while the gate is shut, and the engine can stop it.
class Gate {
public:
    int Take(int frames) {
        std::unique_lock lock(m_);
        ++entries_;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::milliseconds(2), [&] { return budget_ > 0; });
        const int n = static_cast<int>(std::min<long>(frames, budget_));
        budget_ -= n;
        if (n > 0) cv_.notify_all();
        return n;
    }
    // Hands the decoder `frames` more and returns once it has written them all and come back.
    bool Feed(long frames) {
        std::unique_lock lock(m_);
        budget_ += frames;
        if (!cv_.wait_for(lock, kPatience, [&] { return budget_ == 0; })) return false;
        const long at = entries_;
        return cv_.wait_for(lock, kPatience, [&] { return entries_ > at; });
    }
    // Returns once the decoder has gone round its loop since the call, so has taken every command
    // sent before it.
    bool Settle() {
        std::unique_lock lock(m_);
        const long at = entries_;
        return cv_.wait_for(lock, kPatience, [&] { return entries_ >= at + 2; });
    }

private:
    static constexpr auto kPatience = std::chrono::seconds(10);
    std::mutex m_;
    std::condition_variable cv_;
    long budget_ = 0, entries_ = 0;
};

struct Rig {
    // Without a gate of its own, the decoder reads what Gate::Feed hands it.
    explicit Rig(std::function<int(int)> decodeGate = {})
        : decoding(decodeGate ? std::move(decodeGate) : [this](int frames) { return gate.Take(frames); }) {}
    Gate gate;  // these two outlive the engine, whose decoder threads call them
    GatedDecoding decoding;
    AudioEngine engine{EngineOptions{false, kRate, 512, &decoding}};
    Follower heard;
    RingWatch ring{engine};
    void Mix(int frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        engine.Mix(out.data(), frames);
        heard.Take(out);
        ring.Check();
    }
    // Mixes until only `leftover` frames of the deck's ring are left unread.
    void DrainTo(std::uint64_t leftover) {
        for (;;) {
            const auto r = EngineTestAccess::Ring(engine, 1);
            const std::uint64_t ahead = r.written - r.mixerAt;
            if (ahead <= leftover) return;
            Mix(static_cast<int>(std::min<std::uint64_t>(512, ahead - leftover)));
        }
    }
};

void ExpectNoProblems(const Rig& rig) {
    for (const auto& p : rig.heard.Problems()) ADD_FAILURE() << p;
    for (const auto& p : rig.ring.Problems()) ADD_FAILURE() << p;
}

TEST(Realtime, OldMaterialStopsWhereTheNewGenerationStarts) {
    quendo::testing::TempDir d;
    d.WriteFile("a.wav", CountingWav(10.0, 0));
    d.WriteFile("b.wav", CountingWav(10.0, 20000));
    Rig rig;
    MediaPlayer& deck = rig.engine.Deck1();
    deck.SetFileName(d / "a.wav");
    rig.heard.MayStartAt(Count(0, 0));
    deck.Play();
    ASSERT_TRUE(rig.gate.Feed(4096));
    rig.DrainTo(100);
    EXPECT_EQ(rig.heard.Last(), Count(0, 4095 - 100));

    // A seek while 100 frames are left: the fade-out has 256 frames to go, but only those 100
    // are the old position's.
    deck.SetCurrentPosition(88200.0 / kRate);
    rig.heard.MayStartAt(Count(0, 88200));
    ASSERT_TRUE(rig.gate.Settle());
    ASSERT_TRUE(rig.gate.Feed(8192));
    rig.Mix(512);
    EXPECT_EQ(rig.heard.Last(), Count(0, 4095)) << "the old material plays out to its last frame and no further";
    rig.Mix(512);
    EXPECT_EQ(rig.heard.Last(), Count(0, 88200 + 511));
    EXPECT_NEAR(deck.CurrentPosition(), (88200.0 + 512) / kRate, 1e-9);

    // A burst: two seeks, the first of which the decoder has started on, before the mixer looks.
    rig.DrainTo(50);
    const int before = rig.heard.Last();
    deck.SetCurrentPosition(30000.0 / kRate);
    rig.heard.MayStartAt(Count(0, 30000));
    ASSERT_TRUE(rig.gate.Settle());
    ASSERT_TRUE(rig.gate.Feed(1000));  // frames of a position that is never heard
    deck.SetCurrentPosition(150000.0 / kRate);
    rig.heard.MayStartAt(Count(0, 150000));
    ASSERT_TRUE(rig.gate.Settle());
    ASSERT_TRUE(rig.gate.Feed(8192));
    rig.Mix(512);
    EXPECT_EQ(rig.heard.Last(), (before + 50) % kCount);
    rig.Mix(512);
    EXPECT_EQ(rig.heard.Last(), Count(0, 150000 + 511)) << "the newest seek is heard, the one between is not";

    // A new file while 30 frames of the old one are left.
    rig.DrainTo(30);
    const int last = rig.heard.Last();
    deck.SetFileName(d / "b.wav");
    rig.heard.MayStartAt(Count(20000, 0));
    deck.Play();
    ASSERT_TRUE(rig.gate.Settle());
    ASSERT_TRUE(rig.gate.Feed(8192));
    rig.Mix(512);
    EXPECT_EQ(rig.heard.Last(), (last + 30) % kCount);
    rig.Mix(512);
    EXPECT_EQ(rig.heard.Last(), Count(20000, 511));
    EXPECT_NEAR(deck.CurrentPosition(), 512.0 / kRate, 1e-9);
    ExpectNoProblems(rig);
}

// The same, at random but each time at the edge: the test drains the ring to a few frames, sends
// one to three seeks or new files (the decoder starting on some of them), and mixes on.
TEST(Realtime, RandomBurstsOfSeeksAndReloadsAtTheEdgeOfTheOldMaterial) {
    quendo::testing::TempDir d;
    const int offsets[2] = {0, 20000};
    d.WriteFile("a.wav", CountingWav(12.0, offsets[0]));
    d.WriteFile("b.wav", CountingWav(12.0, offsets[1]));
    Rig rig;
    MediaPlayer& deck = rig.engine.Deck1();
    int file = 0;
    deck.SetFileName(d / "a.wav");
    rig.heard.MayStartAt(Count(offsets[file], 0));
    deck.Play();
    ASSERT_TRUE(rig.gate.Feed(4096));
    std::minstd_rand rnd(11);
    for (int round = 0; round < 100; ++round) {
        rig.DrainTo(rnd() % 300);
        for (unsigned n = 1 + rnd() % 3; n > 0; --n) {
            if (rnd() % 4) {
                const long target = static_cast<long>(rnd() % (8 * kRate));
                rig.heard.MayStartAt(Count(offsets[file], target));
                deck.SetCurrentPosition(static_cast<double>(target) / kRate);
            } else {
                file = 1 - file;
                rig.heard.MayStartAt(Count(offsets[file], 0));
                deck.SetFileName(d / (file ? "b.wav" : "a.wav"));
                deck.Play();
            }
            if (rnd() % 2) {
                ASSERT_TRUE(rig.gate.Settle());
                ASSERT_TRUE(rig.gate.Feed(rnd() % 3000));
            }
        }
        ASSERT_TRUE(rig.gate.Settle());
        ASSERT_TRUE(rig.gate.Feed(4096 + rnd() % 4096));
        for (int blocks = 1 + rnd() % 6; blocks > 0; --blocks) rig.Mix(1 + static_cast<int>(rnd() % 1024));
        if (HasFailure()) break;
    }
    EXPECT_GT(rig.heard.FadeIns(), 100);
    ExpectNoProblems(rig);
}

// Seeks and new files at random against a decoder that trickles on its own thread, the mixer
// running at its own pace: the two sides race, as they do with the device.
TEST(Realtime, BurstsOfSeeksAndReloadsAgainstATricklingDecoder) {
    quendo::testing::TempDir d;
    const int offsets[2] = {0, 20000};
    d.WriteFile("a.wav", CountingWav(12.0, offsets[0]));
    d.WriteFile("b.wav", CountingWav(12.0, offsets[1]));
    // This decoder trickles: a few hundred frames at a time, with pauses.
    std::atomic<std::uint32_t> seed{1};
    Rig rig([&seed](int frames) {
        thread_local std::minstd_rand rnd(seed.fetch_add(1));
        std::this_thread::sleep_for(std::chrono::microseconds(200 + rnd() % 800));
        return std::min(frames, static_cast<int>(32 + rnd() % 600));
    });
    MediaPlayer& deck = rig.engine.Deck1();
    int file = 0;
    deck.SetFileName(d / "a.wav");
    rig.heard.MayStartAt(Count(offsets[file], 0));
    deck.Play();
    std::minstd_rand rnd(7);
    int seeks = 0, reloads = 0;
    // Now and then the decoder gets time to start on a seek or file before the mixer looks again,
    // while the old material is nearly drained.
    const auto maybeLetTheDecoderStart = [&] {
        if (rnd() % 4) std::this_thread::sleep_for(std::chrono::microseconds(300 + rnd() % 3000));
    };
    // Two seconds at least, and enough seeks and files however slow the machine.
    const auto start = std::chrono::steady_clock::now();
    const auto enough = [&] {
        const auto ran = std::chrono::steady_clock::now() - start;
        return ran > std::chrono::seconds(30) || (ran > std::chrono::seconds(2) && seeks >= 30 && reloads >= 5);
    };
    while (!enough()) {
        rig.Mix(64 + static_cast<int>(rnd() % 961));
        if (rnd() % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rnd() % 2000));
        switch (rnd() % 200) {
            case 0:
            case 1:
            case 2:
            case 3: {
                // Often several in a row, before the mixer looks again.
                for (unsigned n = 1 + rnd() % 3; n > 0; --n) {
                    const long target = static_cast<long>(rnd() % (8 * kRate));
                    rig.heard.MayStartAt(Count(offsets[file], target));
                    deck.SetCurrentPosition(static_cast<double>(target) / kRate);
                    ++seeks;
                    maybeLetTheDecoderStart();
                }
                break;
            }
            case 4:
                file = 1 - file;
                rig.heard.MayStartAt(Count(offsets[file], 0));
                deck.SetFileName(d / (file ? "b.wav" : "a.wav"));
                deck.Play();
                ++reloads;
                maybeLetTheDecoderStart();
                break;
            case 5:
                deck.Pause();
                break;
            case 6:
            case 7:
                deck.Play();
                break;
            default:
                break;
        }
    }
    EXPECT_GE(seeks, 30);
    EXPECT_GE(reloads, 5);
    EXPECT_GT(rig.heard.Mixed(), 10 * kRate / 10) << "the deck was heard";
    EXPECT_GT(rig.heard.FadeIns(), 20);
    ExpectNoProblems(rig);
}

}  // namespace
