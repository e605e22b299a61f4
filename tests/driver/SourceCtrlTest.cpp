// The analog controller source: clamping and smoothing of the reading, the settling time, passing
// big moves at once and small ones only within a second after.
#include "driver/SourceCtrl.h"
#include "params/Control.h"
#include "support/TempRoot.h"

#include "ControlRecorder.h"

#include <gtest/gtest.h>

namespace {

class ClockedCtrl : public SourceCtrl {
public:
    using SourceCtrl::SourceCtrl;
    uint64_t time = 1000000000;

protected:
    uint64_t now() override { return time; }
};

struct Bench {
    int reading = 0;
    ClockedCtrl source{"ctrl", "Ctrl", 3, [this](int channel) {
                           lastChannel = channel;
                           return reading;
                       }};
    ControlRecorder recorder;
    int lastChannel = -1;

    Bench() { Control::linkSource("ctrl", &recorder); }

    // Passes of 10 ms at one reading; returns the levels passed meanwhile.
    std::vector<int> run(int value, int passes)
    {
        reading = value;
        size_t before = recorder.messages.size();
        for (int i = 0; i < passes; ++i) {
            source.time += 10000;
            source.tasks();
        }
        std::vector<int> levels;
        for (size_t i = before; i < recorder.messages.size(); ++i) {
            EXPECT_EQ(recorder.messages[i].size(), 1u);
            levels.push_back(recorder.messages[i][0]);
        }
        return levels;
    }
};

} // namespace

TEST(SourceCtrl, SettlesQuietlyThenPassesBigMovesAndFollowsForOneSecond)
{
    Bench b;
    b.reading = 1600; // level 100 when steady
    StdoutCapture out;
    b.source.tasks(); // the first pass sets up
    EXPECT_EQ(out.text(), "I (SourceCtrl): Driver install done\n");
    EXPECT_EQ(b.lastChannel, 3);

    // The first two seconds: followed, nothing passed.
    EXPECT_TRUE(b.run(3000, 50).empty());
    EXPECT_TRUE(b.run(1600, 140).empty());

    // A drift of a few steps long after the last jump passes nothing.
    EXPECT_TRUE(b.run(1680, 100).empty());
    EXPECT_TRUE(b.run(1600, 100).empty());

    // A big move passes at once, then every change follows for one second.
    std::vector<int> levels = b.run(1920, 30);
    ASSERT_FALSE(levels.empty());
    EXPECT_GT(levels.front(), 110);
    EXPECT_GE(levels.back(), 119);
    for (size_t i = 1; i < levels.size(); ++i) EXPECT_GT(levels[i], levels[i - 1]);
    std::vector<int> small = b.run(1850, 30); // a small change still inside the second
    ASSERT_FALSE(small.empty());
    EXPECT_LE(small.back(), 116);
    // After the second: small changes are ignored again.
    b.run(1850, 100);
    EXPECT_TRUE(b.run(1800, 100).empty());
}

TEST(SourceCtrl, ReadingIsClampedToTwelveBits)
{
    struct Case {
        int reading;
        int level;
    } cases[] = {{5000, 255}, {-50, 0}, {4095, 255}, {2048, 128}}; // 2048 settles from above
    Bench b;
    b.source.tasks();
    b.run(0, 250); // past the settling time
    for (const Case& c : cases) {
        std::vector<int> levels = b.run(c.reading, 120);
        ASSERT_FALSE(levels.empty()) << c.reading;
        EXPECT_EQ(levels.back(), c.level) << c.reading;
    }
}

TEST(SourceCtrl, WithoutReaderNothingHappens)
{
    ClockedCtrl source("ctrl", "Ctrl", 0);
    ControlRecorder recorder;
    Control::linkSource("ctrl", &recorder);
    StdoutCapture out;
    for (int i = 0; i < 400; ++i) {
        source.time += 10000;
        source.tasks();
    }
    EXPECT_EQ(out.text(), "");
    EXPECT_FALSE(source.isInitialized());
    EXPECT_TRUE(recorder.messages.empty());
}
