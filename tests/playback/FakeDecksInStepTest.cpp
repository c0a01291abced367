// The fake decks play in step as the engine's do, so that the deck engine's tests can lean on
// them: a cued deck starts where the other reaches the point, the overshoot carried, whichever
// deck the test advances first, and a deck moves through its file at its plan's rate.
#include <gtest/gtest.h>

#include "support/Fakes.h"

using namespace quendo;
using quendo::testing::FakeWorld;

namespace {

TEST(FakeDecksInStep, ACuedDeckStartsWhereTheOtherReachesThePointAndMovesAtItsRate) {
    constexpr double kEnd = MediaPlayer::kAtOtherEnd;
    // Deck 1 plays from 2.5 s of its 10 s file, deck 2 waits at 5 s; both are advanced 7.8 s.
    struct Case {
        double at;
        bool deck1First;
        double rate, after;
        const char* call;
    } cases[] = {{6.05, true, 1.0, 9.25, "PlayAfterOther 6.05 faded"},
                 {6.05, false, 1.0, 9.25, "PlayAfterOther 6.05 faded"},
                 {6.05, false, 1.1, 5 + 4.25 * 1.1, "PlayAfterOther 6.05 faded"},
                 {kEnd, true, 1.0, 5.3, "PlayAfterOther end seamless"},
                 {kEnd, false, 1.0, 5.3, "PlayAfterOther end seamless"},
                 {2.0, true, 1.0, 12.8, "PlayAfterOther 2 faded"}};  // passed already: at once
    for (const Case& c : cases) {
        FakeWorld w;
        w.deck1.inStep = w.deck2.inStep = true;
        w.deck1.defaultDuration = 10;
        w.deck2.defaultDuration = 20;
        w.deck1.SetFileName("/music/out.mp3");
        w.deck1.SetCurrentPosition(2.5);
        w.deck1.Play();
        w.deck2.SetFileName("/music/in.mp3");
        w.deck2.SetCurrentPosition(5.0);
        if (c.rate != 1.0) w.deck2.SetRatePlan({{0, c.rate}});
        w.deck2.PlayAfterOther(c.at, c.at == kEnd);
        EXPECT_EQ(w.deck2.PlayState(), psPlaying);
        EXPECT_EQ(w.deck2.calls.back(), c.call);
        for (int n = 0; n < 78; ++n) {
            if (c.deck1First) w.deck1.Advance(0.1);
            w.deck2.Advance(0.1);
            if (!c.deck1First) w.deck1.Advance(0.1);
        }
        EXPECT_NEAR(w.deck2.CurrentPosition(), c.after, 1e-6) << c.call << " " << c.deck1First << " " << c.rate;
    }
}

}  // namespace
