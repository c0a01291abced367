// The library walk over a folder tree made from the bytes: names of any bytes ('/', NUL, bad
// UTF-8, dots, long ones), links to any folder (ancestors too), folders that cannot be opened.
// The table it fills must be what a plain recursive walk of the same tree gives, every folder
// entered once, and every handle closed, also when the visitor stops the walk.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "library/LibraryWalk.h"
#include "model/NodeTable.h"

using namespace quendo;
using walk::EntryKind;
using walk::FolderId;
using walk::OpenResult;

namespace {

struct Entry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    std::size_t target = 0;  // folders: the folder the entry leads to (a link when shared)
};

struct Folder {
    std::vector<Entry> entries;
    bool readable = true;
};

// The tree, entry by entry. A first byte says what comes: its low two bits the kind (a new
// folder, a file, a link to a folder made already, something else), bit 2 a folder that cannot be
// opened, bit 3 a move of the cursor (the folder the next entries go into) first. A length byte
// and the name follow; a length of 255 makes a long name from the next byte.
std::vector<Folder> Decode(const std::uint8_t* p, std::size_t n) {
    std::vector<Folder> tree(1);
    std::size_t at = 0, cursor = 0;
    auto next = [&]() -> std::uint8_t { return at < n ? p[at++] : 0; };
    while (at < n && tree.size() < 5000) {
        const std::uint8_t op = next();
        if (op & 8) cursor = next() % tree.size();
        Entry e;
        std::size_t len = next();
        if (len == 255) {
            const std::uint8_t fill = next();
            e.name.assign(200 + 37 * static_cast<std::size_t>(next()), static_cast<char>(fill));
            len = 4;  // and an ending of four bytes, so that a long name can be a music file
        }
        for (std::size_t i = 0; i < len && at < n; ++i) e.name += static_cast<char>(p[at++]);
        switch (op & 3) {
            case 0:
                e.kind = EntryKind::Folder;
                e.target = tree.size();
                tree.emplace_back();
                tree.back().readable = !(op & 4);
                break;
            case 1: e.kind = EntryKind::File; break;
            case 2:
                e.kind = EntryKind::Folder;
                e.target = next() % tree.size();
                break;
            default: e.kind = EntryKind::Other; break;
        }
        tree[cursor].entries.push_back(std::move(e));
        // A new folder takes the next entries.
        if ((op & 3) == 0 && (op & 16)) cursor = tree.size() - 1;
    }
    return tree;
}

struct MemorySource {
    struct Cursor {
        std::size_t folder = 0;
        std::size_t next = 0;
        bool live = false;
    };
    using Handle = std::size_t;  // into cursors; 0 is no handle

    const std::vector<Folder>& tree;
    std::vector<Cursor> cursors{Cursor{}};
    std::vector<int> listed;  // per folder: how many handles were read from
    int open = 0;

    explicit MemorySource(const std::vector<Folder>& t) : tree(t), listed(t.size(), 0) {}

    Handle Make(std::size_t folder, FolderId& id) {
        cursors.push_back({folder, 0, true});
        ++open;
        id = {7, folder};
        return cursors.size() - 1;
    }
    bool OpenRoot(const std::string&, Handle& h, FolderId& id) {
        h = Make(0, id);
        return true;
    }
    bool Next(Handle& h, std::string_view& name, EntryKind& kind) {
        Cursor& c = cursors.at(h);
        FUZZ_CHECK(c.live);
        if (c.next == 0) ++listed[c.folder];
        const Folder& f = tree[c.folder];
        if (c.next >= f.entries.size()) return false;
        const Entry& e = f.entries[c.next++];
        name = e.name;
        kind = e.kind;
        return true;
    }
    OpenResult OpenChild(Handle& parent, std::string_view name, Handle& h, FolderId& id) {
        const Cursor& c = cursors.at(parent);
        FUZZ_CHECK(c.live && c.next > 0);
        const Entry& e = tree[c.folder].entries[c.next - 1];
        FUZZ_CHECK(name == e.name && e.kind == EntryKind::Folder);
        if (!tree[e.target].readable) return OpenResult::Unreadable;
        h = Make(e.target, id);
        return OpenResult::Opened;
    }
    void Close(Handle& h) {
        FUZZ_CHECK(h != 0 && cursors.at(h).live);
        cursors[h].live = false;
        --open;
        h = 0;
    }
};

