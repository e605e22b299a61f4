#include "dsp/TriangleLfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Over many cycles a sweep stays in its range (turning between blocks it may run a block of steps
// past a point), reaches both ends, and takes 2 (high - low) / increment samples a cycle, up to a
// block more at each end when it turns between blocks.
TEST(TriangleLfo, SweepsBetweenItsPointsAtItsRate)
{
    constexpr float inc = 1e-3f;
    struct Case {
        const char* what;
        TriangleLfo<> lfo;
        float low, high;
        int block; // samples between turn() calls; 0: bounce() per sample
        float floor, ceiling;
    };
    const Case cases[] = {
        {"turning between blocks, low point a block up: never below 0",
         {{0.5f}, {1.0f}},
         16 * inc,
         1.0f,
         16,
         0.0f,
         1.0f + 16 * inc},
        {"turning between blocks, both points a block inside",
         {{0.0f}, {1.0f}},
         16 * inc,
         1.0f - 16 * inc,
         16,
         0.0f,
         1.0f},
        {"turning between odd blocks", {{0.3f}, {-1.0f}}, 7 * inc, 1.0f - 7 * inc, 7, 0.0f, 1.0f},
        {"bouncing, rising first", {{0.25f}, {1.0f}}, 16 * inc, 1.0f, 0, 16 * inc, 1.0f},
        {"bouncing, falling first", {{0.4f}, {-1.0f}}, 16 * inc, 1.0f, 0, 16 * inc, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleLfo<> lfo = c.lfo;
        float lowest = 2.0f, highest = -2.0f, last = lfo.value[0], rising = 0.0f;
        std::vector<int> troughs; // samples at which the sweep turned upward
        for (int k = 0; k < 24000; ++k) {
            if (c.block && k % c.block == 0) lfo.turn(c.low, c.high);
            const float v = c.block ? lfo.step(inc) : lfo.bounce(inc, c.low, c.high);
            if (rising < 0.0f && v > last) troughs.push_back(k);
            if (v != last) rising = v - last;
            last = v;
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
        const float slack = inc * float(std::max(c.block, 1));
        EXPECT_GE(lowest, c.floor - 1e-5f);
        EXPECT_LE(highest, c.ceiling + 1e-5f);
        EXPECT_LE(lowest, c.low + slack);
        EXPECT_GE(highest, c.high - slack);
        ASSERT_GE(troughs.size(), 10u);
        const double period = 2.0 * (c.high - c.low) / inc;
        const double measured = double(troughs.back() - troughs.front()) / double(troughs.size() - 1);
        EXPECT_GE(measured, period - 1.0);
        EXPECT_LE(measured, period + 4.0 * c.block + 4.0); // rounding: a sample or two at each end
    }
}

} // namespace
