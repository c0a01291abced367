// A whole show through the automix: seven made-up tracks with silent heads and tails, levels far
// apart and files nobody made well, played as a playlist by the program's deck engine on the real
// engine offline (the tick fired after every 100 ms of rendered sound), once with the analysis'
// three switches on and once with them off. The analysis starts cold, with an empty cache, as at a
// first start: the render keeps pace with the wall clock while nothing plays (a held start waits
// in real time, as the program's would) and runs ten times faster than it while a deck plays, a
// pace at which the analysis meets the same deadlines as in a show heard live. What is heard is
// measured as it is rendered: the longest silence between the first sound and the last, each
// track's loudness while it alone sounds, and the loudest sample of all. A second, short show
// measures the silence heard when the playing file stops answering.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BenchUtil.h"
#include "Show.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/MediaFile.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/StallingDecoding.h"

namespace {

using bench::Lufs;
using bench::Meter;
using bench::NewMeter;
using bench::PeakDbfs;
using bench::Tap;

constexpr int kRate = bench::kShowRate;
constexpr int kTick = bench::kShowTick;
constexpr double kMargin = 0.15;        // seconds either side of a file's sound still counted as sounding
constexpr double kPi = 3.14159265358979323846;

struct ShowTrack {
    const char* name;
    double seconds;      // the length the file's header tells
    double head, tail;   // no sound before the first and after the last sound
    double lufs;         // the sound's loudness as made
    unsigned seed;
    double hitsDbfs = 0;  // 0: none; else sparse drum hits peaking here, far above the rest
    double hissDb = 0;    // 0: digital silence in head and tail; else hiss at this RMS
    double cutAt = 0;     // 0: whole; else the data stops here, the header still claiming `seconds`
    bool silent = false;  // digital silence throughout
    bool mp3 = false;     // encoded by ffmpeg from the made sound
};

// Loudness over 19.5 dB; a track ending in 10 s of silence before one beginning with 4 s of it;
// a loud master clipped near full scale; a quiet, dynamic one whose peak limits its gain; an
// MP3; a file that is silence throughout; a WAV cut off mid-file.
const ShowTrack kShow[] = {
    {"01 opener.wav", 40, 0.6, 2.5, -14, 1},
    {"02 floor filler.wav", 45, 0.3, 10, -7.5, 2},
    {"03 whisper.wav", 40, 4, 1.5, -27, 3},
    {"04 encoded.mp3", 40, 1.5, 3, -19, 4, 0, 0, 0, false, true},
    {"05 silence.wav", 30, 0, 0, 0, 5, 0, 0, 0, true},
    {"06 cut off.wav", 60, 0.8, 0, -22, 6, 0, 0, 36},
    {"07 live drums.wav", 45, 3, 6, -16.8, 7, -0.3, -70},
};

struct Noise {
    std::uint32_t state;
    float Next() {  // -1..1
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
};

// Something like a groove: a bass pulsing on the beat, a sustained chord, hi-hats and a snare, in
// eight-second sections a few dB apart, faded in over two seconds and out over three.
std::vector<float> Groove(double seconds, unsigned seed) {
    const long frames = static_cast<long>(seconds * kRate);
    std::vector<float> out(2 * static_cast<std::size_t>(frames));
    Noise noise{seed * 2654435761u + 1};
    const double bass = 45 + 7 * (seed % 5), chord = 196 + 23 * (seed % 7);
    const double sections[] = {0, -2, -4, -1, -3, 0, -5, -2};
    float hpIn = 0, hpOut = 0;
    for (long i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double beat = std::fmod(t, 0.5), half = std::fmod(t, 0.25), bar = std::fmod(t, 1.0);
        const float n = noise.Next();
        hpOut = 0.85f * (hpOut + n - hpIn);  // a first-order high-pass, a few kHz up
        hpIn = n;
        const double b = std::sin(2 * kPi * bass * t) * (0.35 + 0.65 * std::exp(-beat / 0.12));
        double c = 0;
        for (double ratio : {1.0, 1.25, 1.5}) c += std::sin(2 * kPi * chord * ratio * t) / 3;
        const double hats = hpOut * std::exp(-half / 0.03);
        const double snare = bar >= 0.5 ? n * std::exp(-(bar - 0.5) / 0.07) : 0;
        double level = std::pow(10.0, sections[static_cast<std::size_t>(t / 8 + seed) % 8] / 20);
        level *= std::min({1.0, t / 2, (seconds - t) / 3});
        const double left = level * (0.5 * b + 0.3 * c + 0.25 * hats + 0.3 * snare);
        const double right = level * (0.5 * b + 0.3 * c * 0.9 + 0.15 * hats + 0.3 * snare);
        out[2 * i] = static_cast<float>(left);
        out[2 * i + 1] = static_cast<float>(right);
    }
    return out;
}

// The track's samples over the whole file (a cut-off file: up to its cut).
std::vector<float> Make(const ShowTrack& s) {
    const long total = static_cast<long>((s.cutAt > 0 ? s.cutAt : s.seconds) * kRate);
    std::vector<float> out(2 * static_cast<std::size_t>(total), 0.0f);
    if (s.silent) return out;
    const double soundEnd = s.cutAt > 0 ? s.cutAt : s.seconds - s.tail;
    // A cut-off file's sound was meant to go on: it is made whole and cut.
    std::vector<float> sound = Groove((s.cutAt > 0 ? s.seconds : soundEnd) - s.head, s.seed);
    const double scale = std::pow(10.0, (s.lufs - Lufs(sound)) / 20);
    const float clip = static_cast<float>(std::pow(10.0, -0.1 / 20));  // a master pushed into its ceiling
    for (float& v : sound) v = std::clamp(static_cast<float>(v * scale), -clip, clip);
    if (s.hitsDbfs != 0) {
        // A drum hit every 3.7 s, alone in its few milliseconds: the track's peak, 16 dB above its loudness.
        const double amplitude = std::pow(10.0, s.hitsDbfs / 20);
        for (double at = 1.3; at + 0.01 < soundEnd - s.head; at += 3.7) {
            const long from = static_cast<long>(at * kRate);
            for (long k = 0; k < kRate / 200; ++k) {
                const double t = static_cast<double>(k) / kRate;
                const float v = static_cast<float>(amplitude * std::sin(2 * kPi * 1800 * t + kPi / 2) * std::exp(-t / 0.004));
                sound[2 * (from + k)] = sound[2 * (from + k) + 1] = v;
            }
        }
    }
    const long head = static_cast<long>(s.head * kRate);
    const long n = std::min<long>(static_cast<long>(sound.size() / 2), total - head);
    std::copy(sound.begin(), sound.begin() + 2 * n, out.begin() + 2 * head);
    if (s.hissDb != 0) {
        Noise noise{s.seed + 99};
        const float a = static_cast<float>(std::pow(10.0, s.hissDb / 20) * std::sqrt(3.0));  // uniform noise's RMS is 1/sqrt(3)
        for (long i = 0; i < total; ++i)
            if (i < head || i >= head + n) out[2 * i] = a * noise.Next(), out[2 * i + 1] = a * noise.Next();
    }
    return out;
}

// Writes the show's files; false when one could not be made.
bool WriteShow(const quendo::testing::TempDir& dir) {
    for (const ShowTrack& s : kShow) {
        const std::vector<float> sound = Make(s);
        const long claimed = static_cast<long>(s.seconds * kRate);
        if (!s.mp3) {
            dir.WriteFile(s.name, quendo::testing::StereoWav(sound, kRate, claimed));
        } else {
            dir.WriteFile("encode.wav", quendo::testing::StereoWav(sound, kRate, claimed));
            if (bench::ChildCpuSeconds({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i",
                                        dir / "encode.wav", "-c:a", "libmp3lame", "-b:a", "192k", dir / s.name}) < 0) {
                std::fprintf(stderr, "bench_show: ffmpeg could not write %s\n", s.name);
                return false;
            }
        }
        if (!s.silent)
            std::fprintf(stderr, "bench_show: %-20s made at %6.2f LUFS, peak %6.2f dBFS\n", s.name, Lufs(sound), PeakDbfs(sound));
    }
    return true;
}

struct Heard {
    double deadAir = 0;                 // seconds
    double firstTrackLufs = -HUGE_VAL;  // the first track alone, after its first 3 s
    std::map<std::string, double> lufs;  // each track, while it alone sounded
    std::map<std::string, double> aloneSeconds;
    double alonePeakDbfs = -200;        // the loudest sample heard of a track alone
    double peakDbfs = -200;             // the loudest sample of the whole show
    double seconds = 0;                 // the whole show
};

// Where the track of a path has sound, in seconds of the file.
bool SoundsAt(const std::string& dir, const std::string& path, double from, double to) {
    for (const ShowTrack& s : kShow)
        if (dir + "/" + s.name == path) {
            if (s.silent || to <= from) return false;
            const double first = s.head - kMargin, last = (s.cutAt > 0 ? s.cutAt : s.seconds - s.tail) + kMargin;
            return to > first && from < last;
        }
    return false;
}

Heard PlayShow(const std::string& dir, quendo::TrackAnalysis& analysis, const quendo::AutoMixOptions& switches) {
    using namespace quendo;
    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    Tap deck1(engine.Deck1()), deck2(engine.Deck2());
    testing::CoreOver world(deck1, deck2, engine.Probe(), &analysis);
    Core& core = world.core;
    core.autoMix = switches;
    core.nodes.MusicFolder = dir + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;
    for (const ShowTrack& s : kShow) core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, s.name));

