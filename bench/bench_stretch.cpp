// Decks in step: a stretched deck's pitch, how closely its output follows its rate plan, the
// tempo it leaves a mix with, a start on the other deck's frame, and the cost of playing two decks
// with one stretched.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "Fixtures.h"
#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
using quendo::MediaPlayer;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using Plan = std::vector<MediaPlayer::RatePoint>;


// A 16-bit stereo WAV of the given samples (both channels alike).
std::string Wav(const std::vector<double>& samples) {
    std::vector<float> stereo(2 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = static_cast<float>(samples[i]);
    return quendo::testing::StereoWav(stereo, kRate);
}

// A click every half second of the file (a short decaying 3 kHz burst) over a quiet tone.
constexpr int kClickEvery = kRate / 2;
double ClickSample(std::size_t i) {
    const double k = static_cast<double>(i % kClickEvery);
    double v = 0.05 * std::sin(2 * kPi * 220.0 * static_cast<double>(i) / kRate);
    if (k < 400) v += 0.8 * std::sin(2 * kPi * 3000.0 * k / kRate) * std::exp(-k / 60.0);
    return v;
}

// Where a click begins near `expected` (within `reach` frames): the first sample of the left
// channel above 40 % of the loudest there. -1 when there is none.
double ClickOnset(const std::vector<float>& out, double expected, long reach) {
    const long lo = std::max(0L, static_cast<long>(expected) - reach), hi = static_cast<long>(expected) + reach;
    if (2 * hi >= static_cast<long>(out.size())) return -1;
    float peak = 0;
    for (long i = lo; i < hi; ++i) peak = std::max(peak, std::fabs(out[2 * i]));
    for (long i = lo; i < hi; ++i)
        if (std::fabs(out[2 * i]) > 0.4f * peak) return static_cast<double>(i);
    return -1;
}

// Frames heard from file frame a to b under the plan, summed in small steps (on its own, so
// that the engine's own sums are checked against it, not with it).
double HeardBetween(const Plan& plan, double a, double b) {
    auto rate = [&](double f) {
        const double s = f / kRate;
        if (s <= plan.front().fileSeconds) return plan.front().rate;
        for (std::size_t i = 1; i < plan.size(); ++i)
            if (s < plan[i].fileSeconds) {
                const double u = (s - plan[i - 1].fileSeconds) / (plan[i].fileSeconds - plan[i - 1].fileSeconds);
                return plan[i - 1].rate + u * (plan[i].rate - plan[i - 1].rate);
            }
        return plan.back().rate;
    };
    double heard = 0;
    for (double f = a; f < b; f += 8) heard += std::min(8.0, b - f) / rate(f + std::min(4.0, (b - f) / 2));
    return heard;
}

struct Offline {
    AudioEngine engine{EngineOptions{false, kRate, 512}};
};

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    quendo::testing::TempDir dir;

    // ---- the pitch of a steady tone through two rates ----
    if (figures.Wants("stretch_pitch_error_cents")) {
        dir.WriteFile("tone.wav", quendo::testing::ToneWav(6.0, 1000, 0.5));
        double worst = 0;
        for (double rate : {0.94, 1.06}) {
            Offline o;
            MediaPlayer& deck = o.engine.Deck1();
            deck.SetFileName(dir / "tone.wav");
            deck.SetRatePlan({{0, rate}});
            deck.Play();
            const std::vector<float> out = o.engine.render(5 * kRate);
            worst = std::max(worst, std::fabs(1200 * std::log2(quendo::testing::ToneHz(out, 0, kRate, 5 * kRate - 1) / 1000)));
        }
        figures.Print("stretch_pitch_error_cents", worst, "cents");
    }

    // ---- a mix's plan on a click track: where the clicks land, and the tempo left after it ----
    if (figures.Wants("stretch_timing_error_ms") || figures.Wants("own_tempo_error_pct")) {
        constexpr double kSeconds = 50, kFrom = 2.0;
        std::vector<double> clicks(static_cast<std::size_t>(kSeconds * kRate));
        for (std::size_t i = 0; i < clicks.size(); ++i) clicks[i] = ClickSample(i);
        dir.WriteFile("clicks.wav", Wav(clicks));
        // The incoming deck of a mix: on its first downbeat, at the outgoing tempo to the mix's
        // end, then a glide back to its own over four bars.
        const Plan plan{{kFrom, 1.06}, {24.0, 1.06}, {32.0, 1.0}};
        Offline o;
        MediaPlayer& deck = o.engine.Deck1();
        deck.SetFileName(dir / "clicks.wav");
        deck.SetCurrentPosition(kFrom);
        deck.SetRatePlan(plan);
        deck.Play();
        const std::vector<float> out = o.engine.render(static_cast<int>((kSeconds - kFrom) / 1.03 * kRate));
        // The detector's own offset, on a click of the file as it is.
        std::vector<float> own(4 * kRate);
        for (std::size_t i = 0; i < own.size() / 2; ++i) own[2 * i] = static_cast<float>(clicks[i]);
        const double bias = ClickOnset(own, kClickEvery, 600) - kClickEvery;

        double worst = 0;
        std::vector<double> after;  // onsets once the plan is back at 1
        const double start = kFrom * kRate;
        for (double c = start + kClickEvery; c < kSeconds * kRate - kRate; c += kClickEvery) {
            const double expected = HeardBetween(plan, start, c) + bias;
            const double at = ClickOnset(out, expected, 1300);
            if (at < 0) break;
            worst = std::max(worst, std::fabs(at - expected));
            if (c > 33.0 * kRate) after.push_back(at);
        }
        figures.Print("stretch_timing_error_ms", 1000 * worst / kRate, "ms");
        const double spacing = after.size() > 1 ? (after.back() - after.front()) / static_cast<double>(after.size() - 1) : 0;
        figures.Print("own_tempo_error_pct", 100 * std::fabs(spacing / kClickEvery - 1), "%");
    }

    // ---- a start on the other deck's frame ----
    if (figures.Wants("cued_start_error_frames")) {
        // Each deck's file counts its own frames (modulo 30000), deck 1 heard on the left and
        // deck 2 on the right, so that the output tells which frame of each plays when.
        std::vector<double> ramp(static_cast<std::size_t>(3 * kRate));
        for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<double>(i % 30000) / 32767;
        dir.WriteFile("ramp.wav", Wav(ramp));
        struct Case {
            double at;
            bool seamless;
        };
        long worst = 0;
        for (const Case c : {Case{1.2345, false}, Case{1.2345, true}, Case{MediaPlayer::kAtOtherEnd, true}}) {
            Offline o;
            MediaPlayer& out1 = o.engine.Deck1();
            MediaPlayer& in2 = o.engine.Deck2();
            out1.SetFileName(dir / "ramp.wav");
            out1.SetBalance(-10000);
            in2.SetFileName(dir / "ramp.wav");
            in2.SetBalance(10000);
            in2.SetCurrentPosition(0.5);
            out1.Play();
            in2.PlayAfterOther(c.at, c.seamless);
            const std::vector<float> out = o.engine.render(4 * kRate);
            const long cue = c.at == MediaPlayer::kAtOtherEnd ? static_cast<long>(ramp.size()) : std::lround(c.at * kRate);
            // Where deck 1 plays its frame `cue` (or where its last frame is followed), and deck 2's first.
            long reached = -1, started = -1;
            for (long i = 1; 2 * i < static_cast<long>(out.size()) && (reached < 0 || started < 0); ++i) {
                const long left = std::lround(out[2 * (i - 1)] * 32768.0);
                if (reached < 0 && cue < static_cast<long>(ramp.size()) && left == cue % 30000 && i > kRate) reached = i - 1;
                if (reached < 0 && cue == static_cast<long>(ramp.size()) && left == (cue - 1) % 30000 && out[2 * i] == 0) reached = i;
                if (started < 0 && out[2 * i - 1] != 0) started = i - 1;
            }
            if (reached < 0 || started < 0) {
                std::fprintf(stderr, "bench_stretch: the cue at %g was not found\n", c.at);
                return 1;
            }
            worst = std::max(worst, std::labs(started - reached));
        }
        figures.Print("cued_start_error_frames", static_cast<double>(worst), "frames");
    }

    // ---- two decks on a device, one stretched, the interface thread busy ----
    if (figures.Wants("stretched_playback_cpu_percent") || figures.Wants("stretched_underruns")) {
        const std::string a = bench::Make(bench::kMp3), b = bench::Make(bench::kMp3B);
        if (a.empty() || b.empty()) return 1;
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
        AudioEngine engine{EngineOptions{true, kRate, 512}};
        engine.Deck1().SetFileName(a);
        engine.Deck2().SetFileName(b);
        engine.Deck2().SetRatePlan({{0, 0.94}});
        engine.Deck1().SetVolume(-600);
        engine.Deck2().SetVolume(-1200);
        const double cpu = bench::PlayingCpuPercent(engine, 60);
        figures.Print("stretched_playback_cpu_percent", cpu, "%");
        figures.Print("stretched_underruns", static_cast<double>(engine.Underruns()), "count");
    }
    return 0;
}
