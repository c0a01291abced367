// The automix's changes judged as a DJ would: seven dance tracks of known form (bench/PhraseSynth.*:
// intros and outros of 4, 8 and 16 bars, a breakdown, a radio edit whose bass runs to its end before
// one whose bass starts at once, a mastered fade-out; bars marked by chords, a bass pattern or an
// accent), 122-126 BPM, each with a bass pitch of its own and marker tones on its beats, played
// as a playlist by the program's core on the real engine offline with a cold analysis, once with
// "Mix on phrases" and "Swap the bass" on and once with both off ("Mix on the beat" stays on).
//
// What is heard: whether the incoming track's phrases start on the outgoing track's, how long
// both bass lines sound together (each told by its own notes), how far the short-term loudness
// sags, and, as bench_beatmix and bench_show measure them, the beat error, the bars aligned, the
// clicks and the dead air. Where the plan and what the analysis read differ from what was made,
// each mix is told against the truth of its two tracks on stderr.
#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Markers.h"
#include "PhraseSynth.h"
#include "Show.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/MediaFile.h"
#include "support/Audio.h"
#include "support/Fakes.h"

namespace {

using bench::BarMark;
using bench::Burst;
using bench::Part;
using bench::Percentile;
using bench::ToneBursts;
constexpr int kRate = bench::kShowRate;
constexpr int kTick = bench::kShowTick;
constexpr double kPi = bench::kMarkerPi;
constexpr double kMarkerAmplitude = 0.35;
constexpr double kAlignedMs = 20;        // a phrase or bar start this close to an outgoing one is on it
constexpr double kSnap = 0.06;           // seconds a mapped beat may lie from its marker
constexpr int kBassWindow = kRate * 2 / 5;  // long enough to tell notes two semitones apart at 60 Hz
constexpr double kBassHop = 0.05;
constexpr double kBassFullDb = -10;      // a bass line this close to its level alone sounds in full
constexpr double kEdgeSeconds = 10;      // the show's ends, left out of the level's dip

struct TrackDef {
    const char* name;
    double bpm;
    BarMark marks;
    int key, bassNote;
    std::vector<bench::Section> sections;
    int beatBin, barBin;  // the marker tones, in 50 Hz steps
    bool mp3;
};

bench::Section S(Part p, int bars) { return {p, bars}; }

// Each neighbour's bass notes at least two semitones from the other's and above the kicks' tail
// (about 50 Hz), so that a narrow filter tells the two bass lines of a mix apart.
const std::vector<TrackDef>& Tracks() {
    static const std::vector<TrackDef> tracks = {
        {"01 opener.wav", 122, BarMark::Chords, 0, 40,
         {S(Part::Intro, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::Outro, 8)}, 230, 240, false},
        {"02 long intro.mp3", 123, BarMark::Accent, 14, 42,
         {S(Part::Intro, 8), S(Part::Intro, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::Outro, 8), S(Part::Outro, 8)},
         250, 260, true},
        {"03 breakdown.wav", 124, BarMark::Bass, 21, 38,
         {S(Part::Intro, 4), S(Part::Full, 8), S(Part::Breakdown, 8), S(Part::Full, 8), S(Part::Outro, 4)}, 270, 280, false},
        {"04 radio edit.wav", 125, BarMark::Accent, 5, 41,
         {S(Part::Intro, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::RadioEdit, 8)}, 290, 300, false},
        {"05 straight in.mp3", 126, BarMark::Chords, 7, 39,
         {S(Part::Full, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::Outro, 8)}, 310, 320, true},
        {"06 fade.wav", 124.5, BarMark::Bass, 16, 41,
         {S(Part::Intro, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::FadeOut, 8)}, 330, 340, false},
        {"07 closer.wav", 123.5, BarMark::Accent, 3, 44,
         {S(Part::Intro, 8), S(Part::Intro, 8), S(Part::Full, 8), S(Part::Full, 8), S(Part::Outro, 8)}, 350, 360, false},
    };
    return tracks;
}
int TrackCount() { return static_cast<int>(Tracks().size()); }

bench::PhraseSpec Spec(const TrackDef& t, int index) {
    bench::PhraseSpec s;
    s.bpm = t.bpm;
    s.key = t.key;
    s.bassNote = t.bassNote;
    s.marks = t.marks;
    s.sections = t.sections;
    s.seed = static_cast<std::uint32_t>(31 + index);
    return s;
}

// The bass notes the synthesizer plays for the track, in Hz: the root, its fifth, or the roots
// of the chords folded within a fifth of it; but none below 64 Hz, where the kicks' tails ring as
// loud as a bass (a bar whose note is that low is heard as a bar without bass).
std::vector<double> BassHz(const TrackDef& t) {
    const auto hz = [](int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); };
    std::vector<int> notes{t.bassNote};
    if (t.marks == BarMark::Bass) notes.push_back(t.bassNote + 7);
    if (t.marks == BarMark::Chords) {
        const int major[] = {0, 2, 4, 5, 7, 9, 11}, minor[] = {0, 2, 3, 5, 7, 8, 10};
        for (const int degree : {5, 3, 4}) {
            const int root = t.bassNote + (t.key >= 12 ? minor : major)[degree];
            notes.push_back(root > t.bassNote + 6 ? root - 12 : root);
        }
    }
    std::vector<double> out;
    for (const int n : notes)
        if (hz(n) >= 64) out.push_back(hz(n));
    return out;
}

