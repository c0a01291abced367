#include <gtest/gtest.h>

#include "model/NodeTable.h"

using quendo::NodeTable;

namespace {

// Linear first-match pass, the reference the index must agree with.
std::int32_t FirstMatch(const NodeTable& t, const std::string& path) {
    for (std::int32_t j = 0; j < t.FileCount(); ++j)
        if (t.FullPath(j) == path) return j;
    return -1;
}

TEST(NodeTable, PathsAtTheTopAndFiveLevelsDeep) {
    NodeTable t;
    t.MusicFolder = "/home/dj/Music/";
    const auto top = t.AddFileNode(0, "top.mp3");
    std::int32_t parent = 0;
    for (const char* name : {"a", "b", "c", "d", "e"}) parent = t.AddFolderNode(parent, name);
    const auto deep = t.AddFileNode(parent, "deep.wav");

    EXPECT_EQ(t.RelativePath(top), "top.mp3");
    EXPECT_EQ(t.FullPath(top), "/home/dj/Music/top.mp3");
    EXPECT_EQ(t.RelativePath(deep), "a/b/c/d/e/deep.wav");
    EXPECT_EQ(t.FullPath(deep), "/home/dj/Music/a/b/c/d/e/deep.wav");
    EXPECT_EQ(t.FolderCount(), 5);
    EXPECT_EQ(t.FileCount(), 2);
    EXPECT_EQ(t.FindByFullPath("/home/dj/Music/a/b/c/d/e/deep.wav"), deep);
    EXPECT_EQ(t.FindByFullPath("/home/dj/Music/top.mp3"), top);
}

TEST(NodeTable, RootAsMusicFolderGetsNoDoubleSeparator) {
    NodeTable t;
    t.MusicFolder = "/";
    const auto x = t.AddFolderNode(0, "x");
    const auto a = t.AddFileNode(x, "a.mp3");
    EXPECT_EQ(t.FullPath(a), "/x/a.mp3");
    EXPECT_EQ(t.FindByFullPath("/x/a.mp3"), a);
}

TEST(NodeTable, LookupAgreesWithFirstMatchPass) {
    NodeTable t;
    t.MusicFolder = "/m/";
    const auto d1 = t.AddFolderNode(0, "Dance");
    const auto d2 = t.AddFolderNode(d1, "Live");
    t.AddFileNode(d2, "x.mp3");
    t.AddFileNode(0, "x.mp3");
    // Two nodes with one full path (not from a scan, but the table allows it): the first wins.
    const auto dup = t.AddFolderNode(0, "Dance");
    const auto first = t.AddFileNode(d1, "Song.MP3");
    t.AddFileNode(dup, "Song.MP3");
    EXPECT_EQ(t.FindByFullPath("/m/Dance/Song.MP3"), first);

    for (const std::string p : {"/m/Dance/Live/x.mp3", "/m/x.mp3", "/m/dance/song.mp3", "", "/m/",
                                "/m/Dance", "/other/x.mp3", "/m/Dance/Song.MP3", "/m/Dance/Live/x.mp3\r"})
        EXPECT_EQ(t.FindByFullPath(p), FirstMatch(t, p)) << p;
}

TEST(NodeTable, IndexFollowsLaterAdditionsAndMusicFolderChanges) {
    NodeTable t;
    t.MusicFolder = "/m/";
    t.AddFileNode(0, "a.mp3");
    EXPECT_EQ(t.FindByFullPath("/m/b.mp3"), -1);
    const auto b = t.AddFileNode(0, "b.mp3");
    EXPECT_EQ(t.FindByFullPath("/m/b.mp3"), b);
    t.MusicFolder = "/n/";
    EXPECT_EQ(t.FindByFullPath("/n/b.mp3"), b);
    EXPECT_EQ(t.FindByFullPath("/m/b.mp3"), -1);
}

TEST(NodeTable, ChildrenInIndexOrder) {
    NodeTable t;
    const auto a = t.AddFolderNode(0, "A");
    const auto f0 = t.AddFileNode(0, "f0.mp3");
    const auto a1 = t.AddFolderNode(a, "A1");
    const auto f1 = t.AddFileNode(a, "f1.mp3");
    const auto b = t.AddFolderNode(0, "B");
    const auto f2 = t.AddFileNode(a, "f2.mp3");
    EXPECT_EQ(t.ChildFolders(0), (std::vector<std::int32_t>{a, b}));
    EXPECT_EQ(t.ChildFolders(a), (std::vector<std::int32_t>{a1}));
    EXPECT_EQ(t.ChildFiles(0), (std::vector<std::int32_t>{f0}));
    EXPECT_EQ(t.ChildFiles(a), (std::vector<std::int32_t>{f1, f2}));
    EXPECT_TRUE(t.ChildFiles(b).empty());
}

TEST(NodeTable, RefusesBeyondCapacityWithoutWriting) {
    NodeTable t;
    t.MusicFolder = "/m/";
    for (std::int32_t i = 1; i < NodeTable::kFolderSlots; ++i) ASSERT_EQ(t.AddFolderNode(0, "f"), i);
    EXPECT_EQ(t.AddFolderNode(0, "over"), NodeTable::kRefused);
    EXPECT_EQ(t.FolderCount(), NodeTable::kFolderSlots - 1);

    for (std::int32_t j = 0; j < NodeTable::kFileSlots; ++j) ASSERT_EQ(t.AddFileNode(1, "x.mp3"), j);
    EXPECT_EQ(t.AddFileNode(1, "over.mp3"), NodeTable::kRefused);
    EXPECT_EQ(t.FileCount(), NodeTable::kFileSlots);
    EXPECT_EQ(t.FullPath(NodeTable::kFileSlots - 1), "/m/f/x.mp3");
    EXPECT_EQ(t.FullPath(NodeTable::kFileSlots), "");
    EXPECT_EQ(t.RelativePath(-1), "");
}

TEST(NodeTable, UnmeasuredFilesStartAtZero) {
    NodeTable t;
    const auto j = t.AddFileNode(0, "a.mp3");
    EXPECT_EQ(t.File(j).durationSeconds, 0);
    EXPECT_EQ(t.File(j).drawn, 0);
    t.Clear();
    EXPECT_EQ(t.FileCount(), 0);
    EXPECT_EQ(t.FindByFullPath("a.mp3"), -1);
}

}  // namespace
