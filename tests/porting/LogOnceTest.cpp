#include "porting/LogOnce.h"

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Passes of a loop, each with its state and occurrences: which passes may log, and the count lines
// written when a repeated condition ends.
TEST(LogOnce, LogsChangesAndCountsRepeatsOfConditions)
{
    struct Pass {
        int64_t state;
        uint64_t times;
        bool changed;
    };
    const std::vector<Pass> passes = {
        {0, 1, true}, // the first pass always counts as a change
        {0, 1, false}, {2, 1, true},  {2, 1, false}, // a condition, then once more
        {2, 3, false}, {13, 1, true}, // another condition: 4 repeats of the first
        {0, 1, true},  {0, 1, false}, {5, 2, true}, // fine again (no repeat to tell), a new one counting 2
        {0, 0, true}, // ...of which 1 repeated
    };
    LogOnce log("Test");
    StdoutCapture out;
    for (size_t i = 0; i < passes.size(); ++i)
        EXPECT_EQ(log.changed(passes[i].state, passes[i].times), passes[i].changed) << "pass " << i;
    EXPECT_EQ(log.state(), 0);
    EXPECT_EQ(out.text(),
              "I (Test): previous message repeated 4 times\n"
              "I (Test): previous message repeated 1 times\n");

    // A growing count: its 1st, 2nd, 4th, 8th... event are logged.
    LogOnce count("Count");
    std::vector<uint64_t> logged;
    StdoutCapture counted;
    for (uint64_t total : {0, 0, 1, 1, 2, 3, 3, 7, 8, 9, 15, 16})
        if (count.reached(total)) logged.push_back(total);
    EXPECT_EQ(logged, (std::vector<uint64_t>{1, 2, 7, 8, 16}));
    EXPECT_EQ(counted.text(),
              "I (Count): previous message repeated 1 times\n" // the 3rd
              "I (Count): previous message repeated 3 times\n" // the 5th to 7th
              "I (Count): previous message repeated 7 times\n");

    LogOnce untagged;
    StdoutCapture quiet;
    untagged.changed(7);
    untagged.changed(7);
    untagged.changed(8);
    EXPECT_EQ(quiet.text(), "");
}
