#include <gtest/gtest.h>

#include <algorithm>

#include "playback/EnvelopeEditor.h"
#include "support/Fakes.h"

using quendo::EnvelopeEditor;
using quendo::MixEnvelope;
using quendo::Quantity;
using Points = std::vector<EnvelopeEditor::ChartPoint>;

namespace {

constexpr Quantity V = Quantity::Volume;
constexpr Quantity B = Quantity::Balance;

class EnvelopeEditorTest : public ::testing::Test {
protected:
    MixEnvelope env;
    EnvelopeEditor ed{env};
    void SetUp() override { ed.FormShow(); }
};

TEST_F(EnvelopeEditorTest, FirstOpeningShowsTheDefaults) {
    EXPECT_TRUE(ed.visible);
    EXPECT_EQ(ed.activePage, EnvelopeEditor::TabSheet2);
    EXPECT_EQ(ed.ScrollBar[15].position, 60);
    EXPECT_EQ(ed.ScrollBar[14].position, 60);
    EXPECT_EQ(ed.ScrollBar[16].position, 0);
    EXPECT_EQ(ed.ScrollBar[13].position, 30);
    EXPECT_EQ(ed.ScrollBar[13].max, 60);
    EXPECT_EQ(ed.ScrollBar[14].max, 60);
    EXPECT_EQ(ed.ScrollBar[16].max, 59);
    EXPECT_EQ(ed.editorCursor, 30);
    EXPECT_EQ(ed.Label[2], "60");
    EXPECT_EQ(ed.Label[1], "60");
    EXPECT_EQ(ed.Label[3], "0");
    EXPECT_EQ(ed.Label[4], "30");
    for (int n : {1, 2, 5, 6}) {
        EXPECT_FALSE(ed.ScrollBar[n].enabled) << n;
        EXPECT_FALSE(ed.SpeedButton[n].down) << n;
        EXPECT_EQ(ed.SpeedButton[n].caption, "In") << n;
    }
    EXPECT_EQ(ed.Charts[1].axisMax, 60);
    EXPECT_EQ(ed.Charts[2].cursor, 30);

    // Only the key points are drawn; the hidden curves have none.
    EXPECT_EQ(ed.Series[1], (Points{{0, 0}, {60, 0}}));
    EXPECT_EQ(ed.Series[2], (Points{{0, 0}, {60, 0}}));
    EXPECT_EQ(ed.Series[5], (Points{{0, 0}, {60, -4000}}));
    EXPECT_EQ(ed.Series[6], (Points{{0, 4000}, {60, 0}}));
    for (int n : {3, 4, 7, 8, 9}) EXPECT_TRUE(ed.Series[n].empty()) << n;
    // Opening changes nothing in the envelope.
    EXPECT_EQ(env.Value(B, 0, 30), -1980);
    EXPECT_EQ(env.Value(B, 1, 30), 2020);
}

TEST_F(EnvelopeEditorTest, CursorOnTheEndsShowsOnlyEditableKeys) {
    ed.ScrollBar13Change(60);
    EXPECT_EQ(ed.Label[4], "60");
    EXPECT_EQ(ed.Charts[1].cursor, 60);
    EXPECT_EQ(ed.SpeedButton[5].caption, "De");
    EXPECT_TRUE(ed.SpeedButton[5].down);
    EXPECT_TRUE(ed.ScrollBar[5].enabled);
    EXPECT_EQ(ed.ScrollBar[5].position, -4000);
    // 60 is the incoming curves' fixed end.
    EXPECT_EQ(ed.SpeedButton[6].caption, "In");
    EXPECT_FALSE(ed.ScrollBar[6].enabled);
    EXPECT_FALSE(ed.ScrollBar[2].enabled);

    // At 0 it is the other way round.
    ed.ScrollBar13Change(0);
    EXPECT_EQ(ed.SpeedButton[5].caption, "In");
    EXPECT_FALSE(ed.ScrollBar[1].enabled);
    EXPECT_EQ(ed.SpeedButton[6].caption, "De");
    EXPECT_EQ(ed.ScrollBar[6].position, 4000);
    EXPECT_EQ(ed.SpeedButton[2].caption, "De");
    EXPECT_TRUE(ed.ScrollBar[2].enabled);
}

TEST_F(EnvelopeEditorTest, InsertedKeyTakesTheBarsValueAndDeletingRestoresTheCurve) {
    ed.ScrollBar13Change(20);
    ed.SpeedButton2Click();
    EXPECT_TRUE(ed.SpeedButton[2].down);
    EXPECT_EQ(ed.SpeedButton[2].caption, "De");
    EXPECT_TRUE(ed.ScrollBar[2].enabled);
    EXPECT_EQ(ed.Series[2], (Points{{0, 0}, {20, 0}, {60, 0}}));

    ed.ScrollBar2Change(30);
    EXPECT_EQ(env.Value(V, 1, 20), -3000);
    EXPECT_EQ(env.Value(V, 1, 10), -1500);  // d = -150
    EXPECT_EQ(env.Value(V, 1, 19), -2850);
    EXPECT_EQ(env.Value(V, 1, 40), -1500);  // d = 75 back up to 0
    EXPECT_EQ(env.Value(V, 1, 60), 0);
    EXPECT_EQ(ed.Series[2], (Points{{0, 0}, {20, -3000}, {60, 0}}));
    EXPECT_EQ(env.Value(V, 0, 20), 0);  // the other curve is untouched

    ed.SpeedButton2Click();
    EXPECT_EQ(ed.SpeedButton[2].caption, "In");
    EXPECT_FALSE(ed.ScrollBar[2].enabled);
    EXPECT_FALSE(env.IsKey(V, 1, 20));
    EXPECT_EQ(env.Value(V, 1, 20), 0);
    EXPECT_EQ(ed.Series[2].size(), 2u);
}

TEST_F(EnvelopeEditorTest, BalanceBarWritesItsPosition) {
    ed.ScrollBar13Change(60);
    ed.ScrollBar5Change(-2000);
    EXPECT_EQ(env.Value(B, 0, 60), -2000);
    EXPECT_EQ(env.Value(B, 0, 30), -990);  // d = -33
    EXPECT_EQ(ed.Series[5].back(), (EnvelopeEditor::ChartPoint{60, -2000}));
}

TEST_F(EnvelopeEditorTest, DeletingAnAnchorTakesItOffTheChartOnly) {
    ed.ScrollBar13Change(0);
    ed.SpeedButton5Click();  // "In" at the outgoing curve's start
    EXPECT_EQ(ed.SpeedButton[5].caption, "De");
    EXPECT_TRUE(ed.ScrollBar[5].enabled);
    ed.SpeedButton5Click();
    EXPECT_EQ(ed.Series[5], (Points{{60, -4000}}));
    EXPECT_EQ(env.Value(B, 0, 30), -1980);  // still interpolated from point 0
}

TEST_F(EnvelopeEditorTest, LandingOnAVolumeKeyTruncatesItUnlessTheBarStandsThere) {
    env.InsertKeyPoint(V, 0, 20);
    env.SetKeyPointValue(V, 0, 20, -1234);
    ed.ScrollBar13Change(20);
    EXPECT_EQ(ed.ScrollBar[1].position, 12);
    EXPECT_EQ(env.Value(V, 0, 20), -1200);

    // The bar already stands at 12: setting it again runs nothing.
    env.InsertKeyPoint(V, 0, 40);
    env.SetKeyPointValue(V, 0, 40, -1250);
    ed.ScrollBar13Change(40);
    EXPECT_EQ(env.Value(V, 0, 40), -1250);

    // Inserting a key at an interpolated point: kept while the bar already stands there...
    ed.ScrollBar13Change(30);  // -1200 to -1250 over 20 steps: d = -2
    EXPECT_EQ(env.Value(V, 0, 30), -1220);
    ed.SpeedButton1Click();
    EXPECT_EQ(env.Value(V, 0, 30), -1220);

    // ...truncated otherwise.
    ed.ScrollBar13Change(7);  // 0 to -1200 over 20 steps: -420 here
    EXPECT_EQ(env.Value(V, 0, 7), -420);
    ed.SpeedButton1Click();
    EXPECT_EQ(ed.ScrollBar[1].position, 4);
    EXPECT_EQ(env.Value(V, 0, 7), -400);
}

TEST_F(EnvelopeEditorTest, ShrinkingTheLengthPullsThePositionsBack) {
    ed.ScrollBar13Change(50);
    ed.ScrollBar15Change(40);
    EXPECT_EQ(env.MixLength(), 40);
    EXPECT_EQ(ed.Label[2], "40");
    // The finishing key is carried to 40 with its values.
    EXPECT_EQ(env.FinishingPosition(), 40);
    EXPECT_EQ(ed.ScrollBar[14].position, 40);
    EXPECT_EQ(ed.Label[1], "40");
    EXPECT_EQ(env.Value(V, 0, 40), 0);
    EXPECT_EQ(env.Value(B, 0, 40), -4000);
    EXPECT_EQ(env.Value(B, 0, 20), -2000);
    EXPECT_EQ(ed.Series[5], (Points{{0, 0}, {40, -4000}}));
    // The incoming curves' end key moved to 40.
    EXPECT_EQ(ed.Series[6], (Points{{0, 4000}, {40, 0}}));
    EXPECT_EQ(env.Value(B, 1, 20), 2000);
    EXPECT_FALSE(env.IsKey(V, 1, 60));
    // The cursor was beyond and is pulled back; the starting position stays.
    EXPECT_EQ(ed.editorCursor, 40);
    EXPECT_EQ(ed.Label[4], "40");
    EXPECT_EQ(ed.ScrollBar[13].max, 40);
    EXPECT_EQ(env.StartingPosition(), 0);
    EXPECT_EQ(ed.ScrollBar[16].max, 39);
    EXPECT_EQ(ed.Charts[1].axisMax, 40);
    EXPECT_EQ(ed.Charts[2].axisMax, 40);
    EXPECT_EQ(ed.Charts[2].cursor, 40);

    // A starting position beyond the new end is pulled back with its key.
    ed.ScrollBar16Change(35);
    ed.ScrollBar15Change(30);
    EXPECT_EQ(env.StartingPosition(), 29);
    EXPECT_EQ(ed.Label[3], "29");
    EXPECT_TRUE(env.IsKey(B, 1, 29));
    EXPECT_FALSE(env.IsKey(B, 1, 35));
}

TEST_F(EnvelopeEditorTest, LengtheningKeepsThePositionsAndReopeningResyncs) {
    ed.ScrollBar15Change(100);
    EXPECT_EQ(ed.editorCursor, 30);
    EXPECT_EQ(env.FinishingPosition(), 60);
    EXPECT_EQ(ed.ScrollBar[14].max, 100);
    EXPECT_EQ(ed.Series[6].back(), (EnvelopeEditor::ChartPoint{100, 0}));

    ed.BitBtn1Click();
    EXPECT_FALSE(ed.visible);
    ed.FormShow();
    EXPECT_EQ(ed.editorCursor, 50);
    EXPECT_EQ(ed.ScrollBar[13].position, 50);
    EXPECT_EQ(ed.ScrollBar[15].position, 100);
}

TEST_F(EnvelopeEditorTest, ThePositionBarsAreDisabledDuringAMix) {
    const auto before = ed.revision;
    ed.SetMixRunning(true);
    EXPECT_GT(ed.revision, before);
    for (int n : {14, 15, 16}) EXPECT_FALSE(ed.ScrollBar[n].enabled) << n;
    EXPECT_TRUE(ed.ScrollBar[13].enabled);

    // Opened again during the mix: still disabled, and the editing controls still work.
    ed.FormClose();
    ed.FormShow();
    for (int n : {14, 15, 16}) EXPECT_FALSE(ed.ScrollBar[n].enabled) << n;
    ed.ScrollBar13Change(60);
    EXPECT_TRUE(ed.ScrollBar[5].enabled);
    ed.ScrollBar5Change(-3000);
    EXPECT_EQ(env.Value(B, 0, 60), -3000);

    ed.SetMixRunning(false);
    for (int n : {14, 15, 16}) EXPECT_TRUE(ed.ScrollBar[n].enabled) << n;
    const auto after = ed.revision;
    ed.SetMixRunning(false);
    EXPECT_EQ(ed.revision, after);  // nothing changed, nothing to render
}

}  // namespace

