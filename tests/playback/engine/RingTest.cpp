// The engine's two lock-free pieces on their own: the frame ring between a deck's decoder thread
// and the mixer, and the snapshot through which the decoder thread tells the mixer where each
// generation starts and ends. The threaded cases are what the TSan build checks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "playback/engine/SpscRing.h"

using quendo::audio::SpscRing;
using quendo::audio::SpscSnapshot;

namespace {

// Frames whose left sample is their number and whose right sample is minus it.
std::vector<float> Numbered(std::uint32_t first, std::uint32_t count) {
    std::vector<float> v;
    for (std::uint32_t i = 0; i < count; ++i) {
        v.push_back(static_cast<float>(first + i));
        v.push_back(-static_cast<float>(first + i));
    }
    return v;
}

TEST(Ring, WrapsAroundKeepingEveryFrame) {
    SpscRing ring(8);
    EXPECT_EQ(ring.Capacity(), 8u);
    EXPECT_EQ(ring.FreeFrames(), 8u);
    EXPECT_EQ(ring.Write(Numbered(0, 6).data(), 6), 6u);
    EXPECT_EQ(ring.Written(), 6u);
    EXPECT_EQ(ring.FreeFrames(), 2u);
    ring.SkipTo(5);
    EXPECT_EQ(ring.ReadIndex(), 5u);
    EXPECT_EQ(ring.FreeFrames(), 7u);
    // Frames 6..12 go to slots 6, 7, 0, 1, 2, 3, 4.
    EXPECT_EQ(ring.Write(Numbered(6, 7).data(), 7), 7u);
    EXPECT_EQ(ring.Written(), 13u);
    EXPECT_EQ(ring.FreeFrames(), 0u);
    for (std::uint64_t i = 5; i < 13; ++i) {
        EXPECT_EQ(ring.At(i)[0], static_cast<float>(i)) << i;
        EXPECT_EQ(ring.At(i)[1], -static_cast<float>(i)) << i;
    }
    // Frames 5..7 lie in a row, then the storage starts over with 8..12.
    EXPECT_EQ(ring.RunFrom(5), 3u);
    EXPECT_EQ(ring.At(5) + 2 * 2, ring.At(7));
    EXPECT_EQ(ring.RunFrom(8), 8u);
    EXPECT_EQ(ring.RunFrom(12), 4u);
    // Round the ring several times in steps that do not divide it.
    std::uint32_t next = 13;
    for (int round = 0; round < 20; ++round) {
        ring.SkipTo(ring.Written() - 1);
        const std::uint32_t n = ring.Write(Numbered(next, 5).data(), 5);
        ASSERT_EQ(n, 5u);
        next += n;
        for (std::uint64_t i = ring.ReadIndex(); i < ring.Written(); ++i) ASSERT_EQ(ring.At(i)[0], static_cast<float>(i));
    }
}

TEST(Ring, WriteTakesOnlyWhatFits) {
    SpscRing ring(8);
    EXPECT_EQ(ring.Write(Numbered(0, 10).data(), 10), 8u);
    EXPECT_EQ(ring.Write(Numbered(8, 1).data(), 1), 0u) << "full";
    ring.SkipTo(3);
    EXPECT_EQ(ring.Write(Numbered(8, 5).data(), 5), 3u);
    EXPECT_EQ(ring.Written(), 11u);
    for (std::uint64_t i = 3; i < 11; ++i) EXPECT_EQ(ring.At(i)[0], static_cast<float>(i)) << i;
}

TEST(Ring, SkipToMovesForwardOnlyAndNeverPastWhatWasWritten) {
    SpscRing ring(16);
    ring.SkipTo(4);
    EXPECT_EQ(ring.ReadIndex(), 0u) << "nothing written yet";
    ring.Write(Numbered(0, 5).data(), 5);
    ring.SkipTo(3);
    EXPECT_EQ(ring.ReadIndex(), 3u);
    ring.SkipTo(1);
    EXPECT_EQ(ring.ReadIndex(), 3u) << "never back";
    ring.SkipTo(100);
    EXPECT_EQ(ring.ReadIndex(), 5u) << "clamped to what was written";
    EXPECT_EQ(ring.FreeFrames(), 16u) << "and not beyond: the ring is not overdrawn";
    // A clamped skip does not let the producer's next frames be taken as read.
    ring.Write(Numbered(5, 16).data(), 16);
    EXPECT_EQ(ring.Written(), 21u);
    EXPECT_EQ(ring.FreeFrames(), 0u);
    for (std::uint64_t i = 5; i < 21; ++i) EXPECT_EQ(ring.At(i)[0], static_cast<float>(i)) << i;
}

// One thread writes numbered frames in uneven pieces, the other reads them and skips ahead;
// every frame arrives whole and in order, and the producer never writes over unread frames.
TEST(Ring, ThreadsPassEveryFrameInOrder) {
    SpscRing ring(1024);
    constexpr std::uint32_t kTotal = 400000;
    std::thread producer([&] {
        std::uint32_t next = 0, step = 1;
        while (next < kTotal) {
            step = step * 7 % 301 + 1;
            const std::uint32_t n = std::min(step, kTotal - next);
            next += ring.Write(Numbered(next, n).data(), n);
            if (ring.FreeFrames() == 0) std::this_thread::yield();
        }
    });
    std::uint64_t at = 0;
    std::uint32_t step = 3;
    bool ok = true;
    while (at < kTotal && ok) {
        const std::uint64_t w = ring.Written();
        step = step * 5 % 257 + 1;
        const std::uint64_t until = std::min<std::uint64_t>(w, at + step);
        for (; at < until; ++at) {
            const float* s = ring.At(at);
            if (s[0] != static_cast<float>(at) || s[1] != -static_cast<float>(at)) {
                ADD_FAILURE() << "frame " << at << " reads " << s[0] << ", " << s[1];
                ok = false;
                break;
            }
        }
        ring.SkipTo(at);
        if (until == w) std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(at, kTotal);
}

struct Record {
    std::uint64_t n = 0, twice = 0, minus = ~0ull;
};

TEST(Snapshot, ReaderHoldsItsValueUntilANewerOneIsPublished) {
    SpscSnapshot<Record> s;
    EXPECT_EQ(s.Read().n, 0u) << "the first value is the record's default";
    s.Back() = {1, 2, ~1ull};
    s.Publish();
    EXPECT_EQ(s.Read().n, 1u);
    EXPECT_EQ(s.Read().n, 1u) << "nothing newer: the value held";
    EXPECT_EQ(s.Held().n, 1u);
    // Several publications between two reads: the reader gets the newest.
    for (std::uint64_t n = 2; n <= 5; ++n) {
        s.Back() = {n, 2 * n, ~n};
        s.Publish();
    }
    EXPECT_EQ(s.Held().n, 1u) << "until the reader looks";
    EXPECT_EQ(s.Read().n, 5u);
    s.Back() = {6, 12, ~6ull};
    s.Publish();
    EXPECT_EQ(s.Read().n, 6u);
    EXPECT_EQ(s.Read().twice, 12u);
}

// The reader never sees a half-written record nor an older one than it had, and never waits.
TEST(Snapshot, ThreadsNeverSeeATornOrOlderRecord) {
    SpscSnapshot<Record> s;
    constexpr std::uint64_t kLast = 200000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::uint64_t n = 1; n <= kLast; ++n) {
            Record& r = s.Back();
            r.n = n;
            r.twice = 2 * n;
            r.minus = ~n;
            s.Publish();
        }
        done.store(true, std::memory_order_release);
    });
    std::uint64_t last = 0, reads = 0;
    bool ok = true;
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        const Record& r = s.Read();
        ++reads;
        if (r.twice != 2 * r.n || r.minus != ~r.n || r.n < last) {
            ADD_FAILURE() << "read " << r.n << ", " << r.twice << ", " << r.minus << " after " << last;
            ok = false;
            break;
        }
        last = r.n;
        if (finished) break;
    }
    writer.join();
    if (!ok) return;
    EXPECT_EQ(last, kLast) << "after the writer is done the reader has its last record";
    EXPECT_GT(reads, 0u);
}

}  // namespace
