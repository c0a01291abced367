#include "library/LibraryScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "library/LibraryWalk.h"

namespace quendo {
namespace {

using walk::EntryKind;
using walk::FolderId;
using walk::OpenResult;

// The real file system, read with openat/readdir so the walk never changes the current folder.
// One descriptor is open per level of depth.
struct DiskSource {
    using Handle = DIR*;

    static FolderId IdOf(const struct stat& st) {
        return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }

    static bool FromDescriptor(int fd, Handle& h, FolderId& id) {
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return false;
        }
        h = ::fdopendir(fd);
        if (!h) {
            ::close(fd);
            return false;
        }
        id = IdOf(st);
        return true;
    }

    bool OpenRoot(const std::string& path, Handle& h, FolderId& id) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return fd >= 0 && FromDescriptor(fd, h, id);
    }

    bool Next(Handle& h, std::string_view& name, EntryKind& kind) {
        const dirent* e = ::readdir(h);
        if (!e) return false;
        name = e->d_name;
        switch (e->d_type) {
            case DT_DIR: kind = EntryKind::Folder; break;
            case DT_REG: kind = EntryKind::File; break;
            case DT_LNK:
            case DT_UNKNOWN: {
                // Follow links: a link to a folder is a folder, to a file a file; a dangling
                // link, a device or a pipe is neither.
                struct stat st;
                if (::fstatat(::dirfd(h), e->d_name, &st, 0) != 0) kind = EntryKind::Other;
                else if (S_ISDIR(st.st_mode)) kind = EntryKind::Folder;
                else if (S_ISREG(st.st_mode)) kind = EntryKind::File;
                else kind = EntryKind::Other;
                break;
            }
            default: kind = EntryKind::Other; break;
        }
        return true;
    }

    OpenResult OpenChild(Handle& parent, std::string_view name, Handle& h, FolderId& id) {
        // name points into the parent's dirent, which stays valid until the next readdir.
        const int fd = ::openat(::dirfd(parent), name.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return OpenResult::Unreadable;  // no access, or out of descriptors
        return FromDescriptor(fd, h, id) ? OpenResult::Opened : OpenResult::Unreadable;
    }

    void Close(Handle& h) {
        if (h) ::closedir(h);
        h = nullptr;
    }
};

struct Counter {
    LibraryCount count;
    std::int32_t Folder(std::int32_t, std::string_view) {
        ++count.folders;
        return 1;
    }
    bool File(std::int32_t, std::string_view) {
        ++count.files;
        return true;
    }
};

struct StoppableCounter {
    const std::function<bool(const LibraryCount&)>& keepOn;
    LibraryCount count;
    std::int32_t Folder(std::int32_t, std::string_view) {
        if (!keepOn(count)) return -1;
        ++count.folders;
        return 1;
    }
    bool File(std::int32_t, std::string_view) {
        if (!keepOn(count)) return false;
        ++count.files;
        return true;
    }
};

}  // namespace

LibraryCount CountLibraryWhile(const std::string& folder, const std::function<bool(const LibraryCount&)>& keepOn,
                               bool& complete) {
    DiskSource source;
    StoppableCounter counter{keepOn, {}};
    complete = walk::WalkTree(source, folder, counter);
    return counter.count;
}

LibraryCount CountLibrary(const std::string& folder) {
    DiskSource source;
    Counter counter;
    walk::WalkTree(source, folder, counter);
    return counter.count;
}

bool ScanLibrary(const std::string& folder, NodeTable& table) {
    DiskSource source;
    walk::TableFiller filler{table};
    return walk::WalkTree(source, folder, filler);
}

}  // namespace quendo
