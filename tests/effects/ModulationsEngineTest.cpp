#include "effects/ModulationsEngine.h"
#include "BlockTestUtil.h"
#include "effects/Tempo.h"

#include <gtest/gtest.h>

#include <complex>

using fxtest::findNode;
using fxtest::keep;
using fxtest::run;
using fxtest::scratchFolder;
using fxtest::setNode;
using fxtest::Stereo;

namespace {

ModulationsEngine* build(Node* folder, bool post, Tempo* tempo = nullptr)
{
    return keep(new ModulationsEngine(folder, tempo, post));
}

Stereo dc(std::size_t n)
{
    return Stereo(std::vector<float>(n, 1.0f), std::vector<float>(n, 1.0f));
}

// Switched off, every mode passes the frame untouched, tremolo included, in both instances.
TEST(ModulationsEngine, OffPassesTheFrameUnchanged)
{
    for (bool post : {false, true})
        for (const char* mode : {"\"Chorus\"", "\"Flanger\"", "\"Phaser\""}) {
            Node* f = scratchFolder();
            auto* m = build(f, post);
            setNode(f, "mode", mode);
            setNode(f, "dpth", "100");
            setNode(f, "tcfolder\\emp", "100");
            setNode(f, "trfolder\\on_off", "\"ON\"");
            setNode(f, "trfolder\\dpt", "100");
            m->compile();
            auto noise = dsptest::noise(4800, 3);
            Stereo out = run(m, &ModulationsEngine::exec, Stereo(noise, noise));
            EXPECT_EQ(out.l, noise) << mode << " post " << post;
            EXPECT_EQ(out.r, noise) << mode << " post " << post;
        }
}

TEST(ModulationsEngine, TremoloFollowsItsRateDepthAndSwitches)
{
    struct Case {
        const char* mainOn;
        const char* trOn;
        const char* lock;
        const char* sbdv;
        std::size_t period; // 0: no tremolo
    };
    const Case cases[] = {
        {"\"ON\"", "\"ON\"", "\"Unlocked\"", "\"1/4\"", 12000}, // raw 4 Hz
        {"\"ON\"", "\"ON\"", "\"Global\"", "\"1/4\"", 24000}, // 120 BPM quarter notes: 2 Hz
        {"\"ON\"", "\"ON\"", "\"Global\"", "\"1/8\"", 12000},
        {"\"OFF\"", "\"ON\"", "\"Unlocked\"", "\"1/4\"", 0}, // needs the main switch too
        {"\"ON\"", "\"OFF\"", "\"Unlocked\"", "\"1/4\"", 0},
    };
    for (const Case& c : cases) {
        Node* f = scratchFolder();
        auto* tempo = keep(new Tempo(f->getParent(), nullptr));
        auto* m = build(f, true, tempo);
        setNode(f, "on_off", c.mainOn);
        setNode(f, "mix", "0"); // dry only, so the output is the tremolo gain
        setNode(f, "trfolder\\on_off", c.trOn);
        setNode(f, "trfolder\\dpt", "100");
        setNode(f, "trfolder\\rate\\lock", c.lock);
        setNode(f, "trfolder\\rate\\sbdv", c.sbdv);
        m->compile();
        Stereo out = run(m, &ModulationsEngine::exec, dc(60000));
        if (c.period == 0) {
            EXPECT_FLOAT_EQ(*std::min_element(out.l.begin(), out.l.end()), 1.0f) << c.mainOn << c.trOn;
            continue;
        }
        // Sine shape: the gain swings from 1 down to 0 once per period.
        EXPECT_LT(*std::min_element(out.l.begin(), out.l.end()), 0.01f);
        EXPECT_GT(*std::max_element(out.l.begin(), out.l.end()), 0.99f);
        auto d = fxtest::dips(out.l, 0.05f, c.period / 2);
        ASSERT_GE(d.size(), 2u) << c.lock << c.sbdv;
        for (std::size_t i = 1; i < d.size(); ++i)
            EXPECT_NEAR(double(d[i] - d[i - 1]), double(c.period), c.period * 0.01) << c.lock << c.sbdv;
        EXPECT_EQ(out.l, out.r); // no stereo phase
    }
}

TEST(ModulationsEngine, TremoloWaveformSquaresTheShape)
{
    Node* f = scratchFolder();
    auto* m = build(f, true);
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mix", "0");
    setNode(f, "trfolder\\on_off", "\"ON\"");
    setNode(f, "trfolder\\dpt", "100");
    auto timeBelow = [&](const char* wave) {
        setNode(f, "trfolder\\wave", wave);
        m->compile();
        Stereo out = run(m, &ModulationsEngine::exec, dc(24000));
        return std::count_if(out.l.begin(), out.l.end(), [](float g) { return g < 0.1f; });
    };
    // The flattened square stays near its extremes far longer than the sine.
    const auto square = timeBelow("100");
    const auto sine = timeBelow("0");
    EXPECT_GT(square, sine * 3 / 2) << square << " " << sine;
}

TEST(ModulationsEngine, StereoPhaseOnlyInThePostInstance)
{
    Node* pre = scratchFolder();
    build(pre, false);
    EXPECT_EQ(findNode(pre, "tcfolder\\sphase"), nullptr);
    EXPECT_EQ(findNode(pre, "trfolder\\sphase"), nullptr);

    Node* f = scratchFolder();
    auto* m = build(f, true);
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mix", "0");
    setNode(f, "trfolder\\on_off", "\"ON\"");
    setNode(f, "trfolder\\dpt", "100");
    setNode(f, "trfolder\\sphase", "180");
    m->compile();
    Stereo out = run(m, &ModulationsEngine::exec, dc(40000));
    auto dl = fxtest::dips(out.l, 0.05f, 6000), dr = fxtest::dips(out.r, 0.05f, 6000);
    ASSERT_GE(dl.size(), 2u);
    ASSERT_GE(dr.size(), 2u);
    // 180 degrees is 23 of the 45 table points: the right dip trails by about half a period.
    double lag = std::fmod(double(dr[0]) - double(dl[0]) + 12000.0, 12000.0);
    EXPECT_NEAR(std::min(lag, 12000.0 - lag), 12000.0 * 22.0 / 45.0, 200.0);
}

TEST(ModulationsEngine, ChorusAtHalfMixIsEqualPowerDryAndDelayedWet)
{
    Node* f = scratchFolder();
    auto* m = build(f, true);
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "dpth", "0");
    setNode(f, "tcfolder\\emp", "0");
    m->compile();
    Stereo out = run(m, &ModulationsEngine::exec, Stereo(fxtest::impulse(2048), fxtest::impulse(2048)));
    EXPECT_NEAR(out.l[0], 1.0 / std::sqrt(2.0), 1e-4);
    auto at = std::max_element(out.l.begin() + 16, out.l.end()) - out.l.begin();
    EXPECT_NEAR(double(at), 783.0, 2.0);
    EXPECT_GT(out.l[std::size_t(at)], 0.4f);
    EXPECT_EQ(out.l, out.r);
}

