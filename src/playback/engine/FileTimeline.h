#pragma once
#include <array>
#include <atomic>
#include <cstdint>

namespace quendo::audio {

// Where a stretched deck's ring frames lie in its file: the decoder thread notes, before it writes
// a run of frames, the run's first ring index, the file frame it plays and the file frames each
// ring frame moves on by. The mixer reads the note that holds its ring position and tells the
// position heard in file time. The notes are kept in ring order in a fixed queue, one writer
// (the decoder) and one reader (the mixer), ordered like the frame ring itself: the writer's
// release of its count hands the notes below it over, the reader's release of its own hands
// their slots back. Neither side ever waits.
class FileTimeline {
public:
    struct Note {
        std::uint64_t ring = 0;  // the run's first ring frame
        double file = 0;         // the file frame it plays
        double step = 1;         // file frames per ring frame along the run
        double FileAt(std::uint64_t index) const { return file + static_cast<double>(index - ring) * step; }
    };
    static constexpr std::uint32_t kNotes = 64;

    // ---- decoder thread ----
    // Whether a note fits now (the mixer frees slots as it plays past them).
    bool HasRoom() const {
        return written_.load(std::memory_order_relaxed) - released_.load(std::memory_order_acquire) < kNotes;
    }
    // Adds a note; only after HasRoom() said so, and before the frames it describes are written.
    void Add(const Note& n) {
        const std::uint64_t w = written_.load(std::memory_order_relaxed);
        notes_[w % kNotes] = n;
        written_.store(w + 1, std::memory_order_release);
    }

    // ---- the mixing thread ----
    // The note of the run that holds ring frame `index`, looking no further back than the note
    // held before; it lets go of the notes before that. Null when no note lies at or before it
    // (a plain generation's frames, which the notes do not describe).
    const Note* At(std::uint64_t index) {
        const std::uint64_t w = written_.load(std::memory_order_acquire);
        if (held_ == kNone) {
            if (read_ == w) return nullptr;
            held_ = read_;
        }
        while (held_ + 1 < w && notes_[(held_ + 1) % kNotes].ring <= index) ++held_;
        if (held_ != read_) {
            read_ = held_;
            released_.store(read_, std::memory_order_release);
        }
        const Note& n = notes_[held_ % kNotes];
        return n.ring <= index ? &n : nullptr;
    }

private:
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::array<Note, kNotes> notes_{};
    alignas(64) std::atomic<std::uint64_t> written_{0};
    alignas(64) std::atomic<std::uint64_t> released_{0};
    std::uint64_t read_ = 0, held_ = kNone;  // the mixer's
};

}  // namespace quendo::audio
