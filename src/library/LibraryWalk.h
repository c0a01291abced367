#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "model/NodeTable.h"

namespace quendo::walk {

enum class EntryKind { Folder, File, Other };
enum class OpenResult { Opened, Unreadable };

// Identity of a real folder (device and inode on a real file system).
struct FolderId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FolderId&) const = default;
};

struct FolderIdHash {
    std::size_t operator()(const FolderId& id) const noexcept {
        return static_cast<std::size_t>(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// True for ".mp3", ".wma" and ".wav" in any case: the text from the last dot on.
inline bool IsMusicFileName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot != 4) return false;
    char e[3];
    for (int i = 0; i < 3; ++i) {
        const char c = name[dot + 1 + static_cast<std::size_t>(i)];
        e[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view ext(e, 3);
    return ext == "mp3" || ext == "wma" || ext == "wav";
}

// One walk over a folder tree in the source's listing order: folders in pre-order, files
// interleaved. Folders whose name begins with '.' are skipped with everything below them; a
// real folder is entered at most once, so links cannot loop or repeat a subtree; a folder that
// cannot be opened keeps its entry but has no content.
//
// Source:  Handle; bool OpenRoot(path, Handle&, FolderId&);
//          bool Next(Handle&, std::string_view& name, EntryKind&);
//          OpenResult OpenChild(Handle& parent, std::string_view name, Handle&, FolderId&);
//          void Close(Handle&).
// Visitor: std::int32_t Folder(parent, name) (negative stops the walk);
//          bool File(parent, name) (false stops the walk).
// Returns false when the visitor stopped the walk.
template <class Source, class Visitor, class Path>
bool WalkTree(Source& source, const Path& root, Visitor& visitor) {
    using Handle = typename Source::Handle;
    struct Frame {
        Handle handle;
        std::int32_t index;
    };
    std::vector<Frame> stack;
    std::unordered_set<FolderId, FolderIdHash> visited;

    Handle rootHandle{};
    FolderId rootId;
    if (!source.OpenRoot(root, rootHandle, rootId)) return true;
    visited.insert(rootId);
    stack.push_back({rootHandle, 0});

    bool complete = true;
    std::string_view name;
    EntryKind kind = EntryKind::Other;
    while (!stack.empty()) {
        const std::size_t top = stack.size() - 1;
        if (!source.Next(stack[top].handle, name, kind)) {
            source.Close(stack[top].handle);
            stack.pop_back();
            continue;
        }
        const std::int32_t parent = stack[top].index;
        if (kind == EntryKind::Folder) {
            if (name.empty() || name.front() == '.') continue;  // ".", ".." and hidden folders
            Handle child{};
            FolderId id;
            const OpenResult opened = source.OpenChild(stack[top].handle, name, child, id);
            if (opened == OpenResult::Opened && !visited.insert(id).second) {
                source.Close(child);  // walked already under another name
                continue;
            }
            const std::int32_t index = visitor.Folder(parent, name);
            if (index < 0) {
                if (opened == OpenResult::Opened) source.Close(child);
                complete = false;
                break;
            }
            if (opened == OpenResult::Opened) stack.push_back({child, index});
        } else if (kind == EntryKind::File && IsMusicFileName(name)) {
            if (!visitor.File(parent, name)) {
                complete = false;
                break;
            }
        }
    }
    for (Frame& f : stack) source.Close(f.handle);
    return complete;
}

// The visitor that fills the node table; it stops the walk once the table is full.
struct TableFiller {
    NodeTable& table;
    std::int32_t Folder(std::int32_t parent, std::string_view name) {
        const std::int32_t index = table.AddFolderNode(parent, std::string(name));
        return index == NodeTable::kRefused ? -1 : index;
    }
    bool File(std::int32_t parent, std::string_view name) {
        return table.AddFileNode(parent, std::string(name)) != NodeTable::kRefused;
    }
};

}  // namespace quendo::walk
