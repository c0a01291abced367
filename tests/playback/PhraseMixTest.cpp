// Mixes laid on phrases and their bass swap, planned from the two tracks' forms.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "playback/BeatMix.h"

using namespace quendo;

namespace {

// 64 bars at 120 BPM (two seconds a bar) in phrases of 8, sounding to the last bar line.
TrackFacts Track(int bassIn, int bassOut, int fadeOut = -1) {
    TrackFacts f;
    f.audible = true;
    f.beats = {120, 0.5, 0.5, 0};
    f.form.bars = 64;
    for (int bar = 0; bar < 64; bar += 8) f.form.phrases.push_back(bar);
    f.form.bassIn = bassIn;
    f.form.bassOut = bassOut;
    f.form.fadeOut = fadeOut;
    return f;
}

double Bar(int bar) { return 0.5 + 2.0 * bar; }

// A bar as loud in each band.
TrackForm::BarLevels operator+(TrackForm::BarLevels levels, float db) {
    levels.fill(db);
    return levels;
}

TEST(PhraseMix, SpansTheOutroAndTheIntroAndSwapsTheBassOnALine) {
    const double end = Bar(64) - 0.3;  // the last beat's tail ends short of the last bar line
    struct Case {
        const char* name;
        TrackFacts out, in;
        double earliest;
        int from, bars;           // -1: no mix on phrases
        int swapBar;              // of the mix, from 1; 0: no swap
        const char* words;
        int inFrom = 0;           // the incoming track's bar it starts on
    } cases[] = {
        // The outgoing bass leaves 8 bars before the end, the incoming one comes after 16: the
        // longer of the two, and never two bass lines.
        {"outro and intro", Track(0, 56), Track(16, 64), 0, 48, 16, 0,
         "Mixed over 16 bars: the outro of A under the intro of B"},
        // A radio edit with bass to the end meets one with bass at once: its last phrase, the bass
        // swapped on the bar line in the middle.
        {"bass to the end", Track(0, 64), Track(0, 64), 0, 56, 8, 5,
         "Mixed over 8 bars: the end of A under the start of B; bass swapped at bar 5"},
        // Its bass comes in within the mix, on a bar line but no phrase line: the swap waits for it.
        {"bass within", Track(0, 64), Track(12, 64), 0, 48, 16, 13,
         "Mixed over 16 bars: the end of A under the intro of B; bass swapped at bar 13"},
        // A fade-out's bass fades to the end: it gives way on the first bar line.
        {"fade-out", Track(0, 64, 58), Track(0, 64), 0, 58, 6, 2,
         "Mixed over 6 bars: the fade-out of A under the start of B; bass swapped at bar 2"},
        {"too late", Track(0, 56), Track(16, 64), Bar(57), -1, 0, 0, ""},
        // One long section after bar 16: still counted in phrases of 8 from its end.
        {"long section", Track(0, 64), Track(0, 64), 0, 56, 8, 5,
         "Mixed over 8 bars: the end of A under the start of B; bass swapped at bar 5"},
    };
    cases[5].out.form.phrases = {0, 16};
    // An intro of 4 bars before phrases of 8: started on its second line, its lines fall on the
    // outgoing track's.
    Case shortIntro{"short intro", Track(0, 48), Track(4, 64), 0, 48, 16, 0,
                    "Mixed over 16 bars: the outro of A under the start of B", 4};
    shortIntro.in.form.phrases = {0, 4, 12, 20, 28, 36, 44, 52, 60};
    MixEnvelope envelope;
    // Its breakdown would fall under the outgoing track's outro in 16 bars: 8 hold the level.
    Case breakdown{"breakdown in the way", Track(0, 48), Track(0, 64), 0, 56, 8, 0,
                   "Mixed over 8 bars: the outro of A under the start of B"};
    for (int b = 0; b < 64; ++b) {
        const float full = -20;
        breakdown.out.form.levels.push_back(TrackForm::BarLevels{} + (b < 48 ? full : full - 4));
        breakdown.in.form.levels.push_back(TrackForm::BarLevels{} + (b >= 8 && b < 16 ? full - 30 : full));
    }
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back(shortIntro);
    all.push_back(breakdown);
    for (const Case& c : all) {
        SCOPED_TRACE(c.name);
        std::optional<BeatMixPlan> plan = PlanPhraseMix(c.out, c.in, c.earliest, end, envelope);
        ASSERT_EQ(plan.has_value(), c.from >= 0);
        if (!plan) continue;
        EXPECT_TRUE(plan->onPhrases);
        EXPECT_DOUBLE_EQ(plan->start, Bar(c.from));
        EXPECT_EQ(plan->bars, c.bars);
        EXPECT_DOUBLE_EQ(plan->incomingAt, plan->start);  // the envelope starts the incoming track at once
        EXPECT_DOUBLE_EQ(plan->incomingFrom, Bar(c.inFrom));
        EXPECT_DOUBLE_EQ(plan->phraseLines.front(), plan->start);
        EXPECT_DOUBLE_EQ(plan->phraseLines.back(), plan->start + plan->length);
        PlanBassSwap(*plan, c.out, c.in);
        EXPECT_EQ(plan->bassSwapAt >= 0 ? plan->bassSwapBar : 0, c.swapBar);
        if (c.swapBar > 0) {
            // The two cross within the quarter beat before the line, each in its own file's time.
            const double at = Bar(c.from + c.swapBar - 1);
            EXPECT_DOUBLE_EQ(plan->bassSwapAt, at);
            ASSERT_EQ(plan->outgoingBass.size(), 2u);
            EXPECT_DOUBLE_EQ(plan->outgoingBass[0].fileSeconds, at - 0.125);
            EXPECT_EQ(plan->outgoingBass[1].gain, 0.0);
            EXPECT_DOUBLE_EQ(plan->incomingBass[1].fileSeconds, Bar(c.inFrom) + at - plan->incomingAt);
            EXPECT_EQ(plan->incomingBass[0].gain, 0.0);
        } else {
            EXPECT_TRUE(plan->outgoingBass.empty() && plan->incomingBass.empty());
        }
        EXPECT_EQ(MixInWords(*plan, "A", "B"), c.words);
    }
}

// A track whose form is not known, or has a single phrase, is mixed on bars; its bass is not
// swapped, as nothing tells where it plays.
TEST(PhraseMix, NeedsBothFormsAndSwapsOnlyWhatItKnows) {
    TrackFacts unknown = Track(0, 64), single = Track(0, 64);
    unknown.form = {};
    single.form.phrases = {0};
    MixEnvelope envelope;
    for (const TrackFacts* in : {&unknown, &single}) {
        EXPECT_FALSE(PlanPhraseMix(Track(0, 64), *in, 0, Bar(64), envelope));
        std::optional<BeatMixPlan> plan = PlanBeatMix(Track(0, 64), *in, 0, Bar(60), Bar(64), envelope);
        ASSERT_TRUE(plan);
        PlanBassSwap(*plan, Track(0, 64), *in);
        EXPECT_EQ(plan->bassSwapAt < 0, in == &unknown);
    }
}

}  // namespace
