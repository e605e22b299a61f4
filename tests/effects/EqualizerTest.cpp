#include "effects/Equalizer.h"

#include "BlockTestUtil.h"
#include "effects/BandEqN.h"
#include "params/NodeFloat.h"

#include <gtest/gtest.h>

using namespace fxtest;

namespace {

struct Eq {
    Node* folder = scratchFolder("eq");
    Equalizer* eq = keep(new Equalizer(folder));
    explicit Eq(std::initializer_list<std::pair<const char*, const char*>> settings = {}, bool on = true)
    {
        if (on) setNode(folder, "on_off", "\"ON\"");
        for (auto& [path, value] : settings) setNode(folder, path, value);
        eq->compile();
    }
    double gainAt(double hz, bool right = false) { return sineGainDb(eq, &Equalizer::exec, hz, right); }
};

TEST(Equalizer, FlatSettingsPassTheSignalAndOffLeavesItAlone)
{
    auto l = dsptest::noise(9600, 1), r = dsptest::noise(9600, 2);
    Eq flat;
    Stereo out = run(flat.eq, &Equalizer::exec, Stereo(l, r));
    for (std::size_t i = 0; i < l.size(); ++i) {
        ASSERT_NEAR(out.l[i], l[i], 1e-5) << i;
        ASSERT_NEAR(out.r[i], r[i], 1e-5) << i;
    }
    Eq off({{"eq_nbands\\level", "6"}, {"lo_slope", "\"24dB/oct\""}}, false);
    out = run(off.eq, &Equalizer::exec, Stereo(l, r));
    EXPECT_EQ(out.l, l);
    EXPECT_EQ(out.r, r);
}

TEST(Equalizer, LevelRaisesBothChannels)
{
    Eq eq({{"eq_nbands\\level", "6"}});
    for (double hz : {60.0, 1000.0, 10000.0}) {
        EXPECT_NEAR(eq.gainAt(hz), 6.0, 0.1) << hz;
        EXPECT_NEAR(eq.gainAt(hz, true), 6.0, 0.1) << hz;
    }
}

TEST(Equalizer, CutSlopesFollowButterworthResponses)
{
    // Response an octave beyond the corner, against the pass band.
    struct Case {
        const char* slope;
        double octaveDb;
    } cases[] = {
        {"\"6dB/oct\"", -6.99}, // 1 / sqrt(1 + 2^2)
        {"\"12dB/oct\"", -12.30}, // 1 / sqrt(1 + 2^4)
        {"\"24dB/oct\"", -24.10}, // 1 / sqrt(1 + 2^8)
        {"\"OFF\"", 0.0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.slope);
        Eq low({{"lo_cut", "100"}, {"lo_slope", c.slope}});
        EXPECT_NEAR(low.gainAt(50) - low.gainAt(3000), c.octaveDb, 0.4);
        EXPECT_NEAR(low.gainAt(50, true) - low.gainAt(3000, true), c.octaveDb, 0.4);
        Eq high({{"hi_cut", "2000"}, {"hi_slope", c.slope}});
        // Bilinear warping deepens a low-pass response towards Nyquist: measure well below it.
        EXPECT_NEAR(high.gainAt(4000) - high.gainAt(200), c.octaveDb, 1.0);
        EXPECT_NEAR(high.gainAt(4000, true) - high.gainAt(200, true), c.octaveDb, 1.0);
    }
}

TEST(Equalizer, BandsBoostAroundTheirFrequencyOnly)
{
    struct Case {
        const char* band;
        double hz;
    } cases[] = {{"eq_nbands\\band_0", 100}, {"eq_nbands\\band_4", 1600}, {"eq_nbands\\band_7", 12800}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.band);
        Eq boost({{c.band, "12"}});
        Eq cut({{c.band, "-12"}});
        EXPECT_GT(boost.gainAt(c.hz), 3.0);
        EXPECT_LT(cut.gainAt(c.hz), -3.0);
        EXPECT_GT(boost.gainAt(c.hz, true), 3.0);
        // Three octaves away the band is nearly flat.
        double away = c.hz < 1000 ? c.hz * 8 : c.hz / 8;
        EXPECT_NEAR(boost.gainAt(away), 0.0, 0.6);
    }
}

TEST(Equalizer, NodesAndLabels)
{
    Eq eq;
    std::vector<std::string> keys, labels;
    for (Node* n : eq.folder->getChildren()) keys.push_back(n->getName());
    EXPECT_EQ(keys, (std::vector<std::string>{"on_off", "lo_cut", "lo_slope", "hi_cut", "hi_slope", "eq_nbands"}));
    for (Node* n : findNode(eq.folder, "eq_nbands")->getChildren()) labels.push_back(n->getDisplayName());
    EXPECT_EQ(labels,
              (std::vector<std::string>{"100", "200", "400", "800", "1.60k", "3.20k", "6.40k", "12.80k", "Level"}));
    EXPECT_TRUE(static_cast<NodeFloat*>(findNode(eq.folder, "hi_cut"))->isInverted());
    EXPECT_FALSE(static_cast<NodeFloat*>(findNode(eq.folder, "lo_cut"))->isInverted());
    EXPECT_STREQ(findNode(eq.folder, "eq_nbands\\band_5")->getName(), "band_5");
}

TEST(BandEqN, QFactorsOnlyCountWhenThereIsOnePerBand)
{
    Node* folder = scratchFolder("eq");
    BandEqN few(folder, {100, 1000, 5000}, {2.0f}, false);
    BandEqN exact(scratchFolder("eq2"), {100, 1000}, {2.0f, 0.5f}, false);
    for (int band : {-1, 0, 1, 2, 3}) EXPECT_EQ(few.getQFactor(band), 1.4f) << band;
    EXPECT_EQ(exact.getQFactor(0), 2.0f);
    EXPECT_EQ(exact.getQFactor(1), 0.5f);
    EXPECT_EQ(exact.getQFactor(2), 1.4f);

    // A mono instance leaves the right channel alone; it is never in the chain by itself.
    setNode(folder, "eq_nbands\\band_1", "12");
    few.compile();
    auto l = dsptest::noise(4800, 3), r = dsptest::noise(4800, 4);
    Stereo out = run(&few, &BandEqN::exec, Stereo(l, r));
    EXPECT_EQ(out.r, r);
    EXPECT_GT(sineGainDb(&few, &BandEqN::exec, 1000), 3.0);
    EXPECT_FALSE(AudioProcessor::hasBlock(&few));
}

} // namespace
