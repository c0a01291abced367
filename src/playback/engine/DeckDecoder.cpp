#include "playback/engine/DeckDecoder.h"

#include <cmath>
#include <utility>
#include <vector>

namespace quendo::audio {

namespace {
constexpr std::uint32_t kRefillFrames = 16384;  // the thread wakes to work in batches, not per chunk
constexpr auto kDecoderPoll = std::chrono::milliseconds(20);

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The stream's part of a command: the new stream, the seek or the close. True when nothing
// follows. An open notes the file's length in `duration`, 0 when it does not play.
bool Apply(DeckDecoder::Command& c, std::unique_ptr<DeckStream>& stream, DecodeSource& source, int rate,
           double& duration) {
    if (c.kind == DeckDecoder::Command::kOpen) {
        stream.reset();
        std::unique_ptr<DeckStream> opened = source.Open(c.path, rate);
        // A file without a length (no audio found within the discovery bounds) does not play.
        duration = opened ? opened->Duration() : 0;
        if (duration > 0) stream = std::move(opened);
        return !stream;
    }
    if (c.kind == DeckDecoder::Command::kSeek && stream) return !stream->Seek(c.seconds);
    stream.reset();
    return true;
}
}  // namespace

DeckDecoder::DeckDecoder(SpscRing::Writer ring, DeckShared& shared, EndNotices& notices, DecodeSource& source,
                         int rate)
    : ring_(std::move(ring)),
      shared_(shared),
      notices_(notices),
      source_(source),
      rate_(rate),
      meet_(std::make_shared<Meeting>()) {
    std::lock_guard lock(meet_->mutex);
    Start();
}

DeckDecoder::~DeckDecoder() {
    std::unique_lock lock(meet_->mutex);
    meet_->quit = true;
    meet_->wake.notify_all();
    if (const std::int64_t since = meet_->inStreamSince.load(std::memory_order_relaxed)) {
        const auto stuck = std::chrono::steady_clock::time_point(
                               std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(since))) +
                           kStuck;
        meet_->leftStream.wait_until(lock, stuck, [&] { return meet_->inStreamSince.load(std::memory_order_relaxed) == 0; });
    }
    if (meet_->inStreamSince.load(std::memory_order_relaxed) != 0) {
        meet_->serving = 0;
        thread_.detach();
        return;
    }
    lock.unlock();
    thread_.join();
}

// Under the mutex.
void DeckDecoder::Start() {
    meet_->inStreamSince.store(0, std::memory_order_relaxed);
    meet_->serving = ++threads_;
    thread_ = std::thread([this, meet = meet_, me = meet_->serving] { Loop(meet, me); });
}

void DeckDecoder::Post(Command c) {
    std::lock_guard lock(meet_->mutex);
    const bool anew = c.kind != Command::kSeek;
    meet_->commands.push_back(std::move(c));
    // A new file or a close needs nothing of the stream the thread is held in: a fresh thread
    // takes over, and the held one leaves when its file lets it go.
    if (anew) TakeOverIfStuck();
    meet_->wake.notify_one();
}

// Under the mutex.
void DeckDecoder::TakeOverIfStuck() {
    if (!Stuck()) return;
    thread_.detach();
    Start();
}

DeckDecoder::Opening DeckDecoder::Opened(std::uint32_t gen, std::chrono::milliseconds wait) {
    std::unique_lock lock(meet_->mutex);
    const auto answered = [&] { return meet_->answerGen == gen; };
    if (!answered() && wait.count() > 0) {
        meet_->opened.wait_for(lock, wait, answered);
        // Held in an older file all this while: the open is the newest command, and needs
        // nothing of that file.
        if (!answered()) TakeOverIfStuck();
    }
    return answered() ? meet_->answer : Opening{false, 0};
}

bool DeckDecoder::Stuck() const {
    const std::int64_t since = meet_->inStreamSince.load(std::memory_order_relaxed);
    return since != 0 && Now() - since >= std::chrono::nanoseconds(kStuck).count();
}

// The frames below p.start (and p.end) are written before the record goes out.
void DeckDecoder::Publish(const Published& p) {
    shared_.published.Back() = p;
    shared_.published.Publish();
}

// The thread touches the deck (the ring, the shared record, the engine) only while it serves it.
// It can be given up on only while inside a call into its stream, and it comes out of one only
// under the mutex, where it learns whether it still serves.
void DeckDecoder::Loop(const std::shared_ptr<Meeting>& meet, const std::uint32_t me) {
    Meeting& m = *meet;
    std::vector<float> buffer(2 * kDecodeChunk);
    std::unique_ptr<DeckStream> stream;
    DeckStretch stretch(rate_);  // the stream's, as the thread's own
    Published pub;
    bool ended = true, filling = false;
    std::uint32_t notified = shared_.endedGen.load(std::memory_order_acquire);
    std::unique_lock lock(m.mutex);
    // Runs a call into the stream outside the lock, where the file may hold the thread as long as
    // it likes; false when the thread was given up on meanwhile.
    const auto inStream = [&](auto&& call) {
        m.inStreamSince.store(Now(), std::memory_order_relaxed);
        lock.unlock();
        call();
        lock.lock();
        if (m.serving != me) return false;
        m.inStreamSince.store(0, std::memory_order_relaxed);
        m.leftStream.notify_all();
        return true;
    };
    while (!m.quit) {
        if (!m.commands.empty()) {
            Command c = std::move(m.commands.front());
            m.commands.pop_front();
            const bool seek = c.kind == Command::kSeek && stream;
            double duration = 0;
            if (!inStream([&] { ended = Apply(c, stream, source_, rate_, duration); })) return;
            if (c.kind == Command::kOpen) {
                m.answer = {true, duration};
                m.answerGen = c.gen;
                m.opened.notify_all();
            }
            // A new generation starts where the ring's frames stop.
            pub.gen = c.gen;
            pub.start = ring_.WriteIndex();
            pub.end = ended ? pub.start : kNoEnd;
            pub.base = seek ? static_cast<std::int64_t>(std::llround(c.seconds * rate_)) : 0;
            if (c.kind == Command::kOpen || seek) stretch.Start(std::move(c.plan), pub.base);
            Publish(pub);
            continue;
        }
        const std::uint32_t free = ring_.FreeFrames();
        filling = free >= kRefillFrames || (filling && free >= static_cast<std::uint32_t>(kDecodeChunk));
        // A stretched run needs a note of where it lies in the file, before its frames go out.
        if (!ended && stream && filling && shared_.timeline.HasRoom()) {
            DeckStretch::Chunk got{0, false, false, 0, 1};
            if (!inStream([&] { got = stretch.Read(*stream, buffer.data(), kDecodeChunk); })) return;
            lock.unlock();
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
        m.wake.wait_for(lock, kDecoderPoll);
    }
}

}  // namespace quendo::audio
