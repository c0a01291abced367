#pragma once
// Counts of allocation and lock calls made on threads that have marked themselves, from the
// allocation and lock functions this test program defines in place of the C and C++ libraries'
// own (every library in the process calls these). A sanitizer brings its own allocator, so this
// program is built only without one.
#include <cstdint>

namespace quendo::counting {

// Marks or unmarks the calling thread.
void Mark(bool on);

struct Counts {
    std::uint64_t allocations = 0, locks = 0;
    const char* first = nullptr;  // the first counted function, for the failure message
};
Counts Read();
void Reset();

}  // namespace quendo::counting
