#pragma once
#include <optional>
#include <string>
#include <vector>

#include "model/MediaPlayer.h"
#include "model/MixEnvelope.h"
#include "model/TrackFacts.h"

namespace quendo {

// A mix of two tracks with steady beats, played in step: it starts on a bar line of the outgoing
// track and lasts whole bars of it; the incoming track starts on one of its own bar lines, laid on
// one of the outgoing track's, and plays at the outgoing track's tempo until the mix is over, then
// glides back to its own. The outgoing track keeps its tempo throughout: it is the one the
// listener is following, and a track held at one rate until the glide needs no new plan once the
// mix has begun. Times are file seconds, of the track named.
struct BeatMixPlan {
    double outBpm = 0, inBpm = 0;  // each track's own tempo
    double rate = 1;               // the incoming track's rate while the mix runs
    double start = 0;              // outgoing: the bar line where the mix starts
    double length = 0;             // seconds of the outgoing track: whole bars
    double incomingAt = 0;         // outgoing: the bar line where the incoming track starts
    double incomingFrom = 0;       // incoming: its first bar line at or after its first sound
    // The incoming deck's rates: held through the mix, then a glide back to 1. Empty at rate 1.
    std::vector<MediaPlayer::RatePoint> ratePlan;
    // The file the plan was made for: a plan belongs to that incoming track alone.
    std::string incomingPath;
};

// Tempi further apart than this, after folding double or half, are not brought together.
constexpr double kMaxTempoGap = 0.08;
// Bars of the incoming track over which it glides back to its own tempo after the mix.
constexpr int kGlideBars = 8;

// The rate that brings `in`'s tempo to `out`'s, or to its double or half, whichever asks the least
// of it; nothing when either beat is not steady or even that rate lies past kMaxTempoGap. The one
// rule for whether two tracks can be mixed in step.
std::optional<double> InStepRate(const BeatGrid& out, const BeatGrid& in);

// The plan of a mix from `out` into `in`, starting on the last bar line of `out` at or before
// `latest` but not before `earliest`; nothing when either has no steady beat, their tempi lie
// too far apart, or no bar line falls between the two. The mix's length is the envelope's,
// rounded to whole bars, but never reaches past `end` (the outgoing track's last sound or its
// file's end): a mix waits on the outgoing track's position, which stops there. The incoming track
// starts on the bar line nearest the envelope's starting position, within the mix.
std::optional<BeatMixPlan> PlanBeatMix(const TrackFacts& out, const TrackFacts& in, double earliest, double latest,
                                       double end, const MixEnvelope& envelope);

}  // namespace quendo
