#pragma once
#include <cstdint>
#include <limits>
#include <vector>

#include "model/MediaPlayer.h"

namespace quendo::audio {

// A deck's rate through its file, in frames at the output's rate: a straight line from each point
// to the next, the first point's rate before it and the last one's after it. Time in the file is
// what the rate is a function of, so a seek anywhere in the plan plays on from there as planned.
//
// Made on the interface thread, then only read (by the deck's decoder thread): never changed.
class RatePlan {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();
    // Rates are held within kMinRate..kMaxRate; points that are not numbers are dropped, the rest
    // are taken in the order of their positions. An empty plan is the file's own rate.
    static constexpr double kMinRate = 0.5, kMaxRate = 2.0;
    RatePlan(const std::vector<MediaPlayer::RatePoint>& points, int sampleRate);

    // File frames played per frame heard, at file frame f.
    double RateAt(double f) const;
    // Frames heard while the file plays from frame a to frame b (b >= a).
    double HeardBetween(double a, double b) const;
    // The file frame reached after `heard` frames are heard from file frame a.
    double FileAfter(double a, double heard) const;
    // The file frame from which the rate is exactly 1 to the end; kNever when it is not.
    double PlainFrom() const { return plainFrom_; }

private:
    struct Point {
        double frame, rate;
    };
    // The piece of the plan that holds f: index i covers [points_[i-1], points_[i]); 0 the part
    // before the first point, size() the part after the last.
    std::size_t PieceOf(double f) const;
    double RateIn(std::size_t piece, double f) const;

    std::vector<Point> points_;
    double plainFrom_ = kNever;
};

}  // namespace quendo::audio
