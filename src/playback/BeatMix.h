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

    // Laid on phrases: the mix spans whole phrases of the outgoing track, and the incoming track's
    // first phrase starts on one of them.
    bool onPhrases = false;
    int bars = 0;                     // the mix's length in bars of the outgoing track
    std::vector<double> phraseLines;  // outgoing: the phrase lines from the mix's start to its end
    bool outro = false;               // the mix spans the outgoing track's outro (no bass)
    bool intro = false;               // and the incoming track's intro (no bass yet)
    bool fadeOut = false;             // the mix starts where the outgoing track's fade-out begins

    // One bass line at a time: the bar line where the outgoing track's bass gives way to the
    // incoming one's (outgoing seconds), and the decks' plans for it. No swap: bassSwapAt < 0.
    double bassSwapAt = -1;
    int bassSwapBar = 0;  // the bar of the mix, counted from 1, that the swap starts
    std::vector<MediaPlayer::BassPoint> outgoingBass, incomingBass;
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

// Phrases shorter than this are no phrases a mix can be laid on; longer mixes than this many bars
// lose the outgoing track the listener follows.
constexpr int kMinPhraseBars = 4, kMaxPhraseMixBars = 32;
// The phrase a dance record is counted in, and a mix's length where nothing else sets it.
constexpr int kPhraseBars = 8;
// How far a mix on phrases may let the level fall below what the two tracks mostly play, in dB,
// where another length keeps it.
constexpr double kMaxMixDipDb = 3.0;

// The plan of a mix laid on phrases, where both tracks' forms are known: it ends where the outgoing
// track's music does (its last bar line, at `end` or within a beat after it) and starts on one of
// its phrase lines, so as to span its outro and the incoming track's intro where they have them,
// else the envelope's length in whole phrases; at most kMaxPhraseMixBars and what the envelope holds;
// a track that fades out is mixed from where its fade begins. The incoming track's first phrase
// starts on the outgoing phrase line nearest the envelope's starting position. Nothing when the
// forms do not allow it, or its start lies before `earliest`: a mix on bars is planned instead.
std::optional<BeatMixPlan> PlanPhraseMix(const TrackFacts& out, const TrackFacts& in, double earliest, double end,
                                         const MixEnvelope& envelope);

// Where the two bass lines of a planned mix swap, when both tracks' forms are known and both bass
// lines would sound together: on the phrase line (else the bar line) where the incoming bass
// comes in, or, when it plays from the start, the one nearest the middle of their overlap. The
// outgoing bass is cut and the incoming one brought in over the quarter beat before that line.
void PlanBassSwap(BeatMixPlan& plan, const TrackFacts& out, const TrackFacts& in);

// The plan in words, for the mix editor: "Mixed over 16 bars: the outro of A under the intro of
// B; bass swapped at bar 9".
std::string MixInWords(const BeatMixPlan& plan, const std::string& out, const std::string& in);

}  // namespace quendo
