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
// whole (all five fields from one publish) and never older than one read before it. The writer goes
// on until the reader has read many times, so the two overlap however the machine schedules them.
// Under the ThreadSanitizer build any unsynchronised slot reuse is reported as well.
TEST(DoubleBuffer, ReaderSeesWholeSetsInOrderWhileTheWriterRaces)
{
    DoubleBuffer<Set> buffer(Set{0, 0, 0, 0, 0});
    constexpr long kAtLeast = 200000, kReads = 10000;
    std::atomic<long> reads{0}, last{-1};
    std::thread writer([&] {
        long k = 1;
        for (; k <= kAtLeast || reads.load(std::memory_order_relaxed) < kReads; ++k) buffer.publish(Set{k, k, k, k, k});
        last = k - 1;
    });
    long seen = 0;
    while (last.load() < 0 || seen < last.load()) {
        const Set s = buffer.read();
        ASSERT_TRUE(s.a == s.b && s.b == s.c && s.c == s.d && s.d == s.e) << "torn set at " << s.a;
        ASSERT_GE(s.a, seen);
        seen = s.a;
        reads.fetch_add(1, std::memory_order_relaxed);
    }
    writer.join();
    EXPECT_EQ(buffer.read().a, last.load());
    EXPECT_EQ(buffer.current().a, last.load());
}
