#include "library/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace quendo {

namespace {

// The file a write of path replaces: the end of its chain of symbolic links (which need not
// exist yet), or "" for a loop.
std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) return p.string();
        const fs::path link = fs::read_symlink(p, ec);
        if (ec) return "";
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return "";
}

bool WriteAll(int fd, std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The folder to open for a file: its folder, or the working folder for a bare name.
std::string FolderToOpen(const std::string& file) {
    std::string folder = FolderOfPath(file);
    return folder.empty() ? "." : folder;
}

// The rename is only on disk once its folder is; without this a power cut soon after a save can
// bring the old file back, or none.
void SyncFolder(const std::string& file) {
    const int fd = ::open(FolderToOpen(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    static_cast<void>(::fsync(fd));
    ::close(fd);
}

// A save that was killed leaves its temporary file ("NAME.tmpPID"); the next save takes away
// those of processes that no longer run, so they do not pile up beside the program. A live
// process's file is another instance's save in progress and is left alone.
void RemoveLeftovers(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string prefix = target.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp";
    DIR* dir = ::opendir(FolderToOpen(target).c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
        const std::string_view digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(std::string(digits)));
        if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

std::string FolderOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::string target = FollowLinks(path);
    if (target.empty()) return false;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // Root passes access() on any file, so a file whose mode has no write bit is read-only too.
    if (exists && (::access(target.c_str(), W_OK) != 0 || (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        return false;

    const std::string temp = target + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, exists ? 0600 : 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content);
    if (ok && exists) {
        // Another owner can be kept only by root, and the save goes on without; the mode always.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            const int kept = ::fchown(fd, old.st_uid, old.st_gid);
            static_cast<void>(kept);
        }
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(target);
    RemoveLeftovers(target);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes) {
    content.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[65536];
    while (content.size() < maxBytes) {
        const std::size_t want = std::min(sizeof buffer, maxBytes - content.size());
        const std::size_t got = std::fread(buffer, 1, want, f);
        if (got == 0) break;
        content.append(buffer, got);
    }
    std::fclose(f);
    return true;
}

}  // namespace quendo
