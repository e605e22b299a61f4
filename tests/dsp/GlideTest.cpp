#include "dsp/ParamSet.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <type_traits>

namespace {

// A glide moves toward its target by at most its share of the remaining way per block (its last step
// may add the snap, or the few float steps its share can no longer cover), in a straight line within
// the block, and lands on the target exactly, also where a float is coarse; the first block starts
// on the target.
TEST(Glide, ReachesItsTargetWithABoundedStepPerBlock)
{
    struct Case {
        const char* what;
        GlideKind kind;
        float from, to;
        float share, snap;
        int maxBlocks; // to land exactly
    } cases[] = {
        {"level up", GlideKind::Level, 0.0f, 1.0f, kGainGlideShare, kGainGlideSnap, 120},
        {"level down", GlideKind::Level, 2.0f, 0.5f, kGainGlideShare, kGainGlideSnap, 120},
        {"phaser sweep", GlideKind::Level, 1655.0f, 72382.3f, kGainGlideShare, kGainGlideSnap, 120},
        {"read position", GlideKind::Position, 0.0f, 1250.0f, kDepthGlideShare, kDepthGlideSnap, 700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Glide g;
        const Ramp first = g.advance(c.from, c.kind, 16);
        EXPECT_EQ(first.end(16), c.from);
        EXPECT_EQ(first.increment, 0.0f);
        int blocks = 0;
        float before = c.from;
        while (!g.settled(c.to) && blocks < 2 * c.maxBlocks) {
            const Ramp r = g.advance(c.to, c.kind, 16);
            ++blocks;
            EXPECT_EQ(r.start, before);
            EXPECT_LE(std::fabs(g.value() - before),
                      c.share * std::fabs(c.to - before) * 1.0001f + c.snap + 1.2e-7f * std::fabs(c.to) / c.share);
            // A straight line within the block, ending where the glide stands.
            EXPECT_NEAR(r.at(7) - r.at(6), r.increment, 1e-6f * (1.0f + std::fabs(r.start)));
            EXPECT_NEAR(r.end(16), g.value(), 1e-5f * (1.0f + std::fabs(r.start)));
            before = g.value();
        }
        EXPECT_LE(blocks, c.maxBlocks);
        EXPECT_EQ(g.value(), c.to);
    }
}

// A handle is made with its setting: one left unassigned would name the set's first setting.
static_assert(!std::is_default_constructible_v<ParamSet<>::Param>);

// One advance moves every setting of a set by its own kind; the fixed part arrives with the targets
// it was published with; a setting may follow an atomic instead.
TEST(ParamSet, AdvancesEverySettingByItsKindInOneCall)
{
    struct Fixed {
        int mode = 0;
        bool operator==(const Fixed&) const = default;
    };
    ParamSet<Fixed> set;
    const auto level = set.add(GlideKind::Level, 0.0f);
    const auto position = set.add(GlideKind::Position, 0.0f);
    std::atomic<float> external{0.5f};
    const auto outside = set.follow(GlideKind::Level, &external);
    const auto row = set.add(GlideKind::Level, std::array{0.25f, 0.75f});

    EXPECT_EQ(set.read().mode, 0);
    set.advance(16); // the first block starts on the targets
    EXPECT_EQ(set[level].end(16), 0.0f);
    EXPECT_EQ(set[outside].end(16), 0.5f);
    EXPECT_EQ(set[row[0]].end(16), 0.25f);
    EXPECT_EQ(set[row[1]].end(16), 0.75f);

    set.set(level, 1.0f);
    set.set(position, 1.0f);
    set.fixed().mode = 2;
    external = 1.0f;
    EXPECT_EQ(set.read().mode, 0) << "nothing is seen before it is published";
    set.publish();
    EXPECT_EQ(set.read().mode, 2);
    set.advance(16);
    EXPECT_FLOAT_EQ(set[level].end(16), kGainGlideShare);
    EXPECT_FLOAT_EQ(set[position].end(16), kDepthGlideShare);
    EXPECT_FLOAT_EQ(set[outside].end(16), 0.5f + 0.5f * kGainGlideShare);

    set.jump(level, 0.25f);
    EXPECT_TRUE(set.settled(level, 0.25f));
    set.advance(16);
    EXPECT_FLOAT_EQ(set[level].start, 0.25f);

    // Once every glide has landed the set rests; each way out of the rest is still taken: a newer
    // set, a followed value that moves, a restarted glide.
    for (int block = 0; block < 1000; ++block) set.advance(16);
    ASSERT_TRUE(set.settled(level, 1.0f) && set.settled(position, 1.0f) && set.settled(outside, 1.0f));
    EXPECT_EQ(set[position].start, 1.0f);
    EXPECT_EQ(set[position].increment, 0.0f);
    set.set(position, 3.0f);
    set.publish();
    set.read();
    set.advance(16);
    EXPECT_FLOAT_EQ(set[position].end(16), 1.0f + 2.0f * kDepthGlideShare);
    for (int block = 0; block < 1000; ++block) set.advance(16);
    external = 2.0f;
    set.advance(16);
    EXPECT_FLOAT_EQ(set[outside].end(16), 1.0f + kGainGlideShare);
    for (int block = 0; block < 1000; ++block) set.advance(16);
    set.jump(level, 0.5f);
    set.advance(16);
    EXPECT_FLOAT_EQ(set[level].end(16), 0.5f + 0.5f * kGainGlideShare);
}

} // namespace
