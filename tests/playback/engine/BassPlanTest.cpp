// A deck's bass plan, on the real engine offline: a plan at 1 is no plan, to the bit; a cut takes
// the low band down and leaves the rest; a move planned on a file frame is heard on that frame,
// on a deck played at its own rate or another, and when the plan comes while it plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "playback/engine/AudioEngine.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::audio::AudioEngine;
using quendo::audio::EngineOptions;
using Bass = std::vector<MediaPlayer::BassPoint>;
using Rates = std::vector<MediaPlayer::RatePoint>;

namespace {

constexpr int kRate = 44100, kStep = 64;
constexpr double kSeconds = 3;

// 60 Hz on the left, 1 kHz on the right.
std::string TwoTones() {
    std::vector<float> v(2 * static_cast<std::size_t>(4 * kRate));
    for (std::size_t i = 0; i < v.size() / 2; ++i) {
        v[2 * i] = static_cast<float>(0.4 * std::sin(2 * M_PI * 60 * static_cast<double>(i) / kRate));
        v[2 * i + 1] = static_cast<float>(0.4 * std::sin(2 * M_PI * 1000 * static_cast<double>(i) / kRate));
    }
    return quendo::testing::StereoWav(v, kRate);
}

struct Take {
    std::vector<float> out;
    std::vector<double> at;  // the file second due next after each kStep frames
};

// The deck played from the start; the bass plan, if any, given before it plays or once `givenAt`
// seconds have been heard.
Take Play(const std::string& file, const Rates& rates, const Bass* bass, double givenAt = 0) {
    AudioEngine engine{EngineOptions{false, kRate, 512}};
    MediaPlayer& deck = engine.Deck1();
    deck.SetFileName(file);
    EXPECT_TRUE(deck.CanCutBass());
    if (!rates.empty()) deck.SetRatePlan(rates);
    Take t;
    for (int n = 0; n < kSeconds * kRate / kStep; ++n) {
        if (bass && n == static_cast<int>(givenAt * kRate / kStep)) deck.SetBassPlan(*bass);
        if (n == 0) deck.Play();
        const std::vector<float> block = engine.render(kStep);
        t.out.insert(t.out.end(), block.begin(), block.end());
        t.at.push_back(deck.CurrentPosition());
    }
    return t;
}

double RatioDb(const std::vector<float>& a, const std::vector<float>& b, int channel) {
    return 20 * std::log10(quendo::testing::Rms(a, channel, kRate / 2) / quendo::testing::Rms(b, channel, kRate / 2));
}

TEST(BassPlan, CutsTheLowBandOnThePlannedFrame) {
    quendo::testing::TempDir d;
    d.WriteFile("tones.wav", TwoTones());
    const std::string file = d / "tones.wav";
    struct Case {
        const char* name;
        Rates rates;
        double cutAt;    // the file second of a step from 1 to 0
        double givenAt;  // the second heard when the plan comes
    } cases[] = {{"plain", {}, 1.7, 0}, {"stretched", {{0, 1.06}}, 1.7, 0}, {"given while playing", {{0, 0.94}}, 1.3, 1.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bass none, ones{{0.5, 1}, {2, 1}}, cut{{0, 0}}, later{{2.8, 1}, {2.8, 0}}, step{{c.cutAt, 1}, {c.cutAt, 0}};
        const Take x = Play(file, c.rates, nullptr);
        // At 1, or before a cut comes near, the samples are the file's own.
        for (const Bass* unity : {&none, &ones}) EXPECT_EQ(Play(file, c.rates, unity).out, x.out);
        const Take before = Play(file, c.rates, &later);
        std::ptrdiff_t upTo = 0;  // the filter runs from 50 ms before the ramp
        while (before.at[static_cast<std::size_t>(upTo)] < 2.79) ++upTo;
        EXPECT_TRUE(std::equal(x.out.begin(), x.out.begin() + 2 * kStep * upTo, before.out.begin()));

        const Take z = Play(file, c.rates, &cut);
        EXPECT_LE(RatioDb(z.out, x.out, 0), -26) << "60 Hz";
        EXPECT_NEAR(RatioDb(z.out, x.out, 1), 0, 1) << "1 kHz";

        // Each frame is g·x + (1 - g)·z: the gain heard, where the low band is loud, fitted by a
        // line across the ramp, passes 1/2 where the deck plays the planned frame.
        const Take y = Play(file, c.rates, &step, c.givenAt);
        double sn = 0, sg = 0, snn = 0, sng = 0, count = 0;
        for (std::size_t i = 0; i < y.out.size() / 2; ++i) {
            const double lx = x.out[2 * i] - z.out[2 * i];
            if (std::fabs(lx) < 0.2) continue;
            const double g = (y.out[2 * i] - z.out[2 * i]) / lx;
            if (g < 0.1 || g > 0.9) continue;
            const auto n = static_cast<double>(i);
            sn += n, sg += g, snn += n * n, sng += n * g, ++count;
        }
        ASSERT_GT(count, 20);
        const double slope = (count * sng - sn * sg) / (count * snn - sn * sn), heard = (0.5 - (sg - slope * sn) / count) / slope;
        std::size_t k = 0;
        while (k + 1 < y.at.size() && y.at[k + 1] < c.cutAt) ++k;
        const double due = kStep * (static_cast<double>(k + 1) + (c.cutAt - y.at[k]) / (y.at[k + 1] - y.at[k]));
        EXPECT_NEAR(heard, due, 3);
        EXPECT_LT(slope, 0);
    }
}

}  // namespace
