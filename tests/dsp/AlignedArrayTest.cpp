#include "dsp/AlignedArray.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
struct alignas(64) Wide {
    float v[16];
};
} // namespace

// The allocation honours the element type's own alignment when it exceeds the requested one.
TEST(AlignedArray, StartFollowsTheStrictestAlignment)
{
    for (int i = 0; i < 8; ++i) {
        AlignedArray<float> f(static_cast<std::size_t>(1 + 7 * i));
        AlignedArray<Wide> w(static_cast<std::size_t>(1 + i));
        AlignedArray<double, 32> d(3);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(f.data()) % 16, 0u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w.data()) % 64, 0u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(d.data()) % 32, 0u);
        EXPECT_EQ(f[static_cast<std::size_t>(7 * i)], 0.0f);
        EXPECT_EQ(w[0].v[15], 0.0f);
    }
    static_assert(AlignedArray<Wide>::alignment() == 64);
}
