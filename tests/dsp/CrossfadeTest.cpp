#include "dsp/Crossfade.h"

#include <gtest/gtest.h>

namespace {

// The new setting's weight rises by the same amount every sample and ends at 1; a target that comes
// during a move waits for its end, and a turning knob becomes a chain of whole moves.
TEST(Crossfade, WeightsMoveLinearlyAndANewTargetWaitsForTheMove)
{
    Crossfade<int> x(100, 8);
    EXPECT_FALSE(x.moving());
    EXPECT_EQ(x.next(), 1.0f);

    x.follow(200);
    ASSERT_TRUE(x.moving());
    EXPECT_EQ(x.from(), 100);
    EXPECT_EQ(x.to(), 200);
    for (int k = 1; k <= 4; ++k) EXPECT_FLOAT_EQ(x.next(), 0.125f * float(k));

    x.follow(300); // mid-move: waits
    EXPECT_EQ(x.to(), 200);
    for (int k = 5; k <= 8; ++k) EXPECT_FLOAT_EQ(x.next(), 0.125f * float(k));
    EXPECT_FALSE(x.moving());
    EXPECT_EQ(x.next(), 1.0f);

    x.follow(300); // now taken, from where the last move ended
    EXPECT_EQ(x.from(), 200);
    EXPECT_EQ(x.to(), 300);
    EXPECT_FLOAT_EQ(x.next(), 0.125f);
    x.follow(300);
    EXPECT_FLOAT_EQ(x.next(), 0.25f) << "the same target again does not restart the move";
}

} // namespace
