// Enumerated and on/off nodes.
#include "params/NodeOnOff.h"
#include "params/Storage.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

int calls = 0;
void count(Node*)
{
    ++calls;
}

NodeEnum* make(std::vector<const char*> options, const char* def)
{
    auto* node = keep(new NodeEnum(nullptr, "e", "E", std::move(options), def));
    node->setOnChange(count);
    return node;
}

} // namespace

TEST(NodeEnum, OnOffFormsAndIndex)
{
    auto* node = keep(new NodeOnOff(nullptr, "Enable", "OFF"));
    EXPECT_STREQ(node->getName(), "on_off");
    EXPECT_EQ(node->getIndex(), 1);
    EXPECT_EQ(node->getValueJSON(), "\"value\":\"OFF\"");
    EXPECT_EQ(node->getDescription(), ",\"def\":\"OFF\",\"options\":[\"ON\",\"OFF\"]");
    EXPECT_STREQ(node->getType(), "enum");
    node->setByIndex(0);
    EXPECT_TRUE(node->isValue(NodeOnOff::ON));
    EXPECT_FALSE(node->isValue("on"));
    calls = 0;
    node->setOnChange(count);
    node->edit(true); // already on: still notifies
    EXPECT_EQ(calls, 1);
    node->edit(false);
    EXPECT_EQ(node->toString(), "OFF");
}

TEST(NodeEnum, KnobStopsAtEndsToggleWraps)
{
    struct Case {
        const char* start;
        bool up;
        const char* edited;
        const char* toggled;
    } cases[] = {
        {"c", true, "c", "a"},  {"a", false, "a", "b"}, {"b", true, "c", "c"},
        {"b", false, "a", "c"}, {"zz", true, "b", "b"}, // no option: counts as position 0
    };
    for (const auto& c : cases) {
        auto* node = make({"a", "b", "c"}, c.start);
        if (std::string(c.start) == "zz") {
            EXPECT_EQ(node->toString(), "");
        }
        calls = 0;
        node->edit(c.up);
        EXPECT_EQ(node->toString(), c.edited) << c.start;
        EXPECT_EQ(calls, 1);
        auto* other = make({"a", "b", "c"}, c.start);
        other->toggle();
        EXPECT_EQ(other->toString(), c.toggled) << c.start;
    }
    auto* single = make({"only"}, "");
    single->toggle();
    EXPECT_EQ(single->toString(), "only");
    single->edit(false);
    EXPECT_EQ(single->toString(), "only");
    auto* none = make({}, "");
    calls = 0;
    none->edit(true);
    none->toggle();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(none->getDescription(), ",\"def\":\"\",\"options\":[]");
}

TEST(NodeEnum, TextNeedsQuotesAndAnOption)
{
    auto* node = make({"ON", "OFF"}, "OFF");
    StdoutCapture out;
    struct Case {
        const char* text;
        bool result;
        const char* value;
    } cases[] = {{"ON", false, "OFF"}, {"\"ON\"", true, "ON"}, {"\"ON\"", false, "ON"}, {"\"x\"", false, "ON"},
                 {"\"", false, "ON"},  {"\"\"", false, "ON"},  {"\"OFF", false, "ON"}};
    for (const auto& c : cases) {
        EXPECT_EQ(node->fromString(c.text), c.result) << c.text;
        EXPECT_EQ(node->toString(), c.value) << c.text;
    }
    EXPECT_EQ(out.text(), "");
}

TEST(NodeEnum, SetValueWarnsOnUnknownText)
{
    auto* node = make({"a", "b"}, "nope");
    EXPECT_EQ(node->toString(), "");
    EXPECT_EQ(node->getIndex(), -1);
    StdoutCapture out;
    node->setValue("x");
    node->reset();
    node->setByIndex(-1);
    node->setByIndex(2);
    EXPECT_EQ(out.text(), "W (Node Enum): Value Not found\nW (Node Enum): Value Not found\n");
    EXPECT_EQ(node->toString(), "");
    calls = 0;
    node->setValue("b");
    node->setValue("b");
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(node->hasValue("a"));
    EXPECT_FALSE(node->hasValue("c"));
    node->addOption("c");
    EXPECT_EQ(node->getItemCount(), 3);
    node->setByIndex(2);
    EXPECT_EQ(node->getIndex(), 2);
}

TEST(NodeEnum, StoredTextLoadsOnlyWhenItIsAnOption)
{
    auto* root = keep(new NodeOnOff(nullptr, "root", "", "OFF"));
    auto* good = new NodeOnOff(root, "good", "", "OFF");
    auto* bad = new NodeOnOff(root, "bad", "", "OFF");
    Storage::open();
    for (auto [node, text] : {std::pair{good, "ON"}, std::pair{bad, "MAYBE"}}) {
        node->createId();
        ASSERT_EQ(nvs_set_str(Storage::handle, node->getStorageId(), text), 0);
        Storage::addItem(node);
    }
    EXPECT_EQ(good->toString(), "ON");
    EXPECT_EQ(bad->toString(), "OFF");
    // The stored file follows the value.
    good->setValue("OFF");
    good->storeStorage();
    char buffer[16];
    size_t size = sizeof buffer;
    ASSERT_EQ(nvs_get_str(Storage::handle, good->getStorageId(), buffer, &size), 0);
    EXPECT_STREQ(buffer, "OFF");
}

TEST(NodeEnum, ReadersOnOtherThreadsSeeWholeOptions)
{
    auto* node = make({"first option", "second"}, "second");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) node->setByIndex(i % 2);
        stop = true;
    });
    int bad = 0;
    while (!stop) {
        std::string seen = node->toString();
        if (seen != "first option" && seen != "second") ++bad;
    }
    writer.join();
    EXPECT_EQ(bad, 0);
}