double BassDb(const std::vector<float>& mono, double at, const std::vector<double>& hz);

struct Made {
    bench::PhraseTrack truth;  // its sound dropped once written
    std::vector<double> bassHz;
    double barSeconds = 0;
    double fileBassDb = -200;  // its bass notes' level in the file, where the bass plays in full
};

bool Write(const quendo::testing::TempDir& dir, const TrackDef& t, const std::vector<float>& stereo) {
    if (!t.mp3) {
        dir.WriteFile(t.name, quendo::testing::StereoWav(stereo, kRate));
        return true;
    }
    dir.WriteFile("encode.wav", quendo::testing::StereoWav(stereo, kRate));
    const bool made = bench::ChildCpuSeconds({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i",
                                              dir / "encode.wav", "-c:a", "libmp3lame", "-b:a", "192k", dir / t.name}) >= 0;
    ::unlink((dir / "encode.wav").c_str());
    return made;
}

// A deck as the program sees it, remembering its file and the bass plans it was given.
class Deck final : public quendo::MediaPlayer {
public:
    explicit Deck(quendo::MediaPlayer& real) : real_(real) {
        real_.EndOfStream = [this] {
            if (EndOfStream) EndOfStream();
        };
    }
    void SetFileName(const std::string& path) override {
        file = path;
        real_.SetFileName(path);
    }
    double Duration() override { return real_.Duration(); }
    double CurrentPosition() override { return real_.CurrentPosition(); }
    void SetCurrentPosition(double seconds) override { real_.SetCurrentPosition(seconds); }
    void SetVolume(int v) override {
        volume = v;
        real_.SetVolume(v);
    }
    void SetBalance(int balance) override { real_.SetBalance(balance); }
    void SetTrackGain(double db) override {
        gains[file] = db;
        real_.SetTrackGain(db);
    }
    void SetLimitedTrackGain(double db, double ceilingDbfs) override {
        gains[file] = db;
        real_.SetLimitedTrackGain(db, ceilingDbfs);
    }
    int PlayState() override { return real_.PlayState(); }
    bool Starved() override { return real_.Starved(); }
    void Play() override { real_.Play(); }
    void Pause() override { real_.Pause(); }
    bool CanPlayInStep() const override { return real_.CanPlayInStep(); }
    void SetRatePlan(std::vector<RatePoint> plan) override { real_.SetRatePlan(std::move(plan)); }
    void PlayAfterOther(double otherSeconds, bool seamless) override { real_.PlayAfterOther(otherSeconds, seamless); }
    bool CanCutBass() const override { return real_.CanCutBass(); }
    void SetBassPlan(std::vector<BassPoint> plan) override {
        if (!plan.empty()) ++bassPlans;
        real_.SetBassPlan(std::move(plan));
    }

    std::string file;
    int volume = 0;
    int bassPlans = 0;
    std::map<std::string, double> gains;  // the last track gain of each file, dB

private:
    quendo::MediaPlayer& real_;
};

// ---- the show ----

struct TickRecord {
    int track[2] = {-1, -1};  // on each deck, while its music sounds
    double from[2] = {0, 0}, to[2] = {0, 0};  // each deck's position before and after the tick
    int volume[2] = {0, 0};
    float jump = 0;           // the largest step from one sample to the next
    double shortTermLufs = -HUGE_VAL;
};

struct MixRecord {
    int out = -1, in = -1;
    std::optional<quendo::BeatMixPlan> plan;
    int bassPlans = 0;  // given to the decks over the mix
    long startTick = 0, endTick = -1;
};

struct Heard {
    std::vector<float> mono;  // the whole show
    std::vector<double> windows;
    std::vector<TickRecord> ticks;
    std::vector<MixRecord> mixes;
    std::vector<ToneBursts> beats, bars;  // by track
    std::vector<std::optional<quendo::TrackFacts>> facts;
    std::vector<double> gainDb;  // the track gain each file was played at
};

