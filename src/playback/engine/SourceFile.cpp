#include "playback/engine/SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quendo::audio {

std::shared_ptr<SourceFile> SourceFile::Open(const std::string& path) {
    if (path.empty()) return nullptr;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<SourceFile>(new SourceFile(path, fd, st.st_size));
}

SourceFile::~SourceFile() { ::close(fd_); }

std::size_t SourceFile::Read(std::int64_t offset, void* buf, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, offset + static_cast<std::int64_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

}  // namespace quendo::audio
