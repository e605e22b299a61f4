// The float node: taper, knob steps, text parsing and display, and its stored image.
#include "params/NodeFloat.h"
#include "params/Storage.h"
#include "porting/Nvs.h"

#include "KeepNode.h"
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

namespace {

int calls = 0;
void count(Node*)
{
    ++calls;
}

NodeFloat* make(float min, float max, float def, float shape, bool inverted = false, const char* unit = "",
                int decimals = -1)
{
    auto* node = keep(new NodeFloat(nullptr, "f", "F", min, max, def, unit, shape, inverted, decimals));
    node->setOnChange(count);
    return node;
}

} // namespace

TEST(NodeFloat, TaperMeetsShapeAtMiddleAndInvertsBack)
{
    auto* freq = make(20, 20000, 1000, 0.2f);
    freq->fromSlider(0.5f);
    EXPECT_NEAR(freq->getValue(), 4016.0f, 0.01f);
    EXPECT_NEAR(freq->toSlider(), 0.5f, 1e-5f);

    struct Case {
        float shape;
        bool linear;
    } cases[] = {{0.5f, true},   {0.495f, true}, {0.505f, true}, {0.49f, false},
                 {0.51f, false}, {0.2f, false},  {0.8f, false}};
    for (const auto& c : cases) {
        auto* node = make(0, 100, 0, c.shape);
        node->fromSlider(0.5f);
        float expected = c.linear ? 50.0f : 100.0f * c.shape;
        EXPECT_NEAR(node->getValue(), expected, 1e-3f) << c.shape;
        for (float p : {0.0f, 0.1f, 0.37f, 0.9f, 1.0f}) {
            node->fromSlider(p);
            EXPECT_NEAR(node->toSlider(), p, 1e-4f) << c.shape << " at " << p;
        }
    }
}

TEST(NodeFloat, ShapeOutsideTheUnitIntervalTurnsIntoHalf)
{
    for (float shape : {0.0f, -1.0f, 1.0f, 3.0f}) {
        auto* node = make(0, 10, 0, shape);
        EXPECT_NE(node->getDescription().find(",\"shape\":" + std::to_string(shape)), std::string::npos);
        node->fromSlider(0.25f);
        EXPECT_FLOAT_EQ(node->getValue(), 2.5f);
        EXPECT_FLOAT_EQ(node->getShape(), 0.5f);
        EXPECT_NE(node->getDescription().find(",\"shape\":0.500000,"), std::string::npos);
    }
}

TEST(NodeFloat, SliderClampsPositionAndResultAndAlwaysNotifies)
{
    struct Case {
        bool inverted;
        float position;
        float expected;
    } cases[] = {{false, 1.5f, 240}, {false, -1, 30}, {true, 1.5f, 30}, {true, -1, 240}, {false, NAN, 30}};
    for (const auto& c : cases) {
        auto* node = make(30, 240, 120, 0.3f, c.inverted);
        calls = 0;
        node->fromSlider(c.position);
        node->fromSlider(c.position);
        EXPECT_EQ(node->getValue(), c.expected) << c.position;
        EXPECT_EQ(calls, 2);
        EXPECT_GE(node->getValue(), 30);
        EXPECT_LE(node->getValue(), 240);
    }
}

TEST(NodeFloat, KnobStepsFiftyTimesOverTheTravel)
{
    auto* node = make(0, 100, 0, 0.5f);
    for (int i = 0; i < 25; ++i) node->edit(true);
    EXPECT_NEAR(node->getValue(), 50.0f, 1e-3f);
    node->setValue(100);
    calls = 0;
    node->edit(true);
    EXPECT_EQ(node->getValue(), 100);
    EXPECT_EQ(calls, 1);

    auto* inverted = make(0, 100, 50, 0.5f, true);
    inverted->edit(true);
    EXPECT_NEAR(inverted->getValue(), 48.0f, 1e-3f);
}

