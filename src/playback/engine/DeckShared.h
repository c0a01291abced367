#pragma once
// What a deck's three threads share, and the rules they share it by.
//
// A deck is played by three threads, each with a part of its own: the interface thread's control
// (DeckControl, the MediaPlayer), the deck's decoder thread (DeckDecoder) and the thread that
// mixes (DeckMixer: the device callback, or render()). They meet only in the frame ring, whose
// writer side the decoder holds and whose reader side the mixer holds, and here: in the
// decoder's published record and in a few atomics, each written by one thread.
//
// Every open, seek or close starts a new generation. The control numbers them; the decoder starts
// each in the ring where the previous one stopped; the mixer fades the old one out before it
// moves to the newest, and skips those in between unheard.
#include <atomic>
#include <cstdint>
#include <limits>

#include "playback/engine/BassCut.h"
#include "playback/engine/FileTimeline.h"
#include "playback/engine/SpscRing.h"

namespace quendo::audio {

constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kRingFrames = 1u << 16;  // about 1.5 s at 44.1 kHz
constexpr int kDecodeChunk = 4096;

// Heard position and its generation in one word, so a reader never pairs one seek's generation
// with another's position.
constexpr int kGenBits = 24;
constexpr std::uint32_t kGenMask = (1u << kGenBits) - 1;
constexpr std::uint64_t kFramesMask = (std::uint64_t{1} << (64 - kGenBits)) - 1;
inline std::uint64_t PackHeard(std::uint32_t gen, std::uint64_t frames) {
    return static_cast<std::uint64_t>(gen & kGenMask) << (64 - kGenBits) | (frames & kFramesMask);
}
inline std::uint32_t HeardGen(std::uint64_t packed) { return static_cast<std::uint32_t>(packed >> (64 - kGenBits)); }
inline std::uint64_t HeardFrames(std::uint64_t packed) { return packed & kFramesMask; }
inline bool SameGen(std::uint32_t a, std::uint32_t b) { return ((a ^ b) & kGenMask) == 0; }
// Generations count 1, 2, ... within kGenBits and skip 0, which only the first state has.
inline std::uint32_t NextGen(std::uint32_t gen) {
    const std::uint32_t next = (gen + 1) & kGenMask;
    return next == 0 ? 1 : next;
}

// What the decoder thread tells the mixer about the newest generation it has started: its frames
// begin at `start` in the ring, end at `end` once known, and the first of them is frame `base` of
// the file.
struct Published {
    std::uint32_t gen = 0;
    std::uint64_t start = 0, end = kNoEnd;
    std::int64_t base = 0;
};

// A track's own gain, and the level its signal must not pass once raised by it (infinite: none),
// as factors. One word, so that the mixer never pairs one track's gain with another's ceiling.
struct TrackLevel {
    float gain = 1.0f;
    float ceiling = std::numeric_limits<float>::infinity();
};

// The fields the threads share beside the ring, each with its one writer.
struct DeckShared {
    SpscSnapshot<Published> published;  // decoder thread -> mixer
    FileTimeline timeline;              // decoder thread -> mixer: where stretched frames lie in the file

    // Interface thread -> mixer.
    std::atomic<std::uint32_t> requested{0};  // the newest generation asked for
    std::atomic<bool> playing{false};
    std::atomic<int> volume{0}, balance{0};
    std::atomic<TrackLevel> trackLevel{TrackLevel{}};
    static_assert(std::atomic<TrackLevel>::is_always_lock_free);
    std::atomic<std::uint64_t> cue{0};  // StartCue: when a deck asked to play starts
    SpscSnapshot<BassPlan> bassPlan;    // the low band's gain through the file

    // Mixer -> interface thread (and, for the end, the decoder thread, which wakes the engine).
    std::atomic<std::uint64_t> heard{0};       // PackHeard(generation, frame of the file)
    std::atomic<std::uint32_t> endedGen{0};    // the generation played to its end
    // Playing, the mixer had nothing of the newest generation to play in its last block: the
    // decoder is behind, or held by a file that stopped answering.
    std::atomic<bool> starved{false};
    // The deck's last block ended above silence: it is playing or still fading out.
    std::atomic<bool> sounding{false};
};

}  // namespace quendo::audio
