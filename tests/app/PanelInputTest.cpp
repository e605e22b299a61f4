#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/PanelInput.h"
#include "ui/EventCode.h"

namespace {

// Panel bits of the unit. Every input rests at 1 (pulled up) in these tests; pressing pulls to 0.
constexpr int kFootA = 23, kFootB = 16, kFootC = 0;
constexpr int kMainA = 21, kMainB = 20, kMainPush = 22;
constexpr int kKnob3Push = 10;

uint32_t bits = 0;
std::vector<int> posted;

int read_bit(int i)
{
    return (bits >> i) & 1;
}

void record(int code)
{
    posted.push_back(code);
}

// Feeds frames at the unit's 5000 frames per second... thinned to one frame per millisecond, which
// keeps every timing of the machines and makes the tests quick.
class Panel {
public:
    explicit Panel(int idleFrames = 0) : idleFrames(idleFrames)
    {
        bits = 0xFFFFFF;
        posted.clear();
        run(1);
    }
    void run(int ms)
    {
        for (int i = 0; i < ms; i++) {
            input.frame(read_bit, now, ccw, idleFrames);
            now += 1000;
        }
    }
    void down(int bit) { bits &= ~(1u << bit); }
    void up(int bit) { bits |= 1u << bit; }
    // Quadrature state of the main encoder: line A x 2 + line B, active low on the wire.
    void mainState(int state)
    {
        (state & 2) ? up(kMainA) : down(kMainA);
        (state & 1) ? up(kMainB) : down(kMainB);
    }

    PanelInput input{record};
    int64_t now = 1000000000;
    bool ccw = false;
    int idleFrames;
};

TEST(PanelInput, PushesAndFootswitchesByHoldTime)
{
    using namespace EventCode;
    struct Case {
        const char* what;
        int bit;
        int holdMs;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"shorter than the debounce", kMainPush, 40, {}},
        {"one second", kMainPush, 1000, {MAIN + PUSH_PRESS, MAIN + PUSH_CLICK}},
        {"two seconds", kMainPush, 2000, {MAIN + PUSH_PRESS, MAIN + PUSH_LONG, MAIN + PUSH_LONG_RELEASE}},
        {"ten seconds: one long press",
         kKnob3Push,
         10000,
         {KNOB3 + PUSH_PRESS, KNOB3 + PUSH_LONG, KNOB3 + PUSH_LONG_RELEASE}},
        {"footswitch A", kFootA, 300, {MAIN + FOOT_PRESS, MAIN + FOOT_CLICK}},
        {"footswitch B held", kFootB, 1700, {KNOB1 + FOOT_PRESS, KNOB1 + FOOT_LONG, KNOB1 + FOOT_LONG_RELEASE}},
        {"footswitch C", kFootC, 100, {KNOB2 + FOOT_PRESS, KNOB2 + FOOT_CLICK}},
    };
    for (const Case& c : cases) {
        Panel panel;
        panel.run(100);
        panel.down(c.bit);
        panel.run(c.holdMs);
        panel.up(c.bit);
        panel.run(200);
        EXPECT_EQ(posted, c.expected) << c.what;
    }
}

TEST(PanelInput, PressAndLongPressComeAtTheirTimes)
{
    Panel panel;
    panel.down(kMainPush);
    panel.run(50);
    EXPECT_TRUE(posted.empty()) << "still bouncing";
    panel.run(2);
    EXPECT_EQ(posted, std::vector<int>{12});
    panel.run(1490);
    EXPECT_EQ(posted.size(), 1u);
    panel.run(20);
    EXPECT_EQ(posted, (std::vector<int>{12, 14}));
}

TEST(PanelInput, FootswitchPairs)
{
    using namespace EventCode;
    struct Case {
        const char* what;
        int first, second;
        int gapMs; // second footswitch pressed this long after the first
        int holdMs; // both held
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"A and B together, one second", kFootA, kFootB, 0, 1000, {PAIR_AB}},
        {"B and C within 50 ms", kFootC, kFootB, 30, 500, {PAIR_BC}},
        {"A and B held two seconds", kFootA, kFootB, 0, 2000, {}},
        {"A well before B", kFootA, kFootB, 200, 500, {MAIN + FOOT_PRESS, PAIR_AB}},
        {"A and C are no pair",
         kFootA,
         kFootC,
         0,
         300,
         {MAIN + FOOT_PRESS, KNOB2 + FOOT_PRESS, MAIN + FOOT_CLICK, KNOB2 + FOOT_CLICK}},
    };
    for (const Case& c : cases) {
        Panel panel;
        panel.run(100);
        panel.down(c.first);
        panel.run(c.gapMs);
        panel.down(c.second);
        panel.run(c.holdMs);
        panel.up(c.first);
        panel.up(c.second);
        panel.run(300);
        EXPECT_EQ(posted, c.expected) << c.what;
    }
}

