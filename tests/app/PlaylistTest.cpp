#include <gtest/gtest.h>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

TEST(TimeText, StepsForPositiveAndNegativeNumbers) {
    EXPECT_EQ(TimeText(0), "0:00");
    EXPECT_EQ(TimeText(9), "0:09");
    EXPECT_EQ(TimeText(75), "1:15");
    EXPECT_EQ(TimeText(3599), "59:59");
    EXPECT_EQ(TimeText(3600), "1:00:00");
    EXPECT_EQ(TimeText(3661), "1:01:01");
    EXPECT_EQ(TimeText(36000), "10:00:00");
    EXPECT_EQ(TimeText(-5), "0:0-5");
}

class PlaylistTest : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    std::int32_t a = w.AddFile("Dance/a.mp3", 60.9);
    std::int32_t b = w.AddFile("Dance/b.mp3", 120);
    std::int32_t x = w.AddFile("Live/x.wav", 30);
    std::int32_t broken = w.AddFile("broken.mp3", 0.7);  // under a second: measures 0
};

TEST_F(PlaylistTest, AppendsWithTwoBlanksAndRefreshesTheTotal) {
    c.playlist.AddToPlaylist(a);
    c.playlist.AddToPlaylist(a);
    EXPECT_EQ(c.playlist.ListBox1(), (std::vector<std::string>{"1:00  a.mp3", "1:00  a.mp3"}));
    EXPECT_EQ(c.playlist.ListBox2(), (std::vector<std::int32_t>{a, a}));
    EXPECT_EQ(c.nodes.File(a).durationSeconds, 60);
    EXPECT_EQ(c.display.StaticText1, "2:00");
}

TEST_F(PlaylistTest, DeclinesFilesThatMeasureZero) {
    c.playlist.AddToPlaylist(broken);
    c.playlist.AddToPlaylist(9999);
    c.playlist.AddToPlaylist(-1);
    EXPECT_TRUE(c.playlist.Empty());
    EXPECT_EQ(c.display.StaticText1, ":");
}

TEST_F(PlaylistTest, InsertsAtFirstSelectionWithStaleTotalUntilNextRefresh) {
    for (int i = 0; i < 6; ++i) c.playlist.AddToPlaylist(b);
    c.playlist.SetSelected(3, true);
    c.playlist.SetSelected(5, true);
    const std::string before = c.display.StaticText1;
    c.playlist.AddToPlaylist(x);
    EXPECT_EQ(c.playlist.ListBox1()[3], "0:30= x.wav");
    EXPECT_EQ(c.playlist.ListBox2()[3], x);
    EXPECT_EQ(c.playlist.Count(), 7);
    EXPECT_EQ(c.display.StaticText1, before);  // an insertion does not refresh the total
    // The selection moves with its entries.
    EXPECT_EQ(c.playlist.FirstSelected(), 4);

    c.playlist.DeleteSelectedEntries();
    EXPECT_EQ(c.playlist.Count(), 5);
    EXPECT_EQ(c.display.StaticText1, TimeText(4 * 120 + 30));
}

TEST_F(PlaylistTest, DuringAMixTheHeadStaysAndInsertionsReverse) {
    c.playlist.AddToPlaylist(b);
    c.playlist.AddToPlaylist(b);
    c.playlist.AddToPlaylist(b);
    w.StartMix();  // the first entry plays out, the second is the head being mixed in
    ASSERT_TRUE(c.deck.isMixing());
    c.playlist.SetSelected(0, 1);
    c.playlist.AddToPlaylist(a);
    c.playlist.AddToPlaylist(x);
    EXPECT_EQ(c.playlist.ListBox2(), (std::vector<std::int32_t>{b, x, a, b}));
}

TEST_F(PlaylistTest, StartsOnlyWhenEmptyAndNothingTakenOff) {
    c.buttons.UP = true;
    c.playlist.SetTakenOff(a);  // the last track still plays
    c.playlist.AddToPlaylist(b);
    EXPECT_TRUE(w.deck1.calls.empty());
    c.playlist.ClearPlaylist();
    EXPECT_EQ(c.display.StaticText1, TimeText(120));  // Clear alone does not refresh
    c.playlist.ShowPlaylistTotal();
    EXPECT_EQ(c.display.StaticText1, "0:00");
}

class PlaylistFileTest : public PlaylistTest {
protected:
    TempDir dir;
    void SetUp() override { c.nodes.ProgramFolder = dir.path(); }
};

TEST_F(PlaylistFileTest, SavesPlayingTrackFirstWithCrLf) {
    c.playlist.AddToPlaylist(a);
    c.playlist.AddToPlaylist(x);
    c.playlist.SetTakenOff(b);
    ASSERT_TRUE(c.playlist.SavePlaylist());
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "/music/Dance/b.mp3\r\n/music/Dance/a.mp3\r\n/music/Live/x.wav\r\n");

    c.playlist.ClearPlaylist();
    c.playlist.SetTakenOff(-1);
    ASSERT_TRUE(c.playlist.SavePlaylist());
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "");
}

TEST_F(PlaylistFileTest, RestoreTakesAnyLineEndAndDropsWhatIsNotInTheLibrary) {
    dir.WriteFile("qnd.m3u", std::string("/music/Dance/a.mp3\r\n\r\n/music/dance/b.mp3\r") +
                                 "/music/Live/x.wav\n/music/broken.mp3\r\n/elsewhere/a.mp3\n" +
                                 "/music/Dance/b.mp3");
    c.playlist.RestorePlaylist();
    EXPECT_EQ(c.playlist.ListBox2(), (std::vector<std::int32_t>{a, x, b}));
    EXPECT_EQ(c.playlist.ListBox1()[1], "0:30  x.wav");
    EXPECT_TRUE(w.deck1.calls.empty());  // a restore never starts playback
}

TEST_F(PlaylistFileTest, HostileFilesNeverAddOutsiders) {
    std::string junk;
    for (int i = 0; i < 200000; ++i) junk += static_cast<char>((i * 7919) % 256);
    junk += std::string(100000, 'x') + "\n";
    junk += std::string("/music/Dance/a.mp3\0trail", 24) + "\n";
    junk += "/music/Dance/a.mp3\n";
    dir.WriteFile("qnd.m3u", junk);
    c.playlist.RestorePlaylist();
    EXPECT_EQ(c.playlist.ListBox2(), (std::vector<std::int32_t>{a}));
}

TEST_F(PlaylistFileTest, MissingFileGivesEmptyPlaylistAndFailedWriteKeepsOldFile) {
    c.playlist.RestorePlaylist();
    EXPECT_TRUE(c.playlist.Empty());

    dir.WriteFile("qnd.m3u", "/music/Dance/a.mp3\r\n");
    c.nodes.ProgramFolder = dir / "missing-folder";
    c.playlist.AddToPlaylist(x);
    EXPECT_FALSE(c.playlist.SavePlaylist());
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "/music/Dance/a.mp3\r\n");
}

}  // namespace