int TrackOf(const std::string& dir, const std::string& path) {
    for (int i = 0; i < TrackCount(); ++i)
        if (dir + "/" + Tracks()[static_cast<std::size_t>(i)].name == path) return i;
    return -1;
}

Heard PlayShow(const std::string& dir, const std::vector<Made>& made, bool switches, const std::string& cache) {
    using namespace quendo;
    audio::TrackAnalyser analyser(cache);
    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    Deck deck1(engine.Deck1()), deck2(engine.Deck2());
    testing::CoreOver world(deck1, deck2, engine.Probe(), &analyser);
    Core& core = world.core;
    core.autoMix.mixOnBeat = true;
    core.autoMix.mixOnPhrases = core.autoMix.swapBass = switches;
    core.nodes.MusicFolder = dir + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;
    for (const TrackDef& t : Tracks()) core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, t.name));

    Heard h;
    for (const TrackDef& t : Tracks()) {
        h.beats.emplace_back(t.beatBin, bench::kMarkerThreshold);
        h.bars.emplace_back(t.barBin, bench::kMarkerThreshold);
    }
    bench::Meter shortTerm(ebur128_init(2, kRate, EBUR128_MODE_S));
    std::vector<float> block(2 * kTick);
    Deck* decks[] = {&deck1, &deck2};
    bench::Pace pace;
    bool mixing = false;
    float last[2] = {0, 0};
    for (int n = 0; n < 20 * 60 * 10 && core.deck.Timer1Enabled(); ++n) {
        pace.Tick(deck1.PlayState() != psPlaying && deck2.PlayState() != psPlaying);
        TickRecord r;
        for (int d = 0; d < 2; ++d) r.from[d] = decks[d]->CurrentPosition();
        engine.render(block.data(), kTick);
        bench::AddWindows(block, h.windows);
        ebur128_add_frames_float(shortTerm.get(), block.data(), kTick);
        ebur128_loudness_shortterm(shortTerm.get(), &r.shortTermLufs);
        for (int i = 0; i < kTick; ++i) {
            for (int c = 0; c < 2; ++c) {
                r.jump = std::max(r.jump, std::fabs(block[2 * i + c] - last[c]));
                last[c] = block[2 * i + c];
            }
            h.mono.push_back(0.5f * (block[2 * i] + block[2 * i + 1]));
        }
        for (int i = 0; i < TrackCount(); ++i) {
            h.beats[static_cast<std::size_t>(i)].Add(block.data(), kTick);
            h.bars[static_cast<std::size_t>(i)].Add(block.data(), kTick);
        }
        for (int d = 0; d < 2; ++d) {
            r.to[d] = decks[d]->CurrentPosition();
            const int track = TrackOf(dir, decks[d]->file);
            r.volume[d] = decks[d]->volume;
            // Below -40 dB a deck is not counted as heard, nor one held for its start.
            if (track < 0 || decks[d]->PlayState() != psPlaying || r.to[d] <= r.from[d] + 1e-3 || r.volume[d] <= -4000) continue;
            const bench::PhraseTrack& t = made[static_cast<std::size_t>(track)].truth;
            if (r.to[d] > t.downbeats.front() && r.from[d] < t.end) r.track[d] = track;
        }
        h.ticks.push_back(r);
        const int plansBefore = deck1.bassPlans + deck2.bassPlans;
        core.Timer1Timer();
        if (core.deck.isMixing() && !mixing) {
            MixRecord mix;
            mix.out = TrackOf(dir, core.deck.currentPath());
            mix.in = mix.out + 1;
            mix.plan = core.deck.beatPlan();
            mix.startTick = n;
            h.mixes.push_back(mix);
        }
        if (mixing && !core.deck.isMixing() && !h.mixes.empty()) h.mixes.back().endTick = n;
        if ((core.deck.isMixing() || mixing) && !h.mixes.empty())
            h.mixes.back().bassPlans += deck1.bassPlans + deck2.bassPlans - plansBefore;
        mixing = core.deck.isMixing();
    }
    if (core.deck.Timer1Enabled()) std::fprintf(stderr, "bench_transitions: the show did not end\n");
    for (const TrackDef& t : Tracks()) {
        const std::string path = dir + "/" + t.name;
        h.facts.push_back(analyser.Facts(path));
        double gain = 0;
        for (const Deck* d : decks)
            if (d->gains.count(path)) gain = d->gains.at(path);
        h.gainDb.push_back(gain);
    }
    return h;
}

// ---- the measures ----

bool Sounds(const TickRecord& r, int track) { return r.track[0] == track || r.track[1] == track; }
bool Alone(const TickRecord& r, int track) { return Sounds(r, track) && (r.track[0] < 0 || r.track[1] < 0); }

