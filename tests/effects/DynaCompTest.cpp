#include "effects/DynaComp.h"

#include "BlockTestUtil.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodePreset.h"

#include <gtest/gtest.h>

using namespace fxtest;
using dsptest::db;

namespace {

const dsptest::Sos kVoicing{3.2045, -5.78, 2.5775, -1.279, 0.2797};

struct Comp {
    Node* folder = scratchFolder("comp");
    DynaComp* comp = keep(new DynaComp(folder, nullptr));
    explicit Comp(bool on = true)
    {
        if (on) setNode(folder, "on_off", "\"ON\"");
        comp->compile();
    }
    void set(const char* path, const char* text)
    {
        setNode(folder, path, text);
        comp->compile();
    }
    double gainAt(double hz, double amp = 0.01) { return sineGainDb(comp, &DynaComp::exec, hz, false, amp); }
};

TEST(DynaComp, DisabledLeavesTheFrameAndEnabledNeverTouchesTheRight)
{
    auto l = dsptest::noise(4800, 1), r = dsptest::noise(4800, 2);
    Comp off(false);
    Stereo out = run(off.comp, &DynaComp::exec, Stereo(l, r));
    EXPECT_EQ(out.l, l);
    EXPECT_EQ(out.r, r);
    for (const char* mode : {"\"Dyn\"", "\"Studio\""}) {
        Comp on;
        on.set("md", mode);
        out = run(on.comp, &DynaComp::exec, Stereo(l, r));
        EXPECT_EQ(out.r, r) << mode;
        EXPECT_NE(out.l, l) << mode;
        EXPECT_TRUE(allFinite(out.l)) << mode;
    }
}

TEST(DynaComp, DynWithoutSensitivityIsTheVoicingTimesTheMakeup)
{
    Comp c;
    c.set("sensitivity", "0");
    for (double hz : {100.0, 1000.0, 5000.0}) {
        double expected = db(dsptest::magnitude(kVoicing, hz)) + 9.0; // default makeup 9 dB, flat tone
        EXPECT_NEAR(c.gainAt(hz, 0.25), expected, 0.1) << hz;
    }
    c.set("makeup", "0");
    EXPECT_NEAR(c.gainAt(1000), db(dsptest::magnitude(kVoicing, 1000)), 0.1);
}

TEST(DynaComp, ToneShelfSpansSevenDecibelsEachWayAboveItsCorner)
{
    struct Case {
        const char* tone;
        double highDb; // change at 16 kHz against tone 50 %
    } cases[] = {{"0", -7}, {"50", 0}, {"100", 7}};
    Comp flat;
    flat.set("sensitivity", "0");
    double flatHigh = flat.gainAt(16000), flatLow = flat.gainAt(200);
    for (auto& c : cases) {
        Comp t;
        t.set("sensitivity", "0");
        t.set("tn", c.tone);
        EXPECT_NEAR(t.gainAt(16000) - flatHigh, c.highDb, 0.5) << c.tone;
        EXPECT_NEAR(t.gainAt(200) - flatLow, 0, 0.3) << c.tone;
    }
}

// Output level change for a 20 dB louder input, once the detector has settled.
double outputRiseFor20Db(Comp& c)
{
    auto quiet = dsptest::sine(48000, 440, 0.01), loud = dsptest::sine(48000, 440, 0.1);
    Comp* cc = &c;
    Stereo a = run(cc->comp, &DynaComp::exec, Stereo(quiet, quiet));
    Stereo b = run(cc->comp, &DynaComp::exec, Stereo(loud, loud));
    return db(rms(b.l, 24000) / rms(a.l, 24000));
}

TEST(DynaComp, LouderPlayingIsEvenedOut)
{
    Comp dyn;
    dyn.set("sensitivity", "1");
    // Loud enough, the feedback detector works as a square root: about 2:1.
    double rise = outputRiseFor20Db(dyn);
    EXPECT_GT(rise, 8.0);
    EXPECT_LT(rise, 12.0);
    Comp gentle;
    gentle.set("sensitivity", "0");
    EXPECT_NEAR(outputRiseFor20Db(gentle), 20.0, 0.2); // no compression at all

    Comp studio;
    studio.set("md", "\"Studio\"");
    studio.set("threshold", "-50");
    studio.set("ratio", "4");
    EXPECT_NEAR(outputRiseFor20Db(studio), 5.0, 1.5); // both levels above the threshold: 20 / 4 dB
}

TEST(DynaComp, ModeShowsItsOwnKnobsAndStatusShowsTheGain)
{
    Comp c;
    auto visible = [&](const char* key) { return findNode(c.folder, key)->getStyleVisible(); };
    EXPECT_TRUE(visible("sensitivity"));
    EXPECT_TRUE(visible("tn"));
    EXPECT_FALSE(visible("threshold"));
    EXPECT_FALSE(visible("ratio"));
    EXPECT_FALSE(visible("knee"));
    c.set("md", "\"Studio\"");
    EXPECT_FALSE(visible("sensitivity"));
    EXPECT_FALSE(visible("tn"));
    EXPECT_TRUE(visible("threshold"));
    EXPECT_TRUE(visible("ratio"));
    EXPECT_TRUE(visible("knee"));

    c.set("md", "\"Dyn\"");
    c.set("sensitivity", "1");
    auto loud = dsptest::sine(9600, 440, 0.5);
    run(c.comp, &DynaComp::exec, Stereo(loud, loud));
    c.comp->compile();
    auto* status = static_cast<NodeFloat*>(findNode(c.folder, "_stat"));
    EXPECT_LT(status->getValue(), 0.5f);
    EXPECT_GT(status->getValue(), 0.0f);
}

TEST(DynaComp, StatusStaysOutOfPresets)
{
    auto* root = keep(new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM));
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 4096, 3);
    auto* app = new NodeItem(root, "app", "App", "", ItemType::SYSTEM);
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    auto* folder = new NodeItem(app, "comp", "Comp", "", ItemType::HFOLDER);
    keep(new DynaComp(folder, preset));
    std::string text = preset->presetToString();
    EXPECT_NE(text.find("comp\\sensitivity"), std::string::npos) << text;
    EXPECT_EQ(text.find("_stat"), std::string::npos) << text;
}

} // namespace
