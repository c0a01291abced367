// A track's form: the phrases, the bass and the fade-out read from its bars' band levels, the
// levels measured from the sound, and the form kept in the cache.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/FactsCache.h"
#include "analysis/Form.h"

using namespace quendo;
using namespace quendo::audio;

namespace {

// Bars of a section: the low band's level and the other three's, each bar `slope` dB under the one
// before.
struct Bars {
    int count;
    float low, rest, slope = 0;
};

std::vector<TrackForm::BarLevels> Levels(const std::vector<Bars>& sections) {
    std::vector<TrackForm::BarLevels> out;
    for (const Bars& s : sections)
        for (int b = 0; b < s.count; ++b) {
            const float down = s.slope * (static_cast<float>(b) + 0.5f);
            out.push_back({s.low - down, s.rest - down, s.rest - 3 - down, s.rest - 9 - down});
        }
    return out;
}

}  // namespace

TEST(Form, PhrasesBassAndFadeFromTheBarsLevels) {
    const Bars intro{8, -30, -20}, full{16, -12, -16}, breakdown{8, -70, -18}, outro{8, -30, -20};
    struct Case {
        const char* what;
        std::vector<Bars> bars;
        std::vector<int> phrases;
        int bassIn, bassOut, fadeOut;
    } cases[] = {
        {"intro, breakdown, outro", {intro, full, breakdown, full, outro}, {0, 8, 24, 32, 48}, 8, 48, -1},
        {"a radio edit, the bass to the end", {{4, -30, -20}, full, full}, {0, 4}, 4, 36, -1},
        // The fade's first bar is still within a few dB; the fade is one phrase however it falls.
        {"a mastered fade-out", {intro, full, {12, -12, -16, 3}}, {0, 8, 24}, 8, 25, 24},
        {"an outro that dips by less than a fade", {intro, full, {4, -12, -16, 2}}, {0, 8, 24}, 8, 26, -1},
        {"a kick that only drops out", {intro, full, {4, -30, -20}, full}, {0, 8, 24, 28}, 8, 44, -1},
        {"no bass at all", {{32, -70, -16}}, {0}, -1, -1, -1},
    };
    for (const Case& c : cases) {
        const auto levels = Levels(c.bars);
        const TrackForm form = FindForm(levels);
        EXPECT_EQ(form.bars, static_cast<int>(levels.size())) << c.what;
        EXPECT_EQ(form.phrases, c.phrases) << c.what;
        EXPECT_EQ(std::tie(form.bassIn, form.bassOut, form.fadeOut), std::tie(c.bassIn, c.bassOut, c.fadeOut)) << c.what;
    }
    EXPECT_FALSE(FindForm({}).Known());
}

TEST(Form, BandLevelsFoldIntoTheGridsBars) {
    // Two bars of a 60 Hz tone, then two of 1 kHz, at -9 dB of full scale (a sine at half scale),
    // on a 120 BPM grid whose bar 0 starts half a second in.
    constexpr int kRate = 22050;
    std::vector<float> stereo(2 * 8 * kRate + kRate);
    for (std::size_t i = kRate / 2; i < stereo.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kRate;
        stereo[2 * i] = stereo[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * M_PI * (t < 4.5 ? 60 : 1000) * t));
    }
    BandMeter meter(kRate);
    for (std::size_t at = 0; at < stereo.size() / 2; at += 1000)
        meter.Add(stereo.data() + 2 * at, static_cast<int>(std::min<std::size_t>(1000, stereo.size() / 2 - at)));
    const BeatGrid grid{120, 0.5, 0.5, 0};
    const auto bars = FoldIntoBars(meter.Hops(), meter.HopSeconds(), grid, 8.4);  // the last bar most of it
    ASSERT_EQ(bars.size(), 4u);
    for (std::size_t b = 0; b < 4; ++b) {
        const std::size_t band = b < 2 ? 0 : 2;
        EXPECT_NEAR(bars[b][band], -9, 1) << b;
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_TRUE(k == band || bars[b][k] < -18) << b << " band " << k << ": " << bars[b][k];
        }
    }
    EXPECT_TRUE(FoldIntoBars(meter.Hops(), meter.HopSeconds(), {120, 0.5, 0.5, -1}, 8.4).empty());  // bars unknown

    // The outline from the same filters: the half-scale tone's peak (-6 dB) in its own band, the
    // silent start at the floor.
    const TrackWave wave = meter.Outline();
    ASSERT_TRUE(wave.Known());
    EXPECT_NEAR(wave.pointSeconds, meter.HopSeconds() / 2, 1e-9);
    const auto at = [&](double seconds, int band) {
        return TrackWave::Db(wave.points[static_cast<std::size_t>(band)][static_cast<std::size_t>(seconds / wave.pointSeconds)]);
    };
    EXPECT_EQ(at(0.2, 0), TrackWave::kFloorDb);
    EXPECT_NEAR(at(2.0, 0), -6, 1.5);
    EXPECT_LT(at(2.0, 2), -40);
    EXPECT_NEAR(at(6.0, 1), -6, 1.5);
    EXPECT_LT(at(6.0, 0), -20);
    EXPECT_FALSE(BandMeter(kRate, false).Outline().Known());
}