// When a moment of a track's file was heard, seconds of the show: counted back from the end of the
// tick where its deck passed it (a deck plays within a few % of its own rate, and may start within
// a tick), then moved onto its beat's marker where one was heard that near. -1: never heard.
double HeardAt(const Heard& h, const Made& m, int track, double fileSeconds) {
    const std::vector<double>& beats = m.truth.beats;
    const auto near = std::min_element(beats.begin(), beats.end(), [&](double a, double b) {
        return std::fabs(a - fileSeconds) < std::fabs(b - fileSeconds);
    });
    const double beat = near == beats.end() ? fileSeconds : *near;
    bool first = true;
    for (std::size_t k = 0; k < h.ticks.size(); ++k) {
        const TickRecord& r = h.ticks[k];
        for (int d = 0; d < 2; ++d) {
            if (r.track[d] != track) continue;
            // The deck starts on the bar line the analysis found, a few ms from the one made.
            const bool starts = first && beat < r.from[d] && beat > r.from[d] - kSnap;
            first = false;
            if (!starts && !(beat >= r.from[d] && beat < r.to[d])) continue;
            double at = static_cast<double>((k + 1) * kTick) / kRate - (r.to[d] - beat), best = kSnap;
            for (const Burst& b : h.beats[static_cast<std::size_t>(track)].Found())
                if (std::fabs(b.at / kRate - at) < best) best = std::fabs(b.at / kRate - at), at = b.at / kRate;
            return at + (fileSeconds - beat);
        }
    }
    return -1;
}

