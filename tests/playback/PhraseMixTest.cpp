// Mixes laid on phrases and their bass swap, planned from the two tracks' forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "playback/BeatMix.h"

using namespace quendo;

namespace {

const std::vector<int> kEights{0, 8, 16, 24, 32, 40, 48, 56};

// 64 bars at 120 BPM (two seconds a bar), sounding to the last bar line; `quiet` bars lie 30 dB
// under the others where levels are given.
TrackFacts Track(int bassIn, int bassOut, int fadeOut = -1, std::vector<int> phrases = kEights,
                 std::vector<std::pair<int, int>> quiet = {}) {
    TrackFacts f;
    f.audible = true;
    f.beats = {120, 0.5, 0.5, 0};
    f.form = {64, std::move(phrases), bassIn, bassOut, fadeOut, {}};
    for (int b = 0; b < 64 && !quiet.empty(); ++b) {
        f.form.levels.emplace_back();
        f.form.levels.back().fill(b >= quiet[0].first && b < quiet[0].second ? -50.f : -20.f);
    }
    return f;
}

double Bar(int bar) { return 0.5 + 2.0 * bar; }

TEST(PhraseMix, SpansTheOutroAndTheIntroAndSwapsTheBassOnALine) {
    const double end = Bar(64) - 0.3;  // the last beat's tail ends short of the last bar line
    const std::vector<int> fourThenEights{0, 4, 12, 20, 28, 36, 44, 52, 60};
    struct Case {
        const char* name;
        TrackFacts out, in;
        double earliest;
        int from, bars;  // -1: no mix on phrases
        int swapBar;     // of the mix, from 1; 0: no swap
        const char* words;
        int inFrom = 0;  // the incoming track's bar it starts on
    } cases[] = {
        // The outgoing bass leaves 8 bars before the end, the incoming one comes after 16: the
        // longer of the two, and never two bass lines.
        {"outro and intro", Track(0, 56), Track(16, 64), 0, 48, 16, 0,
         "Mixed over 16 bars: the outro of A under the intro of B"},
        // A radio edit with bass to the end meets one with bass at once: the envelope's length in
        // phrases, the bass swapped on the bar line in the middle.
        {"bass to the end", Track(0, 64), Track(0, 64), 0, 56, 8, 5,
         "Mixed over 8 bars: the end of A under the start of B; bass swapped at bar 5"},
        // Its bass comes in within the mix, on a bar line but no phrase line: the swap waits for it.
        {"bass within", Track(0, 64), Track(12, 64), 0, 48, 16, 13,
         "Mixed over 16 bars: the end of A under the intro of B; bass swapped at bar 13"},
        // A fade-out's bass fades to the end: it gives way on the first bar line.
        {"fade-out", Track(0, 64, 58), Track(0, 64), 0, 58, 6, 2,
         "Mixed over 6 bars: the fade-out of A under the start of B; bass swapped at bar 2"},
        {"too late", Track(0, 56), Track(16, 64), Bar(57), -1, 0, 0, ""},
        // One long section after bar 16: still counted in phrases of 8.
        {"long section", Track(0, 64, -1, {0, 16}), Track(0, 64), 0, 56, 8, 5,
         "Mixed over 8 bars: the end of A under the start of B; bass swapped at bar 5"},
        // An intro of 4 bars before phrases of 8: started on its second line, its lines fall on
        // the outgoing track's.
        {"short intro", Track(0, 48), Track(4, 64, -1, fourThenEights), 0, 48, 16, 0,
         "Mixed over 16 bars: the outro of A under the start of B", 4},
        // In 16 bars its breakdown would fall under the outgoing track's outro: 8 hold the level.
        {"breakdown in the way", Track(0, 48, -1, kEights, {{48, 64}}), Track(0, 64, -1, kEights, {{8, 16}}), 0,
         56, 8, 0, "Mixed over 8 bars: the outro of A under the start of B"},
        // A form not known, or a single phrase: the mix goes on bars.
        {"no form", Track(0, 64), Track(-1, -1, -1, {}), 0, -1, 0, 0, ""},
        {"one phrase", Track(0, 64), Track(0, 64, -1, {0}), 0, -1, 0, 0, ""},
    };
    cases[8].in.form.bars = 0;
    MixEnvelope envelope;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<BeatMixPlan> plan = PlanPhraseMix(c.out, c.in, c.earliest, end, envelope);
        ASSERT_EQ(plan.has_value(), c.from >= 0);
        if (!plan) continue;
        EXPECT_DOUBLE_EQ(plan->start, Bar(c.from));
        EXPECT_EQ(plan->bars, c.bars);
        EXPECT_DOUBLE_EQ(plan->incomingAt, plan->start);  // the envelope starts the incoming track at once
        EXPECT_DOUBLE_EQ(plan->incomingFrom, Bar(c.inFrom));
        EXPECT_DOUBLE_EQ(plan->phraseLines.back(), plan->start + plan->length);
        PlanBassSwap(*plan, c.out, c.in);
        EXPECT_EQ(plan->bassSwapAt >= 0 ? plan->bassSwapBar : 0, c.swapBar);
        if (c.swapBar > 0) {
            // The two cross within the quarter beat before the line, each in its own file's time.
            const double at = Bar(c.from + c.swapBar - 1);
            ASSERT_EQ(plan->outgoingBass.size(), 2u);
            EXPECT_EQ(plan->outgoingBass[0].fileSeconds, at - 0.125);
            EXPECT_EQ(plan->outgoingBass[1].fileSeconds, at);
            EXPECT_DOUBLE_EQ(plan->incomingBass[1].fileSeconds, Bar(c.inFrom) + at - plan->incomingAt);
            EXPECT_EQ(plan->outgoingBass[1].gain + plan->incomingBass[0].gain, 0.0);
        }
        EXPECT_EQ(MixInWords(*plan, "A", "B"), c.words);
    }
}

}  // namespace
