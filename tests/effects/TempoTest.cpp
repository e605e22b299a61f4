#include "effects/Tempo.h"

#include "BlockTestUtil.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodePreset.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// The application's shape: a global tempo under the output folder and the preset tempo as a source.
struct TempoTree {
    NodeItem root{nullptr, "root", "root", "", ItemType::SYSTEM};
    NodeItem output{&root, "output", "Output", "", ItemType::SYSTEM};
    NodeFloat presetTempo{&output, "tmp", "Preset TEMPO", 30, 240, 120, "BPM", 0.5f, false, 1};
    NodeItem block{&root, "delay", "Delay", "", ItemType::HFOLDER};
    Tempo tempo{&output, nullptr};
    TempoTree() { tempo.addTempoSource(&presetTempo, "Preset"); }
};

// Taps `taps` times about `ms` apart; returns the tempo the taps really made (a loaded machine
// oversleeps), measured on the clock the taps are stamped with.
double tapEvery(Tempo& tempo, int taps, int ms)
{
    uint64_t first = 0;
    for (int i = 0; i < taps; ++i) {
        if (i) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        tempo.manualTap();
        if (i == 0) first = tempo.getTapTimes()[tempo.getTapIndex()];
    }
    uint64_t last = tempo.getTapTimes()[tempo.getTapIndex()];
    return 60e6 * (taps - 1) / double(last - first);
}

float globalBpm(Tempo& tempo)
{
    return tempo.getTempoNode()->getValue();
}

TEST(Tempo, LockOptionsListTheSourcesKnownWhenTheNodeIsMade)
{
    TempoTree& t = *fxtest::keep(new TempoTree);
    NodeEnum* early = t.tempo.createLinkNode(&t.block);
    auto* other = new NodeFloat(&t.output, "other", "Other", 30, 240, 100, "BPM", 0.5f, false, 1);
    t.tempo.addTempoSource(other, "Other");
    NodeEnum* late = t.tempo.createLinkNode(&t.block);

    EXPECT_EQ(t.tempo.createLinkNode(nullptr), nullptr);
    ASSERT_NE(early, nullptr);
    EXPECT_STREQ(early->getName(), "lock");
    EXPECT_STREQ(early->getDisplayName(), "Lock Options");
    EXPECT_STREQ(early->getValueText(), "Unlocked");
    std::vector<std::string> options(early->getOptions().begin(), early->getOptions().end());
    EXPECT_EQ(options, (std::vector<std::string>{"Unlocked", "Global", "Preset"}));
    ASSERT_EQ(late->getOptions().size(), 4u);
    EXPECT_STREQ(late->getOptions()[3], "Other");
    EXPECT_EQ(t.tempo.getLockNodes(), (std::vector<NodeEnum*>{early, late}));
}

TEST(Tempo, LockOptionsResolveToTheirTempo)
{
    TempoTree& t = *fxtest::keep(new TempoTree);
    t.tempo.getTempoNode()->setValue(100);
    t.presetTempo.setValue(90);
    struct Case {
        const char* option;
        bool locked;
        float bpm;
    } cases[] = {
        {nullptr, false, 0},  {"Unlocked", false, 0}, {"Global", true, 100},
        {"Preset", true, 90}, {"preset", false, 0},   {"", false, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.option ? c.option : "(null)");
        EXPECT_EQ(t.tempo.isLocked(c.option), c.locked);
        EXPECT_FLOAT_EQ(t.tempo.getTempo(c.option), c.bpm);
    }
    t.tempo.setTempo(75);
    EXPECT_FLOAT_EQ(t.tempo.getTempo("Global"), 75);
    EXPECT_FLOAT_EQ(t.tempo.getTempo("Preset"), 75);
    t.tempo.setTempo(1000); // held in the node range
    EXPECT_FLOAT_EQ(t.tempo.getTempo("Global"), 240);
}

