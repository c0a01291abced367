#include "app/FolderMenuContents.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdlib>


namespace quendo {

struct NameCollator::Impl {
    UCollator* collator = nullptr;
    ~Impl() {
        if (collator) ucol_close(collator);
    }
};

NameCollator::NameCollator() : NameCollator(LocaleFromEnvironment()) {}

NameCollator::NameCollator(const std::string& locale) : impl_(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    impl_->collator = ucol_open(locale.c_str(), &status);
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        impl_->collator = ucol_open("", &status);
        if (U_FAILURE(status)) impl_->collator = nullptr;
    }
    // Secondary strength: accents count, case does not.
    if (impl_->collator) ucol_setStrength(impl_->collator, UCOL_SECONDARY);
}

NameCollator::~NameCollator() = default;

std::string NameCollator::LocaleFromEnvironment() {
    for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        std::string id(v);
        id = id.substr(0, id.find_first_of(".@"));  // "de_DE.UTF-8@euro" -> "de_DE"
        if (id == "C" || id == "POSIX") return "";
        return id;
    }
    return "";
}

std::string NameCollator::SortKey(std::string_view utf8) const {
    if (!impl_->collator) {
        std::string lower(utf8);
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return lower;
    }
    // Names are the file system's bytes; ill-formed UTF-8 is read with substitutes, not refused.
    std::u16string wide(utf8.size() + 1, u'\0');
    int32_t length = 0;
    int32_t substitutions = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(wide.data()), static_cast<int32_t>(wide.size()), &length,
                         utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, &substitutions, &status);
    if (U_FAILURE(status)) length = 0;

    std::string key(static_cast<std::size_t>(length) * 4 + 16, '\0');
    const UChar* text = reinterpret_cast<const UChar*>(wide.data());
    int32_t n = ucol_getSortKey(impl_->collator, text, length, reinterpret_cast<uint8_t*>(key.data()),
                                static_cast<int32_t>(key.size()));
    if (n > static_cast<int32_t>(key.size())) {
        key.assign(static_cast<std::size_t>(n), '\0');
        n = ucol_getSortKey(impl_->collator, text, length, reinterpret_cast<uint8_t*>(key.data()), n);
    }
    key.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);  // without the terminating zero
    return key;
}

const NameCollator& UserNameCollator() {
    static const NameCollator collator;
    return collator;
}

namespace {

// Names that differ in case alone are two entries of the file system, so both are listed, side by
// side in byte order; only a name the table holds twice (never so from a scan) is listed once.
template <class NameOf>
std::vector<MenuChild> SortedUnique(const std::vector<std::int32_t>& indices, NameOf nameOf,
                                    const NameCollator& collator) {
    struct Keyed {
        std::string key;
        std::int32_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(indices.size());
    for (std::int32_t i : indices) keyed.push_back({collator.SortKey(nameOf(i)), i});
    // Stable, so that of two equal names the one with the lowest index comes first and stays.
    std::stable_sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        return nameOf(a.index) < nameOf(b.index);
    });
    std::vector<MenuChild> out;
    out.reserve(keyed.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        const std::string& name = nameOf(keyed[i].index);
        if (!out.empty() && out.back().name == name) continue;
        out.push_back({keyed[i].index, name});
    }
    return out;
}

}  // namespace

std::vector<MenuChild> FolderMenuFiles(const NodeTable& nodes, std::int32_t folder, const NameCollator& collator) {
    return SortedUnique(
        nodes.ChildFiles(folder), [&](std::int32_t j) -> const std::string& { return nodes.File(j).name; }, collator);
}

FolderMenuContents FolderMenuChildren(const NodeTable& nodes, std::int32_t folder, const NameCollator& collator) {
    FolderMenuContents c;
    c.folders = SortedUnique(
        nodes.ChildFolders(folder), [&](std::int32_t f) -> const std::string& { return nodes.Folder(f).name; },
        collator);
    c.files = FolderMenuFiles(nodes, folder, collator);
    return c;
}

}  // namespace quendo
