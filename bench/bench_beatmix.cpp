// Mixes on the beat, heard through the whole program: six synthesized dance tracks of known tempo
// (WAV, MP3 at a constant and a variable bit rate, and WMA, each kind on each side of some mix),
// beats and bars (120-128 BPM, neighbours up to 4 % apart, in different keys, each with a lead of
// silence and an end that fades out into silence), played as a playlist by the program's core on
// the real engine offline with a cold analysis, paced as bench_show paces its show, once with "Mix
// on the beat" on and once with it off.
//
// Each track carries a tone of its own on its beats and another on its downbeats: short bursts
// above 11 kHz, where this music has little but noise and which the analysis, at half the rate,
// never hears. A filter matched to each burst finds them in what is heard, so the two tracks of a
// mix can be told apart and timed: how far each incoming beat lies from the nearest outgoing one
// while both sound, how many of the incoming bar starts fall within 20 ms of the outgoing ones,
// and the tempo each track is heard at outside its mixes (after the glide back to its own).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Markers.h"
#include "Show.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/MediaFile.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/MusicSynth.h"

namespace {

using bench::AddBurst;
using bench::Burst;
using bench::Downbeats;
using bench::Nearest;
using bench::Percentile;
using bench::ToneBursts;
using quendo::testing::Groove;
constexpr int kRate = bench::kShowRate;
constexpr int kTick = bench::kShowTick;
constexpr double kPi = 3.14159265358979323846;

constexpr double kMarkerAmplitude = 0.35;  // before the track is brought back to the synthesizer's peak
constexpr double kFadeSeconds = 2.5;      // the music fades out over its last bar or so
constexpr double kTailSeconds = 1.5;      // then silence to the file's end
constexpr double kMargin = 0.15;          // seconds either side of a track's sound still counted as sounding
constexpr double kBarWindowMs = 20;       // an incoming bar start this close to an outgoing one is aligned

struct BeatTrack {
    const char* name;
    Groove groove;
    double bpm;
    int key;          // 0..11 major, 12..23 minor
    double seconds;   // lead and music, before the fade's silence
    double lead;      // silence before the first sound
    int pickup;       // beats of the first bar gone when the music starts
    std::uint32_t seed;
    int beatBin, barBin;  // the marker tones, in 50 Hz steps
    const char* format;   // wav, mp3 (constant bit rate), mp3vbr or wma
};

// The encoder's arguments for a kind of file, each at a rate whose low-pass keeps the markers.
std::vector<std::string> EncoderArgs(const std::string& format) {
    if (format == "mp3") return {"-c:a", "libmp3lame", "-b:a", "192k"};
    if (format == "mp3vbr") return {"-c:a", "libmp3lame", "-q:a", "2"};
    if (format == "wma") return {"-c:a", "wmav2", "-b:a", "192k"};
    return {};
}

// Writes the track's file as its kind; false when the encoder failed.
bool WriteTrack(const quendo::testing::TempDir& dir, const BeatTrack& t, const std::vector<float>& stereo) {
    const std::vector<std::string> codec = EncoderArgs(t.format);
    if (codec.empty()) {
        dir.WriteFile(t.name, quendo::testing::StereoWav(stereo, kRate));
        return true;
    }
    dir.WriteFile("encode.wav", quendo::testing::StereoWav(stereo, kRate));
    std::vector<std::string> args{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", dir / "encode.wav"};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(dir / t.name);
    const bool made = bench::ChildCpuSeconds(args) >= 0;
    ::unlink((dir / "encode.wav").c_str());
    return made;
}

// Four on the floor but for one breakbeat; each tempo within 4 % of the one before. Each of the
// four kinds of file the show holds is on each side of some mix: WAV, MP3 at a constant bit rate
// and at a variable one, and WMA.
const BeatTrack kTracks[] = {
    {"01 first light.wav", Groove::FourOnTheFloor, 122.0, 9, 80, 0.8, 0, 21, 230, 240, "wav"},
    {"02 tunnel.mp3", Groove::FourOnTheFloor, 124.5, 19, 85, 0.4, 0, 22, 250, 260, "mp3"},
    {"03 broken glass.wma", Groove::Breakbeat, 127.0, 2, 80, 1.2, 2, 23, 270, 280, "wma"},
    {"04 steel.mp3", Groove::FourOnTheFloor, 122.5, 16, 85, 0.6, 1, 24, 290, 300, "mp3vbr"},
    {"05 rise.wav", Groove::FourOnTheFloor, 127.4, 7, 80, 1.0, 0, 25, 310, 320, "wav"},
    {"06 home.wma", Groove::FourOnTheFloor, 124.0, 12, 85, 0.5, 3, 26, 330, 340, "wma"},
};
constexpr int kTrackCount = static_cast<int>(std::size(kTracks));

struct Made {
    std::vector<float> stereo;
    std::vector<double> beats, downbeats;  // seconds of the file
    double firstSound = 0, lastSound = 0;
};

Made Make(const BeatTrack& t) {
    quendo::testing::MusicSpec spec;
    spec.groove = t.groove;
    spec.bpm = t.bpm;
    spec.key = t.key;
    spec.seconds = t.seconds;
    spec.lead = t.lead;
    spec.pickup = t.pickup;
    spec.seed = t.seed;
    quendo::testing::SynthMusic music = quendo::testing::SynthesizeMusic(spec, kRate);
    float peak = 0;
    for (float v : music.stereo) peak = std::max(peak, std::fabs(v));
    Made m;
    m.stereo = std::move(music.stereo);
    m.beats = music.beats;
    m.downbeats = music.downbeats;
    for (double b : m.beats) AddBurst(m.stereo, b, t.beatBin, kMarkerAmplitude);
    for (double b : m.downbeats) AddBurst(m.stereo, b, t.barBin, kMarkerAmplitude);
    // The fade to the end of the music, then silence.
    const long frames = static_cast<long>(m.stereo.size() / 2), fade = std::lround(kFadeSeconds * kRate);
    for (long i = frames - fade; i < frames; ++i) {
        const double x = static_cast<double>(frames - i) / static_cast<double>(fade);  // 1 .. 0
        const auto g = static_cast<float>(std::sin(kPi / 2 * x) * std::sin(kPi / 2 * x));
        m.stereo[2 * i] *= g;
        m.stereo[2 * i + 1] *= g;
    }
    m.stereo.resize(m.stereo.size() + 2 * static_cast<std::size_t>(kTailSeconds * kRate), 0.0f);
    float now = 0;
    for (float v : m.stereo) now = std::max(now, std::fabs(v));
    for (float& v : m.stereo) v *= peak / now;
    m.firstSound = t.lead;
    m.lastSound = t.seconds;
    return m;
}

// ---- the show ----

struct TickRecord {
    int track[2] = {-1, -1};   // on each deck, when it sounds
    double position[2] = {0, 0};  // each deck's position at the tick's end
    bool mixing = false;
};

struct MixRecord {
    int out = -1, in = -1;
    bool inStep = false;
    quendo::BeatMixPlan plan{};
};

struct Heard {
    double deadAir = 0, seconds = 0;
    std::map<std::string, double> lufs;
    std::vector<TickRecord> ticks;
    std::vector<MixRecord> mixes;
    std::vector<std::vector<quendo::MediaPlayer::RatePoint>> ratePlans =
        std::vector<std::vector<quendo::MediaPlayer::RatePoint>>(kTrackCount);
    std::vector<ToneBursts> beats, bars;  // by track
    std::vector<std::optional<quendo::TrackFacts>> facts = std::vector<std::optional<quendo::TrackFacts>>(kTrackCount);
};

int TrackOf(const std::string& dir, const std::string& path) {
    for (int i = 0; i < kTrackCount; ++i)
        if (dir + "/" + kTracks[i].name == path) return i;
    return -1;
}

Heard PlayShow(const std::string& dir, const std::vector<Made>& made, bool onBeat, const std::string& cache) {
    using namespace quendo;
    // Cold, as at a first start: nothing is known until the show asks for it.
    audio::TrackAnalyser analyser(cache);
    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    bench::Tap deck1(engine.Deck1()), deck2(engine.Deck2());
    testing::CoreOver world(deck1, deck2, engine.Probe(), &analyser);
    Core& core = world.core;
    core.autoMix.mixOnBeat = onBeat;
    core.nodes.MusicFolder = dir + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;
    for (const BeatTrack& t : kTracks) core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, t.name));

