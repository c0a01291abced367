#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quendo::audio {

// Interleaved stereo float frames, one producer thread and one consumer thread.
// Indices count frames since creation and never wrap in practice (64 bits).
//
// The ring itself only holds the frames; the two threads use it through the sides it hands out,
// a Writer for the producer and a Reader for the consumer, so that code given one side cannot
// call the other's operations. Make one of each and keep each on its thread.
//
// The frames themselves are plain memory: the producer's release store of the write index hands
// the frames below it to the consumer, and the consumer's release store of the read index hands
// the slots below it back. Only acquire and release operations on those two indices order them,
// so ThreadSanitizer checks the protocol.
class SpscRing {
public:
    class Writer;
    class Reader;

    explicit SpscRing(std::uint32_t capacityPow2)
        : capacity_(capacityPow2), mask_(capacityPow2 - 1), data_(new float[2 * capacityPow2]()) {}
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    std::uint32_t Capacity() const { return capacity_; }
    // The sides, each to be kept by one thread; neither may outlive the ring.
    Writer writer();
    Reader reader();

private:
    // What both sides are: a handle that moves to its thread and is never copied.
    class Side {
    public:
        Side(const Side&) = delete;
        Side& operator=(const Side&) = delete;
        Side(Side&& other) noexcept : ring_(other.ring_) { other.ring_ = nullptr; }

    protected:
        explicit Side(SpscRing& ring) : ring_(&ring) {}
        ~Side() = default;
        SpscRing* ring_;
    };

    const std::uint32_t capacity_;
    const std::uint64_t mask_;
    std::unique_ptr<float[]> data_;
    alignas(64) std::atomic<std::uint64_t> write_{0};
    alignas(64) std::atomic<std::uint64_t> read_{0};
};

// The producer's side.
class SpscRing::Writer : public Side {
public:
    std::uint64_t WriteIndex() const { return ring_->write_.load(std::memory_order_relaxed); }
    std::uint32_t FreeFrames() const {
        return ring_->capacity_ - static_cast<std::uint32_t>(ring_->write_.load(std::memory_order_relaxed) -
                                                             ring_->read_.load(std::memory_order_acquire));
    }
    // Copies up to `frames` frames; returns how many fit.
    std::uint32_t Write(const float* src, std::uint32_t frames) {
        SpscRing& r = *ring_;
        const std::uint64_t w = r.write_.load(std::memory_order_relaxed);
        const std::uint32_t free = r.capacity_ - static_cast<std::uint32_t>(w - r.read_.load(std::memory_order_acquire));
        if (frames > free) frames = free;
        const std::uint32_t at = static_cast<std::uint32_t>(w & r.mask_);
        const std::uint32_t first = frames < r.capacity_ - at ? frames : r.capacity_ - at;
        std::memcpy(r.data_.get() + 2 * at, src, sizeof(float) * 2 * first);
        std::memcpy(r.data_.get(), src + 2 * first, sizeof(float) * 2 * (frames - first));
        r.write_.store(w + frames, std::memory_order_release);
        return frames;
    }

private:
    friend class SpscRing;
    explicit Writer(SpscRing& ring) : Side(ring) {}
};

// The consumer's side.
class SpscRing::Reader : public Side {
public:
    // Frames below this index are written and may be read with At.
    std::uint64_t Written() const { return ring_->write_.load(std::memory_order_acquire); }
    // The position the consumer has released: slots below it belong to the producer again.
    std::uint64_t ReadIndex() const { return ring_->read_.load(std::memory_order_relaxed); }
    // Slots the producer may fill now.
    std::uint32_t FreeFrames() const {
        return ring_->capacity_ - static_cast<std::uint32_t>(ring_->write_.load(std::memory_order_relaxed) -
                                                             ring_->read_.load(std::memory_order_relaxed));
    }
    // Moves the released position forward to `index`, never back and never past what was written.
    void SkipTo(std::uint64_t index) {
        SpscRing& r = *ring_;
        const std::uint64_t w = r.write_.load(std::memory_order_acquire);
        if (index > w) index = w;
        if (index > r.read_.load(std::memory_order_relaxed)) r.read_.store(index, std::memory_order_release);
    }
    // Frame i (absolute index, at least ReadIndex and below Written) as a pointer to its two
    // samples; valid until SkipTo passes it.
    const float* At(std::uint64_t i) const { return ring_->data_.get() + 2 * (i & ring_->mask_); }
    // How many frames from i on lie in a row in memory, before the storage wraps to its start.
    std::uint32_t RunFrom(std::uint64_t i) const {
        return ring_->capacity_ - static_cast<std::uint32_t>(i & ring_->mask_);
    }

private:
    friend class SpscRing;
    explicit Reader(SpscRing& ring) : Side(ring) {}
};

inline SpscRing::Writer SpscRing::writer() { return Writer(*this); }
inline SpscRing::Reader SpscRing::reader() { return Reader(*this); }

// The newest value of a record that one thread publishes and one other thread reads, without
// either ever waiting or retrying: three slots (a triple buffer). The writer fills the slot it
// owns and swaps it with the shared middle one; the reader swaps the middle one for its own when
// it is newer. Each side only touches the slot it owns, so the record is plain data, and the two
// acquire-release exchanges are all that orders it: ThreadSanitizer checks the protocol.
template <class T>
class SpscSnapshot {
public:
    // ---- writer side ----
    // The slot to fill; then Publish.
    T& Back() { return slots_[back_]; }
    void Publish() { back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex; }

    // ---- reader side ----
    // Takes the newest published value, if there is one since the last call (one exchange at
    // most); otherwise keeps the one it holds. Returns the value held.
    const T& Read() {
        if (middle_.load(std::memory_order_relaxed) & kFresh)
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        return slots_[front_];
    }
    // The value the reader holds, as the last Read returned it.
    const T& Held() const { return slots_[front_]; }

private:
    static constexpr std::uint8_t kIndex = 3, kFresh = 4;
    T slots_[3]{};
    std::uint8_t back_ = 0;                   // writer's
    alignas(64) std::atomic<std::uint8_t> middle_{1};
    alignas(64) std::uint8_t front_ = 2;      // reader's
};

}  // namespace quendo::audio
