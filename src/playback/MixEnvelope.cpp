#include "playback/MixEnvelope.h"

// Placeholder until the envelope lands.
namespace quendo {
MixEnvelope::MixEnvelope() { SetDefaults(); }
void MixEnvelope::SetDefaults() {}
void MixEnvelope::InterpolateCurve(Quantity, int) {}
void MixEnvelope::SetMixLength(int) {}
void MixEnvelope::SetFinishingPosition(int) {}
void MixEnvelope::SetStartingPosition(int) {}
void MixEnvelope::InsertKeyPoint(Quantity, int, int) {}
void MixEnvelope::DeleteKeyPoint(Quantity, int, int) {}
void MixEnvelope::SetKeyPointValue(Quantity, int, int, int) {}
bool MixEnvelope::IsKey(Quantity, int, int) const { return false; }
int MixEnvelope::Value(Quantity, int, int) const { return 0; }
}  // namespace quendo
