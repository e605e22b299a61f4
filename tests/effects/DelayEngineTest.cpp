#include "effects/DelayEngine.h"
#include "BlockTestUtil.h"
#include "effects/Tempo.h"
#include "params/Node.h"

#include <gtest/gtest.h>

using fxtest::amplitudeIn;
using fxtest::findNode;
using fxtest::keep;
using fxtest::run;
using fxtest::scratchFolder;
using fxtest::setNode;
using fxtest::Stereo;

namespace {

constexpr double kHz = 1000.0; // well inside the tone and BBD filters
constexpr std::size_t kOn = 2400; // 50 ms burst, a whole number of periods

struct Delay {
    Node* f;
    DelayEngine* d;
};

Delay build(Tempo* tempo = nullptr)
{
    Node* f = scratchFolder();
    return {f, keep(new DelayEngine(f, tempo))};
}

// Amplitude of the burst's tone in the window that starts `at` samples in (inside the burst).
double toneAt(const std::vector<float>& x, std::size_t at)
{
    return amplitudeIn(x, at + 480, at + 1920, kHz);
}

TEST(DelayEngine, DefaultRepeatsEvery300msAtThirtyPercent)
{
    auto [f, d] = build();
    setNode(f, "on_off", "\"ON\"");
    d->compile();
    auto in = fxtest::burst(4 * 14400 + kOn, kOn, kHz);
    Stereo out = run(d, &DelayEngine::exec, Stereo(in, in));
    const double wet = std::pow(0.4, 1.33); // 20 % mix
    EXPECT_NEAR(toneAt(out.l, 0), 0.5, 0.01); // dry at unity
    const double first = toneAt(out.l, 14400);
    EXPECT_NEAR(first, 0.5 * wet, 0.01);
    EXPECT_NEAR(toneAt(out.l, 28800) / first, 0.3, 0.02);
    EXPECT_NEAR(toneAt(out.l, 43200) / toneAt(out.l, 28800), 0.3, 0.02);
    // Nothing between the repeats: the delay is 14400 samples, not a frame more or less.
    EXPECT_LT(fxtest::rmsIn(out.l, kOn + 16, 14400 - 16), 1e-4);
    EXPECT_GT(std::fabs(out.l[14400 + 100]), 1e-3);
    EXPECT_EQ(out.l, out.r);
}

TEST(DelayEngine, MixSetsDryAndWetGains)
{
    struct Case {
        const char* mix;
        const char* on;
        double dry, wet;
    };
    const Case cases[] = {
        {"50", "\"ON\"", 1.0, 1.0},
        {"100", "\"ON\"", 0.0, 1.0},
        {"0", "\"ON\"", 1.0, 0.0},
        {"100", "\"OFF\"", 1.0, 1.0}, // off: dry at unity whatever the mix, and no new repeats
    };
    for (const Case& c : cases) {
        auto [f, d] = build();
        setNode(f, "on_off", c.on);
        setNode(f, "mix", c.mix);
        d->compile();
        auto in = fxtest::burst(14400 + kOn, kOn, kHz);
        Stereo out = run(d, &DelayEngine::exec, Stereo(in, in));
        const bool on = std::string(c.on) == "\"ON\"";
        EXPECT_NEAR(toneAt(out.l, 0), 0.5 * c.dry, 0.01) << c.mix << c.on;
        EXPECT_NEAR(toneAt(out.l, 14400), on ? 0.5 * c.wet : 0.0, 0.01) << c.mix << c.on;
    }
}

TEST(DelayEngine, TimesFollowTheTempo)
{
    struct Case {
        const char* lock;
        const char* sbdv;
        float bpm;
        std::size_t samples;
    };
    const Case cases[] = {
        {"\"Global\"", "\"1/4\"", 30.0f, 96000}, // 2000 ms
        {"\"Global\"", "\"1/8\"", 120.0f, 12000},
        {"\"Global\"", "\"Dotted 8th\"", 120.0f, 18000},
        {"\"Unlocked\"", "\"1/8\"", 120.0f, 14400}, // the raw 300 ms
    };
    Node* root = keep(new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM));
    auto* tempo = keep(new Tempo(root, nullptr));
    for (const Case& c : cases) {
        tempo->setTempo(c.bpm);
        auto [f, d] = build(tempo);
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "mix", "50");
        setNode(f, "dlytime\\lock", c.lock);
        setNode(f, "dlytime\\sbdv", c.sbdv);
        d->compile();
        auto in = fxtest::impulse(c.samples + 200);
        Stereo out = run(d, &DelayEngine::exec, Stereo(in, std::vector<float>(in.size())));
        std::size_t at = std::max_element(out.l.begin() + 16, out.l.end()) - out.l.begin();
        // The repeat passes the loop's filters: its peak is within a sample of the delay.
        EXPECT_NEAR(double(at), double(c.samples), 1.0) << c.lock << c.sbdv << c.bpm;
    }
}

