#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace quendo {

// What a remote (media keys, a desktop media widget, a command-line controller) sees of the
// player and may ask of it. Interface thread only.
class RemotePlayer {
public:
    enum class Status { Stopped, Playing, Paused };

    // The track a remote is shown; an empty path: none.
    struct Track {
        std::uint64_t id = 0;  // tells a file played again from the one that played before
        std::string path;
        double lengthSeconds = 0;
        // What the file's tags say; empty or 0 where they say nothing, or are not to be shown.
        std::string artist{}, title{}, album{};
        int trackNumber = 0;
        bool operator==(const Track&) const = default;
    };

    virtual Status PlaybackStatus() const = 0;
    virtual Track CurrentTrack() const = 0;
    virtual double PositionSeconds() const = 0;
    // A stopped player has something to start: the head of the playlist.
    virtual bool HasTrackWaiting() const = 0;
    virtual bool CanGoNext() const = 0;

    // As the user's buttons do them; a command the user could not give now does nothing.
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Next() = 0;
    virtual void Raise() = 0;
    virtual void Quit() = 0;

    // `changed` is called after each change of what a remote may see, the position included.
    virtual void OnChange(std::function<void()> changed) = 0;

protected:
    ~RemotePlayer() = default;
};

}  // namespace quendo
