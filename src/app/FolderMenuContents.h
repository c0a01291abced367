#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/NodeTable.h"

namespace quendo {

// Compares library names alphabetically without regard to case, by a locale's rules.
class NameCollator {
public:
    // The user's locale, from LC_ALL, LC_COLLATE or LANG.
    NameCollator();
    // An ICU locale id such as "de_DE"; "" is the root locale.
    explicit NameCollator(const std::string& locale);
    ~NameCollator();
    NameCollator(const NameCollator&) = delete;
    NameCollator& operator=(const NameCollator&) = delete;

    // Byte strings that compare (as bytes) the way the names do; names equal case aside have
    // equal keys.
    std::string SortKey(std::string_view utf8) const;

    static std::string LocaleFromEnvironment();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The collator of the user's locale, made at the first call.
const NameCollator& UserNameCollator();

struct MenuChild {
    std::int32_t index;  // folder index or file index
    std::string name;
};

// What a folder's menu lists: its subfolders, then its files, each sorted by name without regard
// to case. Names are matched exactly: two that differ in case alone are two entries, both listed
// (this file system tells them apart); a name held twice is listed once, by its lowest index.
struct FolderMenuContents {
    std::vector<MenuChild> folders;
    std::vector<MenuChild> files;
};

FolderMenuContents FolderMenuChildren(const NodeTable& nodes, std::int32_t folder,
                                      const NameCollator& collator = UserNameCollator());
// Only the file part of the above.
std::vector<MenuChild> FolderMenuFiles(const NodeTable& nodes, std::int32_t folder,
                                       const NameCollator& collator = UserNameCollator());

}  // namespace quendo
