#include "model/NodeTable.h"

#include <stdexcept>

namespace quendo {

NodeTable::NodeTable() : folders_(kFolderSlots), files_(kFileSlots) {}

const LibraryNode& NodeTable::Folder(std::int32_t f) const {
    if (!IsFolder(f)) throw std::out_of_range("no folder " + std::to_string(f));
    return folders_[static_cast<std::size_t>(f)];
}

LibraryNode& NodeTable::File(std::int32_t j) {
    if (!IsFile(j)) throw std::out_of_range("no file " + std::to_string(j));
    return files_[static_cast<std::size_t>(j)];
}

const LibraryNode& NodeTable::File(std::int32_t j) const { return const_cast<NodeTable*>(this)->File(j); }

std::int32_t NodeTable::AddFolderNode(std::int32_t parent, std::string name) {
    if (folderCount_ + 1 >= kFolderSlots) return kRefused;
    const std::int32_t index = folderCount_ + 1;
    ++revision_;
    folders_[index] = LibraryNode{parent, std::move(name), 0, 0};
    folderCount_ = index;
    pathIndexValid_ = false;
    return index;
}

std::int32_t NodeTable::AddFileNode(std::int32_t parent, std::string name) {
    if (fileCount_ >= kFileSlots) return kRefused;
    const std::int32_t index = fileCount_;
    ++revision_;
    files_[index] = LibraryNode{parent, std::move(name), 0, 0};
    fileCount_ = index + 1;
    pathIndexValid_ = false;
    return index;
}

void NodeTable::Clear() {
    ++revision_;
    for (std::int32_t f = 1; f <= folderCount_; ++f) folders_[f] = LibraryNode{};
    for (std::int32_t j = 0; j < fileCount_; ++j) files_[j] = LibraryNode{};
    folderCount_ = 0;
    fileCount_ = 0;
    pathIndex_.clear();
    pathIndexValid_ = false;
}

std::string NodeTable::RelativePath(std::int32_t file) const {
    if (!IsFile(file)) return {};
    std::string path = files_[file].name;
    // Guarded by the depth as well, so a corrupt parent link can never loop.
    std::int32_t parent = files_[file].parentFolder;
    for (std::int32_t depth = 0; parent > 0 && parent <= folderCount_ && depth < kFolderSlots; ++depth) {
        const LibraryNode& folder = folders_[parent];
        path.insert(0, 1, kSeparator);
        path.insert(0, folder.name);
        parent = folder.parentFolder;
    }
    return path;
}

std::string NodeTable::FullPath(std::int32_t file) const {
    if (!IsFile(file)) return {};
    return MusicFolder + RelativePath(file);
}

std::vector<std::int32_t> NodeTable::ChildFolders(std::int32_t f) const {
    std::vector<std::int32_t> children;
    for (std::int32_t i = 1; i <= folderCount_; ++i)
        if (folders_[i].parentFolder == f) children.push_back(i);
    return children;
}

std::vector<std::int32_t> NodeTable::ChildFiles(std::int32_t f) const {
    std::vector<std::int32_t> children;
    for (std::int32_t j = 0; j < fileCount_; ++j)
        if (files_[j].parentFolder == f) children.push_back(j);
    return children;
}

std::vector<char> NodeTable::Below(std::int32_t f) const {
    std::vector<char> below(static_cast<std::size_t>(folderCount_) + 1, 0);
    if (f < 0 || f > folderCount_) return below;
    below[static_cast<std::size_t>(f)] = 1;
    // A parent comes before its children, so one pass in index order reaches every depth; a
    // link that breaks that order leaves its folder out rather than looping.
    for (std::int32_t i = f + 1; i <= folderCount_; ++i) {
        const std::int32_t p = folders_[static_cast<std::size_t>(i)].parentFolder;
        if (p >= f && p < i && below[static_cast<std::size_t>(p)]) below[static_cast<std::size_t>(i)] = 1;
    }
    return below;
}

std::vector<std::int32_t> NodeTable::FilesUnder(std::int32_t f) const {
    const std::vector<char> below = Below(f);
    std::vector<std::int32_t> files;
    for (std::int32_t j = 0; j < fileCount_; ++j) {
        const std::int32_t p = files_[static_cast<std::size_t>(j)].parentFolder;
        if (p >= 0 && p <= folderCount_ && below[static_cast<std::size_t>(p)]) files.push_back(j);
    }
    return files;
}

bool NodeTable::HoldsFiles(std::int32_t f, bool subfolders) const {
    const std::vector<char> below = subfolders ? Below(f) : std::vector<char>{};
    for (std::int32_t j = 0; j < fileCount_; ++j) {
        const std::int32_t p = files_[static_cast<std::size_t>(j)].parentFolder;
        if (subfolders ? p >= 0 && p <= folderCount_ && below[static_cast<std::size_t>(p)] : p == f) return true;
    }
    return false;
}

void NodeTable::BuildPathIndex() const {
    // Folder paths first (in pre-order a parent precedes its children), then one join per file.
    const auto count = static_cast<std::size_t>(folderCount_) + 1;
    std::vector<std::string> folderPath(count);
    std::vector<char> ordered(count, 0);
    ordered[0] = 1;
    for (std::int32_t f = 1; f <= folderCount_; ++f) {
        const std::int32_t p = folders_[f].parentFolder;
        if (p >= 0 && p < f && ordered[p]) {
            folderPath[f] = folderPath[p] + folders_[f].name + kSeparator;
            ordered[f] = 1;
        }
    }
    pathIndex_.clear();
    pathIndex_.reserve(static_cast<std::size_t>(fileCount_));
    for (std::int32_t j = 0; j < fileCount_; ++j) {
        const std::int32_t p = files_[j].parentFolder;
        std::string key = (p >= 0 && p <= folderCount_ && ordered[p]) ? folderPath[p] + files_[j].name
                                                                         : RelativePath(j);
        pathIndex_.emplace(std::move(key), j);  // emplace keeps the first index of a duplicate
    }
    pathIndexValid_ = true;
}

std::int32_t NodeTable::FindByFullPath(std::string_view path) const {
    if (path.size() < MusicFolder.size() || path.compare(0, MusicFolder.size(), MusicFolder) != 0)
        return -1;
    if (!pathIndexValid_) BuildPathIndex();
    auto it = pathIndex_.find(std::string(path.substr(MusicFolder.size())));
    return it == pathIndex_.end() ? -1 : it->second;
}

}  // namespace quendo
