#include "library/SafeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>

namespace quendo {

bool WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    const char* p = content.data();
    std::size_t left = content.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else {
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(temp.c_str());
    return ok;
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
