#pragma once
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace quendo {

// The operations the program uses of a media player, with the units the callers rely on.
// Two instances are the decks; a third, the probe, only opens files to read their length.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    // Opens the file before returning, without starting playback; "" closes the player.
    virtual void SetFileName(const std::string& path) = 0;
    // Seconds; 0 when the file cannot be measured.
    virtual double Duration() = 0;
    // Seconds heard so far; advances while playing, stays put while paused.
    virtual double CurrentPosition() = 0;
    // Seeks.
    virtual void SetCurrentPosition(double seconds) = 0;
    // Hundredths of a dB: 0 full, -10000 silence.
    virtual void SetVolume(int volume) = 0;
    // -10000 full left .. 10000 full right.
    virtual void SetBalance(int balance) = 0;
    // The track's own gain in dB, heard before the volume and balance, which keep their meaning.
    // A player that cannot apply it plays the file as it is.
    virtual void SetTrackGain(double /*db*/) {}
    // The same, with a level in dBFS the track's own signal must never pass once raised by it: a
    // player that can holds the track's peaks there with a limiter; one that cannot applies the
    // gain alone.
    virtual void SetLimitedTrackGain(double db, double /*ceilingDbfs*/) { SetTrackGain(db); }
    // 1 paused, 2 playing, anything else otherwise.
    virtual int PlayState() = 0;
    // Whether the player, playing, has nothing to play just now because its file has not given it
    // the sound yet: the file is slow, or has stopped answering. A player that cannot tell says no.
    virtual bool Starved() { return false; }
    virtual void Play() = 0;
    virtual void Pause() = 0;

    // ---- playing in step with the other deck ----
    // A player that can play a file faster or slower with its pitch kept, and start at an exact
    // frame of the other deck's file. One that cannot (false) ignores the plan and plays at once.
    virtual bool CanPlayInStep() const { return false; }
    // The rate through the file: a straight line from each point to the next, the first point's
    // rate before it and the last one's after it; empty plays the file as it is. Given after the
    // file is set and before it plays. Positions, seeks and the length stay in the file's own time.
    struct RatePoint {
        double fileSeconds;
        double rate;  // file seconds played per second heard
    };
    virtual void SetRatePlan(std::vector<RatePoint> /*plan*/) {}
    // Starts playing from the position set at the very frame where the other deck has played its
    // file up to `otherSeconds` (kAtOtherEnd: its last frame), without a fade-in when `seamless`.
    // At once when the other deck is past that point already, or not playing. PlayState is 2 from
    // the call on, the position staying where it was set until the start; a deck already playing
    // plays on.
    static constexpr double kAtOtherEnd = std::numeric_limits<double>::infinity();
    virtual void PlayAfterOther(double /*otherSeconds*/, bool /*seamless*/) { Play(); }

    // ---- the bass, cut and brought back on bar lines ----
    // A player that can turn its low band (the bass and kick, up to about 150 Hz) down and up in
    // the file's own time, to the frame. One that cannot (false) ignores the plan.
    virtual bool CanCutBass() const { return false; }
    // The low band's gain through the file, 0 (cut, -26 dB or more) to 1 (as it is): a straight
    // line from each point to the next, the first point's gain before it and the last one's after
    // it; empty plays the file as it is, sample for sample. May be given while playing, without a
    // break in the sound: it holds for every frame heard after the call. A new file drops it.
    struct BassPoint {
        double fileSeconds;
        double gain;
    };
    virtual void SetBassPlan(std::vector<BassPoint> /*plan*/) {}

    // Raised once per file on the interface thread when the player has played to the end.
    std::function<void()> EndOfStream;
};

enum PlayStates { psStopped = 0, psPaused = 1, psPlaying = 2 };

}  // namespace quendo