namespace {

// The volume chart's third line: what the two decks sound like together, a tick at a time.
TEST_F(EnvelopeEditorTest, VolumeSumShowsTheDipAndTheBumpOfAFade) {
    // Two full curves add up to +3 dB, above full volume and within the chart.
    EXPECT_EQ(env.CombinedVolume(30), 301);
    ASSERT_EQ(ed.VolumeSum.size(), 61u);
    for (const auto& p : ed.VolumeSum) EXPECT_EQ(p.y, 301) << p.x;
    EXPECT_LT(301, EnvelopeEditor::kVolumeChartMax);

    // The incoming deck is heard only from its starting position.
    const std::uint64_t before = ed.volumeSumRevision;
    ed.ScrollBar16Change(20);
    EXPECT_GT(ed.volumeSumRevision, before);
    EXPECT_EQ(ed.VolumeSum[19].y, 0);
    EXPECT_EQ(ed.VolumeSum[20].y, 301);
    ed.ScrollBar16Change(0);

    // A crossfade straight in the chart's units: each deck near -50 dB in the middle, together
    // -47 dB, the deepest point; full volume at both ends.
    ed.ScrollBar13Change(60);
    ed.ScrollBar1Change(100);
    ed.ScrollBar13Change(0);
    ed.ScrollBar2Change(100);
    ASSERT_NEAR(env.Value(V, 0, 30), -5000, 50);
    ASSERT_NEAR(env.Value(V, 1, 30), -5000, 50);
    EXPECT_EQ(ed.VolumeSum[0].y, 0);
    EXPECT_EQ(ed.VolumeSum[60].y, 0);
    EXPECT_NEAR(ed.VolumeSum[30].y, -4699, 1);
    const auto lowest = std::min_element(ed.VolumeSum.begin(), ed.VolumeSum.end(),
                                         [](const auto& a, const auto& b) { return a.y < b.y; });
    EXPECT_EQ(lowest->x, 30);

    // Nothing heard at all (the outgoing track ends before the incoming one starts) is silence.
    ed.ScrollBar14Change(10);
    ed.ScrollBar16Change(40);
    EXPECT_EQ(ed.VolumeSum[25].y, -10000);
}

}  // namespace

