// What is heard of a crossfade: the program's own tick and envelope driving the real engine,
// offline, with the tick fired after every 100 ms of rendered sound.
#include <cmath>
#include <complex>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"

namespace {

constexpr int kRate = 44100;
constexpr int kTick = kRate / 10;
constexpr double kAmplitude = 0.5;
// Whole cycles of both tones fit in 100 frames, so over the measured window they are orthogonal.
constexpr double kOutgoingHz = 441, kIncomingHz = 1323;
constexpr int kSettle = 1110;  // the gain ramp is over by then
constexpr int kWindow = kTick - kSettle;

double LevelDb(const float* frames, int channel, double hz) {
    std::complex<double> sum{};
    const double w = 2 * 3.14159265358979323846 * hz / kRate;
    for (int i = 0; i < kWindow; ++i) sum += double(frames[2 * i + channel]) * std::polar(1.0, -w * (i + kSettle));
    const double amplitude = 2 * std::abs(sum) / kWindow;
    return 20 * std::log10(std::max(amplitude / kAmplitude, 1e-9));
}

double AskedDb(int volume, int balance, int channel) {
    float l, r;
    quendo::audio::BalanceGains(balance, l, r);
    const double g = quendo::audio::VolumeGain(volume) * (channel == 0 ? l : r);
    return g > 0 ? 20 * std::log10(g) : -1000;
}

float LargestJump(const std::vector<float>& v) {
    float worst = 0;
    for (std::size_t i = 2; i < v.size(); ++i) worst = std::max(worst, std::fabs(v[i] - v[i - 2]));
    return worst;
}

struct Result {
    double levelErrorDb = 0;
    float largestJump = 0;
    int ticks = 0;
};

// Plays A then B through the program's deck engine and measures the one crossfade between them.
Result Crossfade(const std::string& folder, const std::function<void(quendo::MixEnvelope&)>& shape) {
    using namespace quendo;
    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    testing::CoreOver world(engine.Deck1(), engine.Deck2(), engine.Probe());
    Core& core = world.core;
    core.nodes.MusicFolder = folder + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;
    shape(core.envelope);
    const std::int32_t a = core.nodes.AddFileNode(0, "a.wav");
    const std::int32_t b = core.nodes.AddFileNode(0, "b.wav");
    core.playlist.AddToPlaylist(a);
    core.playlist.AddToPlaylist(b);

    Result r;
    std::vector<float> block(2 * kTick);
    std::vector<float> mixed;
    bool wasMixing = false;
    int asked = -1;  // the envelope point the decks were given at the last tick
    for (int n = 0; n < 100 * 60 && core.deck.Timer1Enabled(); ++n) {
        engine.render(block.data(), kTick);
        if (wasMixing) {
            mixed.insert(mixed.end(), block.begin(), block.end());
            if (asked >= 0) {
                const MixPoint& p = core.envelope.Point(asked);
                for (int ch = 0; ch < 2; ++ch) {
                    const double want[2] = {AskedDb(p.volume[0], p.balance[0], ch), AskedDb(p.volume[1], p.balance[1], ch)};
                    const double got[2] = {LevelDb(block.data() + 2 * kSettle, ch, kOutgoingHz),
                                           LevelDb(block.data() + 2 * kSettle, ch, kIncomingHz)};
                    for (int deck = 0; deck < 2; ++deck)
                        if (want[deck] > -60) r.levelErrorDb = std::max(r.levelErrorDb, std::fabs(got[deck] - want[deck]));
                }
            }
        }
        const int before = core.deck.mixStep();
        const bool mixingBefore = core.deck.isMixing();
        core.Timer1Timer();
        asked = core.deck.isMixing() && mixingBefore && core.deck.mixStep() == before + 1 ? before : -1;
        if (core.deck.isMixing()) ++r.ticks;
        if (wasMixing && !core.deck.isMixing()) break;
        wasMixing = core.deck.isMixing();
    }
    r.largestJump = LargestJump(mixed);
    return r;
}

// The largest neighbour-sample jump of a file played alone at full volume.
float AloneJump(const std::string& path) {
    quendo::audio::AudioEngine engine{quendo::audio::EngineOptions{false, kRate, 512}};
    engine.Deck1().SetFileName(path);
    engine.Deck1().Play();
    return LargestJump(engine.render(kRate * 2));
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("mix_level_error_db") && !figures.Wants("mix_click_ratio")) return 0;

    quendo::testing::TempDir dir;
    // Half a second past the whole seconds the mix is timed from, so the outgoing track lasts
    // to the mix's last tick.
    dir.WriteFile("a.wav", quendo::testing::ToneWav(14.5, kOutgoingHz, kAmplitude));
    dir.WriteFile("b.wav", quendo::testing::ToneWav(14.5, kIncomingHz, kAmplitude));

    const Result plain = Crossfade(dir.path(), [](quendo::MixEnvelope&) {});
    const Result shaped = Crossfade(dir.path(), [](quendo::MixEnvelope& e) {
        using quendo::Quantity;
        const int keys[] = {12, 25, 38, 50};
        const int volume[2][4] = {{-300, -1500, -800, -3500}, {-4000, -900, -2000, -200}};
        const int balance[2][4] = {{-3000, 2500, -6000, 1000}, {5000, -2000, 3500, -500}};
        for (int curve = 0; curve < 2; ++curve)
            for (int k = 0; k < 4; ++k) {
                e.InsertKeyPoint(Quantity::Volume, curve, keys[k]);
                e.SetKeyPointValue(Quantity::Volume, curve, keys[k], volume[curve][k]);
                e.InsertKeyPoint(Quantity::Balance, curve, keys[k]);
                e.SetKeyPointValue(Quantity::Balance, curve, keys[k], balance[curve][k]);
            }
    });
    const float alone = AloneJump(dir / "a.wav") + AloneJump(dir / "b.wav");
    if (plain.ticks < 60 || shaped.ticks < 60) std::fprintf(stderr, "bench_mix: a crossfade did not run to its end\n");
    figures.Print("mix_level_error_db", std::max(plain.levelErrorDb, shaped.levelErrorDb), "dB");
    figures.Print("mix_click_ratio", std::max(plain.largestJump, shaped.largestJump) / alone, "ratio");
    return 0;
}
