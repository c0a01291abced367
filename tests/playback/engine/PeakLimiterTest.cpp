// The look-ahead limiter alone, on random signals: whatever comes, no frame it gives a gain leaves
// above the threshold, and while nothing in sight passes the threshold the gain is exactly 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "playback/engine/PeakLimiter.h"

using quendo::audio::PeakLimiter;

namespace {

struct Frames {
    const std::vector<float>& samples;
    const float* At(std::uint64_t i) const { return samples.data() + 2 * i; }
};

float Largest(const float* frame) { return std::max(std::fabs(frame[0]), std::fabs(frame[1])); }

// Stretches of silence, of noise and of sine at random levels up to 12 dB past full scale, and
// lone hits up to 30 times it; the two channels apart.
std::vector<float> RandomSignal(std::mt19937& rng, std::size_t frames) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), level(0.0f, 4.0f);
    std::vector<float> s(2 * frames, 0.0f);
    for (std::size_t i = 0; i < frames;) {
        const std::size_t n = std::min<std::size_t>(frames - i, 1 + rng() % 3000);
        const int kind = static_cast<int>(rng() % 4);
        const float l = level(rng), r = level(rng), w = 0.001f + 0.2f * std::fabs(unit(rng));
        for (std::size_t k = 0; k < n; ++k, ++i) {
            if (kind == 1) s[2 * i] = l * unit(rng), s[2 * i + 1] = r * unit(rng);
            if (kind == 2) s[2 * i] = l * std::sin(w * static_cast<float>(k)), s[2 * i + 1] = r * std::cos(w * static_cast<float>(k));
            if (kind == 3 && rng() % 500 == 0) s[2 * i + rng() % 2] = 30.0f * unit(rng);
        }
    }
    return s;
}

TEST(PeakLimiter, NoFrameEverPassesTheThresholdAndNothingInSightLeavesItAlone) {
    std::mt19937 rng(20261209);
    for (int round = 0; round < 60; ++round) {
        const int rate = std::vector<int>{8000, 44100, 48000, 96000, 192000}[rng() % 5];
        const std::size_t length = 40000;
        const std::vector<float> signal = RandomSignal(rng, length);
        const Frames frames{signal};
        PeakLimiter limiter(rate);
        std::uniform_real_distribution<float> thresholds(0.05f, 1.5f);
        float threshold = thresholds(rng);
        limiter.SetThreshold(threshold);
        long limited = 0;
        for (std::uint64_t at = 0; at < length; ++at) {
            // Now and then: a jump forward (a seek), a new threshold, frames not decoded yet.
            if (rng() % 2000 == 0) at = std::min<std::uint64_t>(length - 1, at + 1 + rng() % 5000);
            if (rng() % 3000 == 0) limiter.SetThreshold(threshold = thresholds(rng));
            const std::uint64_t stop = rng() % 50 == 0 ? at + 1 + rng() % 64 : length;
            const std::uint64_t sight = std::min<std::uint64_t>(stop, at + limiter.Ahead() + 1);
            bool clear = limiter.AtRest();
            for (std::uint64_t i = at; i < sight && clear; ++i) clear = Largest(frames.At(i)) <= threshold;

            const float g = limiter.Next(frames, at, std::min<std::uint64_t>(stop, length));
            ASSERT_GE(g, 0.0f);
            ASSERT_LE(g, 1.0f);
            const float* s = frames.At(at);
            ASSERT_LE(std::fabs(s[0] * g), threshold) << "round " << round << ", frame " << at;
            ASSERT_LE(std::fabs(s[1] * g), threshold) << "round " << round << ", frame " << at;
            if (clear) {
                ASSERT_EQ(g, 1.0f) << "round " << round << ", frame " << at;
            }
            limited += g < 1.0f;
        }
        EXPECT_GT(limited, 0) << "round " << round;
    }
}

}  // namespace
