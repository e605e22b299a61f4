#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/KeepNode.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "ui/DrawerFastNodes.h"
#include "ui/DrawerNodeFloat.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

namespace {

using namespace EventCode;

int closes()
{
    int code, n = 0;
    while (EventDispatcher::eventQueue.try_dequeue(code)) n += code == CLOSE;
    return n;
}

int lit_in_bar()
{
    int n = 0;
    for (int x = 11; x < 117; x++)
        for (int y = 29; y < 45; y++) n += (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1;
    return n;
}

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "root", "", "system"));
    NodeFloat* level = new NodeFloat(root, "level", "Level", 0, 100, 50, "%", 0.5f, false);
    NodeEnum* onOff = new NodeEnum(root, "on_off", "Enable", {"OFF", "ON"}, "ON");
};

TEST(DrawerNodeFloat, StepsTogglesAndPassesOnWhatItDoesNotTake)
{
    Tree tree;
    auto* drawer = new DrawerNodeFloat(tree.level, KNOB1 + TURN_UP, KNOB1 + TURN_DOWN, 2, "Level", tree.onOff,
                                       KNOB1 + PUSH_CLICK, "ON");
    float start = tree.level->getValue();
    EXPECT_FALSE(drawer->onEvent(KNOB1 + TURN_UP)) << "codes of 16 and above pass on, even when used";
    EXPECT_GT(tree.level->getValue(), start);
    drawer->onEvent(KNOB1 + TURN_DOWN);
    drawer->onEvent(KNOB1 + TURN_DOWN);
    EXPECT_LT(tree.level->getValue(), start);
    drawer->onEvent(KNOB1 + PUSH_CLICK);
    EXPECT_STREQ(tree.onOff->getValueText(), "OFF");

    struct Case {
        int code;
        bool consumed;
    };
    for (Case c : {Case{1, false}, Case{3, false}, Case{9, false}, Case{10, true}, Case{15, true}, Case{16, false},
                   Case{TICK, true}, Case{PAIR_AB, false}}) {
        EXPECT_EQ(drawer->onEvent(c.code), c.consumed) << c.code;
    }
    EventDispatcher::removeListener(drawer);
}

TEST(DrawerNodeFloat, ClosesOnceAfterTheIdleTimeInSeconds)
{
    Tree tree;
    auto* drawer = new DrawerNodeFloat(tree.level, MAIN + TURN_UP, MAIN + TURN_DOWN, 2, "", nullptr, -1, "");
    closes();
    // Each tick counts two against the ten of two seconds: the sixth tick without an edit closes it;
    // an edit restarts the count.
    for (int i = 0; i < 5; i++) drawer->onEvent(TICK);
    drawer->onEvent(MAIN + TURN_UP);
    for (int i = 0; i < 5; i++) drawer->onEvent(TICK);
    EXPECT_EQ(closes(), 0);
    drawer->onEvent(TICK);
    for (int i = 0; i < 5; i++) drawer->onEvent(TICK);
    EXPECT_EQ(closes(), 1) << "one close, however many ticks reach it before it goes";
    EventDispatcher::removeListener(drawer);
}

TEST(DrawerNodeFloat, BarFilledByTheSliderOrHatchedWhenOff)
{
    Tree tree;
    auto* drawer = new DrawerNodeFloat(tree.level, MAIN + TURN_UP, MAIN + TURN_DOWN, 2, "Level", tree.onOff,
                                       MAIN + PUSH_CLICK, "ON");
    std::vector<int> lit;
    for (const char* value : {"0", "100"}) {
        tree.level->fromString(value);
        EXPECT_TRUE(drawer->draw());
        lit.push_back(lit_in_bar());
    }
    EXPECT_EQ(lit[0], 0);
    EXPECT_EQ(lit[1], 106 * 16);
    tree.onOff->setValue("OFF");
    drawer->draw();
    EXPECT_GT(lit_in_bar(), 100);
    EXPECT_LT(lit_in_bar(), 106 * 16 / 2) << "hatched, with the OFF box cleared in the middle";
    EventDispatcher::removeListener(drawer);
}

TEST(DrawerFastNodes, LevelInTenthsAndClickCloses)
{
    auto* drawer = new DrawerFastNodes;
    for (int i = 0; i < 10; i++) EXPECT_TRUE(drawer->onEvent(MAIN + TURN_UP));
    EXPECT_NEAR(drawer->level, 0.9f, 1e-4);
    drawer->draw();
    EXPECT_EQ(lit_in_bar(), int(drawer->level * 107) * 16);
    for (int i = 0; i < 12; i++) drawer->onEvent(MAIN + TURN_DOWN);
    EXPECT_NEAR(drawer->level, 0.0f, 1e-4);
    EXPECT_TRUE(drawer->onEvent(KNOB2 + TURN_UP));
    closes();
    drawer->onEvent(MAIN + PUSH_CLICK);
    EXPECT_EQ(closes(), 1);
    EventDispatcher::removeListener(drawer);
}

} // namespace