    Heard h;
    for (const BeatTrack& t : kTracks) {
        h.beats.emplace_back(t.beatBin, bench::kMarkerThreshold);
        h.bars.emplace_back(t.barBin, bench::kMarkerThreshold);
    }
    bench::AloneLoudness alone;
    std::vector<double> windows;
    std::vector<float> block(2 * kTick);
    bench::Tap* decks[] = {&deck1, &deck2};
    bench::Pace pace;
    bool mixing = false;
    for (int n = 0; n < 10 * 60 * 20 && core.deck.Timer1Enabled(); ++n) {
        pace.Tick(deck1.PlayState() != psPlaying && deck2.PlayState() != psPlaying);
        double before[2];
        for (int d = 0; d < 2; ++d) before[d] = decks[d]->CurrentPosition();
        engine.render(block.data(), kTick);
        bench::AddWindows(block, windows);
        for (int i = 0; i < kTrackCount; ++i) {
            h.beats[static_cast<std::size_t>(i)].Add(block.data(), kTick);
            h.bars[static_cast<std::size_t>(i)].Add(block.data(), kTick);
        }
        TickRecord r;
        r.mixing = mixing;
        int sounding = 0, heard = -1;
        for (int d = 0; d < 2; ++d) {
            const int track = TrackOf(dir, decks[d]->file);
            const double after = decks[d]->CurrentPosition();
            r.position[d] = after;
            if (track < 0 || decks[d]->PlayState() != psPlaying) continue;
            const Made& m = made[static_cast<std::size_t>(track)];
            if (after > m.firstSound - kMargin && before[d] < m.lastSound + kMargin && after > before[d]) {
                r.track[d] = track;
                ++sounding;
                heard = d;
            }
            if (!decks[d]->ratePlan.empty()) h.ratePlans[static_cast<std::size_t>(track)] = decks[d]->ratePlan;
        }
        if (sounding == 1) alone.Add(decks[heard]->file, block);
        h.ticks.push_back(r);
        core.Timer1Timer();
        if (core.deck.isMixing() && !mixing) {
            MixRecord mix;
            mix.out = TrackOf(dir, core.deck.currentPath());
            mix.in = mix.out + 1;
            mix.inStep = core.deck.beatPlan().has_value();
            if (mix.inStep) mix.plan = *core.deck.beatPlan();
            h.mixes.push_back(mix);
        }
        mixing = core.deck.isMixing();
    }
    if (core.deck.Timer1Enabled()) std::fprintf(stderr, "bench_beatmix: the show did not end\n");
    h.seconds = static_cast<double>(windows.size()) * bench::kDeadAirWindow / kRate;
    h.deadAir = bench::DeadAir(windows);
    h.lufs = alone.Lufs();
    for (int i = 0; i < kTrackCount; ++i) h.facts[static_cast<std::size_t>(i)] = analyser.Facts(dir + "/" + kTracks[i].name);
    return h;
}

