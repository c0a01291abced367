// The walk over an in-memory tree, where the listing order and the failures are ours to choose.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <set>

#include "library/LibraryScan.h"
#include "library/LibraryWalk.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::walk;

namespace {

struct FakeEntry {
    std::string name;
    EntryKind kind = EntryKind::File;
    std::uint64_t id = 0;  // folders: the real folder it leads to
};

// Folders by id, each with its entries in listing order.
struct FakeTree {
    std::map<std::uint64_t, std::vector<FakeEntry>> folders;
    std::set<std::uint64_t> unreadable;
    std::uint64_t nextId = 1;

    std::uint64_t Folder(std::uint64_t parent, const std::string& name) {
        const std::uint64_t id = nextId++;
        folders[id];
        folders[parent].push_back({name, EntryKind::Folder, id});
        return id;
    }
    void File(std::uint64_t parent, const std::string& name) { folders[parent].push_back({name}); }
    void Link(std::uint64_t parent, const std::string& name, std::uint64_t target) {
        folders[parent].push_back({name, EntryKind::Folder, target});
    }
};

struct FakeSource {
    struct Cursor {
        std::uint64_t folder;
        std::size_t next = 0;
    };
    using Handle = Cursor*;
    FakeTree& tree;
    std::vector<std::unique_ptr<Cursor>> cursors;
    int open = 0;

