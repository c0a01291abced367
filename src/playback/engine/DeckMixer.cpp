#include "playback/engine/DeckMixer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "playback/engine/Gains.h"

namespace quendo::audio {

namespace {
constexpr int kPrimeFrames = 4096;     // buffered before a new file or seek is heard
constexpr float kFadeFrames = 256.0f;  // start and seek fades (about 6 ms)
constexpr float kFadeStep = 1.0f / kFadeFrames;
// A pause or a close fades out over longer: the sound goes, rather than being cut short.
constexpr double kStopSeconds = 0.025;
// Frames a playing deck holds back while its end is unknown: a fade from full level reaches its
// last step, 1/kFadeFrames, on the last frame there is.
constexpr std::uint64_t kStarveFrames = static_cast<std::uint64_t>(kFadeFrames) - 1;
}  // namespace

DeckMixer::DeckMixer(SpscRing::Reader ring, DeckShared& shared, int rate)
    : ring_(std::move(ring)),
      shared_(shared),
      limiter_(rate),
      bass_(rate),
      stopStep_(static_cast<float>(1.0 / std::max(kStopSeconds * rate, 1.0))) {}

// One look at the decoder's newest record (never a wait), what it says about the generation being
// read, and, once the old material has faded out, the move to the newest generation. Returns the
// record held.
//
// The write index is read before the record. So when the record still names the generation
// being read, every frame below that index is this generation's: a later one's frames come
// after its record, which the read would then have seen. When the record names the next
// generation, its start is exactly where this one's frames end. When it names a later one,
// the frames between belong to generations never heard, so the limit stays where it was.
const Published& DeckMixer::Sync(std::uint32_t* requestedOut) {
    MixState& m = mix_;
    const std::uint64_t written = ring_.Written();
    const Published& p = shared_.published.Read();
    const std::uint32_t requested = shared_.requested.load(std::memory_order_acquire);
    if (requestedOut) *requestedOut = requested;
    if (p.gen != m.gen) {
        if (p.gen == NextGen(m.gen)) m.limit = std::max(m.limit, p.start);
        if (m.gen != requested && m.fade <= 0.0f) {
            // m.readIdx <= m.limit <= p.start: the read position only moves forward.
            ring_.SkipTo(p.start);
            m.gen = p.gen;
            m.start = m.readIdx = m.limit = p.start;
            m.base = p.base;
            m.primed = false;
            m.ended = false;
            bass_.Restart();
        }
    }
    if (p.gen == m.gen) {
        m.end = p.end;
        m.limit = std::max(m.limit, written);
    }
    return p;
}

bool DeckMixer::ReadyFor(int frames) {
    if (!shared_.playing.load(std::memory_order_relaxed)) return true;
    // Offline, the thread that mixes asked for the newest generation itself.
    std::uint32_t requested = 0;
    const Published& p = Sync(&requested);
    if (p.gen != requested) return false;
    const MixState& m = mix_;
    if (m.gen != p.gen) return true;  // the old material still fades out
    if (m.end != kNoEnd) return true;
    const std::uint64_t enough = std::max<std::uint64_t>(static_cast<std::uint64_t>(frames) + kStarveFrames, kPrimeFrames);
    return m.limit - m.readIdx >= enough || ring_.FreeFrames() < static_cast<std::uint32_t>(kDecodeChunk);
}

bool DeckMixer::MixInto(float* out, int frames, const DeckMixer& other) {
    std::uint32_t requested = 0;
    Sync(&requested);
    MixState& m = mix_;
    const bool playing = shared_.playing.load(std::memory_order_acquire);
    const bool current = m.gen == requested;
    bool want = current && playing && !m.ended;
    int first = 0;
    bool seamless = false, waiting = false;
    if (!playing) late_ = 0;
    int passing = frames;  // the frames of this block the deck would play, were it on time
    // A cue comes due whether or not the deck has reached its newest seek.
    if (playing && (!current || !m.ended)) {
        const StartCue cue = StartCue::Unpack(shared_.cue.load(std::memory_order_relaxed));
        if (cue.number != cueDone_) {
            first = cue.onOther ? CueOffset(cue, other.played_) : 0;
            if (first >= 0 && first < frames) {
                cueDone_ = cue.number;
                seamless = cue.seamless;
                // Its frames have not come yet (its file slow to open, seek or read): the deck
                // is due from here all the same, and catches up once they come, in step.
                if (cue.onOther && !(current && Primed())) {
                    late_ = 1;
                    passing = frames - first;
                }
            } else {
                want = false;
                waiting = true;
                first = 0;
            }
        }
    }
    if (late_ > 0) {
        // What the deck should have played since its cue is skipped, as far as it has come.
        const std::uint64_t stop = std::min(m.end, m.limit);
        const std::uint64_t owed = late_ - 1;
        const bool ready = current && Primed();
        const std::uint64_t skip = ready && stop > m.readIdx ? std::min(owed, stop - m.readIdx) : 0;
        m.readIdx += skip;
        // Caught up, or its file ran out meanwhile: it ends as a deck at its end does.
        if (ready && (skip == owed || (m.end != kNoEnd && m.readIdx >= m.end))) {
            late_ = 0;
            first = 0;
            seamless = false;  // it comes in part way through
        } else {
            late_ += static_cast<std::uint64_t>(passing) - skip;
            want = false;
        }
    }
    const bool endedBefore = m.ended;
    const std::uint64_t at = m.readIdx;
    played_.first = first;
    played_.from = m.heard = FileFrameAt(at);
    // Before `first` the block is silent; the deck's frames begin there.
    out += 2 * static_cast<std::ptrdiff_t>(first);
    frames -= first;
    Block b = StartBlock(want, frames);
    const BassPlan& plan = shared_.bassPlan.Read();
    bass_.Use(plan, &plan != bassPlan_);
    bassPlan_ = &plan;
    b.bass = bass_.Engaged();
    b.down = b.fadeIn || playing ? kFadeStep : stopStep_;
    // Without a fade-in, once there is enough to start without a break.
    if (seamless && b.fadeIn) b.fade = 1.0f;
    while (b.i < frames) {
        if (b.fadeIn && b.fade >= 1.0f && b.avail > b.keep) {
            if (b.bass) {
                if (b.limited) FullLevelRun<true, true>(b, out, frames);
                else FullLevelRun<false, true>(b, out, frames);
            } else if (b.limited) {
                FullLevelRun<true, false>(b, out, frames);
            } else {
                FullLevelRun<false, false>(b, out, frames);
            }
        } else if (!FadeStep(b, out)) break;
    }
    FinishBlock(b, frames);
    if (b.bass) bass_.Tidy();
    shared_.sounding.store(m.fade > 0.0f, std::memory_order_release);
    played_.playing = want;
    played_.ended = m.ended && !endedBefore;
    played_.count = static_cast<int>(m.readIdx - at);
    played_.to = m.heard;
    // A deck waiting for its cue is not short of anything.
    shared_.starved.store(playing && !waiting && (m.gen != requested || (!m.ended && (b.shortOfData || !m.primed))),
                          std::memory_order_relaxed);
    return b.shortOfData;
}

bool DeckMixer::AwaitsOther() const {
    const StartCue cue = StartCue::Unpack(shared_.cue.load(std::memory_order_relaxed));
    return cue.onOther && cue.number != cueDone_;
}

// The other deck mixed this block first. Not playing (paused, at its end, or itself waiting),
// or past the point already: at once.
int DeckMixer::CueOffset(const StartCue& cue, const Played& other) {
    if (!other.playing) return 0;
    if (cue.atOtherEnd) return other.ended ? other.first + other.count : -1;
    const double c = static_cast<double>(cue.otherFrame);
    if (c <= other.from) return other.first;
    if (c >= other.to) return -1;
    return other.first + static_cast<int>(std::llround((c - other.from) * other.count / (other.to - other.from)));
}

// A stretched generation notes where its runs lie in the file from its first frame on; the frame
// before `index` finds the run, whose line goes on to `index` itself (a run ends where the next
// begins). Without a note of this generation, the ring and the file go in step. The look also
// lets go of older notes, those of generations skipped unheard too, even before a frame plays.
double DeckMixer::FileFrameAt(std::uint64_t index) {
    const MixState& m = mix_;
    const FileTimeline::Note* n = index > 0 ? shared_.timeline.At(index - 1) : nullptr;
    if (index > m.start && n && n->ring >= m.start) return n->FileAt(index);
    return static_cast<double>(m.base) + static_cast<double>(index - m.start);
}

bool DeckMixer::Primed() {
    MixState& m = mix_;
    const std::uint64_t stop = std::min(m.end, m.limit);
    const std::uint64_t avail = stop > m.readIdx ? stop - m.readIdx : 0;
    if (!m.primed && (avail >= kPrimeFrames || m.end != kNoEnd || ring_.FreeFrames() == 0)) m.primed = true;
    return m.primed;
}

DeckMixer::Block DeckMixer::StartBlock(bool want, int frames) {
    MixState& m = mix_;
    Block b{};
    b.want = want;
    // Never past the generation's end, nor past the frames known to be this generation's.
    const std::uint64_t stop = std::min(m.end, m.limit);
    b.avail = stop > m.readIdx ? stop - m.readIdx : 0;
    Primed();

    BalanceGains(shared_.balance.load(std::memory_order_relaxed), b.tl, b.tr);
    // The track's gain goes with the volume: one ramp moves both.
    const TrackLevel level = shared_.trackLevel.load(std::memory_order_relaxed);
    const float v = VolumeGain(shared_.volume.load(std::memory_order_relaxed)) * level.gain;
    b.tl *= v;
    b.tr *= v;
    b.trackGain = level.gain;
    if (!m.gainsSet) {
        m.gl = b.tl;
        m.gr = b.tr;
        m.trackGain = level.gain;
        m.gainsSet = true;
    }
    // The volume and balance are at most 1, so across the ramp the gains stay at or below the
    // larger of the track's two gains: the limiter holds the samples to the ceiling over that,
    // with a margin for the rounding of the sums that follow.
    b.limited = std::isfinite(level.ceiling) || !limiter_.AtRest();
    if (b.limited) limiter_.SetThreshold(level.ceiling * (1.0f - 1e-5f) / std::max(m.trackGain, level.gain));
    // The gains move linearly across this block to their new values.
    b.dl = (b.tl - m.gl) / static_cast<float>(frames);
    b.dr = (b.tr - m.gr) / static_cast<float>(frames);
    b.fadeIn = want && m.primed;
    // Until the end is known, the last frames are kept for a fade-out, so that a decoder
    // falling behind is heard as a short fade rather than a cut. Past this point the level
    // never exceeds what is left to fade out over.
    b.keep = m.end == kNoEnd ? kStarveFrames : 0;
    b.gl = m.gl;
    b.gr = m.gr;
    b.fade = m.fade;
    b.at = m.readIdx;
    b.i = 0;
    return b;
}

// At full level: a run of frames that lie in a row in the ring, with no fade to follow (the same
// sums as a fade step's with a fade of exactly 1), through the limiter when it is in the path.
template <bool kLimited, bool kBass>
void DeckMixer::FullLevelRun(Block& b, float* out, int frames) {
    const std::uint64_t run = std::min<std::uint64_t>(
        {b.avail - b.keep, static_cast<std::uint64_t>(frames - b.i), ring_.RunFrom(b.at)});
    const float* s = ring_.At(b.at);
    float* o = out + 2 * b.i;
    const std::uint64_t stop = b.at + b.avail;
    // The loop works on locals: stores through `o` could otherwise be taken to alias them.
    const float dl = b.dl, dr = b.dr;
    float gl = b.gl, gr = b.gr;
    for (std::uint64_t k = 0; k < run; ++k) {
        gl += dl;
        gr += dr;
        float l = s[2 * k], r = s[2 * k + 1];
        if constexpr (kBass) bass_.Apply(b.at + k, FileFrameAt(b.at + k), l, r);
        if constexpr (kLimited) {
            const float lim = limiter_.Next(ring_, b.at + k, stop);
            o[2 * k] += l * lim * gl;
            o[2 * k + 1] += r * lim * gr;
        } else {
            o[2 * k] += l * gl;
            o[2 * k + 1] += r * gr;
        }
    }
    b.gl = gl;
    b.gr = gr;
    b.i += static_cast<int>(run);
    b.at += run;
    b.avail -= run;
}

// One frame of a fade in or out, or of a level held below full. False when the block goes
// silent here: faded out, starved, or at the generation's end.
bool DeckMixer::FadeStep(Block& b, float* out) {
    b.gl += b.dl;
    b.gr += b.dr;
    const bool up = b.fadeIn && b.avail > b.keep;
    const MixState& m = mix_;
    const bool atEnd = m.end != kNoEnd && b.at >= m.end;
    if (!up && b.fade <= 0.0f) {
        b.fade = 0.0f;
        // Starved: silent until the decoder catches up. A generation with nothing left (a seek
        // past the end) is not starved; FinishBlock ends it.
        if (b.fadeIn && !atEnd) b.shortOfData = true;
        return false;
    }
    if (b.avail == 0) {
        if (atEnd) {
            if (b.want && !m.ended) MarkEnded();
        } else if (b.fadeIn) {
            b.shortOfData = true;
        }
        b.fade = 0.0f;  // whatever comes next fades in
        return false;
    }
    if (b.fadeIn && !up) b.shortOfData = true;
    b.fade = up ? std::min(1.0f, b.fade + kFadeStep) : std::max(0.0f, b.fade - b.down);
    const float* s = ring_.At(b.at);
    // Times exactly 1 without the limiter: the plain path's sums, bit for bit.
    const float lim = b.limited ? limiter_.Next(ring_, b.at, b.at + b.avail) : 1.0f;
    float l = s[0], r = s[1];
    if (b.bass) bass_.Apply(b.at, FileFrameAt(b.at), l, r);
    out[2 * b.i] += l * lim * b.gl * b.fade;
    out[2 * b.i + 1] += r * lim * b.gr * b.fade;
    ++b.at;
    --b.avail;
    ++b.i;
    return true;
}

void DeckMixer::FinishBlock(const Block& b, int frames) {
    MixState& m = mix_;
    m.gl = b.gl;
    m.gr = b.gr;
    m.fade = b.fade;
    m.trackGain = b.trackGain;
    m.limited = b.limited;
    m.readIdx = b.at;
    if (b.i < frames) {
        m.gl = b.tl;
        m.gr = b.tr;
    }
    // A file with nothing left (or nothing at all) ends even when no frame was mixed.
    if (b.want && !m.ended && m.primed && m.end != kNoEnd && m.readIdx >= m.end) MarkEnded();
    ring_.SkipTo(m.readIdx);
    m.heard = FileFrameAt(m.readIdx);
    shared_.heard.store(PackHeard(m.gen, static_cast<std::uint64_t>(std::llround(m.heard))), std::memory_order_release);
}

void DeckMixer::AddForecast(float* ahead, int frames) const {
    const MixState& m = mix_;
    if (m.fade <= 0.0f) return;
    const std::uint64_t stop = std::min(m.end, m.limit);
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(frames, 0)),
                                                    stop > m.readIdx ? stop - m.readIdx : 0);
    const float threshold = m.limited ? limiter_.Threshold() : std::numeric_limits<float>::infinity();
    const float gl = m.gl * m.fade, gr = m.gr * m.fade;
    for (std::uint64_t k = 0; k < n; ++k) {
        const float* s = ring_.At(m.readIdx + k);
        const float a = std::max(std::fabs(s[0]), std::fabs(s[1]));
        const float lim = a > threshold ? threshold / a : 1.0f;
        ahead[2 * k] += s[0] * lim * gl;
        ahead[2 * k + 1] += s[1] * lim * gr;
    }
}

void DeckMixer::MarkEnded() {
    mix_.ended = true;
    shared_.endedGen.store(mix_.gen, std::memory_order_release);
}

}  // namespace quendo::audio
