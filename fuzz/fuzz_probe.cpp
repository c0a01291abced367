// The probe's own header readers on any bytes, read as a file: the length they give is finite,
// not negative, and no longer than the bytes could hold; an MP3 with a frame count header also
// made long enough for the probe to weigh trusting it. FFmpeg is never reached: only the kinds
// the headers measure (MPEG audio, PCM WAV) are measured; ASF's header reader runs alone.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "playback/engine/FileFormats.h"
#include "playback/engine/MediaFile.h"
#include "playback/engine/SourceFile.h"

using namespace quendo::audio;

namespace {

// The bytes as a regular file in memory, opened again for each input through /proc. Short and
// lengthened inputs have a file each, so that neither gives its pages back at every input.
std::shared_ptr<SourceFile> AsFile(const std::uint8_t* data, std::size_t size, bool lengthened) {
    static const int fds[2] = {::memfd_create("quendo-fuzz-probe", MFD_CLOEXEC),
                               ::memfd_create("quendo-fuzz-probe-long", MFD_CLOEXEC)};
    return SourceFile::Open(InMemoryFile(fds[lengthened ? 1 : 0], data, size));
}

// The longest a byte of MPEG audio can last, from the frame tables of ParseFrameHeader: a frame
// lasts samples / rate and takes samples / 8 * bitrate / rate bytes (rounded down, plus padding),
// so bytes per sample go no lower than bitrate / (8 * rate), whose least valid value is
// 8 kbit/s at 24 kHz (MPEG 2, layers 2 and 3): 1/24 byte per sample. The decoder may label a frame
// with the previous frame's rate, the lowest of which is 8 kHz, so a byte lasts at most
// 24 / 8000 s. A last frame cut short counts whole from 4 bytes on: one frame more, at most
// 1152 samples at 8 kHz.
constexpr double kMp3SecondsPerByte = 24.0 / 8000.0;
constexpr double kMp3LastFrameSeconds = 1152.0 / 8000.0;

// A file with a Xing/Info header made long: the frames after the header frame repeated past the
// length the probe walks whole, and the header's byte count set to match, so that the header's
// frame count (from the input) meets the checks that decide whether to trust it. Only inputs
// that ask for it, with the top bit of the header's flags (no encoder sets it, the reader
// ignores it), as one such run costs as much as a hundred short ones.
// Empty when the input is not such a file; one buffer serves every input.
const std::vector<std::uint8_t>& Lengthened(const std::uint8_t* data, std::size_t size, const Sniffed& s) {
    static std::vector<std::uint8_t> out;
    out.clear();
    const auto at = static_cast<std::size_t>(s.tagsEnd);
    FrameHeader h;
    if (s.kind != Container::kMp3 || at + 4 > size || !ParseFrameHeader(data + at, h)) return out;
    // Frames after the header frame, not junk: a long file of junk only costs time.
    const std::size_t body = at + static_cast<std::size_t>(h.length);
    FrameHeader next;
    if (body + 4 > size || !ParseFrameHeader(data + body, next)) return out;
    std::size_t tag = 0;
    for (std::size_t i = at + 4; i + 16 <= body && i < at + 40 && !tag; ++i)
        if (std::memcmp(data + i, "Xing", 4) == 0 || std::memcmp(data + i, "Info", 4) == 0) tag = i;
    if (!tag || !(data[tag + 4] & 0x80)) return out;
    out.assign(data, data + body);
    while (out.size() < 540 * 1024) out.insert(out.end(), data + body, data + size);
    if (data[tag + 7] & 2) {
        const auto bytes = static_cast<std::uint32_t>(out.size() - at);
        const std::size_t b = tag + 8 + ((data[tag + 7] & 1) ? 4 : 0);
        for (int i = 0; i < 4; ++i) out[b + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bytes >> (24 - 8 * i));
    }
    return out;
}

void CheckProbe(const std::uint8_t* data, std::size_t size, bool lengthen) {
    const auto file = AsFile(data, size, !lengthen);
    FUZZ_CHECK(file && file->Size() == static_cast<std::int64_t>(size));
    const auto bytes = static_cast<std::int64_t>(size);

    // The tag readers stay inside the file.
    const std::int64_t tagsEnd = SkipId3v2(*file, 0);
    FUZZ_CHECK(tagsEnd >= 0);
    const std::int64_t audioEnd = AudioEnd(*file, std::min(tagsEnd, bytes));
    FUZZ_CHECK(audioEnd >= std::min(tagsEnd, bytes) && audioEnd <= bytes);

    if (const auto asf = ParseAsf(*file)) {
        FUZZ_CHECK(asf->dataStart == -1 || (asf->dataStart > 30 && asf->dataStart <= bytes + 26));
    }
    if (const auto wav = ParseWav(*file)) {
        FUZZ_CHECK(wav->dataBytes >= 0 && wav->dataBytes <= bytes);
        if (wav->measurable) FUZZ_CHECK(wav->rate > 0 && wav->frameBytes > 0);
    }

    const Sniffed s = Sniff(*file);
    if (s.kind == Container::kMp3) {
        FUZZ_CHECK(s.tagsEnd >= 0 && s.tagsEnd <= s.audioStart && s.audioStart + 4 <= bytes);
    }
    if (s.kind != Container::kMp3 && s.kind != Container::kWavPcm) return;

    const double seconds = MeasureFile(file, s, nullptr);
    FUZZ_CHECK(std::isfinite(seconds) && seconds >= 0);
    if (s.kind == Container::kWavPcm) {
        // At least one byte a sample frame and one frame a second, the least the reader takes.
        FUZZ_CHECK(seconds <= static_cast<double>(bytes));
    } else {
        // Every frame counted lies between the ID3v2 tags and the end.
        const double audio = static_cast<double>(bytes - s.tagsEnd);
        if (!(seconds <= audio * kMp3SecondsPerByte + kMp3LastFrameSeconds + 1e-9)) {
            std::fprintf(stderr, "%.3f s from %lld bytes of MPEG audio\n", seconds, static_cast<long long>(audio));
            FUZZ_CHECK(!"the length fits the bytes");
        }
    }
    if (lengthen) {
        const std::vector<std::uint8_t>& longer = Lengthened(data, size, s);
        if (!longer.empty()) CheckProbe(longer.data(), longer.size(), false);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckProbe(data, size, true);
    return 0;
}