TEST(Tempo, HomeScreenShowsTheLockedSourceWhenItDiffers)
{
    struct Case {
        const char* lock1;
        const char* lock2;
        float preset;
        const char* shown;
    } cases[] = {
        {"Preset", "Unlocked", 90, "90.0"}, // a block follows the preset tempo
        {"Unlocked", "Preset", 95.5f, "95.5"}, // any lock node, in creation order
        {"Preset", "Global", 120, "120.0"}, // the same as the global tempo
        {"Global", "Unlocked", 90, "120.0"}, // nothing follows the preset tempo
        {"Unlocked", "Unlocked", 90, "120.0"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.lock1) + "/" + c.lock2);
        TempoTree& t = *fxtest::keep(new TempoTree);
        t.tempo.createLinkNode(&t.block)->setValue(c.lock1);
        t.tempo.createLinkNode(&t.block)->setValue(c.lock2);
        t.presetTempo.setValue(c.preset);
        EXPECT_EQ(t.tempo.toString(), c.shown);
    }
}

TEST(Tempo, FifthTapSetsTheMeanIntervalOfTheTaps)
{
    TempoTree& t = *fxtest::keep(new TempoTree);
    tapEvery(t.tempo, 4, 300);
    EXPECT_FLOAT_EQ(globalBpm(t.tempo), 120); // four taps only gather times
    EXPECT_FALSE(t.tempo.manualStatus());
    EXPECT_TRUE(t.tempo.isTapActive());
    t.tempo.manualReset();
    // About 200 BPM; the tempo is judged against the taps' own times, since a loaded machine may
    // sleep far longer than asked.
    double tapped = tapEvery(t.tempo, 5, 300);
    EXPECT_TRUE(t.tempo.manualStatus());
    EXPECT_NEAR(globalBpm(t.tempo), tapped, 0.01);
    EXPECT_NEAR(t.presetTempo.getValue(), tapped, 0.01);
    EXPECT_EQ(t.tempo.getTapCountdown(), Tempo::kTapTicks);
}

TEST(Tempo, OnlyTheLastEightTapsCount)
{
    TempoTree& t = *fxtest::keep(new TempoTree);
    t.tempo.manualTap();
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    double lastEight = tapEvery(t.tempo, 8, 300); // the ninth tap overwrites the slow first one
    EXPECT_EQ(t.tempo.getTapCount(), 8);
    EXPECT_NEAR(globalBpm(t.tempo), lastEight, 0.01); // with the first tap it would be about 145
}

TEST(Tempo, RunEndsTwentyTicksAfterTheLastTap)
{
    TempoTree& t = *fxtest::keep(new TempoTree);
    for (int i = 0; i < 6; ++i) t.tempo.manualTap();
    ASSERT_TRUE(t.tempo.manualStatus());
    for (int tick = 1; tick < Tempo::kTapTicks; ++tick) ASSERT_TRUE(t.tempo.tapTick()) << tick;
    EXPECT_FALSE(t.tempo.tapTick());
    EXPECT_FALSE(t.tempo.isTapActive());
    EXPECT_FALSE(t.tempo.manualStatus());
    for (int i = 0; i < Tempo::kTapRing; ++i) EXPECT_EQ(t.tempo.getTapTimes()[i], 0u);

    // The next tap starts a new run; a reset does the same at once.
    t.tempo.manualTap();
    EXPECT_TRUE(t.tempo.isTapActive());
    EXPECT_EQ(t.tempo.getTapCount(), 0);
    t.tempo.manualReset();
    EXPECT_FALSE(t.tempo.isTapActive());
}

TEST(Tempo, GlobalTempoStaysOutOfPresets)
{
    auto* root = fxtest::keep(new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM));
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 4096, 3);
    auto* app = new NodeItem(root, "app", "App", "", ItemType::SYSTEM);
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    auto* output = new NodeItem(app, "output", "Output", "", ItemType::SYSTEM);
    new NodeFloat(output, "tmp", "Preset TEMPO", 30, 240, 120, "BPM", 0.5f, false, 1);
    Tempo& tempo = *fxtest::keep(new Tempo(output, preset));
    std::string text = preset->presetToString();
    EXPECT_NE(text.find("tmp"), std::string::npos) << text;
    EXPECT_EQ(text.find("tempo_bpm"), std::string::npos) << text;
    EXPECT_FALSE(tempo.compile());
}

} // namespace
