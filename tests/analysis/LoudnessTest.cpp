// The analysis' own loudness meter against the reference one, libebur128, window by window.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "analysis/Loudness.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Ebur128Free {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};

}  // namespace

TEST(Loudness, AgreesWithTheReferenceMeterWindowByWindowAndGated) {
    struct Case {
        const char* what;
        double seconds;
        // Left and right at time t (seconds), for a noise value n in -1..1.
        std::function<void(double t, double n, float* lr)> at;
    };
    const Case cases[] = {
        {"noise, loud then 9 dB down (within the relative gate) then silent: both gates at work", 6,
         [](double t, double n, float* lr) {
             const double g = t < 2 ? 0.5 : t < 4 ? 0.177 : 0;
             lr[0] = static_cast<float>(g * n), lr[1] = static_cast<float>(-g * n);
         }},
        {"a 40 Hz bass and an 8 kHz tone, where the filter bends", 3,
         [](double t, double, float* lr) {
             lr[0] = static_cast<float>(0.6 * std::sin(2 * kPi * 40 * t));
             lr[1] = static_cast<float>(0.3 * std::sin(2 * kPi * 8000 * t));
         }},
        {"a silent head, then a quiet tone", 2.5,
         [](double t, double, float* lr) { lr[0] = lr[1] = static_cast<float>(t < 1 ? 0 : 0.01 * std::sin(2 * kPi * 997 * t)); }},
        {"shorter than one block", 0.3, [](double, double n, float* lr) { lr[0] = lr[1] = static_cast<float>(0.5 * n); }},
    };
    for (const int rate : {22050, 44100}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << " at " << rate << " Hz");
            const int window = rate * 50 / 1000, frames = static_cast<int>(c.seconds * rate);
            std::vector<float> sound(2 * static_cast<std::size_t>(frames));
            std::uint32_t seed = 7;
            for (int i = 0; i < frames; ++i) {
                seed = seed * 1664525u + 1013904223u;
                c.at(static_cast<double>(i) / rate, static_cast<double>(seed >> 8) / (1 << 23) - 1, &sound[2 * static_cast<std::size_t>(i)]);
            }
            quendo::audio::Loudness ours(rate);
            std::unique_ptr<ebur128_state, Ebur128Free> theirs(ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I));
            for (int at = 0; at + window <= frames; at += window) {
                const double level = ours.Add(&sound[2 * static_cast<std::size_t>(at)], window);
                ebur128_add_frames_float(theirs.get(), &sound[2 * static_cast<std::size_t>(at)], static_cast<std::size_t>(window));
                double reference = 0;
                ebur128_loudness_window(theirs.get(), 50, &reference);
                // Far below every gate, a filter's decaying tail is silence either way.
                if (reference < -200) EXPECT_LT(level, -200) << at;
                else EXPECT_NEAR(level, reference, 0.01) << at;
            }
            double reference = 0;
            ebur128_loudness_global(theirs.get(), &reference);
            if (std::isinf(reference)) EXPECT_TRUE(std::isinf(ours.Integrated()));
            else EXPECT_NEAR(ours.Integrated(), reference, 0.01);
        }
    }
}
