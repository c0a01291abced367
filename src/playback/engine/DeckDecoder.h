#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "playback/engine/DecodeSource.h"
#include "playback/engine/DeckShared.h"
#include "playback/engine/DeckStretch.h"
#include "playback/engine/EndNotices.h"
#include "playback/engine/SpscRing.h"

namespace quendo::audio {

// A deck's decoder thread: it takes the control's commands in order, reads the file into the ring
// ahead of the mixer (through the deck's stretch, at the rate the plan asks), publishes where each
// generation's frames start and end, and where stretched frames lie in the file, and tells the
// engine when the mixer has played a file to its end.
//
// The thread runs from construction to destruction, and owns the open stream and the ring's
// writer side. Post and Wake are for the interface thread; the rest is the thread's own.
class DeckDecoder {
public:
    struct Command {
        std::uint32_t gen;
        enum Kind { kOpen, kSeek, kClose } kind;
        double seconds;                      // kSeek
        std::unique_ptr<DeckStream> stream;  // kOpen
        std::shared_ptr<const RatePlan> plan;  // kOpen, kSeek: the rate to play at; null: the file's own
    };

    DeckDecoder(SpscRing::Writer ring, DeckShared& shared, EndNotices& notices, int rate);
    // Stops the thread and waits for it.
    ~DeckDecoder();
    DeckDecoder(const DeckDecoder&) = delete;
    DeckDecoder& operator=(const DeckDecoder&) = delete;

    // Interface thread: a command for the thread, taken after those before it.
    void Post(Command c);
    // Any thread: the thread looks again at once (for room in the ring, or for the end).
    void Wake() { wake_.notify_one(); }

private:
    void Loop();
    void Take(Command& c, std::unique_ptr<DeckStream>& stream, DeckStretch& stretch, Published& pub, bool& ended);
    void Publish(const Published& p);

    SpscRing::Writer ring_;
    DeckShared& shared_;
    EndNotices& notices_;
    const int rate_;

    // Interface thread and decoder thread, under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Command> commands_;
    bool quit_ = false;
    std::thread thread_;  // last: starts once the rest is made
};

}  // namespace quendo::audio