// ---- the measures ----

// The bursts that fall in the ticks `in` says, seconds of the show.
template <class Pred>
std::vector<double> BurstsIn(const std::vector<Burst>& bursts, const std::vector<TickRecord>& ticks, Pred in) {
    std::vector<double> out;
    for (const Burst& b : bursts) {
        const auto tick = static_cast<std::size_t>(b.at / kTick);
        if (tick < ticks.size() && in(ticks[tick])) out.push_back(b.at / kRate);
    }
    return out;
}

struct Measures {
    std::vector<double> beatErrorsMs;
    std::map<std::string, double> pairMaxMs;  // the largest error of each mix, by its kinds of file
    int bars = 0, barsAligned = 0;
    double ownTempoErrorPct = 0;
    int inStep = 0;
};

bool Sounds(const TickRecord& r, int track) { return r.track[0] == track || r.track[1] == track; }

Measures Measure(const char* run, const Heard& h) {
    Measures m;
    for (const MixRecord& mix : h.mixes) {
        m.inStep += mix.inStep;
        if (mix.out < 0 || mix.in >= kTrackCount) continue;
        const auto together = [&](const TickRecord& r) { return Sounds(r, mix.out) && Sounds(r, mix.in); };
        const auto o = static_cast<std::size_t>(mix.out), i = static_cast<std::size_t>(mix.in);
        const std::vector<double> outBeats = BurstsIn(h.beats[o].Found(), h.ticks, together);
        const std::vector<double> inBeats = BurstsIn(h.beats[i].Found(), h.ticks, together);
        const std::vector<double> outBars = BurstsIn(Downbeats(h.bars[o], h.beats[o]), h.ticks, together);
        const std::vector<double> inBars = BurstsIn(Downbeats(h.bars[i], h.beats[i]), h.ticks, together);
        if (outBeats.empty()) {
            std::fprintf(stderr, "bench_beatmix: %s: mix %d -> %d: no outgoing beat heard with the incoming track\n", run,
                         mix.out + 1, mix.in + 1);
            continue;
        }
        // The beats that sound together: the incoming ones among the outgoing ones heard.
        const double half = 30.0 / kTracks[o].bpm;
        const double from = outBeats.front() - half, to = outBeats.back() + half;
        std::vector<double> errors, signedErrors;
        for (double t : inBeats) {
            if (t < from || t > to) continue;
            double best = HUGE_VAL;
            for (double u : outBeats)
                if (std::fabs(t - u) < std::fabs(best)) best = t - u;
            errors.push_back(1000 * std::fabs(best));
            signedErrors.push_back(1000 * best);
        }
        int bars = 0, aligned = 0;
        for (double t : inBars) {
            if (t < from || t > to) continue;
            ++bars;
            aligned += 1000 * Nearest(outBars, t) <= kBarWindowMs;
        }
        m.beatErrorsMs.insert(m.beatErrorsMs.end(), errors.begin(), errors.end());
        double& pair = m.pairMaxMs[std::string(kTracks[o].format) + "_to_" + kTracks[i].format];
        for (double e : errors) pair = std::max(pair, e);
        m.bars += bars;
        m.barsAligned += aligned;
        std::fprintf(stderr,
                     "bench_beatmix: %s: mix %d -> %d (%s -> %s) %s rate %.4f: %zu beats together, error mean %+.1f ms, p95 %.1f ms, max %.1f ms; "
                     "bars aligned %d/%d\n",
                     run, mix.out + 1, mix.in + 1, kTracks[o].format, kTracks[i].format, mix.inStep ? "in step" : "plain", mix.inStep ? mix.plan.rate : 1.0,
                     errors.size(), signedErrors.empty() ? 0.0 : std::accumulate(signedErrors.begin(), signedErrors.end(), 0.0) / static_cast<double>(signedErrors.size()),
                     Percentile(errors, 0.95), errors.empty() ? 0.0 : *std::max_element(errors.begin(), errors.end()), aligned, bars);
    }

    // Each track's tempo as heard where it sounds alone, past its glide: a line through its beats.
    for (int k = 0; k < kTrackCount; ++k) {
        const auto t = static_cast<std::size_t>(k);
        const double glideEnd = h.ratePlans[t].empty() ? 0 : h.ratePlans[t].back().fileSeconds;
        const auto own = [&](const TickRecord& r) {
            for (int d = 0; d < 2; ++d)
                if (r.track[d] == k) return r.track[1 - d] < 0 && r.position[d] - 0.1 >= glideEnd;
            return false;
        };
        const std::vector<double> beats = BurstsIn(h.beats[t].Found(), h.ticks, own);
        if (beats.size() < 16) {
            std::fprintf(stderr, "bench_beatmix: %s: track %d: only %zu beats heard at its own tempo\n", run, k + 1, beats.size());
            continue;
        }
        const double period = 60 / kTracks[t].bpm;
        double n = 0, sk = 0, st = 0, skk = 0, skt = 0;
        for (double b : beats) {
            const double idx = std::round((b - beats.front()) / period);
            n += 1, sk += idx, st += b, skk += idx * idx, skt += idx * b;
        }
        const double slope = (n * skt - sk * st) / (n * skk - sk * sk);
        const double error = 100 * std::fabs(period / slope - 1);
        m.ownTempoErrorPct = std::max(m.ownTempoErrorPct, error);
        std::fprintf(stderr, "bench_beatmix: %s: track %d heard at %.4f BPM over %zu beats (%.4f %% off), glide over at %.2f s\n",
                     run, k + 1, 60 / slope, beats.size(), error, glideEnd);
    }
    return m;
}