namespace {

using quendo::TrackFacts;

// Each tick hands the deck engine's plan to the rate page, which shows it read-only and is drawn
// again only on a change: both decks at their own rate, and why, while the next mix is a plain
// one; the incoming deck at the outgoing tempo from its bar line once the mix is in step.
TEST(RatePage, FollowsTheDeckEnginesPlanTickByTick) {
    using namespace quendo;
    quendo::testing::FakeAnalysis analysis;
    quendo::testing::FakeWorld w(&analysis);
    Core& c = *w.core;
    EnvelopeEditor& ed = c.envelopeEditor;
    w.deck1.inStep = w.deck2.inStep = true;
    c.buttons.UP = c.buttons.Play = true;
    c.envelope.SetStartingPosition(20);  // the second of the mix's three bars
    int renders = 0;
    w.forms.on.RenderMixEditor = [&] { ++renders; };
    for (const char* name : {"A.mp3", "B.mp3"}) {
        TrackFacts& f = analysis.known["/music/" + std::string(name)];
        f.lastSound = 200;
        f.audible = true;
        f.tags.album = name;  // singles: never joined
        c.playlist.AddToPlaylist(w.AddFile(name, 200));
    }
    analysis.known["/music/A.mp3"].beats = {126, 0.2, 60 / 126.0, 1};
    analysis.Work();
    for (int i = 0; i < 5; ++i) c.Timer1Timer();
    EXPECT_EQ(ed.Label[5], "No mix on the beat: the next track has no steady beat");
    EXPECT_EQ(ed.Series[10], (Points{{20, 100}, {60, 100}}));
    EXPECT_EQ(renders, 1);

    analysis.known["/music/B.mp3"].beats = {122, 0.5, 60 / 122.0, 2};
    w.deck1.position = 190;
    c.Timer1Timer();
    ASSERT_TRUE(c.deck.beatPlan());
    EXPECT_EQ(ed.Label[5], "126.0 BPM \u2192 122.0 BPM, played at 126.0");
    EXPECT_EQ(ed.Series[9], (Points{{0, 100}, {60, 100}}));
    EXPECT_EQ(ed.Series[10], (Points{{20, 103}, {60, 103}}));
    EXPECT_EQ(renders, 2);
    EXPECT_FALSE(ed.ScrollBar[10].enabled);

    c.autoMix.mixOnBeat = false;
    c.FollowBeatPlan();
    EXPECT_FALSE(ed.ratePageShown);
    EXPECT_TRUE(ed.Series[10].empty());
    for (int i = 0; i <= c.envelope.MixLength(); ++i) EXPECT_EQ(c.envelope.Point(i).rate[1], 100) << i;
}

// A mix on phrases draws its phrase lines, its bass swap and each deck's bass over the rates, and
// says itself in words under the tempi.
TEST(RatePage, DrawsThePhrasesAndTheBassSwap) {
    using namespace quendo;
    MixEnvelope envelope;  // 60 ticks, the incoming track from the first
    EnvelopeEditor ed(envelope);
    BeatMixPlan plan;
    plan.outBpm = plan.inBpm = 120;
    plan.start = plan.incomingAt = 100;
    plan.length = 32;
    plan.phraseLines = {100, 116, 132};
    plan.bassSwapAt = 116;
    plan.outgoingBass = {{115.875, 1}, {116, 0}};
    ed.ShowRates(true, plan, "", "Mixed over 16 bars: the end of A under the start of B; bass swapped at bar 9");
    EXPECT_EQ(ed.Label[5], "120.0 BPM \u2192 120.0 BPM, played at 120.0\n"
                           "Mixed over 16 bars: the end of A under the start of B; bass swapped at bar 9");
    using P = EnvelopeEditor::ChartPoint;
    EXPECT_EQ(ed.PhraseLines, (Points{{0, -1000}, {0, 1000}, {0, -1000}, {30, -1000}, {30, 1000}, {30, -1000},
                                      {60, -1000}, {60, 1000}, {60, -1000}}));
    EXPECT_EQ(ed.BassSwapLine, (Points{{30, -1000}, {30, 1000}, {30, -1000}}));
    EXPECT_EQ(ed.BassCourse[0], (Points{P{0, 100}, {30, 100}, {30, 0}, {60, 0}}));
    EXPECT_EQ(ed.BassCourse[1], (Points{P{0, 0}, {30, 0}, {30, 100}, {60, 100}}));
}

TEST(RatePage, NamesWhatKeepsTwoTracksOutOfStep) {
    using quendo::WhyNotOnTheBeat;
    auto at = [](double bpm) { return std::optional(TrackFacts{.beats = {bpm, 0.5, bpm > 0 ? 60 / bpm : 0, 0}}); };
    EXPECT_EQ(WhyNotOnTheBeat(std::nullopt, at(120)), "the tracks' beats are not known yet");
    EXPECT_EQ(WhyNotOnTheBeat(at(0), at(120)), "the playing track has no steady beat");
    EXPECT_EQ(WhyNotOnTheBeat(at(126), at(98)), "their tempi, 126.0 and 98.0 BPM, lie too far apart");
    EXPECT_EQ(WhyNotOnTheBeat(at(126), at(64)), "");  // half time, folded as the plan does
}

}  // namespace

