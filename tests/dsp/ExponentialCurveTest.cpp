#include "dsp/ExponentialCurve.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ExponentialCurve, EndsBendAndLinearCase)
{
    EXPECT_FLOAT_EQ(exponentialCurve(0.5f, 1.0f), 0.5f);
    EXPECT_FLOAT_EQ(exponentialCurve(0.3f, 1.0f), 0.3f);
    for (float base : {0.0f, 0.1f, 0.5f, 0.99f, 1.01f, 2.33f, 10.0f, 100.0f}) {
        EXPECT_NEAR(exponentialCurve(0.0f, base), 0.0f, 1e-6f) << base;
        EXPECT_NEAR(exponentialCurve(1.0f, base), 1.0f, 1e-5f) << base;
        float prev = exponentialCurve(0.0f, base);
        for (int i = 1; i <= 20; ++i) {
            float v = exponentialCurve(i / 20.0f, base);
            EXPECT_GE(v, prev) << base; // rises with the knob
            prev = v;
        }
        float mid = exponentialCurve(0.5f, base);
        if (base > 1) {
            EXPECT_LT(mid, 0.5f) << base; // bends upwards: slow start
        } else if (base > 0) {
            EXPECT_GT(mid, 0.5f) << base;
        }
    }
    // The taper the mixes use: base 10 at the middle of the knob.
    EXPECT_NEAR(exponentialCurve(0.5f, 10.0f), (std::sqrt(10.0) - 1) / 9, 1e-6);
    EXPECT_EQ(exponentialCurve(0.7f, -2.0f), 0.0f);
}
