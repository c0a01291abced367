// The look-ahead limiter alone, on random signals: whatever comes, no frame it gives a gain leaves
// above the threshold, and while nothing in sight passes the threshold the gain is exactly 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "playback/engine/PeakLimiter.h"

namespace {

struct Frames {
    std::vector<float> s;
    const float* At(std::uint64_t i) const { return s.data() + 2 * i; }
    float Largest(std::uint64_t i) const { return std::max(std::fabs(s[2 * i]), std::fabs(s[2 * i + 1])); }
};

// Stretches of silence, noise and sine, each channel at its own level up to 12 dB past full
// scale, and lone hits up to 30 times it.
Frames RandomSignal(std::mt19937& rng, std::size_t frames) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), level(0.0f, 4.0f);
    Frames f{std::vector<float>(2 * frames, 0.0f)};
    for (std::size_t i = 0; i < frames;) {
        const unsigned kind = rng() % 4;
        const float l = level(rng), r = level(rng), w = 0.2f * std::fabs(unit(rng));
        for (std::size_t k = 0, n = 1 + rng() % 3000; k < n && i < frames; ++k, ++i) {
            const float t = static_cast<float>(k);
            if (kind == 1) f.s[2 * i] = l * unit(rng), f.s[2 * i + 1] = r * unit(rng);
            if (kind == 2) f.s[2 * i] = l * std::sin(w * t), f.s[2 * i + 1] = r * std::cos(w * t);
            if (kind == 3 && rng() % 500 == 0) f.s[2 * i + rng() % 2] = 30.0f * unit(rng);
        }
    }
    return f;
}

TEST(PeakLimiter, NoFrameEverPassesTheThresholdAndNothingInSightLeavesItAlone) {
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<float> thresholds(0.05f, 1.5f);
    for (int round = 0; round < 60; ++round) {
        const std::uint64_t length = 40000;
        const Frames frames = RandomSignal(rng, length);
        quendo::audio::PeakLimiter limiter(std::vector<int>{8000, 44100, 48000, 192000}[rng() % 4]);
        float threshold = thresholds(rng);
        limiter.SetThreshold(threshold);
        for (std::uint64_t at = 0; at < length; ++at) {
            // Now and then: a jump forward (a seek), a new threshold, frames not decoded yet.
            if (rng() % 2000 == 0) at = std::min(length - 1, at + 1 + rng() % 5000);
            if (rng() % 3000 == 0) limiter.SetThreshold(threshold = thresholds(rng));
            const std::uint64_t stop = rng() % 50 == 0 ? std::min(length, at + 1 + rng() % 64) : length;
            bool clear = limiter.AtRest();
            for (std::uint64_t i = at; i < std::min(stop, at + limiter.Ahead() + 1) && clear; ++i)
                clear = frames.Largest(i) <= threshold;

            const float g = limiter.Next(frames, at, stop);
            ASSERT_TRUE(g >= 0.0f && g <= 1.0f) << g;
            ASSERT_LE(frames.Largest(at) * g, threshold) << "round " << round << ", frame " << at;
            ASSERT_TRUE(!clear || g == 1.0f) << "round " << round << ", frame " << at;
        }
    }
}

}  // namespace