// What the analysis found against what was made.
void ReportAnalysis(const Heard& h, const std::vector<Made>& made) {
    for (int k = 0; k < kTrackCount; ++k) {
        const auto t = static_cast<std::size_t>(k);
        const auto& f = h.facts[t];
        if (!f) {
            std::fprintf(stderr, "bench_beatmix: track %d: not analysed\n", k + 1);
            continue;
        }
        const quendo::BeatGrid& g = f->beats;
        double phase = 0;
        bool barRight = false;
        if (g.Steady()) {
            for (double b : made[t].beats) {
                const double i = std::round((b - g.firstBeat) / g.period);
                phase = std::max(phase, std::fabs(g.firstBeat + i * g.period - b));
            }
            const double i = std::round((made[t].downbeats.front() - g.firstBeat) / g.period);
            barRight = g.barPhase >= 0 && ((static_cast<long>(i) - g.barPhase) % 4 + 4) % 4 == 0;
        }
        std::fprintf(stderr,
                     "bench_beatmix: track %d %-20s %.2f BPM: found %.4f BPM, worst beat %.1f ms off the grid, bar %s; "
                     "sound %.2f..%.2f s (made %.2f..%.2f)\n",
                     k + 1, kTracks[t].name, kTracks[t].bpm, g.bpm, 1000 * phase, !g.Steady() ? "-" : barRight ? "right" : "wrong",
                     f->firstSound, f->lastSound, made[t].firstSound, made[t].lastSound);
    }
}

