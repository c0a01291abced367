#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "playback/DeckEngine.h"

namespace quendo {

namespace {
// The level a track's own signal never passes when its loudness is matched (as the decks hold it).
constexpr double kTrackCeilingDbfs = -1.0;
// The automix tick, in seconds: a plain mix moves its levels once a tick.
constexpr double kTick = 0.1;
// A level is sent on the first tick after its point is reached, which the ticks' phase makes half
// a tick late on average.
constexpr double kTickLate = kTick / 2;
int Index(Deck d) { return d == Deck::WinMediaPlayer1 ? 0 : 1; }
}  // namespace

// The commands the decks would be given, replayed from the outgoing track's own time: what the
// ticks send at their positions (in step by the bars, plainly once a tick from the mix's start).
std::optional<PlannedChange> DeckEngine::PlanChange(double before, double after, std::string& whyNot) {
    whyNot.clear();
    if (isMixing()) {
        whyNot = "A mix is running: the next change can be heard once it is over.";
        return std::nullopt;
    }
    const bool loaded = !currentPath_.empty();
    const std::int32_t head = p_.playlist.Head();
    const std::int32_t outFile = loaded ? p_.nodes.FindByFullPath(currentPath_) : head;
    const std::int32_t inFile = loaded ? head : p_.playlist.At(1);
    if (!loaded && !p_.nodes.IsFile(outFile)) {
        whyNot = "Nothing plays and the playlist is empty: there is no change to hear.";
        return std::nullopt;
    }
    if (!p_.nodes.IsFile(inFile)) {
        whyNot = "No next track yet: the playlist holds nothing to mix into.";
        return std::nullopt;
    }
    PlannedChange c;
    c.outgoing.path = loaded ? currentPath_ : PathOf(outFile);
    c.incoming.path = PathOf(inFile);
    const std::optional<TrackFacts> outFacts = loaded ? (currentFacts_ ? currentFacts_ : FactsOf(currentPath_))
                                                      : FactsOf(c.outgoing.path);
    const std::optional<TrackFacts> inFacts = FactsOf(c.incoming.path);
    const TrackGain outGain = loaded ? gain_[Index(currentDeck_)] : TrackGainFor(outFacts);
    const TrackGain inGain = TrackGainFor(inFacts);
    c.outgoing.gainDb = outGain.db;
    c.outgoing.limited = outGain.limited;
    c.incoming.gainDb = inGain.db;
    c.incoming.limited = inGain.limited;
    c.outgoing.ceilingDbfs = c.incoming.ceilingDbfs = kTrackCeilingDbfs;
    if (loaded) {
        c.outgoing.volume = volume_[Index(currentDeck_)];
        c.outgoing.balance = balance_[Index(currentDeck_)];
    }
    const int length = p_.envelope.MixLength();
    const auto step = [&](double at, int outPoint, int inPoint) {
        const MixPoint& o = p_.envelope.Point(outPoint);
        const MixPoint& i = p_.envelope.Point(inPoint);
        c.steps.push_back({at, {o.volume[0], i.volume[1]}, {o.balance[0], i.balance[1]}});
    };
    const double outLength = loaded ? CurrentPlayer().Duration() : 0;
    const double fileLength = outLength > 0 ? outLength : p_.nodes.File(outFile).durationSeconds;

    // An album's next part follows the last frame, at the same gain and level.
    if (loaded && JoinsHead()) {
        c.incoming.gainDb = c.outgoing.gainDb;
        c.incoming.limited = c.outgoing.limited;
        c.incoming.volume = c.outgoing.volume;
        c.incoming.balance = c.outgoing.balance;
        c.incomingAt = MediaPlayer::kAtOtherEnd;
        c.seamless = true;
        c.outgoing.from = std::max(0.0, fileLength - before);
        c.seconds = fileLength - c.outgoing.from + after;
        c.what = "Join: the music runs across the cut";
        return c;
    }

    std::optional<BeatMixPlan> plan;
    if (loaded) {
        if (beatPlan_ && beatPlan_->incomingPath == c.incoming.path) plan = beatPlan_;
    } else if (p_.autoMix.mixOnBeat && p_.analysis && !p_.buttons.Mix_OFF && outFacts && inFacts &&
               IncomingPlayer().CanPlayInStep()) {
        double end = fileLength;
        if (outFacts->audible) end = std::min(end, outFacts->lastSound);
        const double latest = std::floor(end) - Lead();
        const double earliest = outFacts->audible ? outFacts->firstSound : 0;
        if (p_.autoMix.mixOnPhrases) plan = PlanPhraseMix(*outFacts, *inFacts, earliest, end, p_.envelope);
        if (!plan) plan = PlanBeatMix(*outFacts, *inFacts, earliest, latest, end, p_.envelope);
        if (plan && p_.autoMix.swapBass && IncomingPlayer().CanCutBass() && CurrentPlayer().CanCutBass())
            PlanBassSwap(*plan, *outFacts, *inFacts);
    }

    double start = 0, end = 0;
    if (plan) {
        // In step: the envelope runs by the outgoing track's bars, the incoming deck cued to a bar line.
        start = plan->start;
        end = plan->start + plan->length;
        c.incoming.from = plan->incomingFrom;
        c.incoming.rate = plan->ratePlan;
        c.incoming.bass = plan->incomingBass;
        if (p_.autoMix.swapBass) c.outgoing.bass = plan->outgoingBass;
        c.incomingAt = plan->incomingAt;
        for (int k = 0; k < length; ++k) step(start + plan->length * k / length + kTickLate, k, k);
        step(end + kTickLate, length - 1, length);
        const std::string out = p_.nodes.RelativePath(outFile), in = p_.nodes.RelativePath(inFile);
        c.what = plan->onPhrases || plan->bassSwapAt >= 0 ? MixInWords(*plan, out, in)
                                                          : "Mix on the beat over " + std::to_string(plan->bars) + " bars";
    } else {
        // Plainly: the tick that reaches the lead starts the mix, each tick after it sends a point,
        // and the incoming track starts at the envelope's starting position from its first sound.
        std::int64_t mixEnd = static_cast<std::int64_t>(fileLength);
        if (p_.autoMix.mixAtLastSound && p_.analysis && outFacts)
            mixEnd = std::min<std::int64_t>(mixEnd, outFacts->audible ? static_cast<std::int64_t>(outFacts->lastSound) : 0);
        start = static_cast<double>(std::max<std::int64_t>(0, mixEnd - Lead()));
        end = start + kTick * (length + 1);
        if (p_.autoMix.skipSilenceAtStart && inFacts && inFacts->audible && inFacts->firstSound > 0)
            c.incoming.from = inFacts->firstSound;
        c.incomingAt = start + kTickLate + kTick * (p_.envelope.StartingPosition() + 1);
        for (int k = 0; k < length; ++k) step(start + kTickLate + kTick * (k + 1), k, k);
        c.what = "Plain mix";
    }
    // Until its first step the incoming deck is at the envelope's first point.
    c.incoming.volume = p_.envelope.Point(0).volume[1];
    c.incoming.balance = p_.envelope.Point(0).balance[1];
    c.outgoing.from = std::max(0.0, start - before);
    c.seconds = std::max(0.0, end - c.outgoing.from) + after;
    return c;
}

}  // namespace quendo
