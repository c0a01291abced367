// The beat grid and the key the analysis finds, on synthesized music whose truth is known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/BeatTracker.h"
#include "analysis/KeyFinder.h"
#include "support/MusicSynth.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

constexpr int kRate = 22050;

template <class A>
void Feed(A& analyser, const std::vector<float>& stereo, int block) {
    const int frames = static_cast<int>(stereo.size() / 2);
    for (int at = 0; at < frames; at += block) analyser.Add(stereo.data() + 2 * at, std::min(block, frames - at));
}

BeatGrid Beats(const SynthMusic& music, double firstSound, int block, double trackSeconds = 0) {
    audio::BeatTracker tracker(kRate, trackSeconds);
    Feed(tracker, music.stereo, block);
    return tracker.Finish(firstSound);
}

// A sustained tone for the whole of `seconds`: onsets with nothing to gather on.
SynthMusic Tone(double seconds, double hz) {
    SynthMusic m;
    m.rate = kRate;
    m.stereo.resize(2 * static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; 2 * i < m.stereo.size(); ++i)
        m.stereo[2 * i] = m.stereo[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * M_PI * hz * static_cast<double>(i) / kRate));
    return m;
}

}  // namespace

TEST(Beats, GridBarsAndBeatlessOnSynthesizedTracks) {
    struct Case {
        MusicSpec spec;
        const char* what;
        double toneHz = 0;  // a sustained tone for spec.seconds instead of the music
    };
    const Case cases[] = {
        {{Groove::FourOnTheFloor, 127, 0, 70, 1.3, 8, 2, 1}, "four on the floor fading in, from a bar's third beat"},
        {{Groove::Breakbeat, 172, 16, 70, 0.4, 0, 1, 2}, "a fast breakbeat, not taken at half tempo"},
        {{Groove::Pad, 100, 3, 45, 0.5, 0, 0, 3}, "a pad without a beat"},
        // Heard for a third, it would leave little more than its fade-in to go by.
        {{Groove::FourOnTheFloor, 123, 7, 50, 0.5, 16, 0, 5}, "a short track, mostly fade-in in its first 20 s"},
        {{Groove::Breakbeat, 127, 2, 80, 1.2, 0, 2, 23}, "a breakbeat the tracker counts in beats and a half"},
        // Onsets so faint that any line holds them: only their contrast on its beats tells.
        {{Groove::Pad, 0, 0, 300, 0}, "a sustained tone", 440},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SynthMusic music = c.toneHz > 0 ? Tone(c.spec.seconds, c.toneHz) : SynthesizeMusic(c.spec, kRate);
        const BeatGrid grid = Beats(music, c.spec.lead, 1102, c.spec.seconds);
        if (music.bpm == 0) {
            EXPECT_FALSE(grid.Steady());
            EXPECT_EQ(grid.barPhase, -1);
            continue;
        }
        ASSERT_TRUE(grid.Steady());
        EXPECT_NEAR(grid.bpm, music.bpm, 0.01);
        EXPECT_NEAR(grid.period, 60 / grid.bpm, 1e-9);
        EXPECT_GE(grid.firstBeat, c.spec.lead - 1e-6);
        EXPECT_LT(grid.firstBeat, c.spec.lead + grid.period);
        // Every true beat within a few milliseconds of the grid, over the whole track.
        for (double t : music.beats) {
            const double k = std::round((t - grid.firstBeat) / grid.period);
            ASSERT_NEAR(grid.firstBeat + k * grid.period, t, 0.005) << "beat at " << t << " s";
        }
        const double k = std::round((music.downbeats.front() - grid.firstBeat) / grid.period);
        ASSERT_GE(grid.barPhase, 0);
        EXPECT_EQ((static_cast<long>(k) - grid.barPhase) % 4, 0) << "bar phase " << grid.barPhase;
    }
}

TEST(Beats, TheGridDoesNotDependOnHowTheSoundIsCut) {
    // Blocks smaller and larger than the tracker's own chunks, across the stretches it listens to.
    const SynthMusic music = SynthesizeMusic({Groove::Swing, 104, 5, 85, 0.5, 0, 1, 4}, kRate);
    const BeatGrid whole = Beats(music, 0.5, 1102);
    ASSERT_TRUE(whole.Steady());
    for (int block : {7, 5000}) {
        const BeatGrid cut = Beats(music, 0.5, block);
        EXPECT_EQ(cut.bpm, whole.bpm) << block;
        EXPECT_EQ(cut.firstBeat, whole.firstBeat) << block;
        EXPECT_EQ(cut.barPhase, whole.barPhase) << block;
    }
}

TEST(Key, FoundInMajorAndMinorKeysAndNoneInNoise) {
    // The relative key shares the notes: right too. Two finders at once share nothing.
    const struct {
        Groove groove;
        int key;
    } cases[] = {{Groove::FourOnTheFloor, 0}, {Groove::Swing, 18}, {Groove::Pad, 21}, {Groove::Breakbeat, 7}};
    audio::KeyFinder other(kRate);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const SynthMusic music = SynthesizeMusic({c.groove, 118, c.key, 40, 0.5, 0, 0, 5}, kRate);
        audio::KeyFinder finder(kRate);
        Feed(finder, music.stereo, 1102);
        const int relative = c.key < 12 ? 12 + (c.key + 9) % 12 : (c.key + 3) % 12;
        const int found = finder.Finish();
        EXPECT_TRUE(found == c.key || found == relative) << "found " << found;
    }
    std::vector<float> noise(2 * 30 * kRate);
    std::uint32_t s = 1;
    for (float& v : noise) s = s * 1664525u + 1013904223u, v = static_cast<float>(s >> 8) / 16777216.0f * 0.5f - 0.25f;
    Feed(other, noise, 1102);
    EXPECT_EQ(other.Finish(), kNoKey);
    audio::KeyFinder silent(kRate);
    Feed(silent, std::vector<float>(2 * 10 * kRate), 1102);
    EXPECT_EQ(silent.Finish(), kNoKey);
}
