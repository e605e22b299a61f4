#include "effects/ReverbFDN8.h"
#include "BlockTestUtil.h"

#include <gtest/gtest.h>

#include <bit>

using fxtest::findNode;
using fxtest::keep;
using fxtest::run;
using fxtest::scratchFolder;
using fxtest::setNode;
using fxtest::Stereo;

namespace {

struct Reverb {
    Node* f;
    ReverbFDN8* r;
};

Reverb build()
{
    Node* f = scratchFolder();
    return {f, keep(new ReverbFDN8(f))};
}

// Lines start at length 0 and cross-fade to the lengths of the first compile pass within 20 ms:
// let them settle in silence before measuring.
void settle(ReverbFDN8* r)
{
    r->compile();
    run(r, &ReverbFDN8::exec, Stereo(4800));
}

TEST(Hadamard8, MatchesTheSylvesterMatrix)
{
    auto x = dsptest::noise(8 * 16, 1);
    std::vector<float> data = x;
    float* rows[8];
    for (int i = 0; i < 8; ++i) rows[i] = data.data() + 16 * i;
    hadamard8_frame16(rows);
    for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 16; ++k) {
            double want = 0;
            for (int i = 0; i < 8; ++i)
                want += (std::popcount(unsigned(i & j)) % 2 ? -1.0 : 1.0) * x[std::size_t(16 * i + k)];
            EXPECT_NEAR(rows[j][k], want, 1e-5);
        }
}

// Decay times: the tail falls 60 dB in the mode's time.
TEST(ReverbFDN8, TailFallsSixtyDecibelsInTheDecayTime)
{
    struct Case {
        const char* mode;
        const char* decay;
        double seconds;
    };
    const Case cases[] = {{"\"ROOM\"", "1", 1.0}, {"\"HALL\"", "0", 1.0}, {"\"HALL\"", "0.5", 2.0}};
    for (const Case& c : cases) {
        auto [f, r] = build();
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "mode", c.mode);
        setNode(f, "decay", c.decay);
        setNode(f, "mix", "1");
        setNode(f, "mod", "0");
        setNode(f, "tcfolder\\hi_damp", "20000");
        r->compile();
        const std::size_t n = std::size_t(48000 * (0.6 + c.seconds));
        auto in = dsptest::noise(n, 2);
        std::fill(in.begin() + 4800, in.end(), 0.0f);
        Stereo out = run(r, &ReverbFDN8::exec, Stereo(in, in));
        const std::size_t t1 = 4800 + 12000, t2 = t1 + std::size_t(24000 * c.seconds); // half the decay time
        const double drop = dsptest::db(fxtest::rmsIn(out.l, t2, t2 + 4800) / fxtest::rmsIn(out.l, t1, t1 + 4800));
        EXPECT_NEAR(drop, -30.0, 6.0) << c.mode << " decay " << c.decay;
    }
}

// The external switch off passes the dry signal alone, whatever the mix; back on, the reverb returns.
TEST(ReverbFDN8, MixEndsAreDryOnlyAndWetOnly)
{
    struct Case {
        const char* mix;
        const char* external; // the external switch, compiled in turn ('0' off, '1' on)
        float at0; // output at the impulse: the dry part alone, the network answers later
        bool dryOnly;
    };
    const Case cases[] = {{"0", "", 1.0f, true},
                          {"0.5", "", 1.0f, false},
                          {"1", "", 0.0f, false},
                          {"1", "0", 1.0f, true},
                          {"1", "01", 0.0f, false}};
    for (const Case& c : cases) {
        auto [f, r] = build();
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "mix", c.mix);
        for (const char* e = c.external; *e; ++e) {
            r->setExtOnOff(*e == '1');
            r->compile();
        }
        settle(r);
        auto in = fxtest::impulse(9600);
        Stereo out = run(r, &ReverbFDN8::exec, Stereo(in, in));
        EXPECT_NEAR(out.l[0], c.at0, 1e-6) << c.mix << " external " << c.external;
        if (c.dryOnly) {
            EXPECT_EQ(out.l, in) << c.mix << " external " << c.external;
        } else {
            EXPECT_GT(fxtest::rmsIn(out.l, 1, out.l.size()), 1e-4) << c.mix << " external " << c.external;
        }
    }
}

