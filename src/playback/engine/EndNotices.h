#pragma once

namespace quendo::audio {

// Told, from a deck's decoder thread or the interface thread, that the deck may have an
// EndOfStream to raise; the engine then has it raised on the interface thread.
class EndNotices {
public:
    virtual void EventDue() = 0;

protected:
    ~EndNotices() = default;
};

}  // namespace quendo::audio