TEST(Form, TheCacheKeepsTheFormToTheWholeDecibel) {
    FactsCache cache;
    CachedFacts& c = cache["/music/a.mp3"];
    c.version = 5;
    c.facts.lastSound = c.facts.decodedSeconds = 200;
    c.facts.beats = {128, 0.5, 60.0 / 128, 1};
    TrackForm& form = c.facts.form;
    form.levels = {{-3.4f, -20.6f, -92, TrackForm::kSilentDb}, {0.2f, -12, -50, -93}, {-1, -2, -3, -4}};
    form.bars = 3;
    form.phrases = {0, 2};
    form.bassIn = 1, form.bassOut = 3, form.fadeOut = 1;
    const std::string text = FormatFactsCache(cache);
    int dropped = -1;
    const TrackForm read = ParseFactsCache(text, &dropped)["/music/a.mp3"].facts.form;
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(std::tie(read.bars, read.phrases, read.bassIn, read.bassOut, read.fadeOut),
              std::tie(form.bars, form.phrases, form.bassIn, form.bassOut, form.fadeOut));
    const std::vector<TrackForm::BarLevels> rounded = {{-3, -21, -92, TrackForm::kSilentDb}, {0, -12, -50, TrackForm::kSilentDb}, {-1, -2, -3, -4}};
    EXPECT_EQ(read.levels, rounded);

    // A form that no analysis gives is dropped with its line; one on a grid without bars, from its
    // entry. The form: BARS COUNT PHRASES... BASS_IN BASS_OUT FADE_OUT LEVELS.
    const std::string grid = "12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 128 0.5 0.46875 1 -1 0 0 0 ";
    const std::string noBars = "12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 128 0.5 0.46875 -1 -1 0 0 0 ";
    const std::tuple<std::string, std::size_t, bool, int> rows[] = {
        {grid + "2 2 0 1 0 2 -1 !!!!~~~~", 1, true, 0},
        {grid + "0", 1, false, 0},
        {grid + "2 1 1 0 2 -1 !!!!~~~~", 0, false, 1},  // the first phrase not at bar 0
        {grid + "2 1 0 1 1 -1 !!!!~~~~", 0, false, 1},  // the bass out where it came in
        {grid + "2 1 0 0 2 2 !!!!~~~~", 0, false, 1},   // a fade after the last bar
        {grid + "2 1 0 0 2 -1 !!!!~~~", 0, false, 1},   // a level missing
        {grid + "2 1 0 0 2 -1 !!!!~~~\x7f", 0, false, 1},
        {noBars + "2 1 0 0 2 -1 !!!!~~~~", 1, false, 1},
    };
    for (const auto& [numbers, size, known, droppedLines] : rows) {
        const auto parsed = ParseFactsCache("quendo-track-facts 6\n" + numbers + "\t/b.mp3\t\t\t\n", &dropped);
        EXPECT_EQ(std::tuple(parsed.size(), !parsed.empty() && parsed.begin()->second.facts.form.Known(), dropped),
                  std::tuple(size, known, droppedLines)) << numbers;
    }
}

// The outline goes to the file point by point and comes back as it was; one no analysis gives
// (bands of unequal length, a point out of range, longer than the sound) drops its line. Past
// their bound the least recently wanted outlines go, and their facts stay.
TEST(Form, TheCacheKeepsTheOutlineWithinItsBound) {
    FactsCache cache;
    for (int i = 0; i < 3; ++i) {
        CachedFacts& c = cache["/music/" + std::to_string(i) + ".mp3"];
        c.version = 5, c.used = 100 + i;
        c.facts.lastSound = c.facts.decodedSeconds = 10;
        auto wave = std::make_shared<TrackWave>();
        wave->pointSeconds = 0.0125;
        wave->points = {std::vector<std::uint8_t>{0, 63, 7}, {1, 2, 3}, {63, 0, static_cast<std::uint8_t>(i)}};
        c.facts.wave = std::move(wave);
    }
    int dropped = -1;
    const FactsCache read = ParseFactsCache(FormatFactsCache(cache), &dropped);
    EXPECT_EQ(dropped, 0);
    for (const auto& [path, c] : cache) {
        const auto& w = read.at(path).facts.wave;
        ASSERT_TRUE(w) << path;
        EXPECT_NEAR(w->pointSeconds, c.facts.wave->pointSeconds, 1e-9);
        EXPECT_EQ(w->points, c.facts.wave->points);
    }

    const std::string numbers = "12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0 0 ";
    const std::tuple<std::string, std::size_t, bool> rows[] = {
        {numbers + "0", 1, false},
        {numbers + "12500 ???~~~", 1, true},
        {numbers + "12500 ???~~", 0, false},
        {numbers + "12500 ???~~\x7f", 0, false},
        {numbers + "1000000 ???????????????", 0, false},  // 5 s of outline, 3 s of sound
    };
    for (const auto& [line, size, known] : rows) {
        const auto parsed = ParseFactsCache("quendo-track-facts 7\n" + line + "\t/b.mp3\t\t\t\n", &dropped);
        EXPECT_EQ(std::tuple(parsed.size(), !parsed.empty() && parsed.begin()->second.facts.wave != nullptr, dropped),
                  std::tuple(size, known, size == 1 ? 0 : 1)) << line;
    }

    FactsCache bounded = cache;
    EXPECT_EQ(BoundOutlines(bounded, 20), 18u);
    EXPECT_EQ(bounded.size(), 3u);
    EXPECT_FALSE(bounded.at("/music/0.mp3").facts.wave);  // the least recently wanted
    EXPECT_TRUE(bounded.at("/music/2.mp3").facts.wave);
}
