#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "library/AutoMixSettings.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

bool Same(const AutoMixOptions& a, const AutoMixOptions& b) {
    return a.mixAtLastSound == b.mixAtLastSound && a.skipSilenceAtStart == b.skipSilenceAtStart &&
           a.matchLoudness == b.matchLoudness && a.targetLufs == b.targetLufs && a.outputDevice == b.outputDevice &&
           a.playlistFollowsPlay == b.playlistFollowsPlay && a.oneInstance == b.oneInstance &&
           a.stayAwake == b.stayAwake && a.mixOnPhrases == b.mixOnPhrases && a.swapBass == b.swapBass;
}

// The program saves the settings beside "qnd.cfg", which keeps its lines, and reads them back.
TEST(AutoMixSettings, KeptBesideTheConfigurationAndReadBack) {
    TempDir dir;
    FakeWorld w;
    w.FirstRunIn(dir.path());
    w.core->autoMix = {false, true, false, -23.5, "USB Audio = Line Out", false, true, false};
    ASSERT_TRUE(w.core->SaveConfiguration());
    EXPECT_EQ(dir.ReadFile("automix.cfg"), "mixAtLastSound=0\nskipSilenceAtStart=1\nmatchLoudness=0\ntargetLufs=-23.5\n"
                                           "outputDevice=USB Audio = Line Out\nplaylistFollowsPlay=0\noneInstance=1\nstayAwake=0\n"
                                           "mixOnBeat=1\nshowArtistAndTitle=1\nkeepArtistsApart=1\njoinContinuousAlbums=1\nchooseByKeyAndTempo=0\n");
    const std::string cfg = dir.ReadFile("qnd.cfg");
    EXPECT_EQ(std::count(cfg.begin(), cfg.end(), '\n'), 178);

    FakeWorld again;
    again.core->nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(again.core->LoadConfiguration());
    EXPECT_TRUE(Same(again.core->autoMix, w.core->autoMix));
    EXPECT_TRUE(w.dialogs.shown.empty());

    // No file yet (a configuration from before these settings): the defaults, all on.
    ASSERT_EQ(std::remove((dir / "automix.cfg").c_str()), 0);
    ASSERT_TRUE(again.core->LoadConfiguration());
    EXPECT_TRUE(Same(again.core->autoMix, AutoMixOptions{}));
}

// A first run (also the restart after "To change...", which leaves the file) takes the settings
// the file holds, and its save keeps them, with the lines of keys it does not know.
TEST(AutoMixSettings, AFirstRunKeepsTheFileAndASaveKeepsUnknownKeys) {
    TempDir program, music;
    music.WriteFile("Rock/a.mp3", "");
    const std::string mine = "mixAtLastSound=0\nskipSilenceAtStart=1\nmatchLoudness=1\ntargetLufs=-20\n"
                             "outputDevice=USB Interface\nplaylistFollowsPlay=0\noneInstance=1\nstayAwake=0\n"
                             "mixOnBeat=1\nshowArtistAndTitle=1\nkeepArtistsApart=1\njoinContinuousAlbums=1\nchooseByKeyAndTempo=0\n";
    program.WriteFile("automix.cfg", "crossfadeCurve=s\r\n" + mine + "# a note\n\x01" "bad=1\nbeats.sync = 1\n");
    FakeWorld w;
    w.core->files.settingsFolder = program.path();
    w.forms.on.ShowBrowseModal = [&]() -> std::optional<std::string> { return music.path(); };
    w.core->FormCreate();
    w.core->startup.RunStartupSequence();
    ASSERT_TRUE(w.core->startup.FirstRun);
    EXPECT_EQ(w.core->autoMix.outputDevice, "USB Interface");
    EXPECT_EQ(w.core->autoMix.targetLufs, -20.0);
    EXPECT_FALSE(w.core->autoMix.playlistFollowsPlay);
    EXPECT_EQ(program.ReadFile("automix.cfg"), mine + "crossfadeCurve=s\nbeats.sync = 1\n");
}

// Switches added since the file's first layout are written only when turned off, so that a file
// of defaults keeps that layout and a copy from before reads it as it always did.
TEST(AutoMixSettings, LaterSwitchesAreWrittenOnlyWhenOff) {
    const std::string defaults = FormatAutoMixSettings(AutoMixOptions{});
    EXPECT_EQ(defaults.find("mixOnPhrases"), std::string::npos);
    for (const auto& [phrases, bass] : {std::pair{false, true}, {true, false}, {false, false}}) {
        AutoMixOptions o;
        o.mixOnPhrases = phrases;
        o.swapBass = bass;
        const std::string text = FormatAutoMixSettings(o);
        EXPECT_EQ(text.compare(0, defaults.size(), defaults), 0) << text;
        EXPECT_TRUE(Same(ParseAutoMixSettings(text), o)) << text;
    }
}

TEST(AutoMixSettings, TheMixEditorsTracksAreTurnedOffByOneLine) {
    AutoMixOptions o;
    o.showTracks = false;
    EXPECT_EQ(FormatAutoMixSettings(o), FormatAutoMixSettings(AutoMixOptions{}) + "showTracks=0\n");
    EXPECT_FALSE(ParseAutoMixSettings(FormatAutoMixSettings(o)).showTracks);
    EXPECT_TRUE(ParseAutoMixSettings("showTracks=1").showTracks);
}

TEST(AutoMixSettings, UnknownKeysBadValuesAndDamagedLinesLeaveDefaults) {
    const AutoMixOptions defaults;
    EXPECT_TRUE(Same(ParseAutoMixSettings(""), defaults));
    EXPECT_TRUE(Same(ParseAutoMixSettings(std::string("\0\xff\xfe==\n=\n===1", 11)), defaults));
    for (const char* text : {"mixAtLastSound=yes", "mixAtLastSound=", "mixAtLastSound=01", "MixAtLastSound=0",
                             "targetLufs=abc", "targetLufs=-16dB", "targetLufs=nan", "targetLufs=-inf",
                             "targetLufs=1e308", "targetLufs=-300", "targetLufs=0", "loudness=-20", "matchLoudness",
                             "outputDevice=Line\x1bOut"})
        EXPECT_TRUE(Same(ParseAutoMixSettings(text), defaults)) << text;

    // Good lines among bad ones are read; blanks around keys and values and any line ends are taken.
    const AutoMixOptions o = ParseAutoMixSettings(
        "# written by hand\r\n  matchLoudness = 0 \rskipSilenceAtStart=false\n\nbogus=1\ntargetLufs=-20.25\r\n"
        "mixAtLastSound=maybe\noutputDevice= hw:1,0 ");
    EXPECT_TRUE(Same(o, AutoMixOptions{true, false, false, -20.25, "hw:1,0"}));
    // What is written is read back as it was.
    EXPECT_TRUE(Same(ParseAutoMixSettings(FormatAutoMixSettings(o)), o));
}

// The pre-listen output is kept only once chosen, and a name the file cannot hold is not kept.
TEST(AutoMixSettings, PreListenOutputWrittenOnlyWhenChosen) {
    AutoMixOptions o;
    EXPECT_EQ(FormatAutoMixSettings(o).find("preListenDevice"), std::string::npos);
    for (const auto& [chosen, kept] : {std::pair{"Headphones = USB", "Headphones = USB"}, std::pair{"Bad\x1bName", ""}}) {
        o.preListenDevice = chosen;
        EXPECT_EQ(ParseAutoMixSettings(FormatAutoMixSettings(o)).preListenDevice, kept) << chosen;
    }
}

}  // namespace
