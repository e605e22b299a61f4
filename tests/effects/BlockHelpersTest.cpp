#include "effects/BlockHelpers.h"

#include "effects/Tempo.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"

#include "BlockTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<const char*> kRateSubdivisions{"4/4", "2/4", "1/4", "Dotted 8th", "1/8", "1/16", "1/32", "Triplet"};
const std::vector<const char*> kTimeSubdivisions{"1/4", "Dotted 8th", "1/8", "1/16", "Triplet"};

std::vector<std::string> childKeys(Node* node)
{
    std::vector<std::string> keys;
    for (Node* child : node->getChildren()) keys.push_back(child->getName());
    return keys;
}

struct LinkTree {
    NodeItem root{nullptr, "root", "root", "", ItemType::SYSTEM};
    NodeItem block{&root, "mod", "Mod", "", ItemType::HFOLDER};
    NodeFloat presetTempo{&root, "tmp", "Preset TEMPO", 30, 240, 90, "BPM", 0.5f, false, 1};
    Tempo tempo{&root, nullptr};
    LinkTree() { tempo.addTempoSource(&presetTempo, "Preset"); }
};

TEST(TempoLink, FolderHoldsRawValueSubdivisionAndLockInTheAskedOrder)
{
    LinkTree& t = *fxtest::keep(new LinkTree);
    fx::TempoLink last(&t.block, "rate", "Rate", &t.tempo, {"x", "Rate", 0.05f, 8, 1, "Hz", 0.15f}, kRateSubdivisions);
    fx::TempoLink before(&t.block, "rate2", "Rate", &t.tempo, {"x", "Rate", 0.7f, 15, 4, "Hz", 0.2f}, kRateSubdivisions,
                         "Time Subdivision", fx::TempoLink::Order::LockBeforeSubdivision);
    fx::TempoLink none(&t.block, "rate3", "Rate", nullptr, {"x", "Rate", 0.7f, 15, 4, "Hz", 0.2f}, kRateSubdivisions);

    EXPECT_STREQ(last.folder()->getItemType(), "module");
    EXPECT_EQ(childKeys(last.folder()), (std::vector<std::string>{"rawdata", "sbdv", "lock"}));
    EXPECT_EQ(childKeys(before.folder()), (std::vector<std::string>{"rawdata", "lock", "sbdv"}));
    EXPECT_EQ(childKeys(none.folder()), (std::vector<std::string>{"rawdata", "sbdv"}));
    EXPECT_STREQ(last.subdivision()->getValueText(), "1/4");
    EXPECT_EQ(last.raw()->getDecimals(), -1);
    EXPECT_FLOAT_EQ(none.rateHz(), 4); // no tempo: always the raw value
}

TEST(TempoLink, LinkedRatesAndTimesFollowTheChosenTempo)
{
    struct Case {
        const char* lock;
        const char* sbdv;
        float globalBpm;
        float hz; // expected rate (raw 1 Hz)
        float ms; // expected time (raw 300 ms)
    } cases[] = {
        {"Unlocked", "1/8", 120, 1, 300}, // raw values
        {"Global", "1/4", 120, 2, 500}, // one beat of 120 BPM
        {"Global", "1/8", 120, 4, 250},           {"Global", "Dotted 8th", 120, 2.66666f, 375},
        {"Global", "Triplet", 120, 6, 166.5f},    {"Global", "1/16", 120, 8, 125},
        {"Global", "4/4", 120, 0.5f, 2000},       {"Global", "1/32", 120, 16, 62.5f},
        {"Global", "1/4", 30, 0.5f, 2000}, // 30 BPM quarter: 2000 ms
        {"Preset", "1/4", 120, 1.5f, 666.66664f}, // the preset tempo (90 BPM)
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.lock) + " " + c.sbdv);
        LinkTree& t = *fxtest::keep(new LinkTree);
        fx::TempoLink rate(&t.block, "rate", "Rate", &t.tempo, {"x", "Rate", 0.05f, 8, 1, "Hz", 0.15f},
                           kRateSubdivisions);
        fx::TempoLink time(&t.block, "dlytime", "Time", &t.tempo, {"x", "Time", 1, 2000, 300, "ms", 0.2f, false, 0},
                           kRateSubdivisions);
        t.tempo.getTempoNode()->setValue(c.globalBpm);
        for (auto* link : {&rate, &time}) {
            link->lock()->setValue(c.lock);
            link->subdivision()->setValue(c.sbdv);
        }
        EXPECT_NEAR(rate.rateHz(), c.hz, c.hz * 1e-4);
        EXPECT_NEAR(time.timeMs(), c.ms, c.ms * 1e-4);
    }
}

TEST(TempoLink, TimeOfALinkedSourceReadingZeroStaysFinite)
{
    LinkTree& t = *fxtest::keep(new LinkTree);
    auto* clock = new NodeFloat(&t.root, "clk", "Clock", 0, 300, 0, "BPM", 0.5f, false);
    t.tempo.addTempoSource(clock, "Clock");
    fx::TempoLink time(&t.block, "dlytime", "Time", &t.tempo, {"x", "Time", 1, 2000, 300, "ms"}, kTimeSubdivisions);
    time.lock()->setValue("Clock");
    ASSERT_TRUE(time.isLinked());
    EXPECT_FLOAT_EQ(time.timeMs(), 300); // no beat to measure: the raw time
    EXPECT_FLOAT_EQ(time.rateHz(), 0); // a stopped clock stops a linked rate
}

TEST(BlockHelpers, SwitchesAndParameterFactories)
{
    Node* block = fxtest::scratchFolder("gate");
    NodeOnOff* onOff = fx::makeEnable(block);
    EXPECT_STREQ(onOff->getName(), "on_off");
    EXPECT_STREQ(onOff->getDisplayName(), "Enable");
    EXPECT_STREQ(onOff->getValueText(), "OFF");

    struct Case {
        const char* value;
        bool external;
        bool on;
    } cases[] = {{"OFF", true, false}, {"ON", true, true}, {"ON", false, false}, {"OFF", false, false}};
    for (auto& c : cases) {
        onOff->setValue(c.value);
        EXPECT_EQ(fx::isOn(onOff, c.external), c.on) << c.value << " " << c.external;
    }
    EXPECT_TRUE(fx::isOn(nullptr, true)); // a block without its own switch
    EXPECT_FALSE(fx::isOn(nullptr, false));

    NodeFloat* mix = fx::makeMix(block, 20);
    EXPECT_STREQ(mix->getName(), "mix");
    EXPECT_STREQ(mix->getUnit(), "%");
    EXPECT_TRUE(mix->isLink());
    EXPECT_FLOAT_EQ(mix->getValue(), 20);
    NodeFloat* cut = fx::makeFrequency(block, "hi_cut", "Hi Cut", 2000, 20000, 20000, 0.5f, true, true);
    EXPECT_TRUE(cut->isInverted());
    EXPECT_EQ(cut->getDecimals(), 0);
}

} // namespace
