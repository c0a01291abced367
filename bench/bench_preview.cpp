// The next change heard ahead ("Listen" in the mix editor), through the program's core on the real
// engine: how soon it is heard after the click, with its files cold and a show playing on the main
// output; whether that show loses a block meanwhile; and how close what it plays is to the show's
// own mix of the same pair, captured from the device with SDL's disk driver (float32 stereo): the
// level per 100 ms, and where the incoming track's beats fall against the outgoing one's.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "PhraseSynth.h"
#include "analysis/TrackAnalyser.h"
#include "app/Core.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/ChangeRenderer.h"
#include "playback/engine/PreviewOutput.h"
#include "support/Audio.h"
#include "support/Fakes.h"

namespace {

using namespace quendo;
constexpr int kRate = 44100;
constexpr int kTick = kRate / 10;

struct Pair {
    testing::TempDir dir;
    std::string a, b;
};

void MakePair(Pair& p) {
    const double bpms[2] = {124, 125.5};
    for (int i = 0; i < 2; ++i) {
        bench::PhraseSpec spec;
        spec.bpm = bpms[i];
        spec.key = 3 * i;
        spec.bassNote = 36 + 3 * i;
        spec.sections = {{bench::Part::Intro, 8}, {bench::Part::Full, 8}, {bench::Part::Outro, 8}};
        spec.seed = static_cast<std::uint32_t>(7 + i);
        const std::string name = i == 0 ? "a.wav" : "b.wav";
        p.dir.WriteFile(name, testing::StereoWav(bench::SynthesizePhrases(spec, kRate).stereo, kRate));
        (i == 0 ? p.a : p.b) = p.dir / name;
    }
}

// The show: a core over the engine's decks, the pair in its playlist, the analysis done.
struct Show {
    audio::TrackAnalyser analyser;
    audio::AudioEngine engine;
    testing::CoreOver world;
    Show(const Pair& p, bool device)
        : analyser(p.dir / "cache"),
          engine(audio::EngineOptions{device, kRate, 512, nullptr}),
          world(engine.Deck1(), engine.Deck2(), engine.Probe(), &analyser) {
        analyser.Want({p.a, p.b});
        const double give_up = bench::NowSeconds() + 120;
        while (!(analyser.Facts(p.a) && analyser.Facts(p.b)) && bench::NowSeconds() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Core& core = world.core;
        core.nodes.MusicFolder = p.dir.path() + "/";
        core.buttons.UP = core.buttons.Play = true;
        core.options.RadioGroup2 = epWait;
        core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, "a.wav"));
        core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, "b.wav"));
        core.UPClick();
    }
    // One tick of the interface thread, a tick's time after the last on a device.
    void Tick() {
        engine.DeliverPendingEvents();
        world.core.Timer1Timer();
    }
};

double WindowDb(const std::vector<float>& v, std::size_t frame, std::size_t frames) {
    double sum = 0;
    for (std::size_t i = 2 * frame; i < 2 * (frame + frames) && i < v.size(); ++i) sum += double(v[i]) * v[i];
    return 10 * std::log10(sum / double(2 * frames) + 1e-20);
}

// The lag (frames, within ±range) at which `b` from frame bAt best matches `a` from aAt, over n frames.
long BestLag(const std::vector<float>& a, long aAt, const std::vector<float>& b, long bAt, long n, long range) {
    long best = 0;
    double top = -1e300;
    for (long lag = -range; lag <= range; ++lag) {
        double sum = 0;
        for (long i = 0; i < n; ++i) {
            const long j = bAt + lag + i;
            if (j < 0 || 2 * j + 1 >= static_cast<long>(b.size()) || 2 * (aAt + i) + 1 >= static_cast<long>(a.size())) continue;
            sum += double(a[2 * (aAt + i)] + a[2 * (aAt + i) + 1]) * double(b[2 * j] + b[2 * j + 1]);
        }
        if (sum > top) top = sum, best = lag;
    }
    return best;
}