    Heard h;
    bench::AloneLoudness alone;
    std::vector<double> windows;  // each 50 ms window's level, dBFS
    std::vector<float> block(2 * kTick);
    Tap* decks[] = {&deck1, &deck2};
    Meter firstTrack = NewMeter();
    double firstTrackHeard = 0;
    const std::string firstPath = dir + "/" + kShow[0].name;
    bench::Pace pace;
    for (int n = 0; n < 10 * 60 * 20 && core.deck.Timer1Enabled(); ++n) {
        pace.Tick(deck1.PlayState() != psPlaying && deck2.PlayState() != psPlaying);
        double before[2];
        for (int d = 0; d < 2; ++d) before[d] = decks[d]->CurrentPosition();
        engine.render(block.data(), kTick);
        h.peakDbfs = std::max(h.peakDbfs, PeakDbfs(block));
        bench::AddWindows(block, windows);
        // Which decks were heard: playing, and moving through their file's sound.
        int sounding = 0, heard = -1;
        for (int d = 0; d < 2; ++d)
            if (decks[d]->PlayState() == psPlaying && SoundsAt(dir, decks[d]->file, before[d], decks[d]->CurrentPosition())) {
                ++sounding;
                heard = d;
            }
        if (sounding == 1) {
            alone.Add(decks[heard]->file, block);
            h.aloneSeconds[decks[heard]->file] += 0.1;
            if (decks[heard]->file == firstPath && (firstTrackHeard += 0.1) > 3.05)
                ebur128_add_frames_float(firstTrack.get(), block.data(), kTick);
            h.alonePeakDbfs = std::max(h.alonePeakDbfs, PeakDbfs(block));
        }
        core.Timer1Timer();
    }
    h.seconds = static_cast<double>(windows.size()) * bench::kDeadAirWindow / kRate;
    if (core.deck.Timer1Enabled()) std::fprintf(stderr, "bench_show: the show did not end\n");

