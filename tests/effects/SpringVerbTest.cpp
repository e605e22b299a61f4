#include "effects/SpringVerb.h"
#include "BlockTestUtil.h"

#include <gtest/gtest.h>

using fxtest::keep;
using fxtest::run;
using fxtest::scratchFolder;
using fxtest::setNode;
using fxtest::Stereo;

namespace {

struct Spring {
    Node* f;
    SpringVerb* s;
};

Spring build()
{
    Node* f = scratchFolder();
    return {f, keep(new SpringVerb(f))};
}

// Wet-only answer to a click, 1.5 s long.
Stereo click(Spring& sp)
{
    setNode(sp.f, "on_off", "\"ON\"");
    setNode(sp.f, "mix", "1");
    sp.s->compile();
    auto in = fxtest::impulse(72000, 16);
    return run(sp.s, &SpringVerb::exec, Stereo(in, in));
}

TEST(SpringVerb, TensionAndPositionSetTheSpringLength)
{
    struct Case {
        const char* tension;
        const char* position;
        int samples;
    };
    // (constant + 0.07 + offset) x 48000, offset -0.04 at full tension.
    const Case cases[] = {{"0", "\"POST\"", 3384}, {"1", "\"POST\"", 1464}, {"0", "\"PRE\"", 3360}};
    for (const Case& c : cases) {
        Spring sp = build();
        setNode(sp.f, "tension", c.tension);
        setNode(sp.f, "mode", c.position);
        auto out = click(sp);
        EXPECT_NEAR(sp.s->getSpringDelay(), c.samples, 1) << c.tension << c.position;
        // Nothing comes out before the click has gone once round the spring.
        EXPECT_LT(fxtest::rmsIn(out.l, 0, std::size_t(c.samples) + 16), 1e-7) << c.tension << c.position;
        EXPECT_GT(fxtest::rmsIn(out.l, std::size_t(c.samples) + 16, 24000), 1e-5) << c.tension;
    }
}

TEST(SpringVerb, DecayLengthensAndToneBrightensTheTail)
{
    auto tail = [](const char* decay, const char* tone) {
        Spring sp = build();
        setNode(sp.f, "decay", decay);
        setNode(sp.f, "tone", tone);
        auto out = click(sp);
        std::vector<float> hf(out.l.size());
        for (std::size_t i = 1; i < hf.size(); ++i)
            hf[i] = out.l[i] - out.l[i - 1]; // first difference: weighs the highs
        return std::pair{fxtest::rmsIn(out.l, 40000, 72000), fxtest::rmsIn(hf, 4000, 24000)};
    };
    // The loop gain spans only 0.26 to 0.33: the difference grows with every round of the spring.
    EXPECT_GT(tail("1", "0.5").first, 1.4 * tail("0", "0.5").first);
    EXPECT_GT(tail("0.5", "1").second, 1.5 * tail("0.5", "0").second);
}

TEST(SpringVerb, OffPassesDryAndLetsTheTailRing)
{
    Spring sp = build();
    EXPECT_FALSE(sp.s->isEnabled());
    sp.s->compile();
    auto noise = dsptest::noise(4800, 3);
    Stereo off = run(sp.s, &SpringVerb::exec, Stereo(noise, noise));
    EXPECT_EQ(off.l, noise);

    setNode(sp.f, "on_off", "\"ON\"");
    sp.s->compile();
    EXPECT_TRUE(sp.s->isEnabled());
    auto in = dsptest::noise(24000, 4);
    std::fill(in.begin() + 2400, in.end(), 0.0f);
    Stereo out = run(sp.s, &SpringVerb::exec, Stereo(in, in), [&](std::size_t frame) {
        if (frame == 200) {
            setNode(sp.f, "on_off", "\"OFF\"");
            sp.s->compile();
        }
    });
    EXPECT_GT(fxtest::rmsIn(out.l, 4000, 8000), 1e-3);
    EXPECT_TRUE(fxtest::allFinite(out.l) && fxtest::allFinite(out.r));
    EXPECT_LT(fxtest::peak(out.l), 4.0);
}

} // namespace
