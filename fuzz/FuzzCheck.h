#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// An invariant of a fuzz target: a broken one aborts, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

// The bytes written over a file in memory (made once by the caller with memfd_create), for a
// reader that wants a path: /proc's name for it.
inline std::string InMemoryFile(int fd, const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(fd >= 0);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    FUZZ_CHECK(::ftruncate(fd, static_cast<off_t>(size)) == 0);
    return "/proc/self/fd/" + std::to_string(fd);
}
