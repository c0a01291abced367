#pragma once
#include "model/TrackFacts.h"

namespace quendo {

// Whether the sound runs on from `out`'s last sample into `in`'s first, as one piece cut in two
// does, rather than two pieces that merely stop and start hard. Both must sound to the cut; then
// either both keep one steady beat whose grid runs on across the cut (same tempo, same phase, and
// the same place in the bar where both know it), or, where a beat is missing, the level in each
// band carries on over the cut. Any thread.
bool RunsAcrossTheCut(const TrackFacts& out, const TrackFacts& in);

// The integrated loudness (LUFS) of `a` and `b` played as one: their energies weighted by their
// lengths. A part that is not audible adds nothing; when neither is, the result means nothing.
double JoinedLufs(const TrackFacts& a, const TrackFacts& b);

}  // namespace quendo
