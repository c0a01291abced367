// The library goes to the analysis' background pass while the cocktail's switches read facts, and
// the pass is held while the decks need the disk.
#include <gtest/gtest.h>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

struct BackgroundPass : ::testing::Test {
    FakeAnalysis analysis;
    FakeWorld w{&analysis};
    Core& c = *w.core;
    BackgroundPass() {
        for (const char* name : {"A/a1.mp3", "A/a2.mp3", "B/b1.mp3", "C/c1.mp3", "C/c2.mp3", "C/c3.mp3"}) w.AddFile(name, 200);
        c.buttons.UP = c.buttons.Play = true;
    }
    void Tick(int n = 1) {
        for (; n > 0; --n) w.deck1.Advance(0.1), w.deck2.Advance(0.1), analysis.Work(), c.Timer1Timer();
    }
};

TEST_F(BackgroundPass, TheLibraryGoesToTheAnalysisWhileASwitchReadsFacts) {
    c.autoMix.keepArtistsApart = c.autoMix.chooseByKeyAndTempo = false;
    c.cocktails.Table()[0].ingredients = {Ingredient{0, 3, 1}, Ingredient{0, 2, 0}, Ingredient{0, 1, 2}};
    c.cocktails.Table()[1].ingredients[0] = {0, 2, 1};
    c.FormShow();
    EXPECT_TRUE(analysis.background.empty());

    // The cocktail's folders with parts first, in turn, then the rest.
    c.autoMix.chooseByKeyAndTempo = true;
    c.FollowPlayState();
    EXPECT_EQ(analysis.background, (std::vector<std::string>{"/music/C/c1.mp3", "/music/A/a1.mp3", "/music/C/c2.mp3",
                                                             "/music/A/a2.mp3", "/music/C/c3.mp3", "/music/B/b1.mp3"}));
    const int lists = analysis.backgroundLists;
    c.FollowPlayState();
    EXPECT_EQ(analysis.backgroundLists, lists);
    c.ComboBox1Change(1);
    EXPECT_EQ(analysis.background.front(), "/music/B/b1.mp3");
    EXPECT_EQ(analysis.background.size(), 6u);
}

TEST_F(BackgroundPass, HeldWhileADeckLoadsAMixRunsOrIsNear) {
    c.FormShow();
    analysis.known["/music/A/a1.mp3"] = analysis.known["/music/A/a2.mp3"] = TrackFacts{.lastSound = 190, .audible = true};
    c.playlist.AddToPlaylist(0);
    c.playlist.AddToPlaylist(1);
    c.FollowPlayState();
    EXPECT_TRUE(c.deck.StartHeld() && analysis.held);  // waits for its facts
    Tick();
    EXPECT_TRUE(!c.deck.StartHeld() && analysis.held);  // plays; its deck fills
    Tick(30);
    EXPECT_FALSE(analysis.held);

    const int mixAt = c.display.CGauge1Max;
    for (int before : {21, 19}) {
        w.deck1.position = mixAt - before;
        Tick();
        EXPECT_EQ(analysis.held, before < 20) << before;
    }
    c.buttons.Play = false;
    c.PlayClick();
    EXPECT_FALSE(analysis.held);  // paused: no mix comes
    c.buttons.Play = true;
    c.PlayClick();
    for (int n = 0; n < 400 && !c.deck.isMixing(); ++n) Tick();
    for (int n = 0; n < 400 && c.deck.isMixing(); ++n, Tick()) EXPECT_TRUE(analysis.held);
    Tick(30);
    EXPECT_FALSE(analysis.held);
    EXPECT_EQ(c.deck.currentPath(), "/music/A/a2.mp3");

    // Both switches off: no pass, and nothing held, which would keep the found facts unsaved.
    c.autoMix.keepArtistsApart = false;
    w.deck2.position = c.display.CGauge1Max - 5;
    Tick();
    EXPECT_FALSE(analysis.held);
    EXPECT_TRUE(analysis.background.empty());
}

}  // namespace
