#include "dsp/StereoLfo.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(StereoLfo, TablesRepeatOneCycleInsideZeroToOne)
{
    modulationsEngine_initReferenceShapes();
    for (const float* t : {referenceShapeSin, referenceShapeTriang, referenceShapeSquare}) {
        for (int k = 0; k < 2 * kShapePoints; ++k) {
            EXPECT_GE(t[k], 0.0f);
            EXPECT_LE(t[k], 1.0f);
        }
        for (int k = 0; k < kShapePoints; ++k) EXPECT_EQ(t[k], t[k + kShapePoints]);
        EXPECT_FLOAT_EQ(t[0], 0.5f);
    }
    // The triangle rises first and turns at the top; the square is flattened towards its extremes.
    EXPECT_GT(referenceShapeTriang[1], referenceShapeTriang[0]);
    EXPECT_GT(*std::max_element(referenceShapeTriang, referenceShapeTriang + kShapePoints), 0.97f);
    EXPECT_GT(referenceShapeSquare[5], referenceShapeSin[5]);
    EXPECT_LT(referenceShapeSquare[30], referenceShapeSin[30]);
}

// Over many cycles both points stay where the taps (up to 30 points on, and the next point) can be
// read without wrapping, and the right one leads the left by the stereo offset.
TEST(StereoLfo, RightLeadsByTheOffsetAndBothStayInTheTable)
{
    modulationsEngine_initReferenceShapes();
    for (float offset : {0.0f, 11.5f, 23.0f}) {
        StereoLfo lfo;
        for (int block = 0; block < 4000; ++block) {
            lfo.wrap();
            for (int k = 0; k < 16; ++k) {
                LfoPoint left, right;
                lfo.step(0.07f, offset, left, right);
                ASSERT_GE(left.j, 0);
                ASSERT_LT(left.j + 31, 2 * kShapePoints) << "left point " << left.j;
                ASSERT_LT(right.j + 31, 2 * kShapePoints) << "right point " << right.j;
                float lead = float(right.j) + right.f - (float(left.j) + left.f);
                if (lead < 0.0f) lead += float(kShapePoints);
                ASSERT_NEAR(lead, offset, 1e-3f);
            }
        }
    }
}

} // namespace
