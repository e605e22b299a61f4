#include "effects/ReverbFDN.h"
#include "BlockTestUtil.h"

#include <gtest/gtest.h>

using fxtest::keep;
using fxtest::run;
using fxtest::scratchFolder;
using fxtest::setNode;
using fxtest::Stereo;

namespace {

struct Reverb {
    Node* f;
    ReverbFDN* r;
};

Reverb build()
{
    Node* f = scratchFolder();
    return {f, keep(new ReverbFDN(f))};
}

TEST(ReverbFDN, TailFallsSixtyDecibelsInTheModesTime)
{
    struct Case {
        const char* mode;
        const char* decay;
        double seconds;
    };
    const Case cases[] = {{"\"ROOM\"", "1", 1.0}, {"\"HALL\"", "0", 1.0}, {"\"GALAXY\"", "0", 2.0}};
    for (const Case& c : cases) {
        auto [f, r] = build();
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "mode", c.mode);
        setNode(f, "decay", c.decay);
        setNode(f, "mix", "1");
        setNode(f, "mod", "0");
        setNode(f, "hi_damp", "18000");
        r->compile();
        const std::size_t n = std::size_t(48000 * (0.6 + c.seconds));
        auto in = dsptest::noise(n, 2);
        std::fill(in.begin() + 4800, in.end(), 0.0f);
        Stereo out = run(r, &ReverbFDN::exec, Stereo(in, in));
        const std::size_t t1 = 4800 + 12000, t2 = t1 + std::size_t(24000 * c.seconds);
        const double drop = dsptest::db(fxtest::rmsIn(out.l, t2, t2 + 4800) / fxtest::rmsIn(out.l, t1, t1 + 4800));
        EXPECT_NEAR(drop, -30.0, 6.0) << c.mode << " decay " << c.decay;
        EXPECT_GT(fxtest::rmsIn(out.r, t1, t1 + 4800), 1e-4) << c.mode;
    }
}

// Off by its switch or by the external one, the dry signal passes at unity; the external switch
// turned back on gives the reverb back.
TEST(ReverbFDN, MixEndsAndSwitchOff)
{
    struct Case {
        const char* on;
        const char* mix;
        const char* external; // the external switch, compiled in turn ('0' off, '1' on)
        bool dryExact; // the output is the input itself
        float at0;
    };
    const Case cases[] = {{"\"ON\"", "0", "", true, 1.0f},
                          {"\"ON\"", "1", "", false, 0.0f},
                          {"\"OFF\"", "1", "", true, 1.0f},
                          {"\"ON\"", "1", "0", true, 1.0f},
                          {"\"ON\"", "1", "01", false, 0.0f}};
    for (const Case& c : cases) {
        auto [f, r] = build();
        setNode(f, "on_off", c.on);
        setNode(f, "mix", c.mix);
        r->compile();
        for (const char* e = c.external; *e; ++e) {
            r->setExtOnOff(*e == '1');
            r->compile();
        }
        auto in = fxtest::impulse(9600);
        Stereo out = run(r, &ReverbFDN::exec, Stereo(in, in));
        EXPECT_NEAR(out.l[0], c.at0, 1e-6) << c.on << c.mix << c.external;
        if (c.dryExact) {
            EXPECT_EQ(out.l, in) << c.on << c.mix << c.external;
        } else {
            EXPECT_GT(fxtest::rmsIn(out.l, 1344, 9600), 1e-4);
        }
    }
}

TEST(ReverbFDN, StaysBoundedAtTheLongestDecay)
{
    auto [f, r] = build();
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mode", "\"GALAXY\"");
    setNode(f, "decay", "1");
    setNode(f, "mod", "100");
    setNode(f, "hi_damp", "18000");
    r->compile();
    auto noise = dsptest::noise(96000, 9);
    Stereo out = run(r, &ReverbFDN::exec, Stereo(noise, noise));
    EXPECT_TRUE(fxtest::allFinite(out.l) && fxtest::allFinite(out.r));
    EXPECT_LT(fxtest::peak(out.l), 10.0);
}

} // namespace
