// The engine's two lock-free pieces on their own: the frame ring between a deck's decoder thread
// and the mixer, and the snapshot through which the decoder thread tells the mixer where each
// generation starts and ends. The threaded cases are what the TSan build checks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <type_traits>
#include <vector>

#include "playback/engine/SpscRing.h"

using quendo::audio::SpscRing;
using quendo::audio::SpscSnapshot;

namespace {

// Each thread gets one side, which has only that side's operations, and cannot copy it.
template <class Side>
concept Writes = requires(Side& side, const float* frames) { side.Write(frames, 1u); };
template <class Side>
concept Reads = requires(Side& side) { side.SkipTo(0u); side.At(0u); };
static_assert(Writes<SpscRing::Writer> && !Reads<SpscRing::Writer>);
static_assert(Reads<SpscRing::Reader> && !Writes<SpscRing::Reader>);
static_assert(!std::is_copy_constructible_v<SpscRing::Writer> && !std::is_copy_constructible_v<SpscRing::Reader>);

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
    SpscRing::Writer w = ring.writer();
    SpscRing::Reader r = ring.reader();
    EXPECT_EQ(ring.Capacity(), 8u);
    EXPECT_EQ(w.FreeFrames(), 8u);
    EXPECT_EQ(w.Write(Numbered(0, 6).data(), 6), 6u);
    EXPECT_EQ(r.Written(), 6u);
    EXPECT_EQ(w.FreeFrames(), 2u);
    r.SkipTo(5);
    EXPECT_EQ(r.ReadIndex(), 5u);
    EXPECT_EQ(w.FreeFrames(), 7u);
    EXPECT_EQ(r.FreeFrames(), 7u) << "each side counts the same room";
    // Frames 6..12 go to slots 6, 7, 0, 1, 2, 3, 4.
    EXPECT_EQ(w.Write(Numbered(6, 7).data(), 7), 7u);
    EXPECT_EQ(r.Written(), 13u);
    EXPECT_EQ(w.FreeFrames(), 0u);
    EXPECT_EQ(r.FreeFrames(), 0u);
    for (std::uint64_t i = 5; i < 13; ++i) {
        EXPECT_EQ(r.At(i)[0], static_cast<float>(i)) << i;
        EXPECT_EQ(r.At(i)[1], -static_cast<float>(i)) << i;
    }
    // Frames 5..7 lie in a row, then the storage starts over with 8..12.
    EXPECT_EQ(r.RunFrom(5), 3u);
    EXPECT_EQ(r.At(5) + 2 * 2, r.At(7));
    EXPECT_EQ(r.RunFrom(8), 8u);
    EXPECT_EQ(r.RunFrom(12), 4u);
    // Round the ring several times in steps that do not divide it.
    std::uint32_t next = 13;
    for (int round = 0; round < 20; ++round) {
        r.SkipTo(r.Written() - 1);
        const std::uint32_t n = w.Write(Numbered(next, 5).data(), 5);
        ASSERT_EQ(n, 5u);
        next += n;
        for (std::uint64_t i = r.ReadIndex(); i < r.Written(); ++i) ASSERT_EQ(r.At(i)[0], static_cast<float>(i));
    }
}

TEST(Ring, WriteTakesOnlyWhatFits) {
    SpscRing ring(8);
    SpscRing::Writer w = ring.writer();
    SpscRing::Reader r = ring.reader();
    EXPECT_EQ(w.Write(Numbered(0, 10).data(), 10), 8u);
    EXPECT_EQ(w.Write(Numbered(8, 1).data(), 1), 0u) << "full";
    r.SkipTo(3);
    EXPECT_EQ(w.Write(Numbered(8, 5).data(), 5), 3u);
    EXPECT_EQ(r.Written(), 11u);
    for (std::uint64_t i = 3; i < 11; ++i) EXPECT_EQ(r.At(i)[0], static_cast<float>(i)) << i;
}

TEST(Ring, SkipToMovesForwardOnlyAndNeverPastWhatWasWritten) {
    SpscRing ring(16);
    SpscRing::Writer w = ring.writer();
    SpscRing::Reader r = ring.reader();
    r.SkipTo(4);
    EXPECT_EQ(r.ReadIndex(), 0u) << "nothing written yet";
    w.Write(Numbered(0, 5).data(), 5);
    r.SkipTo(3);
    EXPECT_EQ(r.ReadIndex(), 3u);
    r.SkipTo(1);
    EXPECT_EQ(r.ReadIndex(), 3u) << "never back";
    r.SkipTo(100);
    EXPECT_EQ(r.ReadIndex(), 5u) << "clamped to what was written";
    EXPECT_EQ(w.FreeFrames(), 16u) << "and not beyond: the ring is not overdrawn";
    // A clamped skip does not let the producer's next frames be taken as read.
    w.Write(Numbered(5, 16).data(), 16);
    EXPECT_EQ(r.Written(), 21u);
    EXPECT_EQ(w.FreeFrames(), 0u);
    for (std::uint64_t i = 5; i < 21; ++i) EXPECT_EQ(r.At(i)[0], static_cast<float>(i)) << i;
}

// One thread writes numbered frames in uneven pieces, the other reads them and skips ahead;
// every frame arrives whole and in order, and the producer never writes over unread frames.
TEST(Ring, ThreadsPassEveryFrameInOrder) {
    SpscRing ring(1024);
    SpscRing::Writer writer = ring.writer();
    SpscRing::Reader reader = ring.reader();
    constexpr std::uint32_t kTotal = 400000;
    std::thread producer([&writer] {
        std::uint32_t next = 0, step = 1;
        while (next < kTotal) {
            step = step * 7 % 301 + 1;
            const std::uint32_t n = std::min(step, kTotal - next);
            next += writer.Write(Numbered(next, n).data(), n);
            if (writer.FreeFrames() == 0) std::this_thread::yield();
        }
    });
    std::uint64_t at = 0;
    std::uint32_t step = 3;
    bool ok = true;
    while (at < kTotal && ok) {
        const std::uint64_t w = reader.Written();
        step = step * 5 % 257 + 1;
        const std::uint64_t until = std::min<std::uint64_t>(w, at + step);
        for (; at < until; ++at) {
            const float* s = reader.At(at);
            if (s[0] != static_cast<float>(at) || s[1] != -static_cast<float>(at)) {
                ADD_FAILURE() << "frame " << at << " reads " << s[0] << ", " << s[1];
                ok = false;
                break;
            }
        }
        reader.SkipTo(at);
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
