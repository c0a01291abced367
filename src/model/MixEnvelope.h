#pragma once
#include <array>
#include <cstdint>

namespace quendo {

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

private:
    // Length and positions change only through the moves, which keep their key points in step.
    std::array<MixPoint, kPoints> points_{};
    std::uint16_t mixLength_ = 60;
    std::uint16_t finishingPosition_ = 60;
    std::uint16_t startingPosition_ = 0;

    void MoveAnchor(std::uint16_t& anchor, int curve, int p);
};

}  // namespace quendo
