// Timer nodes: the clock forms and the one-second knob.
#include "params/NodeTimer.h"

#include "KeepNode.h"

#include <gtest/gtest.h>

TEST(NodeTimer, ClockForms)
{
    struct Case {
        float seconds;
        const char* unit;
        const char* text;
    } cases[] = {
        {3725, "hh:mm:ss", "1:02:05"}, {3725, "mm:ss", "62:05"},   {59.9f, "mm:ss", "0:59"},
        {0, "mm:ss", "0:00"},          {0, "hh:mm:ss", "0:00:00"}, {86399, "hh:mm:ss", "23:59:59"},
        {3725, "s", "3725 s"},         {12.4f, "", "12"}, // the plain float form, no decimals
    };
    for (const auto& c : cases) {
        auto* node = keep(new NodeTimer(nullptr, "t", "Timer", 0, 100000, c.seconds, c.unit));
        EXPECT_EQ(node->toString(), c.text) << c.seconds << " " << c.unit;
    }
}

TEST(NodeTimer, KnobStepsOneSecondWithinRange)
{
    auto* node = keep(new NodeTimer(nullptr, "t", "Timer", 0, 10, 9, "mm:ss"));
    node->edit(true);
    EXPECT_EQ(node->getValue(), 10.0f);
    node->edit(true);
    EXPECT_EQ(node->getValue(), 10.0f);
    for (int i = 0; i < 12; ++i) node->edit(false);
    EXPECT_EQ(node->getValue(), 0.0f);
    EXPECT_EQ(node->getDescription(),
              ",\"min\":0.000000,\"max\":10.000000,\"def\":9.000000,\"unit\":\"mm:ss\",\"shape\":0.500000,\"inv\":0,"
              "\"dec\":0");
}