    h.deadAir = bench::DeadAir(windows);
    ebur128_loudness_global(firstTrack.get(), &h.firstTrackLufs);
    h.lufs = alone.Lufs();
    return h;
}

double Spread(const Heard& h) { return bench::Spread(h.lufs); }

// By how many dB a track's gain would take its peak past the -1 dBFS ceiling: the deck's limiter
// takes up to kMaxLimitDb of that, and the rest keeps the track below the target.
constexpr double kMaxLimitDb = 6.0;
double OverCeiling(const quendo::TrackFacts& f) {
    const double target = quendo::AutoMixOptions{}.targetLufs - f.integratedLufs, ceiling = -1.0 - f.peakDbfs;
    return f.audible ? std::max(0.0, target - ceiling) : 0;
}
double HeldDown(const quendo::TrackFacts& f) { return std::max(0.0, OverCeiling(f) - kMaxLimitDb); }

void Report(const char* run, const std::string& dir, const Heard& h, quendo::TrackAnalysis& analysis) {
    std::fprintf(stderr,
                 "bench_show: switches %s: %.1f s of show, dead air %.2f s, loudest sample %.2f dBFS, heard alone %.2f dBFS\n",
                 run, h.seconds, h.deadAir, h.peakDbfs, h.alonePeakDbfs);
    Heard free;  // the tracks the ceiling leaves at the target
    for (const ShowTrack& s : kShow) {
        const std::string path = dir + "/" + s.name;
        const auto l = h.lufs.find(path);
        const auto facts = analysis.Facts(path);
        if (l != h.lufs.end() && facts && HeldDown(*facts) < 0.05) free.lufs.insert(*l);
        std::fprintf(stderr, "bench_show:   %-20s heard alone %5.1f s at %6.2f LUFS", s.name,
                     h.aloneSeconds.count(path) ? h.aloneSeconds.at(path) : 0.0, l != h.lufs.end() ? l->second : -HUGE_VAL);
        if (facts)
            std::fprintf(stderr, "; analysed %6.2f LUFS, peak %6.2f dBFS, sound %.2f..%.2f s%s, peaks limited %.2f dB, ceiling -%.2f dB",
                         facts->integratedLufs, facts->peakDbfs, facts->firstSound, facts->lastSound,
                         facts->audible ? "" : ", silent", std::min(OverCeiling(*facts), kMaxLimitDb), HeldDown(*facts));
        std::fprintf(stderr, "\n");
    }
    if (std::string(run) == "on")
        std::fprintf(stderr, "bench_show:   spread of the %zu tracks the peak ceiling leaves free: %.2f LU\n",
                     free.lufs.size(), Spread(free));
}

