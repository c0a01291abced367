#include "model/MixEnvelope.h"

#include <algorithm>
#include <limits>

namespace quendo {

namespace {

constexpr int kMinLength = 10;
constexpr int kMaxLength = MixEnvelope::kPoints - 1;

bool ValidCurve(int curve) { return curve >= 0 && curve < 4; }
bool ValidIndex(int index) { return index >= 0 && index < MixEnvelope::kPoints; }

std::int16_t ToStored(int value) {
    return static_cast<std::int16_t>(std::clamp<int>(value, std::numeric_limits<std::int16_t>::min(),
                                                     std::numeric_limits<std::int16_t>::max()));
}

std::int16_t& ValueRef(MixPoint& p, Quantity q, int curve) {
    return q == Quantity::Volume ? p.volume[curve] : p.balance[curve];
}

std::uint8_t& KeyRef(MixPoint& p, Quantity q, int curve) {
    return q == Quantity::Volume ? p.volumeKey[curve] : p.balanceKey[curve];
}

}  // namespace

MixEnvelope::MixEnvelope() { SetDefaults(); }

void MixEnvelope::SetDefaults() {
    points_.fill(MixPoint{});
    mixLength_ = 60;
    finishingPosition_ = 60;
    startingPosition_ = 0;

    auto key = [this](Quantity q, int curve, int index, int value) {
        KeyRef(points_[index], q, curve) = 1;
        ValueRef(points_[index], q, curve) = ToStored(value);
    };
    key(Quantity::Volume, 0, 0, 0);
    key(Quantity::Volume, 0, 60, 0);
    key(Quantity::Volume, 1, 0, 0);
    key(Quantity::Volume, 1, 60, 0);
    key(Quantity::Balance, 0, 0, 0);
    key(Quantity::Balance, 0, 60, -4000);
    key(Quantity::Balance, 1, 0, 4000);
    key(Quantity::Balance, 1, 60, 0);
    // The rate curves only carry their flags; every rate stays 100.
    points_[0].rateKey[0] = 1;
    points_[50].rateKey[0] = 1;
    points_[10].rateKey[1] = 1;
    points_[60].rateKey[1] = 1;

    for (Quantity q : {Quantity::Volume, Quantity::Balance})
        for (int curve : {0, 1}) InterpolateCurve(q, curve);
}

void MixEnvelope::InterpolateCurve(Quantity q, int curve) {
    if (curve != 0 && curve != 1) return;  // curves 2 and 3 are never played
    const int first = curve == 0 ? 0 : startingPosition_;
    const int last = std::min<int>(mixLength_, kMaxLength);
    if (first >= last) return;

    int i = first;
    while (i != last) {
        int j = i + 1;
        while (KeyRef(points_[j], q, curve) != 1 && j != last) ++j;
        // One truncated step per segment: the remainder lands in the last step into the key.
        const int d = (ValueRef(points_[j], q, curve) - ValueRef(points_[i], q, curve)) / (j - i);
        for (int m = i; m <= j - 2; ++m)
            ValueRef(points_[m + 1], q, curve) = ToStored(ValueRef(points_[m], q, curve) + d);
        i = j;
    }
}

void MixEnvelope::SetMixLength(int n) {
    n = std::clamp(n, kMinLength, kMaxLength);
    MixPoint& old = points_[mixLength_];
    old.volumeKey[1] = 0;
    old.balanceKey[1] = 0;

    mixLength_ = static_cast<std::uint16_t>(n);
    MixPoint& end = points_[n];
    end.volumeKey[1] = 1;
    end.balanceKey[1] = 1;
    end.volume[1] = 0;
    end.balance[1] = 0;
    // The outgoing curves keep their values; the editor pulls the two positions back afterwards.
    InterpolateCurve(Quantity::Volume, 1);
    InterpolateCurve(Quantity::Balance, 1);
}

// Moves a curve's anchor key point, carrying its volume and balance along.
void MixEnvelope::MoveAnchor(std::uint16_t& anchor, int curve, int p) {
    MixPoint& old = points_[anchor];
    old.volumeKey[curve] = 0;
    old.balanceKey[curve] = 0;
    const std::int16_t volume = old.volume[curve];
    const std::int16_t balance = old.balance[curve];

    anchor = static_cast<std::uint16_t>(p);
    MixPoint& now = points_[p];
    now.volumeKey[curve] = 1;
    now.balanceKey[curve] = 1;
    now.volume[curve] = volume;
    now.balance[curve] = balance;
    InterpolateCurve(Quantity::Volume, curve);
    InterpolateCurve(Quantity::Balance, curve);
}

void MixEnvelope::SetFinishingPosition(int p) {
    MoveAnchor(finishingPosition_, 0, std::clamp<int>(p, 1, mixLength_));
}

void MixEnvelope::SetStartingPosition(int p) {
    MoveAnchor(startingPosition_, 1, std::clamp<int>(p, 0, mixLength_ - 1));
}

void MixEnvelope::InsertKeyPoint(Quantity q, int curve, int index) {
    if (!ValidCurve(curve) || !ValidIndex(index)) return;
    KeyRef(points_[index], q, curve) = 1;
}

void MixEnvelope::DeleteKeyPoint(Quantity q, int curve, int index) {
    if (!ValidCurve(curve) || !ValidIndex(index)) return;
    KeyRef(points_[index], q, curve) = 0;
    InterpolateCurve(q, curve);
}

void MixEnvelope::SetKeyPointValue(Quantity q, int curve, int index, int value) {
    if (!ValidCurve(curve) || !ValidIndex(index)) return;
    ValueRef(points_[index], q, curve) = ToStored(value);
    InterpolateCurve(q, curve);
}

bool MixEnvelope::IsKey(Quantity q, int curve, int index) const {
    if (!ValidCurve(curve) || !ValidIndex(index)) return false;
    const MixPoint& p = points_[index];
    return (q == Quantity::Volume ? p.volumeKey[curve] : p.balanceKey[curve]) == 1;
}

const MixPoint& MixEnvelope::Point(int index) const {
    return points_[static_cast<std::size_t>(std::clamp(index, 0, kPoints - 1))];
}

int MixEnvelope::CombinedVolume(int index) const {
    const MixPoint& p = Point(index);
    const double outgoing = index <= finishingPosition_ ? VolumeGain(p.volume[0]) : 0.0;
    const double incoming = index >= startingPosition_ ? VolumeGain(p.volume[1]) : 0.0;
    return VolumeOfGain(std::sqrt(outgoing * outgoing + incoming * incoming));
}

int MixEnvelope::Value(Quantity q, int curve, int index) const {
    if (!ValidCurve(curve) || !ValidIndex(index)) return 0;
    const MixPoint& p = points_[index];
    return q == Quantity::Volume ? p.volume[curve] : p.balance[curve];
}

}  // namespace quendo
