// Fragments at each description level, the walk with its filters, and parsing a fragment back.
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"
#include "porting/Clock.h"

#include "KeepNode.h"

#include <gtest/gtest.h>

namespace {

void waitPast(int64_t time)
{
    while (int64_t(esp_timer_get_time()) <= time) {}
}

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    NodeItem* app = new NodeItem(root, "app", "Application", "", ItemType::SYSTEM);
    NodeItem* output = new NodeItem(app, "output", "Output", "", ItemType::HFOLDER);
    NodeItem* pst = new NodeItem(output, "pst", "Preset", "", ItemType::VFOLDER);
    NodeFloat* tmp = new NodeFloat(pst, "tmp", "Preset TEMPO", 30, 240, 120, "BPM", 0.5f, false, 1);
    NodeItem* delay = new NodeItem(app, "delay", "Delay", "", ItemType::HFOLDER);
    NodeOnOff* onOff = new NodeOnOff(delay, "Enable", "OFF");
};

} // namespace

TEST(NodeJson, FragmentsAtEachLevel)
{
    Tree t;
    ASSERT_TRUE(t.tmp->setValue(125));
    EXPECT_EQ(t.tmp->getJSON(DESCRIPTION_VALUE), "root\\app\\output\\pst\\tmp:{\"value\":125.000000}");
    EXPECT_EQ(t.tmp->getJSON(DESCRIPTION_STYLE), "root\\app\\output\\pst\\tmp:{\"value\":125.000000}");
    EXPECT_EQ(t.tmp->getJSON(DESCRIPTION_FULL),
              "root\\app\\output\\pst\\tmp:{\"desc\":\"Preset TEMPO\",\"value\":125.000000,\"type\":\"float\","
              "\"min\":30.000000,\"max\":240.000000,\"def\":120.000000,\"unit\":\"BPM\",\"shape\":0.500000,"
              "\"inv\":0,\"dec\":1}");
    t.tmp->setLinkable(true);
    EXPECT_EQ(t.tmp->getJSON(DESCRIPTION_FULL),
              "root\\app\\output\\pst\\tmp:{\"desc\":\"Preset TEMPO\",\"value\":125.000000,\"type\":\"float\","
              "\"link\":true,\"min\":30.000000,\"max\":240.000000,\"def\":120.000000,\"unit\":\"BPM\","
              "\"shape\":0.500000,\"inv\":0,\"dec\":1}");
    EXPECT_EQ(t.tmp->getJSON(DescriptionLevel(7)), t.tmp->getJSON(DESCRIPTION_FULL));

    t.onOff->setValue(NodeOnOff::ON);
    t.onOff->setStyleVisible(false);
    EXPECT_EQ(t.onOff->getJSON(DESCRIPTION_VALUE), "root\\app\\delay\\on_off:{\"value\":\"ON\"}");
    EXPECT_EQ(t.onOff->getJSON(DESCRIPTION_STYLE),
              "root\\app\\delay\\on_off:{\"value\":\"ON\",\"style\":\"visible:false;\"}");
    EXPECT_EQ(t.onOff->getJSON(DESCRIPTION_FULL),
              "root\\app\\delay\\on_off:{\"desc\":\"Enable\",\"value\":\"ON\",\"type\":\"enum\","
              "\"style\":\"visible:false;\",\"def\":\"OFF\",\"options\":[\"ON\",\"OFF\"]}");
}

TEST(NodeJson, WalkIsBreadthFirstJoinedByCrLf)
{
    Tree t;
    EXPECT_EQ(t.app->getJSON(DESCRIPTION_VALUE, true),
              "root\\app:{\"value\":\"\"}\r\n"
              "root\\app\\output:{\"value\":\"\"}\r\n"
              "root\\app\\delay:{\"value\":\"\"}\r\n"
              "root\\app\\output\\pst:{\"value\":\"\"}\r\n"
              "root\\app\\delay\\on_off:{\"value\":\"OFF\"}\r\n"
              "root\\app\\output\\pst\\tmp:{\"value\":120.000000}");
    EXPECT_EQ(t.app->getJSON(DESCRIPTION_VALUE, false), t.app->getJSON(DESCRIPTION_VALUE));
    // After a node: neither it nor anything before it in walk order.
    EXPECT_EQ(t.app->getJSON_after(DESCRIPTION_VALUE, true, t.pst),
              "root\\app\\delay\\on_off:{\"value\":\"OFF\"}\r\n"
              "root\\app\\output\\pst\\tmp:{\"value\":120.000000}");
    EXPECT_EQ(t.app->getJSON_after(DESCRIPTION_VALUE, true, t.tmp), "");
}

