#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quendo {

struct LibraryNode {
    std::int32_t parentFolder = 0;
    std::string name;
    std::uint8_t drawn = 0;            // files only: drawn by the current cocktail generation
    std::int32_t durationSeconds = 0;  // files only: whole seconds, 0 until measured
};

// The library as flat tables addressed by index. Sized up front so that indices held by
// menus, the playlist and cocktails never move.
class NodeTable {
public:
    static constexpr std::int32_t kFolderSlots = 64000;
    static constexpr std::int32_t kFileSlots = 64000;
    static constexpr std::int32_t kRefused = -1;
    static constexpr char kSeparator = '/';

    NodeTable();

    // Return the new index, or kRefused when the table is full (nothing is written).
    std::int32_t AddFolderNode(std::int32_t parent, std::string name);
    std::int32_t AddFileNode(std::int32_t parent, std::string name);
    void Clear();
    // Changes with every node added and every clear: what was built from the table is current
    // while it stays the same.
    std::uint64_t Revision() const { return revision_; }

    std::int32_t FolderCount() const { return folderCount_; }
    std::int32_t FileCount() const { return fileCount_; }
    bool IsFolder(std::int32_t f) const { return f >= 1 && f <= folderCount_; }
    bool IsFile(std::int32_t j) const { return j >= 0 && j < fileCount_; }

    // Folder f in 1..FolderCount, file j in 0..FileCount-1; std::out_of_range otherwise.
    const LibraryNode& Folder(std::int32_t f) const;
    LibraryNode& File(std::int32_t j);
    const LibraryNode& File(std::int32_t j) const;

    // Path below MusicFolder, folders joined by the separator; "" for an invalid index.
    std::string RelativePath(std::int32_t file) const;
    std::string FullPath(std::int32_t file) const;

    // Children of folder f (0 is the music folder itself), in index order.
    std::vector<std::int32_t> ChildFolders(std::int32_t f) const;
    std::vector<std::int32_t> ChildFiles(std::int32_t f) const;
    // The files of folder f and of every folder below it, in index order; one pass over each kind.
    std::vector<std::int32_t> FilesUnder(std::int32_t f) const;
    // Whether ChildFiles(f), or FilesUnder(f) with subfolders, holds a file; stops at the first.
    bool HoldsFiles(std::int32_t f, bool subfolders) const;

    // The first file index whose FullPath equals path exactly, or -1.
    std::int32_t FindByFullPath(std::string_view path) const;

    std::string MusicFolder;    // absolute, ends with the separator
    // Where "qnd.cfg" and "qnd.m3u" live: the executable's folder, or the user's configuration
    // folder for an installed copy. No trailing separator, except the root "/".
    std::string ProgramFolder;

private:
    void BuildPathIndex() const;
    std::uint64_t revision_ = 0;
    // By folder index: 1 for f and the folders below it.
    std::vector<char> Below(std::int32_t f) const;

    std::vector<LibraryNode> folders_;  // slot 0 stands for the music folder and holds no node
    std::vector<LibraryNode> files_;
    std::int32_t folderCount_ = 0;
    std::int32_t fileCount_ = 0;

    // Relative path -> first file index; rebuilt lazily after the table changes.
    mutable std::unordered_map<std::string, std::int32_t> pathIndex_;
    mutable bool pathIndexValid_ = false;
};

}  // namespace quendo
