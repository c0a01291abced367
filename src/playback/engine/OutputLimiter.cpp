#include "playback/engine/OutputLimiter.h"

#include <algorithm>
#include <cmath>

#include "playback/engine/Gains.h"

namespace quendo::audio {

namespace {
// Two decks at full scale sum to at most this; anything beyond is a damaged frame. Cut to it, a
// burst of garbage ducks the music around it by about 6 dB at most, not to silence.
constexpr float kWild = 2.0f;

// Silences what is not a number and cuts the rest to kWild; returns the largest magnitude left.
float Sanitize(float* samples, std::size_t count) {
    float peak = 0.0f;
    for (float* p = samples; p != samples + count; ++p) {
        const float v = *p;
        const float s = v > kWild ? kWild : v < -kWild ? -kWild : v == v ? v : 0.0f;
        *p = s;
        peak = std::max(peak, std::fabs(s));
    }
    return peak;
}
}  // namespace

OutputLimiter::OutputLimiter(int rate) : limiter_(rate), ceiling_(CeilingFactor(kCeilingDbfs)) {
    limiter_.SetThreshold(ceiling_);
}

float* OutputLimiter::Forecast() {
    std::fill_n(forecast_.begin(), 2 * limiter_.Ahead(), 0.0f);
    return forecast_.data();
}

void OutputLimiter::Limit(float* out, int frames) {
    const std::uint64_t ahead = limiter_.Ahead();
    const float peak = std::max(Sanitize(out, 2 * static_cast<std::size_t>(frames)), Sanitize(forecast_.data(), 2 * ahead));
    const std::uint64_t start = at_;
    at_ += static_cast<std::uint64_t>(frames);
    // Nothing in sight passes the ceiling and the gain is 1: the limiter would give every frame
    // exactly 1.
    if (peak <= ceiling_ && limiter_.AtRest()) return;

    limiter_.LookAgain();
    const BlockAndForecast view{out, start, at_, forecast_.data()};
    // Each frame's gain holds it at or below the ceiling, whatever the forecast said.
    for (std::uint64_t i = start; i < at_; ++i) {
        const float g = limiter_.Next(view, i, at_ + ahead);
        float* o = out + 2 * (i - start);
        o[0] *= g;
        o[1] *= g;
    }
}

}  // namespace quendo::audio