TEST(NodeFloat, TextIsRefusedWhenOutOfRangeOrNotFinite)
{
    struct Case {
        const char* text;
        bool result;
        float value;
    } cases[] = {
        {"250", false, 100},       {"29.9", false, 100}, {"nan", false, 100}, {"inf", false, 100},
        {"-inf", false, 100},      {"1e50", false, 100}, {"100", false, 100}, {"200", true, 200},
        {" 31.5xyz", true, 31.5f}, {"", true, 120},      {"abc", true, 120},  {"1.5e2,\"x\":1", true, 150},
    };
    for (const auto& c : cases) {
        auto* node = make(30, 240, 120, 0.5f);
        node->setValue(100);
        calls = 0;
        EXPECT_EQ(node->fromString(c.text), c.result) << c.text;
        EXPECT_EQ(node->getValue(), c.value) << c.text;
        EXPECT_EQ(calls, c.result ? 1 : 0) << c.text;
    }
}

TEST(NodeFloat, SetValueAndResetClamp)
{
    auto* node = make(30, 240, 300, 0.5f);
    EXPECT_EQ(node->getValue(), 300); // the default is kept as given
    EXPECT_TRUE(node->setValue(1000));
    EXPECT_EQ(node->getValue(), 240);
    EXPECT_FALSE(node->setValue(1000));
    EXPECT_FALSE(node->setValue(NAN));
    node->setValue(50);
    node->reset();
    EXPECT_EQ(node->getValue(), 240);
}

TEST(NodeFloat, DisplayAndJsonNumbers)
{
    struct Case {
        int decimals;
        const char* unit;
        float value;
        const char* text;
    } cases[] = {
        {7, "dB", 12.5f, "12.50 dB"}, {-3, "", 12.5f, "12.50"}, {0, "BPM", 120, "120 BPM"},
        {1, "ms", 3.25f, "3.2 ms"},   {5, "", 1, "1.00000"},
    };
    for (const auto& c : cases) {
        auto* node = make(0, 1000, c.value, 0.5f, false, c.unit, c.decimals);
        EXPECT_EQ(node->toString(), c.text);
    }
    auto* node = make(-50, 50, 0.1f, 0.5f, false, "", 9);
    EXPECT_EQ(node->getValueJSON(), "\"value\":0.100000");
    EXPECT_EQ(node->getDescription(),
              ",\"min\":-50.000000,\"max\":50.000000,\"def\":0.100000,\"unit\":\"\",\"shape\":0.500000,\"inv\":0,"
              "\"dec\":-1");
    EXPECT_EQ(make(0, 1, 0, 0.5f, true)->getDescription().find(",\"inv\":1,") != std::string::npos, true);
}

TEST(NodeFloat, StoredImageIsFourBytesAndCorruptFilesAreRepaired)
{
    auto* root = keep(new NodeFloat(nullptr, "root", "", 0, 1, 0, "", 0.5f, false));
    auto* plain = new NodeFloat(root, "plain", "", 0, 100, 10, "", 0.5f, false);
    int size = 0;
    void* data = plain->getStorageData(&size);
    ASSERT_EQ(size, 4);
    float image;
    std::memcpy(&image, data, sizeof image);
    EXPECT_EQ(image, 10.0f);

    struct Case {
        const char* name;
        float stored;
        float expected;
    } cases[] = {
        {"a", 42.0f, 42.0f}, {"b", NAN, 10.0f}, {"c", INFINITY, 10.0f}, {"d", 500.0f, 100.0f}, {"e", -3.0f, 0.0f}};
    Storage::open();
    for (const auto& c : cases) {
        auto* node = new NodeFloat(root, c.name, "", 0, 100, 10, "", 0.5f, false);
        node->createId();
        ASSERT_EQ(nvs_set_blob(Storage::handle, node->getStorageId(), &c.stored, sizeof c.stored), 0);
        EXPECT_TRUE(Storage::addItem(node)) << c.name;
        EXPECT_EQ(node->getValue(), c.expected) << c.name;
    }
}
