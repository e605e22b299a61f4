#include "effects/NoiseGate.h"

#include "BlockTestUtil.h"
#include "params/NodeOnOff.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

using namespace fxtest;

namespace {

// A tone whose |x| is the same on every sample, so the detector settles exactly on `level`.
std::vector<float> steady(std::size_t n, float level)
{
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = (i & 1) ? -level : level;
    return v;
}

struct Gate {
    Node* folder = scratchFolder("gate");
    NoiseGate* gate;
    explicit Gate(int mask = 3, int trigger = 1, float* ext = nullptr)
        : gate(keep(new NoiseGate(folder, mask, trigger, ext, false)))
    {
        setNode(folder, "on_off", "\"ON\"");
        gate->compile();
    }
    // Output/input gain at the end of `ms` of a steady level.
    double gainAfter(float level, int ms)
    {
        auto in = steady(std::size_t(48 * ms), level);
        Stereo out = run(gate, &NoiseGate::exec, Stereo(in, in));
        return std::fabs(out.l.back() / in.back());
    }
};

TEST(NoiseGate, OpensAboveThresholdAndClosesOnlyBelowTheHysteresisBand)
{
    // Threshold -60 dB, hysteresis 12 dB: open above 0.001, closed below 0.000251.
    Gate g;
    struct Step {
        float level;
        bool open;
        const char* what;
    } steps[] = {
        {0.0005f, false, "between the thresholds a closed gate stays closed"},
        {0.0015f, true, "above the open threshold"},
        {0.0005f, true, "between the thresholds an open gate stays open"},
        {0.0003f, true, "just above the close threshold"},
        {0.0002f, false, "below the close threshold"},
        {0.0009f, false, "just below the open threshold"},
        {0.0011f, true, "just above the open threshold"},
    };
    for (auto& s : steps) {
        double gain = g.gainAfter(s.level, 600);
        EXPECT_EQ(gain > 0.5, s.open) << s.what << ": gain " << gain;
        EXPECT_EQ(g.gate->triggerStatus(), s.open) << s.what;
    }
}

TEST(NoiseGate, AttackAndReleaseTimesAreNinefoldChanges)
{
    struct Case {
        const char* release;
        int ms;
    } cases[] = {{"50", 50}, {"200", 200}};
    for (auto& c : cases) {
        Gate g;
        setNode(g.folder, "release", c.release);
        g.gate->compile();
        ASSERT_GT(g.gainAfter(0.01f, 300), 0.99); // open
        // Drop below the close threshold: the gain then falls by 9 over the release time.
        const float quiet = 0.0001f;
        auto in = steady(std::size_t(48 * (c.ms + 20)), quiet);
        Stereo out = run(g.gate, &NoiseGate::exec, Stereo(in, in));
        // The detector needs a few samples to fall below the threshold; measure from there.
        std::size_t from = 0;
        while (from < in.size() && std::fabs(out.l[from] / in[from]) > 0.999) ++from;
        std::size_t to = from + std::size_t(48 * c.ms);
        double ratio = std::fabs(out.l[from] / in[from]) / std::fabs(out.l[to] / in[to]);
        EXPECT_NEAR(ratio, 9.0, 0.5) << c.release;
    }
    Gate g; // attack 10 ms: from closed to 1 - 1/9 in 10 ms
    setNode(g.folder, "attack", "10");
    g.gate->compile();
    double opened = g.gainAfter(0.01f, 10);
    EXPECT_NEAR(opened, 1.0 - 1.0 / 9.0, 0.03);
}

TEST(NoiseGate, SwitchedOffPassesEverythingAndSilenceHoldsTheGain)
{
    Gate g;
    setNode(g.folder, "on_off", "\"OFF\"");
    g.gate->compile();
    EXPECT_GT(g.gainAfter(0.00001f, 300), 0.99); // far below any threshold, still open
    // Digital silence moves nothing: the gain stays where the last sound left it.
    Gate closed;
    auto silence = std::vector<float>(4800, 0.0f);
    run(closed.gate, &NoiseGate::exec, Stereo(silence, silence));
    setNode(closed.folder, "on_off", "\"OFF\"");
    closed.gate->compile();
    run(closed.gate, &NoiseGate::exec, Stereo(silence, silence));
    EXPECT_FALSE(closed.gate->triggerStatus());
    // The external switch opens it too.
    Gate ext;
    ext.gate->setExtOnOff(false);
    ext.gate->compile();
    EXPECT_GT(ext.gainAfter(0.00001f, 300), 0.99);
}

TEST(NoiseGate, MaskChoosesTheGatedChannels)
{
    struct Case {
        int mask;
        bool left, right;
    } cases[] = {{1, true, false}, {2, false, true}, {3, true, true}};
    for (auto& c : cases) {
        Gate g(c.mask);
        auto quiet = dsptest::noise(4800, 3, 0.0001f);
        Stereo out = run(g.gate, &NoiseGate::exec, Stereo(quiet, quiet));
        EXPECT_EQ(out.l == quiet, !c.left) << c.mask;
        EXPECT_EQ(out.r == quiet, !c.right) << c.mask;
        if (c.left) {
            EXPECT_LT(rms(out.l), rms(quiet) * 0.01) << c.mask;
        }
        if (c.right) {
            EXPECT_LT(rms(out.r), rms(quiet) * 0.01) << c.mask;
        }
    }
}

TEST(NoiseGate, DetectorFollowsTheChosenSource)
{
    // The dry input opens the gate although the processed channels are silent or quiet.
    float ext[FRAME_SAMPLES];
    Gate g(3, 3, ext);
    for (int i = 0; i < FRAME_SAMPLES; ++i) ext[i] = (i & 1) ? -0.1f : 0.1f;
    auto quiet = steady(4800, 0.00001f);
    Stereo out = run(g.gate, &NoiseGate::exec, Stereo(quiet, quiet));
    EXPECT_TRUE(g.gate->triggerStatus());
    EXPECT_NEAR(out.l.back() / quiet.back(), 1.0, 0.01);
    for (float& x : ext) x = 0;
    run(g.gate, &NoiseGate::exec, Stereo(std::vector<float>(9600, 0.5f), std::vector<float>(9600, 0.5f)));
    EXPECT_FALSE(g.gate->triggerStatus()); // loud channels, silent external: closed

    // Trigger 2 listens to the right channel and gates the left one.
    Gate right(1, 2);
    out = run(right.gate, &NoiseGate::exec, Stereo(quiet, steady(4800, 0.1f)));
    EXPECT_NEAR(out.l.back() / quiet.back(), 1.0, 0.01);
}

TEST(NoiseGate, ExternalTriggerWithoutSignalFallsBackToTheLeftChannel)
{
    StdoutCapture log;
    Gate g(3, 3, nullptr);
    EXPECT_NE(log.text().find("ERROR (NoiseGate): Wrong EXT trigger\n"), std::string::npos);
    auto loud = steady(4800, 0.1f);
    Stereo out = run(g.gate, &NoiseGate::exec, Stereo(loud, loud));
    EXPECT_TRUE(g.gate->triggerStatus());
    EXPECT_NEAR(out.l.back() / loud.back(), 1.0, 0.01);
}

TEST(NoiseGate, NodesAndSwitch)
{
    Node* folder = scratchFolder("gate");
    NoiseGate gate(folder, 3, false);
    std::vector<std::string> keys;
    for (Node* n : folder->getChildren()) keys.push_back(n->getName());
    EXPECT_EQ(keys, (std::vector<std::string>{"on_off", "threshold", "attack", "release", "hysteresis"}));
    EXPECT_TRUE(findNode(folder, "threshold")->isLink());
    EXPECT_FALSE(gate.isEnabled());
    gate.toggle();
    EXPECT_TRUE(gate.isEnabled());
    EXPECT_EQ(gate.getOnOff(), findNode(folder, "on_off"));

    Node* bare = scratchFolder("gate2");
    NoiseGate noSwitch(bare, 1, 1, nullptr, true, false);
    EXPECT_EQ(noSwitch.getOnOff(), nullptr);
    EXPECT_TRUE(noSwitch.isEnabled());
    EXPECT_FALSE(findNode(bare, "threshold")->isLink()); // stored settings are not linkable
}

} // namespace
