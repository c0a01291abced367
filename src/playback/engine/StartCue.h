#pragma once
#include <cstdint>

namespace quendo::audio {

// When a deck asked to play starts: at once, or at the frame where the other deck plays a frame
// of its file (or right after the other's last frame). One word from the interface thread to the
// mixer; each Play numbers its cue, so that the mixer can tell one it has already carried out.
struct StartCue {
    std::uint32_t number = 0;  // kNumberBits
    bool onOther = false;      // false: at once
    bool atOtherEnd = false;   // rather than at `otherFrame`
    bool seamless = false;     // no fade-in
    std::uint64_t otherFrame = 0;

    static constexpr int kNumberBits = 20, kFrameBits = 40;
    static constexpr std::uint64_t kFrameMask = (std::uint64_t{1} << kFrameBits) - 1;

    std::uint64_t Pack() const {
        return std::uint64_t{onOther} << 63 | std::uint64_t{atOtherEnd} << 62 | std::uint64_t{seamless} << 61 |
               std::uint64_t{number & ((1u << kNumberBits) - 1)} << kFrameBits | (otherFrame & kFrameMask);
    }
    static StartCue Unpack(std::uint64_t w) {
        StartCue c;
        c.onOther = (w >> 63) & 1;
        c.atOtherEnd = (w >> 62) & 1;
        c.seamless = (w >> 61) & 1;
        c.number = static_cast<std::uint32_t>(w >> kFrameBits) & ((1u << kNumberBits) - 1);
        c.otherFrame = w & kFrameMask;
        return c;
    }
};

}  // namespace quendo::audio
