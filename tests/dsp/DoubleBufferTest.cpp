#include "dsp/DoubleBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {
struct Set {
    long a, b, c, d, e;
};
} // namespace

// The compile thread publishes as fast as it can while the audio thread reads: every set read is
// whole (all five fields from one publish) and never older than one read before it. Under the
// ThreadSanitizer build any unsynchronised slot reuse is reported as well.
TEST(DoubleBuffer, ReaderSeesWholeSetsInOrderWhileTheWriterRaces)
{
    DoubleBuffer<Set> buffer(Set{0, 0, 0, 0, 0});
    constexpr long kLast = 200000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (long k = 1; k <= kLast; ++k) buffer.publish(Set{k, k, k, k, k});
        done = true;
    });
    long seen = 0;
    long reads = 0;
    while (!done || seen < kLast) {
        const Set s = buffer.read();
        ASSERT_TRUE(s.a == s.b && s.b == s.c && s.c == s.d && s.d == s.e) << "torn set at " << s.a;
        ASSERT_GE(s.a, seen);
        seen = s.a;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(buffer.read().a, kLast);
    EXPECT_EQ(buffer.current().a, kLast);
    EXPECT_GT(reads, 1);
}