std::vector<float> ReadFloats(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> out(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(out.size() * sizeof(float)), reinterpret_cast<char*>(out.data()));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    Pair pair;
    MakePair(pair);

    if (figures.Wants("preview_vs_live_level_error_db") || figures.Wants("preview_vs_live_beat_error_ms")) {
        // The live mix, from the device: the disk driver writes what the callback gives it, in real time.
        const std::string capture = pair.dir / "live.raw";
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
        std::optional<PlannedChange> change;
        long fileAtFrom = -1;  // the capture's frame where the outgoing track reached the preview's start
        {
            Show show(pair, true);
            Core& core = show.world.core;
            std::string why;
            for (int n = 0; n < 100 && !core.deck.beatPlan(); ++n) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                show.Tick();
            }
            change = core.deck.PlanChange(Core::kPreviewBeforeSeconds, Core::kPreviewAfterSeconds, why);
            if (!change || show.engine.DriverName() != "disk") {
                std::fprintf(stderr, "bench_preview: no change to hear (%s), driver %s\n", why.c_str(),
                             show.engine.DriverName().c_str());
                return 1;
            }
            // Close to the change, so that the capture is short.
            core.deck.CurrentPlayer().SetCurrentPosition(change->outgoing.from - 1.5);
            MediaPlayer& outgoing = core.deck.CurrentPlayer();
            const double stop = bench::NowSeconds() + change->seconds + 6;
            double before = outgoing.CurrentPosition();
            while (bench::NowSeconds() < stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const double after = outgoing.CurrentPosition();
                std::ifstream f(capture, std::ios::binary | std::ios::ate);
                const long fileNow = static_cast<long>(f.tellg()) / 8;
                if (fileAtFrom < 0 && before <= change->outgoing.from && after > change->outgoing.from)
                    fileAtFrom = fileNow - std::lround((after - change->outgoing.from) * kRate);
                before = after;
                show.Tick();
            }
        }
        const std::vector<float> live = ReadFloats(capture);
        audio::ChangeRenderer renderer(*change, kRate);
        std::vector<float> heard(2 * static_cast<std::size_t>(renderer.Frames()));
        renderer.Render(heard.data(), static_cast<int>(renderer.Frames()));
        if (fileAtFrom < 0) {
            std::fprintf(stderr, "bench_preview: the show never reached the change\n");
            return 1;
        }
        // Aligned on the outgoing track alone, then the incoming one alone after the mix.
        const long n = kRate;
        const long lagOut = BestLag(heard, kRate / 2, live, fileAtFrom + kRate / 2, n, kRate / 20);
        const long at = fileAtFrom + lagOut;
        const long tail = static_cast<long>(renderer.Frames()) - 2 * kRate;
        const long lagIn = BestLag(heard, tail, live, at + tail, n, kRate / 20);
        std::vector<double> errors;
        for (std::size_t w = 0; (w + 1) * kTick <= heard.size() / 2; ++w) {
            const double l = WindowDb(live, static_cast<std::size_t>(at) + w * kTick, kTick);
            if (l > -50) errors.push_back(std::fabs(WindowDb(heard, w * kTick, kTick) - l));
        }
        std::sort(errors.begin(), errors.end());
        figures.Print("preview_vs_live_level_error_db", errors.empty() ? 99 : errors.back(), "dB");
        figures.Print("preview_vs_live_beat_error_ms", 1000.0 * std::abs(lagIn) / kRate, "ms");
        std::fprintf(stderr, "bench_preview: %s; level error median %.3f dB over %zu windows; lag %ld then %ld frames\n",
                     change->what.c_str(), errors.empty() ? 0 : errors[errors.size() / 2], errors.size(), lagOut, lagIn);
    }

    if (figures.Wants("preview_start_ms") || figures.Wants("preview_main_underruns")) {
        // SDL's dummy driver opens one device at a time, which the preview takes: the show's mixer
        // is run as a device runs it, a block each block's time, on a thread of its own.
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        audio::PreviewOutput preview;
        Show show(pair, false);
        std::atomic<bool> over{false};
        std::thread device([&] {
            std::vector<float> block(2 * 512);
            auto next = std::chrono::steady_clock::now();
            while (!over.load()) {
                show.engine.Mix(block.data(), 512);
                next += std::chrono::microseconds(512 * 1000000LL / kRate);
                std::this_thread::sleep_until(next);
            }
        });
        Core& core = show.world.core;
        core.platform.preview = &preview;
        const std::vector<std::string> devices = preview.Devices();
        core.autoMix.preListenDevice = devices.empty() ? "" : devices.front();
        for (int n = 0; n < 30; ++n) {  // the show well under way
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            show.Tick();
        }
        bench::OutOfMemory(pair.a);
        bench::OutOfMemory(pair.b);
        const std::uint64_t underruns = show.engine.Underruns();
        const auto clicked = std::chrono::steady_clock::now();
        core.envelopeEditor.ListenClick();
        const std::size_t said = show.world.dialogs.shown.size();
        double startMs = -1;
        const double give_up = bench::NowSeconds() + 60;
        while (preview.Listening() && bench::NowSeconds() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (startMs < 0 && preview.FirstSoundNs() != 0)
                startMs = (preview.FirstSoundNs() -
                           std::chrono::duration_cast<std::chrono::nanoseconds>(clicked.time_since_epoch()).count()) / 1e6;
            static double nextTick = bench::NowSeconds() + 0.1;
            if (bench::NowSeconds() >= nextTick) {
                nextTick += 0.1;
                show.Tick();
            }
        }
        over.store(true);
        device.join();
        if (said > 0) std::fprintf(stderr, "bench_preview: %s\n", show.world.dialogs.shown.back().text.c_str());
        figures.Print("preview_start_ms", startMs, "ms");
        figures.Print("preview_main_underruns", static_cast<double>(show.engine.Underruns() - underruns), "count");
        if (preview.Starved() > 0) std::fprintf(stderr, "bench_preview: the preview itself ran short %llu times\n",
                                                static_cast<unsigned long long>(preview.Starved()));
    }
    return 0;
}
