// The next change heard ahead ("Listen" in the mix editor): what it plays is what the show then
// plays, on the real engine, and it says why when it cannot play.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis/TrackAnalyser.h"
#include "app/Core.h"
#include "playback/engine/AudioEngine.h"
#include "playback/engine/ChangeRenderer.h"
#include "playback/engine/PreviewOutput.h"
#include "support/Audio.h"
#include "support/Fakes.h"
#include "support/MusicSynth.h"

using namespace quendo;
namespace qt = quendo::testing;

namespace {

constexpr int kRate = 44100;
constexpr int kTick = kRate / 10;

double WindowDb(const std::vector<float>& v, std::size_t frame, std::size_t frames) {
    double sum = 0;
    for (std::size_t i = 2 * frame; i < 2 * (frame + frames) && i < v.size(); ++i) sum += double(v[i]) * v[i];
    return 10 * std::log10(sum / double(2 * frames) + 1e-20);
}

std::string LastMessage(const qt::CoreOver& world) {
    return world.dialogs.shown.empty() ? "" : world.dialogs.shown.back().text;
}

}  // namespace

TEST(PreviewTest, PlaysTheShowsOwnMixAndSaysWhyWhenItCannot) {
    qt::TempDir dir;
    for (const auto& [name, bpm] : {std::pair{"a.wav", 124.0}, std::pair{"b.wav", 125.5}}) {
        qt::MusicSpec spec;
        spec.bpm = bpm;
        spec.seconds = 30;
        spec.seed = static_cast<std::uint32_t>(bpm);
        dir.WriteFile(name, qt::StereoWav(qt::SynthesizeMusic(spec, kRate).stereo, kRate));
    }
    audio::TrackAnalyser analyser(dir / "cache");
    analyser.Want({dir / "a.wav", dir / "b.wav"});
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(analyser.Facts(dir / "a.wav") && analyser.Facts(dir / "b.wav")) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    audio::AudioEngine engine{audio::EngineOptions{false, kRate, 512}};
    audio::PreviewOutput preview;
    qt::CoreOver world(engine.Deck1(), engine.Deck2(), engine.Probe(), &analyser);
    Core& core = world.core;
    core.platform.preview = &preview;
    core.nodes.MusicFolder = dir.path() + "/";
    core.buttons.UP = core.buttons.Play = true;
    core.options.RadioGroup2 = epWait;

    // Nothing to mix from, then nothing to mix into: said, and nothing plays.
    struct NoChange {
        int files;
        const char* said;
    };
    for (const NoChange& c : {NoChange{0, "no change to hear"}, NoChange{1, "No next track yet"}}) {
        if (c.files == 1) core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, "a.wav"));
        core.envelopeEditor.ListenClick();
        EXPECT_NE(LastMessage(world).find(c.said), std::string::npos) << LastMessage(world);
        EXPECT_FALSE(preview.Listening());
    }
    core.playlist.AddToPlaylist(core.nodes.AddFileNode(0, "b.wav"));
    core.UPClick();
    std::vector<float> block(2 * kTick);
    for (int n = 0; n < 30 && !core.deck.beatPlan(); ++n) {
        engine.render(block.data(), kTick);
        core.Timer1Timer();
    }
    ASSERT_TRUE(core.deck.beatPlan()) << "the pair should mix on the beat";

    // The show plays on the main output and no pre-listen output is chosen; a chosen one is gone.
    core.envelopeEditor.ListenClick();
    EXPECT_NE(LastMessage(world).find("No pre-listen output is chosen"), std::string::npos) << LastMessage(world);
    core.autoMix.preListenDevice = "Headphones not plugged in";
    core.envelopeEditor.ListenClick();
    EXPECT_NE(LastMessage(world).find("cannot be opened"), std::string::npos) << LastMessage(world);
    EXPECT_FALSE(preview.Listening());

    // Paused, the show leaves the main output to the preview, which starts within moments.
    core.buttons.Play = false;
    core.PlayClick();
    core.autoMix.preListenDevice.clear();
    const std::size_t said = world.dialogs.shown.size();
    core.envelopeEditor.ListenClick();
    EXPECT_EQ(world.dialogs.shown.size(), said) << LastMessage(world);
    EXPECT_TRUE(preview.Listening());
    const auto started = std::chrono::steady_clock::now();
    while (preview.FirstSoundNs() == 0 && std::chrono::steady_clock::now() - started < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_NE(preview.FirstSoundNs(), 0);
    preview.Stop();
    EXPECT_FALSE(preview.Listening());
    core.buttons.Play = true;
    core.PlayClick();

    std::string why;
    const std::optional<PlannedChange> change = core.deck.PlanChange(4, 4, why);
    ASSERT_TRUE(change) << why;
    EXPECT_FALSE(change->incoming.rate.empty()) << "the incoming track is brought to the outgoing one's tempo";
    audio::ChangeRenderer renderer(*change, kRate);
    std::vector<float> heard(2 * static_cast<std::size_t>(renderer.Frames()));
    ASSERT_EQ(renderer.Render(heard.data(), static_cast<int>(renderer.Frames())), renderer.Frames());

    // The show itself, from the very frame where the outgoing track reaches the preview's start.
    std::vector<float> live;
    MediaPlayer& outgoing = core.deck.CurrentPlayer();
    for (int n = 0; n < 600 && live.size() < heard.size(); ++n) {
        const double before = outgoing.CurrentPosition();
        engine.render(block.data(), kTick);
        const double after = outgoing.CurrentPosition();
        if (live.empty() && after > change->outgoing.from && before <= change->outgoing.from) {
            const auto first = static_cast<std::size_t>(std::lround((change->outgoing.from - before) * kRate));
            live.assign(block.begin() + 2 * static_cast<std::ptrdiff_t>(first), block.end());
        } else if (!live.empty()) {
            live.insert(live.end(), block.begin(), block.end());
        }
        core.Timer1Timer();
    }
    ASSERT_GE(live.size(), heard.size());
    double worst = 0;
    for (std::size_t at = 0; at + kTick <= heard.size() / 2; at += kTick) {
        const double l = WindowDb(live, at, kTick);
        if (l > -50) worst = std::max(worst, std::fabs(WindowDb(heard, at, kTick) - l));
    }
    EXPECT_LT(worst, 1.0) << "dB, the worst 100 ms";

}
