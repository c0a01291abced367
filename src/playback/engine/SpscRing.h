#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quendo::audio {

// Interleaved stereo float frames, one producer thread and one consumer thread.
// Indices count frames since creation and never wrap in practice (64 bits).
class SpscRing {
public:
    explicit SpscRing(std::uint32_t capacityPow2)
        : capacity_(capacityPow2), mask_(capacityPow2 - 1), data_(new float[2 * capacityPow2]()) {}

    std::uint32_t Capacity() const { return capacity_; }

    // Producer side.
    std::uint64_t WriteIndex() const { return write_.load(std::memory_order_relaxed); }
    std::uint32_t FreeFrames() const {
        return capacity_ - static_cast<std::uint32_t>(write_.load(std::memory_order_relaxed) -
                                                      read_.load(std::memory_order_acquire));
    }
    // Copies up to `frames` frames; returns how many fit.
    std::uint32_t Write(const float* src, std::uint32_t frames) {
        const std::uint64_t w = write_.load(std::memory_order_relaxed);
        const std::uint32_t free = capacity_ - static_cast<std::uint32_t>(w - read_.load(std::memory_order_acquire));
        if (frames > free) frames = free;
        const std::uint32_t at = static_cast<std::uint32_t>(w & mask_);
        const std::uint32_t first = frames < capacity_ - at ? frames : capacity_ - at;
        std::memcpy(data_.get() + 2 * at, src, sizeof(float) * 2 * first);
        std::memcpy(data_.get(), src + 2 * first, sizeof(float) * 2 * (frames - first));
        write_.store(w + frames, std::memory_order_release);
        return frames;
    }

    // Consumer side.
    std::uint64_t ReadIndex() const { return read_.load(std::memory_order_relaxed); }
    std::uint64_t AvailableFrom(std::uint64_t from) const {
        const std::uint64_t w = write_.load(std::memory_order_acquire);
        return w > from ? w - from : 0;
    }
    // Moves the read position forward only (skipping data that is no longer wanted).
    void SkipTo(std::uint64_t index) {
        if (index > read_.load(std::memory_order_relaxed)) read_.store(index, std::memory_order_release);
    }
    // Frame i (absolute index) as a pointer to its two samples; valid until Consume passes it.
    const float* At(std::uint64_t i) const { return data_.get() + 2 * (i & mask_); }
    void Consume(std::uint32_t frames) {
        read_.store(read_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
    }

private:
    const std::uint32_t capacity_;
    const std::uint64_t mask_;
    std::unique_ptr<float[]> data_;
    alignas(64) std::atomic<std::uint64_t> write_{0};
    alignas(64) std::atomic<std::uint64_t> read_{0};
};

}  // namespace quendo::audio