TEST(PanelInput, QuadratureTurns)
{
    using namespace EventCode;
    struct Case {
        const char* what;
        bool ccw;
        std::vector<int> states; // each held 5 ms; a negative entry pauses that many ms
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"one detent up (event on the third step)", false, {2, 3, 1, 0}, {MAIN + TURN_UP}},
        {"one detent down", false, {1, 3, 2, 0}, {MAIN + TURN_DOWN}},
        {"two detents up", false, {2, 3, 1, 0, 2, 3, 1, 0}, {MAIN + TURN_UP, MAIN + TURN_UP}},
        {"lines swapped", true, {2, 3, 1, 0}, {MAIN + TURN_DOWN}},
        {"two steps, a 3-s pause, two steps", false, {2, 3, -3000, 1, 0}, {}},
        {"two steps, a 1-s pause, two steps", false, {2, 3, -1000, 1, 0}, {MAIN + TURN_UP}},
        {"a missed step clears the count", false, {2, 1, 0}, {}},
        {"jitter on one line", false, {2, 0, 2, 0, 2, 0}, {}},
    };
    for (const Case& c : cases) {
        Panel panel;
        panel.ccw = c.ccw;
        panel.mainState(0);
        panel.run(10); // the encoder's first state is its rest, whatever it is
        posted.clear();
        for (int s : c.states) {
            if (s < 0) {
                panel.run(-s);
                continue;
            }
            panel.mainState(s);
            panel.run(5);
        }
        EXPECT_EQ(posted, c.expected) << c.what;
    }
}

TEST(PanelInput, FirstStepOfATurnCountsFromTheEncodersOwnRest)
{
    Panel panel; // main encoder rests at state 3 here (both lines high)
    for (int s : {1, 0, 2, 3}) {
        panel.mainState(s);
        panel.run(3);
    }
    EXPECT_EQ(posted, std::vector<int>{10});
}

TEST(PanelInput, InactivityRepeatsWhileNothingMoves)
{
    constexpr int kIdleFrames = 3000; // 3 s at one frame per ms
    Panel panel(kIdleFrames);
    panel.run(2999);
    EXPECT_TRUE(posted.empty());
    panel.run(5);
    EXPECT_EQ(posted, std::vector<int>{3});

    // Footswitches do not count as handling the panel.
    posted.clear();
    panel.down(kFootA);
    panel.run(100);
    panel.up(kFootA);
    panel.run(2900);
    EXPECT_EQ(posted, (std::vector<int>{16, 17, 3}));

    // A push restarts the idle period; while it is held, no inactivity at all.
    posted.clear();
    panel.run(1000);
    panel.down(kMainPush);
    panel.run(10000);
    EXPECT_EQ(posted, (std::vector<int>{12, 14}));
    panel.up(kMainPush);
    panel.run(2990);
    EXPECT_EQ(posted, (std::vector<int>{12, 14, 15}));
    panel.run(20);
    EXPECT_EQ(posted.back(), 3);

    Panel off(0);
    off.run(20000);
    EXPECT_TRUE(posted.empty()) << "an idle time of 0 switches the event off";
}

TEST(PanelInput, InputHeldAtStartIsTakenAsReleased)
{
    bits = 0xFFFFFF & ~(1u << kMainPush);
    posted.clear();
    PanelInput input(record);
    int64_t now = 0;
    for (int i = 0; i < 500; i++, now += 1000) input.frame(read_bit, now, false, 0);
    EXPECT_TRUE(posted.empty());
    bits |= 1u << kMainPush;
    for (int i = 0; i < 200; i++, now += 1000) input.frame(read_bit, now, false, 0);
    EXPECT_EQ(posted, std::vector<int>{12}) << "its release reads as a press";
}

TEST(PanelInput, EventsOfOneFrameInPanelOrder)
{
    Panel panel;
    // Push of knob 3 and footswitch C debounced in the frame that completes a main-encoder detent
    // (the encoder rests at state 3: two steps, then the third 50 ms after the presses).
    panel.run(5);
    panel.down(kKnob3Push);
    panel.down(kFootC);
    panel.mainState(1);
    panel.run(5);
    panel.mainState(0);
    panel.run(5);
    panel.run(40);
    EXPECT_TRUE(posted.empty());
    panel.mainState(2);
    panel.run(1);
    EXPECT_EQ(posted, (std::vector<int>{246, 342, 10}));
}

} // namespace
