#pragma once
#include <cstdint>

namespace quendo {

// What the deck engine needs of the playlist: its head and length, and the moves of the head as
// tracks start.
class TrackQueue {
public:
    virtual int Count() const = 0;
    virtual bool Empty() const = 0;
    virtual std::int32_t Head() const = 0;  // the head's file index, -1 when empty
    virtual std::int32_t At(int index) const = 0;  // entry index's file index, -1 past the end
    virtual void TakeOffHead() = 0;         // it leaves, and is remembered as the track taken off
    virtual void MoveHeadToEnd() = 0;
    // The track that left the list when it started and still plays; -1 for none.
    virtual std::int32_t takenOffNodeId() const = 0;
    virtual void SetTakenOff(std::int32_t file) = 0;

protected:
    ~TrackQueue() = default;
};

}  // namespace quendo