// How far above the music the markers stand, and the longest silence within the music itself, on
// the files themselves.
void ReportMade(const std::vector<Made>& made) {
    for (int k = 0; k < kTrackCount; ++k) {
        const auto t = static_cast<std::size_t>(k);
        std::vector<double> windows;
        const auto from = static_cast<std::ptrdiff_t>(2 * std::lround(made[t].firstSound * kRate));
        const auto to = static_cast<std::ptrdiff_t>(2 * std::lround(made[t].lastSound * kRate));
        bench::AddWindows(std::vector<float>(made[t].stereo.begin() + from, made[t].stereo.begin() + to), windows);
        ToneBursts tone(kTracks[t].beatBin, 1e-4);
        tone.Add(made[t].stereo.data(), static_cast<int>(made[t].stereo.size() / 2));
        std::vector<double> on, off;
        for (const Burst& b : tone.Found())
            (Nearest(made[t].beats, b.at / kRate) < 0.005 ? on : off).push_back(b.amplitude);
        std::fprintf(stderr,
                     "bench_beatmix: track %d's beat marker: median %.4f on %zu beats, loudest elsewhere %.4f; "
                     "longest silence in its music %.2f s\n",
                     k + 1, bench::Median(on), on.size(), off.empty() ? 0.0 : *std::max_element(off.begin(), off.end()),
                     bench::DeadAir(windows));
    }
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    const char* names[] = {"mix_beat_error_ms_p95", "mix_beat_error_ms_max", "mix_bar_aligned_fraction",
                           "mix_in_step_count", "beatshow_own_tempo_error_pct", "beatshow_dead_air_s",
                           "beatshow_track_loudness_spread_lu"};
    bool on = false, off = false;
    for (const char* n : names) {
        on = on || figures.Wants(n);
        off = off || figures.Wants(std::string(n) + "_off");
    }
    // The largest error of each pair of kinds of file, and the kinds the show holds, come of the run on the beat.
    for (int i = 1; i < argc; ++i)
        on = on || std::string(argv[i]) == "beatshow_formats" ||
             (std::string(argv[i]).rfind("mix_beat_error_ms_max_", 0) == 0 && std::string(argv[i]) != "mix_beat_error_ms_max_off");
    if (!on && !off) return 0;
    quendo::audio::SilenceFfmpegLog();

    quendo::testing::TempDir dir;
    std::vector<Made> made;
    for (const BeatTrack& t : kTracks) {
        made.push_back(Make(t));
        if (!WriteTrack(dir, t, made.back().stereo)) {
            std::fprintf(stderr, "bench_beatmix: ffmpeg could not write %s\n", t.name);
            return 1;
        }
        std::fprintf(stderr, "bench_beatmix: %-20s %.2f BPM, %.1f s, made at %.2f LUFS\n", t.name, t.bpm,
                     static_cast<double>(made.back().stereo.size() / 2) / kRate, bench::Lufs(made.back().stereo));
    }
    ReportMade(made);
    // The kinds of file the show holds, named in the unit's place.
    std::vector<std::string> kinds;
    for (const BeatTrack& t : kTracks)
        if (std::find(kinds.begin(), kinds.end(), t.format) == kinds.end()) kinds.push_back(t.format);
    std::string list;
    for (const std::string& k : kinds) list += (list.empty() ? "" : ",") + k;
    figures.Print("beatshow_formats", static_cast<double>(kinds.size()), list.c_str());

    struct Run {
        const char* name;
        bool onBeat;
        const char* suffix;
    };
    for (const Run run : {Run{"on", true, ""}, Run{"off", false, "_off"}}) {
        if (!(run.onBeat ? on : off)) continue;
        const Heard h = PlayShow(dir.path(), made, run.onBeat, dir / (std::string("facts-") + run.name + ".cache"));
        if (run.onBeat) ReportAnalysis(h, made);
        const Measures m = Measure(run.name, h);
        std::fprintf(stderr, "bench_beatmix: %s: %.1f s of show, dead air %.2f s, %d mixes in step\n", run.name, h.seconds,
                     h.deadAir, m.inStep);
        const std::string s = run.suffix;
        figures.Print("mix_beat_error_ms_p95" + s, Percentile(m.beatErrorsMs, 0.95), "ms");
        figures.Print("mix_beat_error_ms_max" + s,
                      m.beatErrorsMs.empty() ? 0.0 : *std::max_element(m.beatErrorsMs.begin(), m.beatErrorsMs.end()), "ms");
        if (run.onBeat)
            for (const auto& [pair, worst] : m.pairMaxMs) figures.Print("mix_beat_error_ms_max_" + pair, worst, "ms");
        figures.Print("mix_bar_aligned_fraction" + s, m.bars ? static_cast<double>(m.barsAligned) / m.bars : 0.0, "fraction");
        figures.Print("mix_in_step_count" + s, m.inStep, "count");
        figures.Print("beatshow_own_tempo_error_pct" + s, m.ownTempoErrorPct, "%");
        figures.Print("beatshow_dead_air_s" + s, h.deadAir, "s");
        figures.Print("beatshow_track_loudness_spread_lu" + s, bench::Spread(h.lufs), "LU");
    }
    return 0;
}
