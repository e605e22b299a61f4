#include "effects/Mixer.h"

#include "BlockTestUtil.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fxtest;

namespace {

// Runs the mixer with a fresh auxiliary frame before every frame, as the engine's dry copy is.
Stereo mix(Mixer& m, float (*auxFrame)[FRAME_SAMPLES], const Stereo& in, const Stereo& aux)
{
    return run(&m, &Mixer::exec, in, [&](std::size_t k) {
        if (!auxFrame) return;
        std::memcpy(auxFrame[0], aux.l.data() + k * FRAME_SAMPLES, sizeof auxFrame[0]);
        std::memcpy(auxFrame[1], aux.r.data() + k * FRAME_SAMPLES, sizeof auxFrame[1]);
    });
}

TEST(Mixer, RoutesMainAndAuxiliaryChannelsThroughTheMatrix)
{
    const Stereo in(dsptest::noise(1600, 1), dsptest::noise(1600, 2));
    const Stereo aux(dsptest::noise(1600, 3), dsptest::noise(1600, 4));
    struct Case {
        const char* what;
        float g[8];
        // Output left = sum of a[j] * source j, right = sum of b[j] * source j; sources L, R, aL, aR.
        float left[4], right[4];
    } cases[] = {
        {"construction gains", {1, 1, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}},
        {"auxiliary right to both", {0, 0, 0, 0, 0, 1, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}},
        {"application: level and dry right",
         {0.5f, 0.5f, 0, 0, 0, 0.25f, 0, 0.25f},
         {0.5f, 0, 0, 0.25f},
         {0, 0.5f, 0, 0.25f}},
        {"swap", {0, 0, 1, 1, 0, 0, 0, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}},
        {"auxiliary left crossed", {0, 0, 0, 0, 1, 0, 2, 0}, {0, 0, 1, 0}, {0, 0, 2, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        static float auxFrame[FRAME_CHANNELS][FRAME_SAMPLES];
        Mixer m(scratchFolder("mixer"), auxFrame);
        if (std::strcmp(c.what, "construction gains") != 0)
            m.setMixerValue(c.g[0], c.g[1], c.g[2], c.g[3], c.g[4], c.g[5], c.g[6], c.g[7]);
        Stereo out = mix(m, auxFrame, in, aux);
        for (std::size_t i = 0; i < in.size(); ++i) {
            const float src[4] = {in.l[i], in.r[i], aux.l[i], aux.r[i]};
            float l = 0, r = 0;
            for (int j = 0; j < 4; ++j) {
                l += c.left[j] * src[j];
                r += c.right[j] * src[j];
            }
            ASSERT_NEAR(out.l[i], l, 1e-6) << i;
            ASSERT_NEAR(out.r[i], r, 1e-6) << i;
        }
    }
}

TEST(Mixer, WithoutAuxiliaryFrameItSaysSoAndMixesSilence)
{
    StdoutCapture log;
    Mixer m(scratchFolder("mixer"), nullptr);
    EXPECT_NE(log.text().find("ERROR (Mixer): Error, aux_path not provided\n"), std::string::npos);
    m.setMixerValue(1, 1, 0, 0, 1, 1, 1, 1);
    const Stereo in(dsptest::noise(160, 1), dsptest::noise(160, 2));
    Stereo out = mix(m, nullptr, in, in);
    EXPECT_EQ(out.l, in.l);
    EXPECT_EQ(out.r, in.r);
}

} // namespace
