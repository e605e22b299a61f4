// The harness itself: a program that ended on its own (a crash, the kernel's out-of-memory killer) is
// reported at once with how it ended, not waited for as if it hung.
#include "Unit.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

TEST(Harness, AProgramThatEndedIsReportedAtOnceWithHowItEnded)
{
    Unit unit;
    unit.start();
    ::kill(unit.processId(), SIGKILL);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(unit.waitLog("a line never printed", 60000)), "was killed by signal 9");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    EXPECT_NONFATAL_FAILURE(unit.kill(), "before the test ended it");
}
