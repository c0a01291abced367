// An album that runs across its cuts, played without a gap: one continuous piece of synthesized
// music cut into four files (WAV, and MP3 encoded one file at a time), played as a playlist by the
// program's deck engine on the real engine offline, from a cold analysis. What is heard is laid
// over the piece: where the music after each cut lands against where it should (samples of gap,
// or of overlap when negative), how far its level strays there, and the largest step between
// neighbouring samples there against the largest anywhere in the piece.
//
// Then what must not be joined: pairs that merely end and start hard, of other tempi and keys
// (two MP3s tagged as tracks 1 and 2 of one album, two untagged WAVs side by side), counted when
// the program let the second follow the first with no mix; and a true continuation whose first
// part is quiet, whose second part is heard against the loudness target.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Show.h"
#include "analysis/TrackAnalyser.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/MediaFile.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/MusicSynth.h"

namespace {

constexpr int kRate = 44100;
constexpr int kTick = kRate / 10;
constexpr double kPieceSeconds = 40;
const long kCuts[] = {428211, 887733, 1345932};  // frames of the piece: 9.71 s, 20.13 s, 30.52 s
constexpr long kReach = 3000;                    // the largest gap or overlap looked for
constexpr long kCompare = 4096;                  // frames compared after a cut
constexpr long kMp3Frame = 1152;

struct Seam {
    long gap = 0;           // samples
    double worst = 0;       // the largest sample's difference from the piece there
    double levelDb = 0;     // the level's largest distance from the piece's, frame by frame
    float largestStep = 0;  // within 50 ms of the cut
};

// The piece as the decoder gives back a 16-bit file of it.
std::vector<float> Quantised(const std::vector<float>& v) {
    std::vector<float> q(v.size());
    for (std::size_t i = 0; i < v.size(); ++i)
        q[i] = static_cast<float>(std::lround(32767 * std::clamp(v[i], -1.0f, 1.0f))) / 32768.0f;
    return q;
}

// What the program did at each tick: the track on the current deck, and whether a mix ran, into what.
struct TickState {
    std::string current;
    double position = 0;
    bool mixing = false;
    std::string incoming;
};

struct Played {
    std::vector<float> heard;      // the whole show, as rendered
    std::vector<TickState> ticks;  // one for each kTick frames heard
};

// A playlist played through the program, as heard, rendered until it is over; the entries are
// files of `album`, a folder of the music folder, or of the music folder itself when it is "".
Played PlayList(const std::string& dir, const std::string& album, const std::vector<std::string>& files,
                const std::string& cache) {
    using namespace quendo;
    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    audio::TrackAnalyser analyser(dir + "/" + cache + ".cache");
    testing::CoreOver world(engine.Deck1(), engine.Deck2(), engine.Probe(), &analyser);
    Core& core = world.core;
    core.nodes.MusicFolder = dir + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;
    const std::int32_t folder = album.empty() ? 0 : core.nodes.AddFolderNode(0, album);
    for (const std::string& f : files) core.playlist.AddToPlaylist(core.nodes.AddFileNode(folder, f));

    Played p;
    std::vector<float> block(2 * kTick);
    double wall = bench::NowSeconds();
    for (int n = 0; n < 600 * 10 && core.deck.Timer1Enabled(); ++n) {
        // In real time while nothing plays (a start waits for its facts in real time), ten times
        // faster while a deck plays: the analysis keeps ahead as it would live.
        const bool quiet = engine.Deck1().PlayState() != psPlaying && engine.Deck2().PlayState() != psPlaying;
        wall += quiet ? 0.1 : 0.01;
        if (const double ahead = wall - bench::NowSeconds(); ahead > 0) ::usleep(static_cast<useconds_t>(ahead * 1e6));
        engine.render(block.data(), kTick);
        p.heard.insert(p.heard.end(), block.begin(), block.end());
        p.ticks.push_back({core.deck.currentPath(), core.deck.CurrentPlayer().CurrentPosition(), false, ""});
        core.Timer1Timer();
        p.ticks.back().mixing = core.deck.isMixing();
        p.ticks.back().incoming = core.deck.incomingName();
    }
    return p;
}

// The album played through the program, as heard.
std::vector<float> PlayAlbum(const std::string& dir, const std::string& album, const std::vector<std::string>& files) {
    Played p = PlayList(dir, album, files, album);
    int mixing = 0;
    for (const TickState& t : p.ticks) mixing += t.mixing && !t.incoming.empty();  // the last track's mix mixes into nothing
    if (mixing > 0) std::fprintf(stderr, "bench_join: %s: %d ticks of mixing, where none was wanted\n", album.c_str(), mixing);
    return std::move(p.heard);
}

double Error(const std::vector<float>& out, long at, const std::vector<float>& ref, long from, long n, float g) {
    double e = 0;
    for (long k = 2 * from; k < 2 * (from + n); ++k) {
        const double d = out[static_cast<std::size_t>(2 * at + k - 2 * from)] - g * ref[static_cast<std::size_t>(k)];
        e += d * d;
    }
    return e;
}

// Where `ref` from frame `from` lies in `out`, within `reach` of `guess`: the lag with the least error.
long Align(const std::vector<float>& out, long guess, const std::vector<float>& ref, long from, float g, long reach) {
    long best = guess;
    double least = HUGE_VAL;
    for (long at = std::max(0L, guess - reach); at <= guess + reach; ++at) {
        if (2 * (at + kCompare) > static_cast<long>(out.size())) break;
        const double e = Error(out, at, ref, from, kCompare, g);
        if (e < least) least = e, best = at;
    }
    return best;
}

double RmsDb(const float* v, long frames, float g = 1) {
    double s = 0;
    for (long k = 0; k < 2 * frames; ++k) s += double(g * v[k]) * (g * v[k]);
    return 10 * std::log10(std::max(s / (2 * frames), 1e-20));
}

float LargestStep(const float* v, long frames, float g = 1) {
    float worst = 0;
    for (long k = 2; k < 2 * frames; ++k) worst = std::max(worst, std::fabs(g * (v[k] - v[k - 2])));
    return worst;
}

// Each cut as heard: the output laid over the piece where the first file begins, then again
// after each cut.
std::vector<Seam> Seams(const std::vector<float>& out, const std::vector<float>& ref) {
    std::vector<Seam> seams;
    long first = 0;
    while (first < static_cast<long>(out.size()) / 2 && out[2 * first] == 0 && out[2 * first + 1] == 0) ++first;
    // Past the start's fade, with the gain found by least squares there.
    const long from = 2048;
    float g = 1;
    for (int pass = 0; pass < 2; ++pass) {
        const long start = Align(out, first + from, ref, from, g, pass == 0 ? 300 : 2) - from;
        double num = 0, den = 0;
        for (long k = 2 * from; k < 2 * (from + kCompare); ++k) {
            num += double(out[2 * start + k]) * ref[k];
            den += double(ref[k]) * ref[k];
        }
        g = den > 0 ? static_cast<float>(num / den) : 1;
        first = start;
    }
    for (const long cut : kCuts) {
        Seam s;
        const long at = Align(out, first + cut, ref, cut, g, kReach);
        s.gap = at - (first + cut);
        for (long k = -kCompare; k < kCompare; ++k)
            for (int ch = 0; ch < 2; ++ch)
                s.worst = std::max<double>(s.worst, std::fabs(out[2 * (first + cut + k) + ch] - g * ref[2 * (cut + k) + ch]));
        for (long w = cut - 10 * kMp3Frame; w < cut + 10 * kMp3Frame; w += kMp3Frame) {
            const long o = w < cut ? first + w : at + (w - cut);
            s.levelDb = std::max(s.levelDb, std::fabs(RmsDb(&out[2 * o], kMp3Frame) - RmsDb(&ref[2 * w], kMp3Frame, g)));
        }
        const long near = kRate / 20;
        s.largestStep = LargestStep(&out[2 * (first + cut - near)], 2 * near);
        seams.push_back(s);
    }
    const float own = LargestStep(ref.data(), static_cast<long>(ref.size() / 2), g);
    for (Seam& s : seams) s.largestStep /= own;
    return seams;
}

// The album cut in four, as WAV and as MP3: its seams as heard.
int TrueJoins(const bench::Figures& figures) {
    if (!figures.Wants("join_gap_samples") && !figures.Wants("join_gap_mp3_samples") &&
        !figures.Wants("join_level_error_mp3_db") && !figures.Wants("join_click_ratio"))
        return 0;
    quendo::testing::TempDir dir;

    quendo::testing::MusicSpec spec;
    spec.seconds = kPieceSeconds;
    spec.lead = 0;
    spec.bpm = 122;
    spec.key = 9;
    const std::vector<float> piece = Quantised(quendo::testing::SynthesizeMusic(spec, kRate).stereo);
    std::vector<std::string> wavs, mp3s;
    for (std::size_t i = 0; i <= std::size(kCuts); ++i) {
        const long from = i == 0 ? 0 : kCuts[i - 1], to = i < std::size(kCuts) ? kCuts[i] : static_cast<long>(piece.size() / 2);
        const std::string name = "0" + std::to_string(i + 1);
        dir.WriteFile("wav/" + name + ".wav", quendo::testing::StereoWav({piece.begin() + 2 * from, piece.begin() + 2 * to}, kRate));
        dir.WriteFile("mp3/.keep", "");
        if (bench::ChildCpuSeconds({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", dir / ("wav/" + name + ".wav"),
                                    "-c:a", "libmp3lame", "-b:a", "192k", dir / ("mp3/" + name + ".mp3")}) < 0) {
            std::fprintf(stderr, "bench_join: ffmpeg could not write %s.mp3\n", name.c_str());
            return 1;
        }
        wavs.push_back(name + ".wav");
        mp3s.push_back(name + ".mp3");
    }
    const std::vector<float> heardWav = PlayAlbum(dir.path(), "wav", wavs), heardMp3 = PlayAlbum(dir.path(), "mp3", mp3s);
    const std::size_t needed = 2 * static_cast<std::size_t>(kCuts[std::size(kCuts) - 1] + 2 * kRate);
    if (heardWav.size() < needed || heardMp3.size() < needed) {
        std::fprintf(stderr, "bench_join: the album was not played whole\n");
        return 1;
    }
    const std::vector<Seam> wav = Seams(heardWav, piece), mp3 = Seams(heardMp3, piece);
    long gap = 0, gapMp3 = 0;
    double level = 0, worst = 0;
    float click = 0;
    for (std::size_t i = 0; i < wav.size(); ++i) {
        std::fprintf(stderr, "bench_join: cut %zu: WAV gap %ld, largest difference %.2g, step x%.2f; MP3 gap %ld, level %.2f dB, step x%.2f\n",
                     i + 1, wav[i].gap, wav[i].worst, wav[i].largestStep, mp3[i].gap, mp3[i].levelDb, mp3[i].largestStep);
        gap = std::max(gap, std::labs(wav[i].gap));
        gapMp3 = std::max(gapMp3, std::labs(mp3[i].gap));
        level = std::max(level, mp3[i].levelDb);
        worst = std::max(worst, wav[i].worst);
        click = std::max({click, wav[i].largestStep, mp3[i].largestStep});
    }
    std::fprintf(stderr, "bench_join: the WAV album heard within %.2g of the piece around its cuts\n", worst);
    figures.Print("join_gap_samples", static_cast<double>(gap), "samples");
    figures.Print("join_gap_mp3_samples", static_cast<double>(gapMp3), "samples");
    figures.Print("join_level_error_mp3_db", level, "dB");
    figures.Print("join_click_ratio", click, "ratio");
    return 0;
}

std::vector<float> Music(double bpm, double seconds, int key, std::uint32_t seed) {
    quendo::testing::MusicSpec spec;
    spec.bpm = bpm;
    spec.seconds = seconds;
    spec.key = key;
    spec.seed = seed;
    spec.lead = 0;  // loud from the first sample; the synthesizer has no fade at the end either
    return quendo::testing::SynthesizeMusic(spec, kRate).stereo;
}

bool Encode(const quendo::testing::TempDir& dir, const std::vector<float>& stereo, const std::string& out,
            std::vector<std::string> tags) {
    dir.WriteFile("encode.wav", quendo::testing::StereoWav(stereo, kRate));
    std::vector<std::string> args{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", dir / "encode.wav",
                                  "-c:a", "libmp3lame", "-b:a", "192k", "-id3v2_version", "3"};
    for (const std::string& t : tags) args.insert(args.end(), {"-metadata", t});
    args.push_back(dir / out);
    return bench::ChildCpuSeconds(args) >= 0;
}

// Whether the second of two files followed the first with no mix: the program joined them.
bool Joined(const std::string& dir, const std::string& album, const std::string& first, const std::string& second) {
    const Played p = PlayList(dir, album, {first, second}, album);
    const std::string a = dir + "/" + album + "/" + first, b = dir + "/" + album + "/" + second;
    int mixTicks = 0, secondTicks = 0;
    for (const TickState& t : p.ticks) {
        mixTicks += t.current == a && t.mixing && !t.incoming.empty();
        secondTicks += t.current == b;
    }
    std::fprintf(stderr, "bench_join: %s: %s then %s: %d ticks of mixing between them, the second current for %.1f s: %s\n",
                 album.c_str(), first.c_str(), second.c_str(), mixTicks, secondTicks / 10.0,
                 secondTicks > 20 && mixTicks == 0 ? "JOINED" : "mixed");
    return secondTicks > 20 && mixTicks == 0;
}

// Pairs that are not one piece but end and start hard, of other tempi and keys: two of one album
// tagged as its tracks 1 and 2, and two untagged files side by side in a folder.
int FalseJoins(const bench::Figures& figures) {
    if (!figures.Wants("false_join_count")) return 0;
    quendo::testing::TempDir dir;
    dir.WriteFile("tagged/.keep", "");
    const std::vector<std::string> album{"album=Hard Cuts", "artist=The Cutters"};
    std::vector<std::string> one = album, two = album;
    one.push_back("track=1");
    two.push_back("track=2");
    if (!Encode(dir, Music(124, 20, 2, 71), "tagged/01 first.mp3", one) ||
        !Encode(dir, Music(98, 20, 19, 72), "tagged/02 second.mp3", two)) {
        std::fprintf(stderr, "bench_join: ffmpeg could not write the tagged pair\n");
        return 1;
    }
    dir.WriteFile("untagged/01 one.wav", quendo::testing::StereoWav(Music(128, 20, 4, 73), kRate));
    dir.WriteFile("untagged/02 two.wav", quendo::testing::StereoWav(Music(104, 20, 11, 74), kRate));
    const int joined = Joined(dir.path(), "tagged", "01 first.mp3", "02 second.mp3") +
                       Joined(dir.path(), "untagged", "01 one.wav", "02 two.wav");
    figures.Print("false_join_count", joined, "count");
    return 0;
}

// One piece cut in two, untagged, side by side in a folder, whose first part is quiet (18 dB
// below the second, rising over its last second): the second part's loudness as heard, against
// the target.
int QuietFirstPart(const bench::Figures& figures) {
    if (!figures.Wants("join_untagged_level_lu")) return 0;
    quendo::testing::TempDir dir;
    constexpr double kCutSeconds = 16;
    std::vector<float> piece = Music(122, 36, 9, 81);
    for (std::size_t i = 0; i < piece.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double db = t < kCutSeconds - 1 ? -18 : t < kCutSeconds ? -18 * (kCutSeconds - t) : 0;
        const auto g = static_cast<float>(std::pow(10.0, db / 20));
        piece[2 * i] *= g;
        piece[2 * i + 1] *= g;
    }
    const auto cut = static_cast<std::ptrdiff_t>(2 * kCutSeconds * kRate);
    dir.WriteFile("quiet/01 intro.wav", quendo::testing::StereoWav({piece.begin(), piece.begin() + cut}, kRate));
    dir.WriteFile("quiet/02 body.wav", quendo::testing::StereoWav({piece.begin() + cut, piece.end()}, kRate));
    const Played p = PlayList(dir.path(), "quiet", {"01 intro.wav", "02 body.wav"}, "quiet");
    const std::string body = dir / "quiet/02 body.wav";
    bench::Meter meter = bench::NewMeter();
    double seconds = 0;
    bool mixed = false;
    for (std::size_t i = 0; i < p.ticks.size(); ++i) {
        const TickState& t = p.ticks[i];
        mixed = mixed || (t.mixing && !t.incoming.empty());
        // The body alone, past its first second and before its last two.
        if (t.current != body || t.mixing || t.position < 1 || t.position > 36 - kCutSeconds - 2) continue;
        ebur128_add_frames_float(meter.get(), &p.heard[2 * i * kTick], kTick);
        seconds += 0.1;
    }
    double lufs = -HUGE_VAL;
    ebur128_loudness_global(meter.get(), &lufs);
    const double target = quendo::AutoMixOptions{}.targetLufs;
    std::fprintf(stderr, "bench_join: the body after a quiet intro heard for %.1f s at %.2f LUFS (target %.1f), %s; made at %.2f and %.2f LUFS\n",
                 seconds, lufs, target, mixed ? "mixed" : "joined", bench::Lufs({piece.begin(), piece.begin() + cut}),
                 bench::Lufs({piece.begin() + cut, piece.end()}));
    figures.Print("join_untagged_level_lu", seconds > 0 ? lufs - target : HUGE_VAL, "LU");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    quendo::audio::SilenceFfmpegLog();
    return TrueJoins(figures) | FalseJoins(figures) | QuietFirstPart(figures);
}
