#pragma once
#include <array>
#include <cmath>
#include <cstdint>

namespace quendo {

// Volume is in hundredths of a dB: 0 full, -10000 (and below) silent. The gain a volume plays at,
// and the volume of a gain (above 0 for a gain over 1; -10000 for silence).
inline float VolumeGain(int volume) {
    if (volume >= 0) return 1.0f;
    if (volume <= -10000) return 0.0f;
    return static_cast<float>(std::pow(10.0, volume / 2000.0));
}
inline int VolumeOfGain(double gain) {
    if (!(gain > 1e-5)) return -10000;  // also NaN
    return static_cast<int>(std::lround(2000.0 * std::log10(gain)));
}

// One step of a crossfade (one 100 ms tick). Curve 0 is the outgoing deck, curve 1 the
// incoming one; curves 2 and 3 and the rate curves are carried but never played.
struct MixPoint {
    std::array<std::int16_t, 4> volume{};
    std::array<std::uint8_t, 4> volumeKey{};
    std::array<std::int16_t, 4> balance{};
    std::array<std::uint8_t, 4> balanceKey{};
    std::array<std::uint8_t, 4> rate{100, 100, 100, 100};
    std::array<std::uint8_t, 4> rateKey{};
};

enum class Quantity { Volume, Balance };

class MixEnvelope {
public:
    static constexpr int kPoints = 1001;

    MixEnvelope();      // the start-up defaults, interpolated
    void SetDefaults();

    void InterpolateCurve(Quantity q, int curve);

    // The three moves the mix editor calls.
    void SetMixLength(int n);           // 10..1000
    void SetFinishingPosition(int p);   // 1..mixLength
    void SetStartingPosition(int p);    // 0..mixLength-1

    // Key points: insert keeps the interpolated value; delete and set re-interpolate (curves 0, 1).
    void InsertKeyPoint(Quantity q, int curve, int index);
    void DeleteKeyPoint(Quantity q, int curve, int index);
    void SetKeyPointValue(Quantity q, int curve, int index, int value);

    bool IsKey(Quantity q, int curve, int index) const;
    int Value(Quantity q, int curve, int index) const;

    int MixLength() const { return mixLength_; }
    int FinishingPosition() const { return finishingPosition_; }
    int StartingPosition() const { return startingPosition_; }
    // The point of one tick; an index outside the envelope reads its nearest end.
    const MixPoint& Point(int index) const;
    const std::array<MixPoint, kPoints>& Points() const { return points_; }
    // The level at which the two decks are heard together at a tick, in volume units: the power
    // sum of the outgoing curve's gain (until the finishing position, where its track ends) and
    // the incoming one's (from the starting position, where its track starts). Two decks at full
    // volume sum to +301, about 3 dB.
    int CombinedVolume(int index) const;

private:
    // Length and positions change only through the moves, which keep their key points in step.
    std::array<MixPoint, kPoints> points_{};
    std::uint16_t mixLength_ = 60;
    std::uint16_t finishingPosition_ = 60;
    std::uint16_t startingPosition_ = 0;

    void MoveAnchor(std::uint16_t& anchor, int curve, int p);
};

}  // namespace quendo