struct Node {
    std::int32_t parent;
    std::string name;
    bool operator==(const Node&) const = default;
};

bool Music(const std::string& name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return end == ".mp3" || end == ".wma" || end == ".wav";
}

// The same walk, written plainly: folders in pre-order with the files between them.
struct Reference {
    explicit Reference(const std::vector<Folder>& t) : tree(t) {}
    const std::vector<Folder>& tree;
    std::vector<Node> folders, files;
    std::set<std::size_t> entered{0};

    void Walk(std::size_t folder, std::int32_t index) {
        for (const Entry& e : tree[folder].entries) {
            if (e.kind == EntryKind::File && Music(e.name)) files.push_back({index, e.name});
            if (e.kind != EntryKind::Folder || e.name.empty() || e.name[0] == '.') continue;
            const bool readable = tree[e.target].readable;
            if (readable && !entered.insert(e.target).second) continue;
            folders.push_back({index, e.name});
            if (readable) Walk(e.target, static_cast<std::int32_t>(folders.size()));
        }
    }
};

// Takes `room` nodes, then stops the walk.
struct Stopper {
    int room;
    int taken = 0;
    std::int32_t Folder(std::int32_t, std::string_view) { return taken++ < room ? taken : -1; }
    bool File(std::int32_t, std::string_view) { return taken++ < room; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static NodeTable* table = new NodeTable;
    const std::vector<Folder> tree = Decode(data, size);

    Reference ref(tree);
    ref.Walk(0, 0);

    table->Clear();
    MemorySource source(tree);
    walk::TableFiller filler{*table};
    FUZZ_CHECK(walk::WalkTree(source, std::string("/music"), filler));
    FUZZ_CHECK(source.open == 0);
    for (int n : source.listed) FUZZ_CHECK(n <= 1);

    FUZZ_CHECK(table->FolderCount() == static_cast<std::int32_t>(ref.folders.size()));
    FUZZ_CHECK(table->FileCount() == static_cast<std::int32_t>(ref.files.size()));
    std::vector<int> childOf(static_cast<std::size_t>(table->FolderCount()) + 1, 0);
    for (std::int32_t f = 1; f <= table->FolderCount(); ++f) {
        const LibraryNode& node = table->Folder(f);
        FUZZ_CHECK(node.parentFolder >= 0 && node.parentFolder < f);
        FUZZ_CHECK(!node.name.empty() && node.name[0] != '.');
        FUZZ_CHECK((Node{node.parentFolder, node.name} == ref.folders[static_cast<std::size_t>(f - 1)]));
    }
    for (std::int32_t j = 0; j < table->FileCount(); ++j) {
        const LibraryNode& node = table->File(j);
        FUZZ_CHECK(node.parentFolder >= 0 && node.parentFolder <= table->FolderCount());
        FUZZ_CHECK(Music(node.name));
        FUZZ_CHECK((Node{node.parentFolder, node.name} == ref.files[static_cast<std::size_t>(j)]));
    }
    // Every folder is listed once as a child, under its own parent (a small table: the listing
    // goes over every folder).
    for (std::int32_t f = 0; table->FolderCount() <= 64 && f <= table->FolderCount(); ++f)
        for (std::int32_t c : table->ChildFolders(f)) {
            FUZZ_CHECK(table->Folder(c).parentFolder == f);
            ++childOf[static_cast<std::size_t>(c)];
        }
    for (std::size_t f = 1; table->FolderCount() <= 64 && f < childOf.size(); ++f) FUZZ_CHECK(childOf[f] == 1);

    // A visitor that stops part way: the walk says so and still closes every folder it opened.
    const int total = static_cast<int>(ref.folders.size() + ref.files.size());
    if (total > 0) {
        Stopper stopper{size > 0 ? data[size - 1] % total : 0};
        MemorySource again(tree);
        FUZZ_CHECK(!walk::WalkTree(again, std::string("/music"), stopper));
        FUZZ_CHECK(again.open == 0);
        FUZZ_CHECK(stopper.taken == stopper.room + 1);
    }
    return 0;
}
