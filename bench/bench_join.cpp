// An album that runs across its cuts, played without a gap: one continuous piece of synthesized
// music cut into four files (WAV, and MP3 encoded one file at a time), played as a playlist by the
// program's deck engine on the real engine offline, from a cold analysis. What is heard is laid
// over the piece: where the music after each cut lands against where it should (samples of gap,
// or of overlap when negative), how far its level strays there, and the largest step between
// neighbouring samples there against the largest anywhere in the piece.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "playback/analysis/TrackAnalyser.h"
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

// The album played through the program, as heard, rendered until the playlist is over.
std::vector<float> PlayAlbum(const std::string& dir, const std::string& album, const std::vector<std::string>& files) {
    using namespace quendo;
    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    audio::TrackAnalyser analyser(dir + "/" + album + ".cache");
    testing::CoreOver world(engine.Deck1(), engine.Deck2(), engine.Probe(), &analyser);
    Core& core = world.core;
    core.nodes.MusicFolder = dir + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;
    const std::int32_t folder = core.nodes.AddFolderNode(0, album);
    for (const std::string& f : files) core.playlist.AddToPlaylist(core.nodes.AddFileNode(folder, f));

    std::vector<float> heard, block(2 * kTick);
    int mixing = 0;
    double wall = bench::NowSeconds();
    for (int n = 0; n < 600 * 10 && core.deck.Timer1Enabled(); ++n) {
        // In real time while nothing plays (a start waits for its facts in real time), ten times
        // faster while a deck plays: the analysis keeps ahead as it would live.
        const bool quiet = engine.Deck1().PlayState() != psPlaying && engine.Deck2().PlayState() != psPlaying;
        wall += quiet ? 0.1 : 0.01;
        if (const double ahead = wall - bench::NowSeconds(); ahead > 0) ::usleep(static_cast<useconds_t>(ahead * 1e6));
        engine.render(block.data(), kTick);
        heard.insert(heard.end(), block.begin(), block.end());
        core.Timer1Timer();
        mixing += core.deck.isMixing() && !core.deck.incomingName().empty();  // the last track's mix mixes into nothing
    }
    if (mixing > 0) std::fprintf(stderr, "bench_join: %s: %d ticks of mixing, where none was wanted\n", album.c_str(), mixing);
    return heard;
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

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("join_gap_samples") && !figures.Wants("join_gap_mp3_samples") &&
        !figures.Wants("join_level_error_mp3_db") && !figures.Wants("join_click_ratio"))
        return 0;
    quendo::audio::SilenceFfmpegLog();
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
