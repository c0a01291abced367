#pragma once
#include <optional>
#include <string>
#include <vector>

#include "model/MediaPlayer.h"

namespace quendo {

// A change from one track to the next as the automix means to play it, told as the commands its
// two decks will be given, so that it can be played anywhere else ahead of time.
struct PlannedChange {
    struct Track {
        std::string path;
        double gainDb = 0;
        bool limited = false;         // the track's peaks held at ceilingDbfs
        double ceilingDbfs = -1;
        double from = 0;              // seconds in the file where the deck is placed
        int volume = 0, balance = 0;  // before the first level step
        std::vector<MediaPlayer::RatePoint> rate;
        std::vector<MediaPlayer::BassPoint> bass;
    };
    // The decks' levels from the moment the outgoing track reaches `at` (its own seconds) on.
    struct LevelStep {
        double at = 0;
        int volume[2] = {0, 0};   // outgoing, incoming
        int balance[2] = {0, 0};
    };
    Track outgoing, incoming;
    // The incoming deck starts where the outgoing one has played to this (kAtOtherEnd: its end).
    double incomingAt = 0;
    bool seamless = false;  // without a fade-in: the music runs across the cut
    std::vector<LevelStep> steps;  // by `at`
    double seconds = 0;            // how long the preview runs, from outgoing.from
    std::string what;              // the change in words
};

// A second output that plays a planned change ahead of time, beside the show. Interface thread.
class ChangePreview {
public:
    virtual ~ChangePreview() = default;
    // The output devices the system reports now, by name.
    virtual std::vector<std::string> Devices() = 0;
    // Starts the change on `device` ("" the default), stopping any preview that plays; "" when it
    // plays, else why it cannot.
    virtual std::string Listen(const PlannedChange& change, const std::string& device) = 0;
    virtual void Stop() = 0;
    virtual bool Listening() = 0;
    // Called now and then: a device lost while the preview plays ends it, and is said.
    virtual std::optional<std::string> CheckDevice() = 0;
};

}  // namespace quendo