// Switched off, the network gets silence: its tail rings out, and later input passes dry only.
TEST(ReverbFDN8, OffLetsTheTailRingAndPassesNewInputDry)
{
    auto once = [](bool withNote) {
        auto [f, r] = build();
        setNode(f, "on_off", "\"ON\"");
        r->compile();
        auto in = dsptest::noise(48000, 4);
        std::fill(in.begin() + 4800, in.end(), 0.0f);
        if (withNote) in[24000] = 1.0f;
        return run(r, &ReverbFDN8::exec, Stereo(in, in), [&](std::size_t frame) {
            if (frame == 400) {
                setNode(f, "on_off", "\"OFF\"");
                r->compile();
            }
        });
    };
    Stereo plain = once(false), note = once(true);
    EXPECT_GT(fxtest::rmsIn(plain.l, 6400, 12000), 1e-3); // the tail keeps sounding
    for (std::size_t i = 0; i < plain.size(); ++i)
        ASSERT_NEAR(note.l[i] - plain.l[i], i == 24000 ? 1.0f : 0.0f, 1e-6) << i;
}

TEST(ReverbFDN8, SpringKeepsItsLinesShortAndShowsItsOwnControls)
{
    for (const char* tension : {"0", "1"})
        for (const char* md : {"\"PRE\"", "\"POST\"", "\"POST+PRE\""})
            for (const char* pre : {"0", "100"}) {
                auto [f, r] = build();
                setNode(f, "on_off", "\"ON\"");
                setNode(f, "mode", "\"SPRING\"");
                setNode(f, "tcfolder\\tension", tension);
                setNode(f, "tcfolder\\md", md);
                setNode(f, "pre_dly", pre);
                setNode(f, "tcfolder\\spread", "100");
                r->compile();
                for (int i = 0; i < ReverbFDN8::kLines; ++i) {
                    EXPECT_LE(r->getLineLength(i), 3840);
                    EXPECT_GT(r->getLineLength(i), 1000);
                    for (int s = 0; s < ReverbFDN8::kStages; ++s) EXPECT_LE(r->getDiffusionLength(s, i), 1680);
                }
            }
    auto [f, r] = build();
    for (const char* mode : {"\"SPRING\"", "\"HALL\""}) {
        setNode(f, "mode", mode);
        r->compile();
        const bool spring = std::string(mode) == "\"SPRING\"";
        for (const char* path : {"tcfolder\\tone", "tcfolder\\md", "tcfolder\\tension"})
            EXPECT_EQ(findNode(f, path)->getStyleVisible(), spring) << path;
        for (const char* path : {"diff", "tcfolder\\lo_damp", "tcfolder\\hi_damp", "tcfolder\\lo_cut", "tcfolder\\dmp"})
            EXPECT_EQ(findNode(f, path)->getStyleVisible(), !spring) << path;
    }
}

TEST(ReverbFDN8, LongestSettingsStayBoundedAndStereo)
{
    for (const char* mode : {"\"GALAXY\"", "\"SPRING\"", "\"ROOM\""}) {
        auto [f, r] = build();
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "mode", mode);
        setNode(f, "decay", "1");
        setNode(f, "mix", "1");
        setNode(f, "mod", "100");
        setNode(f, "diff", "1");
        setNode(f, "tcfolder\\dmp", "\"SOFT\"");
        setNode(f, "tcfolder\\spread", "100");
        r->compile();
        auto noise = dsptest::noise(96000, 9);
        Stereo out = run(r, &ReverbFDN8::exec, Stereo(noise, noise));
        EXPECT_TRUE(fxtest::allFinite(out.l) && fxtest::allFinite(out.r)) << mode;
        EXPECT_LT(fxtest::peak(out.l), 10.0) << mode;
        // Full spread: the two sides differ although the input is mono.
        double diff = 0;
        for (std::size_t i = 48000; i < 96000; ++i) diff += std::fabs(out.l[i] - out.r[i]);
        EXPECT_GT(diff, 1.0) << mode;
    }
}

} // namespace