    Handle Make(std::uint64_t id) {
        cursors.push_back(std::make_unique<Cursor>(Cursor{id}));
        ++open;
        return cursors.back().get();
    }
    bool OpenRoot(std::uint64_t root, Handle& h, FolderId& id) {
        h = Make(root);
        id = {0, root};
        return true;
    }
    bool Next(Handle& h, std::string_view& name, EntryKind& kind) {
        const std::vector<FakeEntry>& entries = tree.folders[h->folder];
        if (h->next >= entries.size()) return false;
        const FakeEntry& e = entries[h->next++];
        name = e.name;
        kind = e.kind;
        return true;
    }
    OpenResult OpenChild(Handle& parent, std::string_view name, Handle& h, FolderId& id) {
        const FakeEntry& e = tree.folders[parent->folder][parent->next - 1];
        EXPECT_EQ(e.name, name);
        if (tree.unreadable.count(e.id)) return OpenResult::Unreadable;
        h = Make(e.id);
        id = {0, e.id};
        return OpenResult::Opened;
    }
    void Close(Handle& h) {
        if (h) --open;
        h = nullptr;
    }
};

struct Walked {
    bool complete;
    int openAfter;
};

Walked Walk(FakeTree& tree, NodeTable& table) {
    FakeSource source{tree, {}, 0};
    TableFiller visitor{table};
    const bool complete = WalkTree(source, std::uint64_t{0}, visitor);
    return {complete, source.open};
}

TEST(LibraryWalk, FoldersNumberedInPreOrder) {
    FakeTree tree;
    const auto a = tree.Folder(0, "A");
    tree.Folder(a, "A1");
    tree.Folder(a, "A2");
    tree.Folder(0, "B");
    NodeTable t;
    EXPECT_TRUE(Walk(tree, t).complete);
    ASSERT_EQ(t.FolderCount(), 4);
    EXPECT_EQ(t.Folder(1).name, "A");
    EXPECT_EQ(t.Folder(2).name, "A1");
    EXPECT_EQ(t.Folder(3).name, "A2");
    EXPECT_EQ(t.Folder(4).name, "B");
    EXPECT_EQ(t.Folder(3).parentFolder, 1);
    EXPECT_EQ(t.Folder(4).parentFolder, 0);
}

TEST(LibraryWalk, FilesInterleaveWithFoldersInListingOrder) {
    FakeTree tree;
    tree.File(0, "f1.mp3");
    const auto a = tree.Folder(0, "A");
    tree.File(a, "f2.mp3");
    tree.File(0, "f3.mp3");
    NodeTable t;
    Walk(tree, t);
    ASSERT_EQ(t.FileCount(), 3);
    EXPECT_EQ(t.File(0).name, "f1.mp3");
    EXPECT_EQ(t.File(1).name, "f2.mp3");
    EXPECT_EQ(t.File(2).name, "f3.mp3");
    EXPECT_EQ(t.File(0).parentFolder, 0);
    EXPECT_EQ(t.File(1).parentFolder, 1);
    EXPECT_EQ(t.File(2).parentFolder, 0);
    EXPECT_EQ(t.Folder(1).name, "A");
}

TEST(LibraryWalk, ExtensionsDotNamesAndTheFirstEntry) {
    FakeTree tree;
    tree.File(0, "first.wma");  // the first entry listed counts like any other
    for (const char* n : {"SONG.MP3", "Track.Wav", ".hidden.mp3", "a.mp3.txt", "list.m3u", "a.ogg", "mp3", ".mp3x"})
        tree.File(0, n);
    tree.Folder(0, "x.mp3");
    const auto hidden = tree.Folder(0, ".config");
    tree.File(tree.Folder(hidden, "Inner"), "lost.mp3");
    tree.folders[0].push_back({".", EntryKind::Folder, 0});
    tree.folders[0].push_back({"..", EntryKind::Folder, 99});
    NodeTable t;
    Walk(tree, t);
    std::vector<std::string> names;
    for (std::int32_t j = 0; j < t.FileCount(); ++j) names.push_back(t.File(j).name);
    EXPECT_EQ(names, (std::vector<std::string>{"first.wma", "SONG.MP3", "Track.Wav", ".hidden.mp3"}));
    ASSERT_EQ(t.FolderCount(), 1);
    EXPECT_EQ(t.Folder(1).name, "x.mp3");
}

TEST(LibraryWalk, UnreadableFolderKeepsItsNodeAndTheWalkGoesOn) {
    FakeTree tree;
    const auto locked = tree.Folder(0, "Locked");
    tree.File(locked, "inside.mp3");
    tree.unreadable.insert(locked);
    tree.File(tree.Folder(0, "Open"), "z.mp3");
    NodeTable t;
    const Walked w = Walk(tree, t);
    EXPECT_TRUE(w.complete);
    ASSERT_EQ(t.FolderCount(), 2);
    EXPECT_EQ(t.Folder(1).name, "Locked");
    ASSERT_EQ(t.FileCount(), 1);
    EXPECT_EQ(t.File(0).parentFolder, 2);  // not listed again in the locked folder's place
    EXPECT_EQ(w.openAfter, 0);
}

TEST(LibraryWalk, LinksNeitherLoopNorRepeatASubtree) {
    FakeTree tree;
    const auto a = tree.Folder(0, "A");
    tree.File(a, "a.mp3");
    tree.Link(a, "up", 0);        // back to the music folder
    tree.Link(a, "self", a);      // to itself
    tree.Link(0, "again A", a);   // a second name for A
    NodeTable t;
    const Walked w = Walk(tree, t);
    EXPECT_TRUE(w.complete);
    EXPECT_EQ(t.FolderCount(), 1);
    EXPECT_EQ(t.FileCount(), 1);
    EXPECT_EQ(w.openAfter, 0);
}

TEST(LibraryWalk, FullTableStopsCleanlyWithWhatWasFound) {
    FakeTree tree;
    const auto deep = tree.Folder(tree.Folder(0, "A"), "B");
    for (int j = 0; j < NodeTable::kFileSlots + 5; ++j) tree.File(deep, "t" + std::to_string(j) + ".mp3");
    tree.File(0, "after.mp3");
    NodeTable t;
    const Walked w = Walk(tree, t);
    EXPECT_FALSE(w.complete);
    EXPECT_EQ(t.FileCount(), NodeTable::kFileSlots);
    EXPECT_EQ(t.File(NodeTable::kFileSlots - 1).name, "t" + std::to_string(NodeTable::kFileSlots - 1) + ".mp3");
    EXPECT_EQ(w.openAfter, 0);  // every folder handle closed on the way out
}

TEST(LibraryScanDisk, UnreadableFolderKeepsItsNode) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop the superuser";
    quendo::testing::TempDir d;
    d.WriteFile("Locked/a.mp3", "");
    d.WriteFile("Open/b.mp3", "");
    ASSERT_EQ(::chmod((d / "Locked").c_str(), 0), 0);
    NodeTable t;
    EXPECT_TRUE(ScanLibrary(d.path(), t));
    ::chmod((d / "Locked").c_str(), 0755);
    EXPECT_EQ(t.FolderCount(), 2);
    ASSERT_EQ(t.FileCount(), 1);
    EXPECT_EQ(t.File(0).name, "b.mp3");
}

TEST(LibraryScanDisk, MissingMusicFolderGivesAnEmptyTable) {
    NodeTable t;
    EXPECT_TRUE(ScanLibrary("/nonexistent/quendo/music", t));
    EXPECT_EQ(t.FolderCount(), 0);
    const LibraryCount n = CountLibrary("/nonexistent/quendo/music");
    EXPECT_EQ(n.folders + n.files, 0);
}

}  // namespace
