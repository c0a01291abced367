// The decks' bass cut: how deep it cuts and how little it touches above, what it costs two decks
// playing on a device (one of them stretched) with the bass moving all along, and whether a swap
// on every beat leaves a step larger than the music's own.
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

using quendo::MediaPlayer;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using Bass = std::vector<MediaPlayer::BassPoint>;
constexpr int kRate = 44100;

std::vector<float> Offline(const std::string& file, const Bass& bass, double seconds) {
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    engine.Deck1().SetFileName(file);
    if (!bass.empty()) engine.Deck1().SetBassPlan(bass);
    engine.Deck1().Play();
    return engine.render(static_cast<int>(seconds * kRate));
}

// The level of a tone cut for good against the tone as it is, from the second half second on.
double CutDb(quendo::testing::TempDir& dir, double hz) {
    const std::string name = "tone" + std::to_string(static_cast<int>(hz)) + ".wav";
    dir.WriteFile(name, quendo::testing::ToneWav(3.0, hz, 0.5));
    const std::string file = dir / name;
    const std::vector<float> cut = Offline(file, {{0, 0}}, 2.5), plain = Offline(file, {}, 2.5);
    return 20 * std::log10(quendo::testing::Rms(cut, 0, kRate / 2) / quendo::testing::Rms(plain, 0, kRate / 2));
}

// The bass out for two bars and back for two, every 8 s, each move a quarter beat long.
Bass Moving(double seconds) {
    Bass plan;
    for (double t = 1; t + 8 <= seconds; t += 8)
        plan.insert(plan.end(), {{t, 1}, {t + 0.12, 0}, {t + 4, 0}, {t + 4.12, 1}});
    return plan;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    quendo::testing::TempDir dir;

    if (figures.Wants("eq_cut_db_50hz") || figures.Wants("eq_cut_db_100hz") || figures.Wants("eq_passband_db_400hz") ||
        figures.Wants("eq_passband_db_1khz")) {
        figures.Print("eq_cut_db_50hz", CutDb(dir, 50), "dB");
        figures.Print("eq_cut_db_100hz", CutDb(dir, 100), "dB");
        figures.Print("eq_passband_db_400hz", CutDb(dir, 400), "dB");
        figures.Print("eq_passband_db_1khz", CutDb(dir, 1000), "dB");
    }

    // Music with its bass swapped out and in on every beat, by steps in the plan, and a plan
    // given anew while the bass is out.
    if (figures.Wants("eq_click_ratio")) {
        const std::string music = bench::Make(bench::kMp3);
        if (music.empty()) return 1;
        Bass beats;
        double gain = 1;
        for (double t = 0.5; t < 20; t += 0.5) {
            beats.push_back({t, gain});
            gain = 1 - gain;
            beats.push_back({t, gain});
        }
        AudioEngine engine{EngineOptions{false, kRate, 512}};
        MediaPlayer& deck = engine.Deck1();
        deck.SetFileName(music);
        deck.SetBassPlan(beats);
        deck.Play();
        std::vector<float> swapped = engine.render(static_cast<int>(10.75 * kRate));  // the bass out
        deck.SetBassPlan({{0, 1}, {11.5, 1}, {11.5, 0}});  // back at once, then out again
        const std::vector<float> rest = engine.render(static_cast<int>(9.25 * kRate));
        swapped.insert(swapped.end(), rest.begin(), rest.end());
        const std::vector<float> plain = Offline(music, {}, 20);
        const float worst = std::max(quendo::testing::LargestStep(swapped, 0), quendo::testing::LargestStep(swapped, 1));
        const float own = std::max(quendo::testing::LargestStep(plain, 0), quendo::testing::LargestStep(plain, 1));
        figures.Print("eq_click_ratio", worst / own, "ratio");
    }

    // ---- two decks on a device, one stretched, the interface thread busy ----
    if (figures.Wants("eq_playback_cpu_percent") || figures.Wants("eq_playback_cpu_percent_plain") ||
        figures.Wants("eq_playback_cpu_ratio") || figures.Wants("eq_underruns")) {
        const std::string a = bench::Make(bench::kMp3), b = bench::Make(bench::kMp3B);
        if (a.empty() || b.empty()) return 1;
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
        constexpr double kSeconds = 40;
        double cpu[2] = {0, 0};
        long underruns = 0;
        for (int planned = 0; planned < 2; ++planned) {
            AudioEngine engine{EngineOptions{true, kRate, 512}};
            engine.Deck1().SetFileName(a);
            engine.Deck2().SetFileName(b);
            engine.Deck2().SetRatePlan({{0, 0.94}});
            if (planned) {
                engine.Deck1().SetBassPlan(Moving(kSeconds + 10));
                Bass other = Moving(kSeconds + 10);
                for (auto& p : other) p.gain = 1 - p.gain;  // the other deck's bass in while the first's is out
                engine.Deck2().SetBassPlan(other);
            }
            engine.Deck1().SetVolume(-600);
            engine.Deck2().SetVolume(-1200);
            cpu[planned] = bench::PlayingCpuPercent(engine, kSeconds);
            if (planned) underruns = static_cast<long>(engine.Underruns());
        }
        figures.Print("eq_playback_cpu_percent", cpu[1], "%");
        figures.Print("eq_playback_cpu_percent_plain", cpu[0], "%");
        figures.Print("eq_playback_cpu_ratio", cpu[0] > 0 ? cpu[1] / cpu[0] : 0, "ratio");
        figures.Print("eq_underruns", static_cast<double>(underruns), "count");
    }
    return 0;
}