namespace {

using quendo::BeatMixPlan;

TEST(NextChange, IsNamedAsTheDeckEngineWillPlayIt) {
    BeatMixPlan four, one;
    four.bars = 4;
    one.bars = 1;
    struct Row {
        bool nextTrack, join;
        std::optional<BeatMixPlan> plan;
        std::string why, text;
    };
    const Row rows[] = {
        {false, false, four, "", "No next track yet"},
        {true, true, std::nullopt, "", "Join: the music runs across the cut"},
        {true, false, four, "", "Mix on the beat over 4 bars"},
        {true, false, one, "", "Mix on the beat over 1 bar"},
        {true, false, std::nullopt, "the next track has no steady beat", "Plain mix: the next track has no steady beat"},
    };
    for (const Row& r : rows) EXPECT_EQ(quendo::NextChangeText(r.nextTrack, r.join, r.plan, r.why), r.text) << r.text;
}

// The two tracks lie under the envelope as the decks will play them: plain, tick for tick from
// the lead and the starting position; on the beat, over the plan's bars, the incoming track at
// its rate from its bar line.
TEST(NextChange, LaysBothTracksOnTheMixsOwnTime) {
    using quendo::MixTrack;
    MixEnvelope env;
    env.SetStartingPosition(20);
    TrackFacts out, in;
    out.audible = in.audible = true;
    out.lastSound = 200;
    out.decodedSeconds = 203;
    in.beats = {120, 0.5, 0.5, 0};
    BeatMixPlan plan;
    plan.outBpm = 120;
    plan.rate = 0.98;
    plan.start = 190;
    plan.length = 8;  // four bars at 120
    plan.incomingAt = 192;
    plan.incomingFrom = 0.5;
    plan.phraseLines = {190, 198};
    plan.bassSwapAt = 194;
    struct Row {
        std::optional<BeatMixPlan> plan;
        bool join;
        double spi, outAtZero, outTo, inFrom, inAtZero, barIndex, swap;
    };
    const Row rows[] = {
        {std::nullopt, false, 0.1, 194, 60, 20, 1.2 - 2.0, 0, -1},
        {plan, false, 8.0 / 60, 190, 60, 15, 0.5 - 2 * 0.98, 15, 30},
        {std::nullopt, true, 0.1, 194, 30, 30, 1.2 - 3.0, 0, -1},
    };
    for (const Row& r : rows) {
        const EnvelopeEditor::MixView v =
            quendo::LayOutMix(env, MixTrack{"A", out}, MixTrack{"B", in}, r.plan, 194, 1.2, r.join);
        const auto& [o, i] = v.lanes;
        for (const auto& [got, want] : {std::pair{v.secondsPerIndex, r.spi}, {o.fileAtZero, r.outAtZero}, {o.to, r.outTo},
                                        {i.from, r.inFrom}, {i.fileAtZero, r.inAtZero}, {v.barIndex, r.barIndex},
                                        {v.bassSwap, r.swap}})
            EXPECT_NEAR(got, want, 1e-9);
        EXPECT_EQ(o.mark, 200);  // the last sound
        EXPECT_EQ(i.mark, 0.5);  // the first bar
        EXPECT_EQ(o.name + i.name, "AB");
    }
}

// A point taken by the mouse goes through the bars' and buttons' own steps: the anchors carry the
// finishing and starting positions, other keys stay between their neighbours, and while a mix
// runs the positions stay put.
TEST(DragKey, MovesPointsWithinTheEnvelopesRules) {
    struct Row {
        const char* what;
        bool mixing;
        int bar, from, to, value;
        int finish, start;
        Quantity q;
        int curve, keyAt, valueAt;
    };
    const Row rows[] = {
        {"outgoing end", false, 1, 60, 40, -2000, 40, 0, V, 0, 40, -2000},
        {"outgoing end in a mix", true, 1, 60, 40, -2000, 60, 0, V, 0, 60, -2000},
        {"incoming start", false, 6, 0, 10, 3000, 60, 10, B, 1, 10, 3000},
        {"outgoing anchor", false, 5, 0, 25, -700, 60, 0, B, 0, 0, -700},
        {"interior, stopped by its neighbour", false, 2, 20, 50, -3000, 60, 0, V, 1, 39, -3000},
        {"volume beyond silence", false, 2, 20, 5, -20000, 60, 0, V, 1, 5, -10000},
    };
    for (const Row& r : rows) {
        MixEnvelope env;
        EnvelopeEditor ed(env);
        ed.FormShow();
        // Keys of the incoming volume at 20 and 40 for the interior rows.
        for (const int i : {20, 40}) {
            ed.ScrollBar13Change(i);
            ed.SpeedButton2Click();
        }
        ed.SetMixRunning(r.mixing);
        ed.DragKey(r.bar, r.from, r.to, r.value);
        EXPECT_EQ(env.FinishingPosition(), r.finish) << r.what;
        EXPECT_EQ(env.StartingPosition(), r.start) << r.what;
        EXPECT_TRUE(env.IsKey(r.q, r.curve, r.keyAt)) << r.what;
        EXPECT_EQ(env.Value(r.q, r.curve, r.keyAt), r.valueAt) << r.what;
        EXPECT_EQ(ed.editorCursor, r.keyAt) << r.what;
        if (r.from != r.keyAt && r.bar == 2) {
            EXPECT_FALSE(env.IsKey(V, 1, r.from)) << r.what;
        }
    }
}

// The shapes fade the volume curves over the overlap in whole decibels; the defaults come back
// whole, but not during a mix.
TEST(DragKey, ShapesAndTheDefaults) {
    using Shape = EnvelopeEditor::Shape;
    struct Row {
        Shape shape;
        int outMiddle, inMiddle, outAfter, inBefore;  // at 30, and at 31 / 29
    };
    const Row rows[] = {
        {Shape::Linear, -600, -600, -600, -600},
        {Shape::EqualPower, -300, -300, -300, -300},
        {Shape::Cut, 0, -10000, -10000, -10000},
    };
    for (const Row& r : rows) {
        MixEnvelope env;
        EnvelopeEditor ed(env);
        ed.FormShow();
        ed.ScrollBar16Change(10);
        ed.ScrollBar14Change(50);
        ed.ApplyShape(r.shape);
        EXPECT_EQ(env.Value(V, 0, 10), 0);
        EXPECT_EQ(env.Value(V, 0, 50), -10000);
        EXPECT_EQ(env.Value(V, 1, 10), -10000);
        EXPECT_EQ(env.Value(V, 1, 50), 0);
        EXPECT_EQ(env.Value(V, 0, 30), r.outMiddle);
        EXPECT_EQ(env.Value(V, 1, 30), r.inMiddle);
        EXPECT_NEAR(env.Value(V, 0, 31), r.outAfter, 500);
        EXPECT_NEAR(env.Value(V, 1, 29), r.inBefore, 500);
        EXPECT_EQ(env.FinishingPosition(), 50);
        EXPECT_EQ(env.StartingPosition(), 10);
        EXPECT_EQ(ed.Series[1].front(), (EnvelopeEditor::ChartPoint{0, 0}));

        ed.SetMixRunning(true);
        ed.ResetToDefaults();
        EXPECT_EQ(env.FinishingPosition(), 50);
        ed.SetMixRunning(false);
        ed.ResetToDefaults();
        EXPECT_EQ(env.FinishingPosition(), 60);
        EXPECT_EQ(env.Value(B, 0, 30), -1980);
        EXPECT_EQ(ed.Series[1], (Points{{0, 0}, {60, 0}}));
    }
}

// The core keeps the picture current: the next change named, the tracks laid out, and the switch
// followed.
TEST(NextChange, FollowsThePlaylistAndTheSwitch) {
    using namespace quendo;
    quendo::testing::FakeAnalysis analysis;
    quendo::testing::FakeWorld w(&analysis);
    Core& c = *w.core;
    EnvelopeEditor& ed = c.envelopeEditor;
    w.deck1.inStep = w.deck2.inStep = true;
    c.buttons.UP = c.buttons.Play = true;
    ed.FormShow();
    for (const char* name : {"A.mp3", "B.mp3"}) {
        TrackFacts& f = analysis.known["/music/" + std::string(name)];
        f.lastSound = 200;
        f.audible = true;
        f.tags.album = name;
        c.playlist.AddToPlaylist(w.AddFile(name, 200));
    }
    analysis.known["/music/A.mp3"].beats = {126, 0.2, 60 / 126.0, 1};
    analysis.Work();
    for (int i = 0; i < 5; ++i) c.Timer1Timer();
    EXPECT_TRUE(ed.showTracks);
    EXPECT_EQ(ed.mix.nextChange, "Plain mix: the next track has no steady beat");
    EXPECT_EQ(ed.mix.lanes[0].name, "A");
    EXPECT_EQ(ed.mix.lanes[1].name, "B");
    EXPECT_DOUBLE_EQ(ed.mix.lanes[0].fileAtZero, 194);  // the lead of 6 s before the last sound
    EXPECT_TRUE(ed.mix.nextExists);

    analysis.known["/music/B.mp3"].beats = {122, 0.5, 60 / 122.0, 2};
    w.deck1.position = 190;
    c.Timer1Timer();
    EXPECT_EQ(ed.mix.nextChange, "Mix on the beat over 3 bars");
    EXPECT_EQ(ed.mix.why, "126.0 BPM \u2192 122.0 BPM, played at 126.0");
    EXPECT_NEAR(ed.mix.barIndex, 20, 1e-9);

    c.commands.MenuHandlingEnabled = true;
    c.MenuCommand(cmClear);
    EXPECT_EQ(ed.mix.nextChange, "No next track yet");
    EXPECT_FALSE(ed.mix.nextExists);

    c.autoMix.showTracks = false;
    c.FollowBeatPlan();
    EXPECT_FALSE(ed.showTracks);
}

}  // namespace
