#include <gtest/gtest.h>

#include "model/MixEnvelope.h"

using quendo::MixEnvelope;
using quendo::Quantity;

namespace {

constexpr Quantity V = Quantity::Volume;
constexpr Quantity B = Quantity::Balance;

TEST(MixEnvelope, DefaultsAfterStartUp) {
    MixEnvelope e;
    EXPECT_EQ(e.MixLength(), 60);
    EXPECT_EQ(e.FinishingPosition(), 60);
    EXPECT_EQ(e.StartingPosition(), 0);
    for (int i = 0; i <= 60; ++i) {
        EXPECT_EQ(e.Value(V, 0, i), 0) << i;
        EXPECT_EQ(e.Value(V, 1, i), 0) << i;
    }
    EXPECT_EQ(e.Value(B, 0, 30), -1980);
    EXPECT_EQ(e.Value(B, 1, 30), 2020);
    for (int i = 1; i <= 59; ++i) {
        EXPECT_EQ(e.Value(B, 0, i), -66 * i) << i;
        EXPECT_EQ(e.Value(B, 1, i), 4000 - 66 * i) << i;
    }
    // The remainder of the truncated step lands in the last step into the key.
    EXPECT_EQ(e.Value(B, 0, 59), -3894);
    EXPECT_EQ(e.Value(B, 0, 60), -4000);
    EXPECT_EQ(e.Value(B, 1, 60), 0);

    for (int curve : {0, 1}) {
        EXPECT_TRUE(e.IsKey(V, curve, 0));
        EXPECT_TRUE(e.IsKey(V, curve, 60));
        EXPECT_TRUE(e.IsKey(B, curve, 0));
        EXPECT_TRUE(e.IsKey(B, curve, 60));
        EXPECT_FALSE(e.IsKey(B, curve, 30));
    }
    EXPECT_FALSE(e.IsKey(V, 2, 0));
    EXPECT_EQ(e.Points()[0].rateKey[0], 1);
    EXPECT_EQ(e.Points()[50].rateKey[0], 1);
    EXPECT_EQ(e.Points()[10].rateKey[1], 1);
    EXPECT_EQ(e.Points()[60].rateKey[1], 1);
    EXPECT_EQ(e.Points()[1000].rate[3], 100);

    // SetDefaults undoes every edit.
    e.SetMixLength(200);
    e.SetKeyPointValue(V, 0, 30, -5000);
    e.SetDefaults();
    EXPECT_EQ(e.MixLength(), 60);
    EXPECT_FALSE(e.IsKey(V, 1, 200));
    EXPECT_EQ(e.Value(V, 0, 30), 0);
    EXPECT_EQ(e.Value(B, 0, 30), -1980);
}

TEST(MixEnvelope, SegmentSmallerThanItsLengthJumpsAtTheKey) {
    MixEnvelope e;
    e.SetKeyPointValue(V, 0, 60, -50);
    for (int i = 0; i <= 59; ++i) EXPECT_EQ(e.Value(V, 0, i), 0) << i;
    EXPECT_EQ(e.Value(V, 0, 60), -50);
}

TEST(MixEnvelope, KeyPointsInsertDeleteAndSet) {
    MixEnvelope e;
    // Inserting keeps the interpolated value and interpolates nothing.
    e.InsertKeyPoint(B, 0, 20);
    EXPECT_TRUE(e.IsKey(B, 0, 20));
    EXPECT_EQ(e.Value(B, 0, 20), -1320);
    EXPECT_EQ(e.Value(B, 0, 21), -1386);

    e.SetKeyPointValue(B, 0, 20, -2000);  // 0..20 by -100, then 20..60 by -50
    EXPECT_EQ(e.Value(B, 0, 10), -1000);
    EXPECT_EQ(e.Value(B, 0, 40), -3000);
    EXPECT_EQ(e.Value(B, 0, 59), -3950);

    e.DeleteKeyPoint(B, 0, 20);
    EXPECT_FALSE(e.IsKey(B, 0, 20));
    EXPECT_EQ(e.Value(B, 0, 20), -1320);
    EXPECT_EQ(e.Value(B, 0, 59), -3894);

    // Deleting an anchor's flag leaves it the anchor.
    e.DeleteKeyPoint(B, 1, 0);
    EXPECT_EQ(e.Value(B, 1, 0), 4000);
    EXPECT_EQ(e.Value(B, 1, 30), 2020);

    // Curves 2 and 3 store values and are never interpolated.
    e.InsertKeyPoint(V, 2, 10);
    e.SetKeyPointValue(V, 2, 10, -3000);
    EXPECT_EQ(e.Value(V, 2, 10), -3000);
    EXPECT_EQ(e.Value(V, 2, 5), 0);
    EXPECT_TRUE(e.IsKey(V, 2, 10));

    // Out of range is ignored, not written past the table.
    e.SetKeyPointValue(V, 0, 1001, -10);
    e.InsertKeyPoint(V, 4, 3);
    e.DeleteKeyPoint(B, 0, -1);
    EXPECT_FALSE(e.IsKey(V, 0, 1001));
    EXPECT_EQ(e.Value(V, 0, 1001), 0);
}

TEST(MixEnvelope, FinishingPositionCarriesTheFinalKey) {
    MixEnvelope e;
    e.SetFinishingPosition(40);
    EXPECT_EQ(e.FinishingPosition(), 40);
    EXPECT_TRUE(e.IsKey(B, 0, 40));
    EXPECT_TRUE(e.IsKey(V, 0, 40));
    EXPECT_FALSE(e.IsKey(B, 0, 60));
    EXPECT_FALSE(e.IsKey(V, 0, 60));
    EXPECT_EQ(e.Value(V, 0, 40), 0);
    for (int i = 0; i <= 40; ++i) EXPECT_EQ(e.Value(B, 0, i), -100 * i) << i;
    for (int i = 40; i <= 60; ++i) EXPECT_EQ(e.Value(B, 0, i), -4000) << i;
    // The incoming curves are not touched.
    EXPECT_EQ(e.Value(B, 1, 30), 2020);

    // A move to where it already is changes nothing.
    const auto before = e.Points();
    e.SetFinishingPosition(40);
    EXPECT_EQ(e.Points()[40].balance, before[40].balance);
    EXPECT_TRUE(e.IsKey(B, 0, 40));
    for (int i = 0; i <= 60; ++i) EXPECT_EQ(e.Value(B, 0, i), before[i].balance[0]);
}

TEST(MixEnvelope, LengthMoveMovesOnlyTheIncomingEnd) {
    MixEnvelope e;
    e.SetMixLength(100);
    EXPECT_EQ(e.MixLength(), 100);
    EXPECT_TRUE(e.IsKey(V, 1, 100));
    EXPECT_TRUE(e.IsKey(B, 1, 100));
    EXPECT_FALSE(e.IsKey(V, 1, 60));
    EXPECT_FALSE(e.IsKey(B, 1, 60));
    EXPECT_EQ(e.Value(B, 1, 100), 0);
    EXPECT_EQ(e.Value(B, 1, 50), 2000);  // 4000 down to 0 over 100 steps
    EXPECT_EQ(e.Value(B, 1, 99), 40);
    // The outgoing curves were not interpolated: 61..99 keep what they held.
    EXPECT_TRUE(e.IsKey(B, 0, 60));
    EXPECT_EQ(e.Value(B, 0, 60), -4000);
    for (int i = 61; i <= 99; ++i) EXPECT_EQ(e.Value(B, 0, i), 0) << i;

    e.SetMixLength(5000);
    EXPECT_EQ(e.MixLength(), 1000);
    EXPECT_TRUE(e.IsKey(B, 1, 1000));
    EXPECT_FALSE(e.IsKey(B, 1, 100));
    e.SetMixLength(1);
    EXPECT_EQ(e.MixLength(), 10);
}

TEST(MixEnvelope, StartingPositionCarriesTheFirstIncomingKey) {
    MixEnvelope e;
    e.SetStartingPosition(30);
    EXPECT_EQ(e.StartingPosition(), 30);
    EXPECT_FALSE(e.IsKey(B, 1, 0));
    EXPECT_TRUE(e.IsKey(B, 1, 30));
    EXPECT_EQ(e.Value(B, 1, 30), 4000);
    EXPECT_EQ(e.Value(B, 1, 31), 4000 - 133);
    EXPECT_EQ(e.Value(B, 1, 60), 0);
    // Points before the start are no longer written and keep the old course.
    EXPECT_EQ(e.Value(B, 1, 0), 4000);
    EXPECT_EQ(e.Value(B, 1, 10), 3340);

    // The last possible start gives one step of one segment.
    e.SetStartingPosition(59);
    EXPECT_EQ(e.Value(B, 1, 59), 4000);
    EXPECT_EQ(e.Value(B, 1, 60), 0);
    e.SetStartingPosition(60);  // beyond the limit: pulled back
    EXPECT_EQ(e.StartingPosition(), 59);
}

}  // namespace
