#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "playback/engine/DecodeSource.h"
#include "playback/engine/DeckShared.h"
#include "playback/engine/DeckStretch.h"
#include "playback/engine/EndNotices.h"
#include "playback/engine/SpscRing.h"

namespace quendo::audio {

// A deck's decoder thread: it takes the control's commands in order, opens the deck's files and
// tells the control what it found, reads the file into the ring
// ahead of the mixer (through the deck's stretch, at the rate the plan asks), publishes where each
// generation's frames start and end, and where stretched frames lie in the file, and tells the
// engine when the mixer has played a file to its end.
//
// The thread runs from construction to destruction, and owns the open stream and the ring's
// writer side. Post, Opened, Wake and Stuck are for the interface thread; the rest is the
// thread's own.
//
// A file that stops answering (a network share or a stick gone away) can hold the thread inside
// an open, a seek or a read for good, and such a thread can be neither woken nor joined. So the deck gives up on a
// thread held in its stream for kStuck: when the deck is given another file or closed, a fresh
// thread takes over the ring, and at destruction the held one is left behind. A thread given up
// on touches nothing of the deck again: when its file lets go, it sees that it is no longer the
// one serving, and leaves with its stream.
class DeckDecoder {
public:
    struct Command {
        std::uint32_t gen;
        enum Kind { kOpen, kSeek, kClose } kind;
        double seconds;                        // kSeek
        std::string path;                      // kOpen
        std::shared_ptr<const RatePlan> plan;  // kOpen, kSeek: the rate to play at; null: the file's own
    };
    // A call into a stream that has lasted this long has stopped answering.
    static constexpr std::chrono::seconds kStuck{1};

    DeckDecoder(SpscRing::Writer ring, DeckShared& shared, EndNotices& notices, DecodeSource& source, int rate);
    // Stops the thread and waits for it, but for no longer than until a call into its stream has
    // lasted kStuck.
    ~DeckDecoder();
    DeckDecoder(const DeckDecoder&) = delete;
    DeckDecoder& operator=(const DeckDecoder&) = delete;

    // Interface thread: a command for the thread, taken after those before it.
    void Post(Command c);
    // What the open of generation `gen` found: the file's length, 0 when it does not play.
    struct Opening {
        bool answered;
        double duration;
    };
    // Interface thread: waits up to `wait` for the answer to the open of `gen`, the newest asked
    // for. A thread held in an older file by then is given up on, so that the open goes ahead.
    Opening Opened(std::uint32_t gen, std::chrono::milliseconds wait);
    // Any thread: the thread looks again at once (for room in the ring, or for the end).
    void Wake() { meet_->wake.notify_one(); }
    // Any thread, without a lock: whether the thread is held in its stream, stuck.
    bool Stuck() const;

private:
    // Where the interface thread and the deck's decoder threads meet. Each thread holds it too,
    // so that one given up on finds it still there when its file lets go.
    struct Meeting {
        std::mutex mutex;
        std::condition_variable wake, leftStream, opened;
        std::deque<Command> commands;
        Opening answer{false, 0};  // to the open of generation answerGen
        std::uint32_t answerGen = 0;
        bool quit = false;
        std::uint32_t serving = 0;  // the thread that serves the deck; any other was given up on
        // When the serving thread went into a call into its stream (steady clock, ns); 0: it is
        // not in one. Written under the mutex, read without it.
        std::atomic<std::int64_t> inStreamSince{0};
    };

    void Start();
    void TakeOverIfStuck();
    void Loop(const std::shared_ptr<Meeting>& meet, std::uint32_t me);
    void Publish(const Published& p);

    SpscRing::Writer ring_;
    DeckShared& shared_;
    EndNotices& notices_;
    DecodeSource& source_;
    const int rate_;

    std::shared_ptr<Meeting> meet_;
    std::uint32_t threads_ = 0;  // threads started: the next one's number
    std::thread thread_;         // the serving thread
};

}  // namespace quendo::audio