// The phaser at a fixed sweep is dry plus four allpass stages: a deep notch where their phase
// reaches 180 degrees.
TEST(ModulationsEngine, PhaserNotchesWhereTheAllpassesReachHalfACycle)
{
    Node* f = scratchFolder();
    auto* m = build(f, true);
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mode", "\"Phaser\"");
    setNode(f, "dpth", "0");
    setNode(f, "tcfolder\\emp", "0");
    m->compile();
    const double a = 1.0 - 1655.0 * 2.0 * dsptest::kPi / 48000.0;
    double notch = 0, best = 1e9;
    for (double hz = 200; hz < 12000; hz += 1) {
        auto z1 = std::polar(1.0, -2 * dsptest::kPi * hz / dsptest::kFs);
        auto h = (a - z1) / (1.0 - a * z1);
        double mag = std::abs(1.0 + h * h * h * h);
        if (mag < best) {
            best = mag;
            notch = hz;
        }
    }
    EXPECT_LT(fxtest::sineGainDb(m, &ModulationsEngine::exec, notch), -20.0);
    EXPECT_GT(fxtest::sineGainDb(m, &ModulationsEngine::exec, notch * 0.3), -4.0);
}

TEST(ModulationsEngine, FeedbackModesStayBoundedAtExtremes)
{
    for (const char* mode : {"\"Chorus\"", "\"Flanger\"", "\"Phaser\""}) {
        Node* f = scratchFolder();
        auto* m = build(f, true);
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "mode", mode);
        setNode(f, "dpth", "100");
        setNode(f, "mix", "100");
        setNode(f, "rate\\rawdata", "8");
        setNode(f, "tcfolder\\emp", "100");
        setNode(f, "tcfolder\\sphase", "180");
        m->compile();
        auto noise = dsptest::noise(48000, 11);
        Stereo out = run(m, &ModulationsEngine::exec, Stereo(noise, noise));
        EXPECT_TRUE(fxtest::allFinite(out.l) && fxtest::allFinite(out.r)) << mode;
        EXPECT_LT(fxtest::peak(out.l), 4.0) << mode;
    }
}

} // namespace
