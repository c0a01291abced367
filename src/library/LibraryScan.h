#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "model/NodeTable.h"

namespace quendo {

struct LibraryCount {
    std::int64_t folders = 0;
    std::int64_t files = 0;
};

// Counts the folders and music files below folder, without touching any table.
LibraryCount CountLibrary(const std::string& folder);
// The same count, asking keepOn with the count so far before each folder and file: when it says
// no, the walk ends there and complete is false.
LibraryCount CountLibraryWhile(const std::string& folder, const std::function<bool(const LibraryCount&)>& keepOn,
                               bool& complete);

// Fills table (expected empty) with the tree below folder; the folder itself is index 0.
// False when the table's capacity stopped the scan; what was found up to then stays.
bool ScanLibrary(const std::string& folder, NodeTable& table);

}  // namespace quendo
