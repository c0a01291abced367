// The tags' reader on any bytes: read as MPEG audio, as ASF and as RIFF WAVE whatever they hold,
// and as a file, whose content picks the way. Whatever comes back is clean: valid UTF-8 without
// control characters or spaces at either end, within the length kept, numbers in range.
// TagLib itself is the system's library, built without the sanitizers: they see its allocations,
// not its reads.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "analysis/TagReader.h"

using namespace quendo::audio;

namespace {

void CheckText(const std::string& s) {
    FUZZ_CHECK(s.size() <= kMaxTagBytes);
    if (s.empty()) return;
    FUZZ_CHECK(s.front() != ' ' && s.back() != ' ');
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        std::size_t len = 1;
        std::uint32_t cp = c;
        if (c >= 0x80) {
            FUZZ_CHECK(c >= 0xC2 && c <= 0xF4);
            len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            FUZZ_CHECK(i + len <= s.size());
            cp = c & (0x3F >> (len - 1));
            for (std::size_t k = 1; k < len; ++k) {
                const auto b = static_cast<unsigned char>(s[i + k]);
                FUZZ_CHECK((b & 0xC0) == 0x80);
                cp = cp << 6 | (b & 0x3F);
            }
            // Shortest form, no surrogate, within Unicode, no C1 control.
            FUZZ_CHECK(cp >= (len == 2 ? 0xA0u : len == 3 ? 0x800u : 0x10000u));
            FUZZ_CHECK((cp < 0xD800 || cp > 0xDFFF) && cp <= 0x10FFFF);
        }
        i += len;
    }
}

void CheckTags(const quendo::TrackTags& t) {
    CheckText(t.artist);
    CheckText(t.title);
    CheckText(t.album);
    FUZZ_CHECK(t.trackNumber >= 0 && t.trackNumber <= kMaxTagNumber);
    FUZZ_CHECK(t.discNumber >= 0 && t.discNumber <= kMaxTagNumber);
}

// The bytes as a regular file in memory, reached by a path.
std::string AsFile(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("quendo-fuzz-tags", MFD_CLOEXEC);
    return InMemoryFile(fd, data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (TagLayout layout : {TagLayout::kMpeg, TagLayout::kAsf, TagLayout::kWav}) CheckTags(ReadTags(data, size, layout));
    CheckTags(ReadTags(AsFile(data, size)));
    return 0;
}
