#pragma once
#include <algorithm>
#include <cmath>
#include <limits>

#include "model/MixEnvelope.h"

namespace quendo::audio {

// Gains as the player's units define them: volume as the envelope has it (the mix editor's chart
// predicts the level from the same law); balance from -10000 (right silent) to 10000 (left silent).
using quendo::VolumeGain;

// A track's own gain in dB as a factor; anything not finite plays the track as it is.
inline float TrackGainFactor(double db) {
    if (!std::isfinite(db)) return 1.0f;
    return static_cast<float>(std::pow(10.0, std::clamp(db, -100.0, 40.0) / 20.0));
}

// A level in dBFS as a factor; anything above 0 dBFS, or not a number, is no level at all.
inline float CeilingFactor(double dbfs) {
    if (!(dbfs <= 0.0)) return std::numeric_limits<float>::infinity();
    return static_cast<float>(std::pow(10.0, std::max(dbfs, -100.0) / 20.0));
}

inline void BalanceGains(int balance, float& left, float& right) {
    left = right = 1.0f;
    if (balance > 0) left = VolumeGain(-balance);
    else if (balance < 0) right = VolumeGain(balance);
}

}  // namespace quendo::audio