// The power of a track's bass notes in the window of the show centred on `at`, dB.
double BassDb(const std::vector<float>& mono, double at, const std::vector<double>& hz) {
    static const std::vector<double> hann = [] {
        std::vector<double> w(kBassWindow);
        for (int i = 0; i < kBassWindow; ++i) w[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2 * kPi * i / kBassWindow);
        return w;
    }();
    const long from = std::lround(at * kRate) - kBassWindow / 2;
    if (from < 0 || from + kBassWindow > static_cast<long>(mono.size())) return -200;
    double power = 0;
    for (const double f : hz) {
        const double c = 2 * std::cos(2 * kPi * f / kRate);
        double s1 = 0, s2 = 0;
        for (int i = 0; i < kBassWindow; ++i) {
            const double s = hann[static_cast<std::size_t>(i)] * mono[static_cast<std::size_t>(from + i)] + c * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        power += s1 * s1 + s2 * s2 - c * s1 * s2;
    }
    return bench::Db(power);
}

// The median of a track's bass level over the bars where its bass plays in full, the bars at either
// end left out.
double FileBassDb(const Made& m) {
    std::vector<float> mono(m.truth.stereo.size() / 2);
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (m.truth.stereo[2 * i] + m.truth.stereo[2 * i + 1]);
    std::vector<double> levels;
    for (double t = m.truth.bassIn + m.barSeconds; t < m.truth.bassOut - m.barSeconds; t += 0.25)
        levels.push_back(BassDb(mono, t, m.bassHz));
    // Where a note sounds: a bass marking its bars holds off between its notes.
    return Percentile(levels, 0.9);
}

// The same where the track has no bass, the kick alone: how far below the full level the filter
// leaves what is not the bass.
double FileNoBassDb(const Made& m) {
    std::vector<float> mono(m.truth.stereo.size() / 2);
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (m.truth.stereo[2 * i] + m.truth.stereo[2 * i + 1]);
    std::vector<double> levels;
    for (double t = m.truth.downbeats.front() + 0.5; t < m.truth.end; t += 0.25)
        if (t < m.truth.bassIn - 0.5 || t > m.truth.bassOut + 0.5) levels.push_back(BassDb(mono, t, m.bassHz));
    return levels.empty() ? -200 : Percentile(levels, 0.9);
}

// The same as heard where the track plays alone in full bass, to check the file's level and gain
// against; -200 where it never does.
double FullBassDb(const Heard& h, const Made& m, int track) {
    std::vector<double> levels;
    const double bassIn = m.truth.bassIn + m.barSeconds, bassOut = m.truth.bassOut - m.barSeconds;
    for (std::size_t k = 0; k < h.ticks.size(); k += 3) {
        const TickRecord& r = h.ticks[k];
        if (!Alone(r, track)) continue;
        const double pos = r.track[0] == track ? r.to[0] : r.to[1];
        if (pos > bassIn && pos < bassOut) levels.push_back(BassDb(h.mono, (k + 0.5) * kTick / kRate, m.bassHz));
    }
    return levels.empty() ? -200 : Percentile(levels, 0.9);
}

struct Measures {
    int mixes = 0, inStep = 0, onPhrases = 0, swaps = 0;
    int phrases = 0, phrasesAligned = 0;
    double bassOverlapMax = 0;
    double levelDipDb = 0, showDipDb = 0;
    std::vector<double> beatErrorsMs;
    int bars = 0, barsAligned = 0;
    double clickRatio = 0;
    double deadAir = 0;
};

// The bar of the track as made nearest a moment of its file, for the logs.
int BarOf(const Made& m, double t) {
    return static_cast<int>(std::lround((t - m.truth.downbeats.front()) / m.barSeconds));
}

// A form's bar as the truth counts them, for the logs.
int TruthBar(const quendo::TrackFacts& f, const Made& m, int bar) {
    return static_cast<int>(std::lround((quendo::BarStart(f.beats, bar) - m.truth.downbeats.front()) / m.barSeconds));
}

std::string Bars(const std::vector<int>& bars) {
    std::string s;
    for (const int b : bars) s += (s.empty() ? "" : ",") + std::to_string(b);
    return s;
}

void ReportAnalysis(const Heard& h, const std::vector<Made>& made) {
    for (int k = 0; k < TrackCount(); ++k) {
        const Made& m = made[static_cast<std::size_t>(k)];
        const auto& f = h.facts[static_cast<std::size_t>(k)];
        std::vector<int> phrases;
        for (const double p : m.truth.phrases) phrases.push_back(BarOf(m, p));
        const std::string truth = "bars " + std::to_string(m.truth.bars) + " phrases " + Bars(phrases) + " bass " +
                                  std::to_string(BarOf(m, m.truth.bassIn)) + ".." +
                                  std::to_string(BarOf(m, m.truth.bassOut)) + " fade " +
                                  std::to_string(m.truth.fadeOut < 0 ? -1 : BarOf(m, m.truth.fadeOut));
        std::string found = "no form";
        if (f && f->form.Known()) {
            const quendo::TrackForm& form = f->form;
            std::vector<int> lines;
            for (const int p : form.phrases) lines.push_back(TruthBar(*f, m, p));
            const auto at = [&](int bar) { return bar < 0 ? -1 : TruthBar(*f, m, bar); };
            found = "bars " + std::to_string(form.bars) + " phrases " + Bars(lines) + " bass " + std::to_string(at(form.bassIn)) +
                    ".." + std::to_string(at(form.bassOut)) + " fade " + std::to_string(at(form.fadeOut));
            char last[64];
            std::snprintf(last, sizeof last, ", last sound at bar %.2f", (f->lastSound - m.truth.downbeats.front()) / m.barSeconds);
            found += last;
        }
        std::fprintf(stderr, "bench_transitions: track %d %s: made %s; found (in its bars) %s, %.2f BPM\n", k + 1,
                     bench::Describe(Spec(Tracks()[static_cast<std::size_t>(k)], k)).c_str(), truth.c_str(), found.c_str(),
                     f ? f->beats.bpm : 0.0);
    }
}

Measures Measure(const char* run, const Heard& h, const std::vector<Made>& made) {
    Measures m;
    m.deadAir = bench::DeadAir(h.windows);
    std::vector<double> fullBass, aloneJump(static_cast<std::size_t>(TrackCount()), 0.0);
    std::fprintf(stderr, "bench_transitions: %s: full bass, dB (file + gain / heard alone):", run);
    for (int k = 0; k < TrackCount(); ++k) {
        const auto t = static_cast<std::size_t>(k);
        // As heard where it can be (through the limiter and the stretch), else from the file.
        const double file = made[t].fileBassDb + h.gainDb[t], heard = FullBassDb(h, made[t], k);
        fullBass.push_back(heard > -200 ? heard : file);
        std::fprintf(stderr, " %.1f / %.1f", file, heard);
    }
    std::fprintf(stderr, "\n");
    for (const TickRecord& r : h.ticks)
        for (int k = 0; k < TrackCount(); ++k)
            if (Alone(r, k)) aloneJump[static_cast<std::size_t>(k)] = std::max<double>(aloneJump[static_cast<std::size_t>(k)], r.jump);

    for (const MixRecord& mix : h.mixes) {
        // The last track's end is no change.
        if (mix.out < 0 || mix.in >= TrackCount()) continue;
        ++m.mixes;
        if (mix.plan) ++m.inStep;
        if (mix.plan && mix.plan->onPhrases) ++m.onPhrases;
        if (mix.plan && mix.plan->bassSwapAt >= 0) ++m.swaps;
        const auto o = static_cast<std::size_t>(mix.out), i = static_cast<std::size_t>(mix.in);
        const Made &mo = made[o], &mi = made[i];
        // The ticks where both sound.
        long first = -1, lastTick = -1;
        float jump = 0;
        for (std::size_t k = 0; k < h.ticks.size(); ++k)
            if (Sounds(h.ticks[k], mix.out) && Sounds(h.ticks[k], mix.in)) {
                if (first < 0) first = static_cast<long>(k);
                lastTick = static_cast<long>(k);
                jump = std::max(jump, h.ticks[k].jump);
            }
        if (first < 0) {
            std::fprintf(stderr, "bench_transitions: %s: mix %d -> %d: the two never sounded together\n", run, mix.out + 1, mix.in + 1);
            continue;
        }
        const double from = static_cast<double>(first * kTick) / kRate, to = static_cast<double>((lastTick + 1) * kTick) / kRate;
        m.clickRatio = std::max(m.clickRatio, jump / (aloneJump[o] + aloneJump[i]));

        // The incoming phrase starts heard with the outgoing track, against the outgoing ones.
        std::vector<double> outLines;
        for (const double p : mo.truth.phrases) outLines.push_back(HeardAt(h, mo, mix.out, p));
        const double outEnd = HeardAt(h, mo, mix.out, mo.truth.end);
        outLines.push_back(outEnd);
        int phrases = 0, aligned = 0;
        std::string offsets;
        for (const double p : mi.truth.phrases) {
            const double t = HeardAt(h, mi, mix.in, p);
            if (t < 0 || t < from - kSnap || (outEnd >= 0 && t > outEnd - 0.05) || t > to) continue;
            ++phrases;
            const double off = 1000 * bench::Nearest(outLines, t);
            aligned += off <= kAlignedMs;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%s%d:%.0fms", offsets.empty() ? "" : " ", BarOf(mi, p), off);
            offsets += buf;
        }
        m.phrases += phrases;
        m.phrasesAligned += aligned;

        // Both bass lines near their full level: the longest stretch, and all of it.
        double longest = 0, total = 0, run_ = 0, longestAt = -1;
        for (double t = from - 1; t < to + 1; t += kBassHop) {
            const bool both = BassDb(h.mono, t, mo.bassHz) > fullBass[o] + kBassFullDb &&
                              BassDb(h.mono, t, mi.bassHz) > fullBass[i] + kBassFullDb;
            run_ = both ? run_ + kBassHop : 0;
            total += both ? kBassHop : 0;
            if (run_ > longest) longest = run_, longestAt = t;
        }
        m.bassOverlapMax = std::max(m.bassOverlapMax, longest);

        // The beats and bars of the two, as bench_beatmix times them.
        const auto together = [&](double t) { return t >= from && t < to; };
        std::vector<double> outBeats, inBeats, outBars, inBars;
        for (const Burst& b : h.beats[o].Found()) if (together(b.at / kRate)) outBeats.push_back(b.at / kRate);
        for (const Burst& b : h.beats[i].Found()) if (together(b.at / kRate)) inBeats.push_back(b.at / kRate);
        for (const Burst& b : bench::Downbeats(h.bars[o], h.beats[o])) if (together(b.at / kRate)) outBars.push_back(b.at / kRate);
        for (const Burst& b : bench::Downbeats(h.bars[i], h.beats[i])) if (together(b.at / kRate)) inBars.push_back(b.at / kRate);
        std::vector<double> errors;
        int bars = 0, barsAligned = 0;
        if (!outBeats.empty()) {
            const double half = 30.0 / Tracks()[o].bpm, lo = outBeats.front() - half, hi = outBeats.back() + half;
            for (const double t : inBeats)
                if (t >= lo && t <= hi) errors.push_back(1000 * bench::Nearest(outBeats, t));
            for (const double t : inBars)
                if (t >= lo && t <= hi) ++bars, barsAligned += 1000 * bench::Nearest(outBars, t) <= kAlignedMs;
        }
        m.beatErrorsMs.insert(m.beatErrorsMs.end(), errors.begin(), errors.end());
        m.bars += bars;
        m.barsAligned += barsAligned;

        // The outgoing track heard on after the mix's end.
        double after = 0;
        int afterVolume = -10000;
        for (long k = std::max(0L, mix.endTick); k < static_cast<long>(h.ticks.size()) && mix.endTick >= 0; ++k) {
            const TickRecord& r = h.ticks[static_cast<std::size_t>(k)];
            const int d = r.track[0] == mix.out ? 0 : r.track[1] == mix.out ? 1 : -1;
            if (d < 0) break;
            after += static_cast<double>(kTick) / kRate;
            afterVolume = std::max(afterVolume, r.volume[d]);
        }

        // The change's lowest short-term loudness against the incoming track's, alone, after it.
        double lowest = HUGE_VAL;
        std::vector<double> alone;
        for (long k = mix.startTick + 30; k < mix.endTick + 30 && k < static_cast<long>(h.ticks.size()); ++k)
            lowest = std::min(lowest, h.ticks[static_cast<std::size_t>(k)].shortTermLufs);
        for (long k = mix.endTick + 60; k < mix.endTick + 160 && k < static_cast<long>(h.ticks.size()); ++k)
            if (Alone(h.ticks[static_cast<std::size_t>(k)], mix.in)) alone.push_back(h.ticks[static_cast<std::size_t>(k)].shortTermLufs);

        // The plan in the outgoing track's bars as made, against the truth.
        std::string plan = "plain (not in step)";
        if (mix.plan) {
            const quendo::BeatMixPlan& p = *mix.plan;
            std::vector<int> lines;
            for (const double l : p.phraseLines) lines.push_back(BarOf(mo, l));
            char buf[256];
            std::snprintf(buf, sizeof buf, "%s start bar %d, %d bars, incoming at bar %d, lines %s, swap %s%d%s%s%s",
                          p.onPhrases ? "on phrases" : "on bars", BarOf(mo, p.start), p.bars,
                          BarOf(mo, p.incomingAt), Bars(lines).c_str(), p.bassSwapAt >= 0 ? "at bar " : "none ",
                          p.bassSwapAt >= 0 ? BarOf(mo, p.bassSwapAt) : -1, p.outro ? ", outro" : "", p.intro ? ", intro" : "",
                          p.fadeOut ? ", fade-out" : "");
            plan = buf;
        }
        std::fprintf(stderr,
                     "bench_transitions: %s: mix %d -> %d: %s; %d bass plans; heard %.1f..%.1f s: phrases %d/%d on lines (%s), "
                     "both basses %.2f s at most (ending %.1f s), %.2f s in all; beat error p95 %.1f ms, bars %d/%d, click %.2f; "
                     "mix %.1f..%.1f s, the outgoing heard %.1f s after it, at %.1f dB at most; lowest %.1f LUFS, "
                     "the incoming alone after it %.1f LUFS\n",
                     run, mix.out + 1, mix.in + 1, plan.c_str(), mix.bassPlans, from, to, aligned, phrases, offsets.c_str(),
                     longest, longestAt, total, Percentile(errors, 0.95), barsAligned, bars, jump / (aloneJump[o] + aloneJump[i]),
                     static_cast<double>(mix.startTick * kTick) / kRate, static_cast<double>(mix.endTick * kTick) / kRate, after,
                     afterVolume / 100.0, lowest, bench::Median(alone));
    }

    // The short-term loudness's deepest fall below its median, the show's ends left out.
    const auto loud = [](double db) { return db >= bench::kSilenceDbfs; };
    const auto firstW = std::find_if(h.windows.begin(), h.windows.end(), loud) - h.windows.begin();
    const auto lastW = std::find_if(h.windows.rbegin(), h.windows.rend(), loud).base() - h.windows.begin();
    const double start = static_cast<double>(firstW) * bench::kDeadAirWindow / kRate + kEdgeSeconds;
    const double end = static_cast<double>(lastW) * bench::kDeadAirWindow / kRate - kEdgeSeconds;
    // A change's dip: the short-term windows (3 s) that lie within it or end up to 3 s past it.
    std::vector<bool> inChange(h.ticks.size(), false);
    for (const MixRecord& mix : h.mixes)
        if (mix.in < TrackCount() && mix.endTick >= 0)
            for (long k = mix.startTick + 30; k < std::min<long>(mix.endTick + 30, static_cast<long>(h.ticks.size())); ++k)
                inChange[static_cast<std::size_t>(k)] = true;
    std::vector<double> levels;
    double lowest = HUGE_VAL, lowestAt = 0, lowestInChange = HUGE_VAL, lowestInChangeAt = 0;
    for (std::size_t k = 0; k < h.ticks.size(); ++k) {
        const double t = static_cast<double>((k + 1) * kTick) / kRate, l = h.ticks[k].shortTermLufs;
        if (t < start || t > end || !std::isfinite(l)) continue;
        levels.push_back(l);
        if (l < lowest) lowest = l, lowestAt = t;
        if (inChange[k] && l < lowestInChange) lowestInChange = l, lowestInChangeAt = t;
    }
    const double median = bench::Median(levels);
    m.showDipDb = levels.empty() ? 0 : median - lowest;
    m.levelDipDb = std::isfinite(lowestInChange) ? std::max(0.0, median - lowestInChange) : 0;
    std::fprintf(stderr, "bench_transitions: %s: %.1f s of show; short-term loudness median %.1f LUFS, lowest %.1f at %.1f s, "
                 "lowest in a change %.1f at %.1f s\n", run, static_cast<double>(h.windows.size()) * bench::kDeadAirWindow / kRate,
                 median, lowest, lowestAt, lowestInChange, lowestInChangeAt);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    const char* names[] = {"transition_phrase_aligned_fraction", "transition_bass_overlap_s_max", "transition_level_dip_db", "transition_show_level_dip_db",
                           "transition_beat_error_ms_p95", "transition_beat_error_ms_max", "transition_bar_aligned_fraction",
                           "transition_click_ratio", "transition_dead_air_s", "transition_mix_count",
                           "transition_in_step_count", "transition_on_phrases_count", "transition_bass_swap_count"};
    bool wanted[2] = {false, false};
    for (const char* n : names)
        for (int s = 0; s < 2; ++s) wanted[s] = wanted[s] || figures.Wants(std::string(n) + (s == 0 ? "_on" : "_off"));
    if (!wanted[0] && !wanted[1]) return 0;
    quendo::audio::SilenceFfmpegLog();

    quendo::testing::TempDir dir;
    std::vector<Made> made;
    for (int k = 0; k < TrackCount(); ++k) {
        const TrackDef& t = Tracks()[static_cast<std::size_t>(k)];
        Made m;
        m.truth = bench::SynthesizePhrases(Spec(t, k), kRate);
        m.bassHz = BassHz(t);
        m.barSeconds = 240 / t.bpm;
        std::vector<float>& stereo = m.truth.stereo;
        for (const double b : m.truth.beats) bench::AddBurst(stereo, b, t.beatBin, kMarkerAmplitude);
        for (const double b : m.truth.downbeats) bench::AddBurst(stereo, b, t.barBin, kMarkerAmplitude);
        float peak = 0;
        for (const float v : stereo) peak = std::max(peak, std::fabs(v));
        for (float& v : stereo) v *= 0.891f / peak;
        if (!Write(dir, t, stereo)) {
            std::fprintf(stderr, "bench_transitions: ffmpeg could not write %s\n", t.name);
            return 1;
        }
        std::fprintf(stderr, "bench_transitions: %-20s %s, %.1f s, bass at", t.name, bench::Describe(Spec(t, k)).c_str(),
                     static_cast<double>(stereo.size() / 2) / kRate);
        for (const double f : m.bassHz) std::fprintf(stderr, " %.1f", f);
        m.fileBassDb = FileBassDb(m);
        std::fprintf(stderr, " Hz: %.1f dB in full, %.1f dB without\n", m.fileBassDb, FileNoBassDb(m));
        m.truth.stereo = {};
        made.push_back(std::move(m));
    }

    for (int s = 0; s < 2; ++s) {
        if (!wanted[s]) continue;
        const char* run = s == 0 ? "on" : "off";
        const Heard h = PlayShow(dir.path(), made, s == 0, dir / (std::string("facts-") + run + ".cache"));
        if (s == 0) ReportAnalysis(h, made);
        const Measures m = Measure(run, h, made);
        const std::string x = std::string("_") + run;
        figures.Print("transition_phrase_aligned_fraction" + x, m.phrases ? static_cast<double>(m.phrasesAligned) / m.phrases : 0.0, "fraction");
        figures.Print("transition_bass_overlap_s_max" + x, m.bassOverlapMax, "s");
        figures.Print("transition_level_dip_db" + x, m.levelDipDb, "dB");
        figures.Print("transition_show_level_dip_db" + x, m.showDipDb, "dB");
        figures.Print("transition_beat_error_ms_p95" + x, Percentile(m.beatErrorsMs, 0.95), "ms");
        figures.Print("transition_beat_error_ms_max" + x,
                      m.beatErrorsMs.empty() ? 0.0 : *std::max_element(m.beatErrorsMs.begin(), m.beatErrorsMs.end()), "ms");
        figures.Print("transition_bar_aligned_fraction" + x, m.bars ? static_cast<double>(m.barsAligned) / m.bars : 0.0, "fraction");
        figures.Print("transition_click_ratio" + x, m.clickRatio, "ratio");
        figures.Print("transition_dead_air_s" + x, m.deadAir, "s");
        figures.Print("transition_mix_count" + x, m.mixes, "count");
        figures.Print("transition_in_step_count" + x, m.inStep, "count");
        figures.Print("transition_on_phrases_count" + x, m.onPhrases, "count");
        figures.Print("transition_bass_swap_count" + x, m.swaps, "count");
    }
    return 0;
}
