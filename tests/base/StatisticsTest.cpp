#include "base/Board.h"
#include "base/Bsp.h"
#include "base/Debug.h"
#include "base/Runtime.h"
#include "base/Time.h"
#include "support/TempRoot.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Debug, OverrunIsStrictlyAbove480000Ticks)
{
    Debug::Record r;
    Debug::start(r, 1000);
    Debug::measure(r, 1000 + 480000);
    EXPECT_EQ(r.overrunCount, 0u);
    Debug::start(r, 2000000);
    Debug::measure(r, 2000000 + 480001);
    EXPECT_EQ(r.overrunCount, 1u);
    EXPECT_EQ(r.maxExec, 480001u);
}

TEST(Debug, CycleTicksWrapModulo32BitsAndMinRestartsAfterARead)
{
    Debug::Record& r = Debug::main_cycle;
    Debug::start(r, 0xFFFFFF00u);
    Debug::getMinTicks(true);
    Debug::getMaxTicks(true);
    Debug::start(r, 0x100u);
    EXPECT_EQ(r.cycleTicks, 0x200u);
    Debug::start(r, 0x100u + 5000);
    EXPECT_EQ(Debug::getMinTicks(true), 0x200u);
    EXPECT_EQ(Debug::getMaxTicks(false), 5000u) << "the readers reset whatever the flag";
    EXPECT_EQ(Debug::getMaxTicks(true), 0u);
    Debug::start(r, 0x100u + 5000 + 90000);
    EXPECT_EQ(Debug::getMinTicks(true), 90000u) << "after a read the next cycle sets the minimum";
}

TEST(Debug, NumberedRecordsIgnoreIndicesOutsideTheTable)
{
    Debug::cycle_start_n(-1);
    Debug::cycle_measure_n(8);
    Debug::add_overrun_cnt_n(8);
    EXPECT_EQ(Debug::getCycleTicks_n(8), 0u);
    EXPECT_EQ(Debug::get_overrun_cnt_n(-1), 0u);
    Debug::add_overrun_cnt_n(1);
    EXPECT_EQ(Debug::get_overrun_cnt_n(1), 1u);
}

TEST(Debug, InfoLinesCarryTheRecordsAndResetTheExtremes)
{
    Debug::start(Debug::main_cycle, 100);
    Debug::getMinTicks(true);
    Debug::getMaxTicks(true);
    Debug::start(Debug::main_cycle, 333433);
    Debug::measure(Debug::main_cycle, 333433 + 120000);
    Debug::add_overrun_cnt_n(0);
    StdoutCapture capture;
    info_print();
    info_print();
    EXPECT_EQ(capture.text(),
              "W (cycle ): 120000 / 333333 max 120000 [333333 333333] - 0\n"
              "W (cpu 1): 0 / 0 max 0 [0 0] - 1\n"
              "W (cpu 2): 0 / 0 max 0 [0 0] - 0\n"
              "W (cycle ): 120000 / 333333 max 0 [0 0] - 0\n"
              "W (cpu 1): 0 / 0 max 0 [0 0] - 1\n"
              "W (cpu 2): 0 / 0 max 0 [0 0] - 0\n");

    // The gap before the first frames lasts seconds: more nanoseconds than a signed word holds.
    Debug::start(Debug::main_cycle, 400000);
    Debug::start(Debug::main_cycle, 3000400000u);
    StdoutCapture gap;
    info_print();
    EXPECT_NE(gap.text().find(" / 3000000000 max 0 [66567 3000000000] - 0\n"), std::string::npos) << gap.text();
}

namespace {
struct CountingBoard : Bsp {
    void initialize() override { ++inits; }
    void eventLoop() override { ++loops; }
    int inits = 0, loops = 0;
};
} // namespace

TEST(Board, ForwardsToTheLastBoardAndIgnoresCallsBeforeOne)
{
    Board::initialize();
    Board::eventLoop();
    CountingBoard first, second;
    Board::initialize();
    Board::eventLoop();
    Board::eventLoop();
    EXPECT_EQ(first.inits + first.loops, 0);
    EXPECT_EQ(second.inits, 1);
    EXPECT_EQ(second.loops, 2);
    EXPECT_FALSE(Time::initialized);
    Time::tasks();
    EXPECT_TRUE(Time::initialized);
    EXPECT_FALSE(Time::sync_status);
}

TEST(Runtime, CrashHandlerPrintsTheSignalAndExitsWithOne)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        install_crash_handler();
        raise(SIGSEGV);
        _exit(7);
    }
    close(pipeFds[1]);
    std::string err;
    char buffer[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) err.append(buffer, size_t(n));
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(err.rfind("Errore: segnale 11:\n", 0), 0u) << err;
    EXPECT_GT(std::count(err.begin(), err.end(), '\n'), 2) << "the backtrace follows";
}

TEST(Runtime, LockMemoryReportsItsOutcome)
{
    StdoutCapture capture;
    int result = lock_memory();
    std::string text = capture.text();
    if (result == 0) EXPECT_EQ(text, "I (Memory): All current and future memory pages locked in RAM\n\n");
    else EXPECT_EQ(text, "ERROR (Memory): mlockall failed\n");
    munlockall();
}