TEST(NodeJson, WalkFiltersByChangeAndStyleTime)
{
    Tree t;
    int64_t since = 0;
    for (Node* n :
         {(Node*)t.root, (Node*)t.app, (Node*)t.output, (Node*)t.pst, (Node*)t.tmp, (Node*)t.delay, (Node*)t.onOff})
        since = std::max(since, n->getTime());
    EXPECT_EQ(t.root->getJSON_after(DESCRIPTION_STYLE, true, nullptr, true, since, true), "");

    waitPast(since);
    t.tmp->setValue(130);
    t.delay->setStyleVisible(false); // a style-only change counts
    EXPECT_EQ(t.root->getJSON_after(DESCRIPTION_STYLE, true, nullptr, true, since, true),
              "root\\app\\delay:{\"value\":\"\",\"style\":\"visible:false;\"}\r\n"
              "root\\app\\output\\pst\\tmp:{\"value\":130.000000}");
    // Equal time is not a change.
    int64_t latest = std::max(t.tmp->getTime(), t.delay->getStyleTime());
    EXPECT_EQ(t.root->getJSON_after(DESCRIPTION_VALUE, true, nullptr, true, latest, false), "");
    EXPECT_EQ(t.tmp->getJSON_after(DESCRIPTION_VALUE, false, nullptr, true, latest, false),
              t.tmp->getJSON(DESCRIPTION_VALUE)); // not recursive: no filter
    // Changed nodes before or at the after node are still left out.
    EXPECT_EQ(t.root->getJSON_after(DESCRIPTION_VALUE, true, t.delay, true, since, false),
              "root\\app\\output\\pst\\tmp:{\"value\":130.000000}");
    EXPECT_EQ(t.root->getJSON_after(DESCRIPTION_VALUE, true, t.tmp, true, since, false), "");
    // A leaf always answers when asked for itself; an unchanged folder does not.
    EXPECT_EQ(t.onOff->getJSON_after(DESCRIPTION_VALUE, true, nullptr, true, since, true),
              "root\\app\\delay\\on_off:{\"value\":\"OFF\"}");
    EXPECT_EQ(t.onOff->getJSON_after(DESCRIPTION_VALUE, true, nullptr, true, since, false), "");
}

TEST(NodeJson, SplitAndPathValue)
{
    struct Case {
        const char* text;
        const char* first;
        const char* second;
        const char* left;
        const char* right;
    } cases[] = {
        {"a:{b}c", ":{", "}", "a", "b"},   {"a:{bc", ":{", "}", "a", "bc"}, {"abc", ":{", "}", "", ""},
        {"a}b:{c", ":{", "}", "a}b", "c"}, {"x=1", "=", "", "x", "1"},
    };
    for (const auto& c : cases) {
        auto [left, right] = Node::splitString(c.text, c.first, c.second);
        EXPECT_EQ(left, c.left) << c.text;
        EXPECT_EQ(right, c.right) << c.text;
    }
    EXPECT_EQ(Node::parsePathValue("root\\sys\\x:{\"value\":\"abc\"}"),
              std::make_pair(std::string("root\\sys\\x"), std::string("\"abc\"")));
    EXPECT_EQ(Node::parsePathValue("root\\sys\\x:{\"value\":1.5,\"other\":2}"),
              std::make_pair(std::string("root\\sys\\x"), std::string("1.5,\"other\":2")));
    EXPECT_EQ(Node::parsePathValue("root\\sys\\x:{\"desc\":1}").second, "");
    EXPECT_EQ(Node::parsePathValue("no fragment"), std::make_pair(std::string(), std::string()));
}

TEST(NodeJson, ParseSetsTheNamedNodeExceptReadOnlyKeys)
{
    Tree t;
    auto* name = new NodeItem(t.root, "_name", "Name", "unit", ItemType::SYSTEM);
    EXPECT_TRUE(t.root->parseJSON("root\\app\\output\\pst\\tmp:{\"value\":1.5e2,\"other\":2}"));
    EXPECT_FLOAT_EQ(t.tmp->getValue(), 150);
    EXPECT_FALSE(t.root->parseJSON("root\\app\\output\\pst\\tmp:{\"value\":150}"));
    EXPECT_TRUE(t.root->parseJSON("root\\app\\delay\\on_off:{\"value\":\"ON\"}"));
    EXPECT_TRUE(t.onOff->isValue(NodeOnOff::ON));
    EXPECT_FALSE(t.root->parseJSON("root\\_name:{\"value\":\"other\"}"));
    EXPECT_EQ(name->getText(), "unit");
    EXPECT_FALSE(t.root->parseJSON("root\\app\\missing:{\"value\":\"x\"}"));
    EXPECT_FALSE(t.root->parseJSON("garbage"));
    // Presets feed back what getJSON(0) printed.
    std::string saved = t.tmp->getJSON(DESCRIPTION_VALUE);
    t.tmp->setValue(60);
    EXPECT_TRUE(t.root->parseJSON(saved));
    EXPECT_FLOAT_EQ(t.tmp->getValue(), 150);
}