// Where a file on a share that has gone away stops answering.
enum class Stall { kRead, kOpen, kSeek };

// Three steady tracks, one of which stops answering as a file on a share that has gone away: the
// first in its read 8 s in, or the second in its open, or in the seek to its first sound (the
// tracks then open with a second of silence, which the show skips): the silence heard before the
// show goes on.
double StallDeadAir(Stall where) {
    using namespace quendo;
    testing::TempDir dir;
    const char* names[] = {"stops answering.wav", "next.wav", "last.wav"};
    for (int i = 0; i < 3; ++i) {
        const double hz = 220.0 * (i + 2) / 2;
        if (where != Stall::kSeek) {
            dir.WriteFile(names[i], testing::ToneWav(30.0, hz, 0.3, kRate));
            continue;
        }
        std::vector<float> stereo(2 * 30 * kRate);
        for (std::size_t k = kRate; k < stereo.size() / 2; ++k)
            stereo[2 * k] = stereo[2 * k + 1] = static_cast<float>(0.3 * std::sin(2 * M_PI * hz * static_cast<double>(k) / kRate));
        dir.WriteFile(names[i], testing::StereoWav(stereo, kRate));
    }
    testing::StallingDecoding decoding;  // outlives the engine, whose decoder threads read through it
    if (where == Stall::kRead) decoding.StallAfter(dir / names[0], 8L * kRate);
    if (where == Stall::kOpen) decoding.StallOpen(dir / names[1]);
    if (where == Stall::kSeek) decoding.StallSeek(dir / names[1]);
    std::vector<double> windows;
    {
        audio::TrackAnalyser analyser(dir / "facts.cache");
        audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512, &decoding}};
        // The show seeks to a track's first sound only once it knows where that is.
        testing::CoreOver world(engine.Deck1(), engine.Deck2(), engine.Probe(), where == Stall::kSeek ? &analyser : nullptr);
        Core& core = world.core;
        core.nodes.MusicFolder = dir.path() + "/";
        core.buttons.UP = core.buttons.Play = true;
        core.options.RadioGroup2 = epWait;
        for (const char* name : names) core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, name));
        std::vector<float> block(2 * kTick);
        bench::Pace pace;  // the analysis keeps up
        for (int n = 0; n < 10 * 60 * 5 && core.deck.Timer1Enabled(); ++n) {
            if (where == Stall::kSeek) pace.Tick(engine.Deck1().PlayState() != psPlaying && engine.Deck2().PlayState() != psPlaying);
            engine.render(block.data(), kTick);
            bench::AddWindows(block, windows);
            core.Timer1Timer();
        }
        if (core.deck.Timer1Enabled()) std::fprintf(stderr, "bench_show: the show with a file that stops answering did not end\n");
    }
    decoding.Release();
    return bench::DeadAir(windows);
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    const char* names[] = {"show_dead_air_s", "show_dead_air_off_s", "show_track_loudness_spread_lu",
                           "show_track_loudness_spread_off_lu", "show_output_peak_dbfs", "show_output_peak_off_dbfs",
                           "show_first_track_error_lu"};
    const bool show = std::any_of(std::begin(names), std::end(names), [&](const char* n) { return figures.Wants(n); });
    const std::pair<const char*, Stall> stalls[] = {
        {"stall_dead_air_s", Stall::kRead}, {"stall_open_dead_air_s", Stall::kOpen}, {"stall_seek_dead_air_s", Stall::kSeek}};
    const bool stalled = std::any_of(std::begin(stalls), std::end(stalls), [&](const auto& s) { return figures.Wants(s.first); });
    if (!show && !stalled) return 0;
    quendo::audio::SilenceFfmpegLog();
    for (const auto& [name, where] : stalls)
        if (figures.Wants(name)) figures.Print(name, StallDeadAir(where), "s");
    if (!show) return 0;

    quendo::testing::TempDir dir;
    if (!WriteShow(dir)) return 1;
    // Cold, as at a first start: nothing is known until the show asks for it.
    quendo::audio::TrackAnalyser analyser(dir / "facts.cache");
    const Heard on = PlayShow(dir.path(), analyser, quendo::AutoMixOptions{});
    quendo::AutoMixOptions switchedOff;
    switchedOff.mixAtLastSound = switchedOff.skipSilenceAtStart = switchedOff.matchLoudness = false;
    const Heard off = PlayShow(dir.path(), analyser, switchedOff);
    Report("on", dir.path(), on, analyser);
    Report("off", dir.path(), off, analyser);
    figures.Print("show_dead_air_s", on.deadAir, "s");
    figures.Print("show_dead_air_off_s", off.deadAir, "s");
    figures.Print("show_track_loudness_spread_lu", Spread(on), "LU");
    figures.Print("show_track_loudness_spread_off_lu", Spread(off), "LU");
    // How far from the target the first track is heard after its first 3 s, from a cold start.
    std::fprintf(stderr, "bench_show: the first track heard at %.2f LUFS (switches off: %.2f)\n", on.firstTrackLufs,
                 off.firstTrackLufs);
    figures.Print("show_first_track_error_lu", std::fabs(on.firstTrackLufs - quendo::AutoMixOptions{}.targetLufs), "LU");
    figures.Print("show_output_peak_dbfs", on.peakDbfs, "dBFS");
    figures.Print("show_output_peak_off_dbfs", off.peakDbfs, "dBFS");
    return 0;
}
