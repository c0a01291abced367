#include "playback/engine/DeckDecoder.h"

#include <chrono>
#include <cmath>
#include <utility>
#include <vector>

namespace quendo::audio {

namespace {
constexpr std::uint32_t kRefillFrames = 16384;  // the thread wakes to work in batches, not per chunk
constexpr auto kDecoderPoll = std::chrono::milliseconds(20);
}  // namespace

DeckDecoder::DeckDecoder(SpscRing::Writer ring, DeckShared& shared, EndNotices& notices, int rate)
    : ring_(std::move(ring)), shared_(shared), notices_(notices), rate_(rate) {
    thread_ = std::thread([this] { Loop(); });
}

DeckDecoder::~DeckDecoder() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void DeckDecoder::Post(Command c) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(c));
    }
    wake_.notify_one();
}

// A new generation starts where the ring's frames stop.
void DeckDecoder::Take(Command& c, std::unique_ptr<DeckStream>& stream, DeckStretch& stretch, Published& pub,
                       bool& ended) {
    pub.gen = c.gen;
    pub.start = ring_.WriteIndex();
    pub.end = kNoEnd;
    pub.base = 0;
    if (c.kind == Command::kOpen) {
        stream = std::move(c.stream);
        ended = false;
        stretch.Start(std::move(c.plan), 0);
    } else if (c.kind == Command::kSeek && stream) {
        ended = !stream->Seek(c.seconds);
        pub.base = static_cast<std::int64_t>(std::llround(c.seconds * rate_));
        stretch.Start(std::move(c.plan), pub.base);
    } else {
        stream.reset();
        ended = true;
    }
    if (ended) pub.end = pub.start;
    Publish(pub);
    c.stream.reset();
}

// The frames below p.start (and p.end) are written before the record goes out.
void DeckDecoder::Publish(const Published& p) {
    shared_.published.Back() = p;
    shared_.published.Publish();
}

void DeckDecoder::Loop() {
    std::vector<float> buffer(2 * kDecodeChunk);
    std::unique_ptr<DeckStream> stream;
    DeckStretch stretch(rate_);  // the stream's, as the thread's own
    Published pub;
    bool ended = true, filling = false;
    std::uint32_t notified = 0;
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!commands_.empty()) {
            Command c = std::move(commands_.front());
            commands_.pop_front();
            lock.unlock();
            Take(c, stream, stretch, pub, ended);
            lock.lock();
            continue;
        }
        const std::uint32_t free = ring_.FreeFrames();
        filling = free >= kRefillFrames || (filling && free >= static_cast<std::uint32_t>(kDecodeChunk));
        // A stretched run needs a note of where it lies in the file, before its frames go out.
        if (!ended && stream && filling && shared_.timeline.HasRoom()) {
            lock.unlock();
            const DeckStretch::Chunk got = stretch.Read(*stream, buffer.data(), kDecodeChunk);
            if (got.frames > 0 && got.newRun) shared_.timeline.Add({ring_.WriteIndex(), got.file, got.step});
            if (got.frames > 0) ring_.Write(buffer.data(), static_cast<std::uint32_t>(got.frames));
            if (got.ended) {
                ended = true;
                pub.end = ring_.WriteIndex();
                Publish(pub);
            }
            lock.lock();
            continue;
        }
        const std::uint32_t e = shared_.endedGen.load(std::memory_order_acquire);
        if (e != notified) {
            notified = e;
            lock.unlock();
            notices_.EventDue();
            lock.lock();
            continue;
        }
        wake_.wait_for(lock, kDecoderPoll);
    }
}

}  // namespace quendo::audio
