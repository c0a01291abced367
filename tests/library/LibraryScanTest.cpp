#include <gtest/gtest.h>

#include <unistd.h>

#include <set>

#include "library/LibraryScan.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

std::set<std::string> AllPaths(const NodeTable& t) {
    std::set<std::string> paths;
    for (std::int32_t j = 0; j < t.FileCount(); ++j) paths.insert(t.RelativePath(j));
    return paths;
}

TEST(LibraryScan, MusicFilesByExtensionDotFoldersSkipped) {
    TempDir d;
    d.WriteFile("SONG.MP3", "");
    d.WriteFile("Track.Wav", "");
    d.WriteFile(".hidden.wma", "");
    d.WriteFile("list.m3u", "");
    d.WriteFile("a.ogg", "");
    d.WriteFile("noext", "");
    d.WriteFile("x.mp3/inside.mp3", "");  // a folder named x.mp3 is a folder
    d.WriteFile(".git/secret.mp3", "");
    d.WriteFile("A/A1/deep.wma", "");

    NodeTable t;
    t.MusicFolder = d.path() + "/";
    ASSERT_TRUE(ScanLibrary(d.path(), t));
    EXPECT_EQ(AllPaths(t), (std::set<std::string>{"SONG.MP3", "Track.Wav", ".hidden.wma", "x.mp3/inside.mp3",
                                                  "A/A1/deep.wma"}));
    EXPECT_EQ(t.FolderCount(), 3);
    for (std::int32_t f = 1; f <= t.FolderCount(); ++f) EXPECT_LT(t.Folder(f).parentFolder, f);

    const LibraryCount n = CountLibrary(d.path());
    EXPECT_EQ(n.folders, t.FolderCount());
    EXPECT_EQ(n.files, t.FileCount());
}

TEST(LibraryScan, SymbolicLinkLoopWalksEachFolderOnce) {
    TempDir d;
    d.WriteFile("A/a.mp3", "");
    d.WriteFile("B/b.mp3", "");
    ASSERT_EQ(::symlink((d.path() + "/A").c_str(), (d.path() + "/A/loop").c_str()), 0);
    ASSERT_EQ(::symlink((d.path() + "/B").c_str(), (d.path() + "/linkB").c_str()), 0);
    NodeTable t;
    ASSERT_TRUE(ScanLibrary(d.path(), t));
    EXPECT_EQ(t.FileCount(), 2);
    EXPECT_LE(t.FolderCount(), 3);
}

}  // namespace
