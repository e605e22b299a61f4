// Temperature nodes and the global unit selector.
#include "params/NodeTemp.h"
#include "params/NodeEnum.h"
#include "params/NodeItem.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <gtest/gtest.h>

namespace {

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "", "", "system"));
    NodeItem* app = keep(new NodeItem(root, "app", "Application", "", "system"));
    NodeItem* sys = keep(new NodeItem(root, "sys", "System", "", "system"));
};

const std::string kDegC =
    "\xB0"
    "C";
const std::string kDegF =
    "\xB0"
    "F";

} // namespace

TEST(NodeTemp, FirstNodeCreatesTheStoredUnitSelector)
{
    Tree tree;
    StdoutCapture out;
    auto* a = keep(new NodeTemp(tree.app, "ta", "A", -40, 150, 20, 0.5f, false, 0));
    keep(new NodeTemp(tree.app, "tb", "B", -40, 150, 20, 0.5f, false, 0));
    EXPECT_EQ(out.text(), "I (NodeTemp): Creating unit node\nI (Storage): Initializing storage\n");
    NodeEnum* unit = NodeTemp::temp_unit.load();
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->getPath(), "root\\sys\\temp_unit");
    EXPECT_EQ(unit->getJSON(DESCRIPTION_FULL),
              "root\\sys\\temp_unit:{\"desc\":\"Temperature unit\",\"value\":\"C\",\"type\":\"enum\",\"def\":\"C\","
              "\"options\":[\"C\",\"F\"]}");
    EXPECT_EQ(read_file(test_root() + "/home/storage/" + unit->getStorageId()), std::string("C\0", 2));
    EXPECT_EQ(a->getUnit(), std::string("C"));
    EXPECT_EQ(a->getValueJSON(), "\"value\":20.000000"); // the remote side always sees Celsius
}

TEST(NodeTemp, ShownInTheChosenUnit)
{
    Tree tree;
    struct Case {
        const char* unit;
        float celsius;
        int decimals;
        std::string text;
    } cases[] = {
        {"C", 20.0f, 0, "20 " + kDegC},      {"F", 20.0f, 0, "68 " + kDegF},   {"F", 37.5f, 1, "99.5 " + kDegF},
        {"C", 21.25f, -1, "21.25 " + kDegC}, {"F", -40.0f, 0, "-40 " + kDegF}, {"F", 0.0f, 2, "32.00 " + kDegF},
    };
    for (const auto& c : cases) {
        auto* node = keep(new NodeTemp(tree.app, "t", "T", -50, 150, c.celsius, 0.5f, false, c.decimals));
        NodeTemp::temp_unit.load()->setValue(c.unit);
        EXPECT_EQ(node->toString(), c.text) << c.unit << " " << c.celsius;
        EXPECT_EQ(NodeTemp::getTemperatureUnit(), c.unit == std::string("F") ? kDegF : kDegC);
    }
    NodeTemp::temp_unit.load()->setValue("F");
    EXPECT_FLOAT_EQ(NodeTemp::convertTemperature(100.0f), 212.0f);
    EXPECT_FLOAT_EQ(NodeTemp::convertDeltaTemperature(10.0f), 18.0f);
    NodeTemp::temp_unit.load()->setValue("C");
    EXPECT_FLOAT_EQ(NodeTemp::convertTemperature(100.0f), 100.0f);
    EXPECT_FLOAT_EQ(NodeTemp::convertDeltaTemperature(10.0f), 10.0f);
}

TEST(NodeTemp, KnobStepsWholeDegreesOfTheChosenUnit)
{
    Tree tree;
    auto* node = keep(new NodeTemp(tree.app, "t", "T", 0, 30, 20, 0.5f, false, 0));
    NodeEnum* unit = NodeTemp::temp_unit.load();
    struct Step {
        const char* unit;
        bool up;
        std::string shown;
    } steps[] = {
        {"C", true, "21 " + kDegC},  {"C", false, "20 " + kDegC}, {"F", true, "70 " + kDegF},
        {"F", true, "72 " + kDegF},  {"F", false, "70 " + kDegF}, {"F", false, "68 " + kDegF},
        {"F", false, "66 " + kDegF},
    };
    for (const auto& s : steps) {
        unit->setValue(s.unit);
        node->edit(s.up);
        EXPECT_EQ(node->toString(), s.shown) << s.unit << " " << s.up;
    }
    // Clamped to the range in either unit.
    unit->setValue("C");
    for (int i = 0; i < 40; ++i) node->edit(true);
    EXPECT_EQ(node->getValue(), 30.0f);
    unit->setValue("F");
    node->edit(true);
    EXPECT_EQ(node->getValue(), 30.0f);
}

TEST(NodeTemp, StoredUnitOfAnEarlierRun)
{
    Storage::open();
    ASSERT_EQ(nvs_set_str(0, make_storage_id("root\\sys\\temp_unit").c_str(), "F"), 0);
    Tree tree;
    auto* node = keep(new NodeTemp(tree.app, "t", "T", 0, 100, 100, 0.5f, false, 0));
    EXPECT_EQ(node->toString(), "212 " + kDegF);
}

TEST(NodeTemp, UnitFunctionsWithoutATemperatureNode)
{
    // No tree known yet: Celsius, nothing created.
    StdoutCapture none;
    EXPECT_EQ(NodeTemp::getTemperatureUnit(), kDegC);
    EXPECT_EQ(none.text(), "");
    EXPECT_EQ(NodeTemp::temp_unit.load(), nullptr);

    // Once the system tree stores its settings, the first use creates the selector there.
    Tree tree;
    auto* alias = keep(new NodeItem(tree.sys, "alias", "Alias", "", "string"));
    Storage::addItem(alias);
    StdoutCapture out;
    EXPECT_FLOAT_EQ(NodeTemp::convertTemperature(10.0f), 10.0f);
    EXPECT_EQ(out.text(), "I (NodeTemp): Creating unit node\n");
    ASSERT_NE(NodeTemp::temp_unit.load(), nullptr);
    EXPECT_EQ(NodeTemp::temp_unit.load()->getParent(), tree.sys);
}