TEST(DelayEngine, BouncingAlternatesTheRepeatsBetweenTheLines)
{
    auto [f, d] = build();
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mix", "50");
    setNode(f, "fdbk", "80");
    setNode(f, "tcfolder\\bounce", "100");
    d->compile();
    auto in = fxtest::burst(4 * 14400 + kOn, kOn, kHz);
    Stereo out = run(d, &DelayEngine::exec, Stereo(in, in));
    for (int k = 1; k <= 3; ++k) {
        const double l = toneAt(out.l, 14400 * std::size_t(k)), r = toneAt(out.r, 14400 * std::size_t(k));
        const bool left = k % 2 == 1;
        EXPECT_GT(left ? l : r, 0.05) << "repeat " << k;
        EXPECT_LT(left ? r : l, 1e-3) << "repeat " << k;
    }
}

TEST(DelayEngine, SwitchingOffLetsTheRepeatsDieAway)
{
    auto [f, d] = build();
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mix", "50");
    d->compile();
    const std::size_t n = 3 * 14400 + kOn;
    auto first = fxtest::burst(n, kOn, kHz);
    std::vector<float> second(n);
    for (std::size_t i = 0; i < kOn; ++i) second[14400 + 7200 + i] = first[i]; // a new note after the switch
    for (std::size_t i = 0; i < n; ++i) first[i] += second[i];
    Stereo out = run(d, &DelayEngine::exec, Stereo(first, first), [&](std::size_t frame) {
        if (frame == 400) { // 6400 samples in
            setNode(f, "on_off", "\"OFF\"");
            d->compile();
        }
    });
    EXPECT_NEAR(toneAt(out.l, 14400 + 7200), 0.5, 0.01); // the new note passes dry at unity
    EXPECT_NEAR(toneAt(out.l, 14400), 0.5 * 1.0, 0.01); // the old repeat still sounds
    EXPECT_NEAR(toneAt(out.l, 28800) / toneAt(out.l, 14400), 0.3, 0.02);
    EXPECT_LT(toneAt(out.l, 2 * 14400 + 7200), 1e-3); // the new note is never repeated
}

TEST(DelayEngine, LockedDualFeedbackScalesWithTheTimeRatio)
{
    auto [f, d] = build();
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mix", "50");
    setNode(f, "fdbk", "50");
    setNode(f, "dlytime\\rawdata", "100");
    setNode(f, "ddfolder\\on_off", "\"ON\"");
    setNode(f, "ddfolder\\rtime\\rawdata", "200");
    setNode(f, "ddfolder\\fbpol", "\"Locked\"");
    d->compile();
    EXPECT_FALSE(findNode(f, "ddfolder\\fdbkr")->getStyleVisible());
    auto in = fxtest::burst(3 * 9600 + kOn, kOn, kHz);
    Stereo out = run(d, &DelayEngine::exec, Stereo(in, in));
    // Left line to the left output, right line to the right one (pans -100 / +100).
    EXPECT_NEAR(toneAt(out.l, 9600) / toneAt(out.l, 4800), 0.5, 0.02);
    EXPECT_NEAR(toneAt(out.r, 19200) / toneAt(out.r, 9600), 0.25, 0.02);
    EXPECT_LT(toneAt(out.r, 4800), 1e-3);

    setNode(f, "ddfolder\\fbpol", "\"Independent\"");
    d->compile();
    EXPECT_TRUE(findNode(f, "ddfolder\\fdbkr")->getStyleVisible());
}

TEST(DelayEngine, StaysFiniteAndBoundedWithEverythingAtItsLimit)
{
    for (const char* bounce : {"-100", "100"}) {
        auto [f, d] = build();
        for (auto [path, value] :
             std::initializer_list<std::pair<const char*, const char*>>{{"on_off", "\"ON\""},
                                                                        {"fdbk", "100"},
                                                                        {"mix", "100"},
                                                                        {"dlytime\\rawdata", "1"},
                                                                        {"tcfolder\\tape", "100"},
                                                                        {"tcfolder\\analog", "100"},
                                                                        {"tcfolder\\spread", "100"},
                                                                        {"modfolder\\on_off", "\"ON\""},
                                                                        {"modfolder\\dpth", "100"},
                                                                        {"modfolder\\sphase", "180"},
                                                                        {"ddfolder\\on_off", "\"ON\""},
                                                                        {"ddfolder\\fdbkr", "100"}})
            setNode(f, path, value);
        setNode(f, "tcfolder\\bounce", bounce);
        d->compile();
        auto noise = dsptest::noise(96000, 5);
        Stereo out = run(d, &DelayEngine::exec, Stereo(noise, noise));
        EXPECT_TRUE(fxtest::allFinite(out.l) && fxtest::allFinite(out.r)) << bounce;
        EXPECT_LT(fxtest::peak(out.l), 20.0) << bounce;
        EXPECT_LT(fxtest::peak(out.r), 20.0) << bounce;
    }
}

} // namespace
