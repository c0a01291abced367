// Telling one piece cut in two from two pieces that stop and start hard, by the facts the analysis
// takes of each file, on synthesized music cut where a listener could not hear it.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Analyse.h"
#include "analysis/JoinEvidence.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/MusicSynth.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

constexpr int kRate = 44100;

struct Part {
    MusicSpec spec;
    double from, to;  // seconds of the piece; `to` past its end: to its end
};

TrackFacts FactsOf(const TempDir& dir, const Part& part) {
    const SynthMusic music = SynthesizeMusic(part.spec, kRate);
    const auto frames = static_cast<long>(music.stereo.size() / 2);
    const long from = std::lround(part.from * kRate), to = std::min(frames, std::lround(part.to * kRate));
    dir.WriteFile("part.wav", StereoWav({music.stereo.begin() + 2 * from, music.stereo.begin() + 2 * to}, kRate));
    const std::optional<TrackFacts> facts = audio::AnalyseFile(dir / "part.wav");
    EXPECT_TRUE(facts.has_value());
    return facts.value_or(TrackFacts{});
}

}  // namespace

TEST(JoinEvidence, OnePieceCutInTwoRunsAcrossAndTwoPiecesDoNot) {
    const MusicSpec house{Groove::FourOnTheFloor, 124, 9, 70, 0.6, 0, 0, 3};
    const MusicSpec otherHouse{Groove::FourOnTheFloor, 124, 2, 70, 0.6, 0, 1, 8};
    const MusicSpec pad{Groove::Pad, 90, 4, 70, 0.5, 0, 0, 5};
    const MusicSpec live{Groove::Drifting, 98, 21, 70, 0.5, 0, 0, 7};
    const MusicSpec breaks{Groove::Breakbeat, 172, 11, 70, 0.5, 0, 0, 9};
    const MusicSpec swing{Groove::Swing, 108, 14, 70, 0.5, 0, 0, 10};
    struct Case {
        Part out, in;
        bool runsAcross;
        const char* what;
    };
    const Case cases[] = {
        {{house, 0, 31.37}, {house, 31.37, 99}, true, "four on the floor cut mid-bar: the beat runs on"},
        {{house, 0, 62.5}, {house, 62.5, 99}, true, "four on the floor, its last seconds too short for a beat"},
        {{breaks, 0, 40.011}, {breaks, 40.011, 99}, true, "a breakbeat"},
        {{swing, 0, 23.3}, {swing, 23.3, 99}, true, "a swing, cut mid-bar"},
        {{breaks, 0, 11.1}, {breaks, 11.1, 99}, true, "a breakbeat, its first seconds too short for a beat"},
        {{pad, 0, 27.77}, {pad, 27.77, 99}, true, "a pad without a beat"},
        {{pad, 0, 51.3}, {pad, 51.3, 99}, true, "a pad, late"},
        {{live, 0, 12.34}, {live, 12.34, 99}, true, "a live take whose beat wanders"},
        {{live, 0, 44.4}, {live, 44.4, 99}, true, "a live take, late"},
        {{house, 0, 31.37}, {otherHouse, 20.05, 99}, false, "two house tracks at one tempo, out of step"},
        {{breaks, 0, 40.011}, {house, 31.37, 99}, false, "a breakbeat, then house"},
        {{house, 0, 31.37}, {pad, 10, 99}, false, "house, then a pad"},
        {{pad, 0, 27.77}, {live, 33.3, 99}, false, "a pad, then a live take"},
        {{live, 0, 44.4}, {pad, 10, 99}, false, "a live take, then a pad"},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TrackFacts out = FactsOf(dir, c.out), in = FactsOf(dir, c.in);
        EXPECT_EQ(RunsAcrossTheCut(out, in), c.runsAcross);
    }
}

TEST(JoinEvidence, BothMustSoundToTheCutAndKeepTheBar) {
    TrackFacts out;
    out.audible = true;
    out.decodedSeconds = 100;
    out.lastSound = 99.9;
    out.beats = {120, 0.25, 0.5, 1};
    TrackFacts in = out;
    in.firstSound = 0.1;
    in.beats.firstBeat = 0.25;  // on the out grid's beat 200, the fourth of its bar, as in's first is
    ASSERT_TRUE(RunsAcrossTheCut(out, in));
    const struct {
        void (*change)(TrackFacts& out, TrackFacts& in);
        const char* what;
    } cases[] = {
        {[](TrackFacts& o, TrackFacts&) { o.lastSound = 99.8; }, "out fades before the cut"},
        {[](TrackFacts&, TrackFacts& i) { i.firstSound = 0.2; }, "in starts after a breath"},
        {[](TrackFacts&, TrackFacts& i) { i.audible = false; }, "in is silent"},
        {[](TrackFacts&, TrackFacts& i) { i.beats.barPhase = 0; }, "in starts on another beat of the bar"},
        {[](TrackFacts&, TrackFacts& i) { i.beats.firstBeat = 0.265; }, "in's beat lands 15 ms late"},
        {[](TrackFacts&, TrackFacts& i) { i.beats.period *= 1.004, i.beats.bpm /= 1.004; }, "in is 0.4 % slower"},
        {[](TrackFacts&, TrackFacts& i) { i.beats = {}, i.headEdge.rmsDb[1] = -20; }, "in has no beat, and its mids rise"},
    };
    for (const auto& c : cases) {
        TrackFacts o = out, i = in;
        c.change(o, i);
        EXPECT_FALSE(RunsAcrossTheCut(o, i)) << c.what;
    }
    in.beats.barPhase = -1;  // not known: the beat alone
    EXPECT_TRUE(RunsAcrossTheCut(out, in));
}
