#include "effects/PolyPhasePitchShifter.h"
#include "BlockTestUtil.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::vector<float> shift(PolyPhasePitchShifter& p, const std::vector<float>& x, int split = 16)
{
    return dsptest::runSplit(x, split, [&](const float* in, float* out, int n) { p.exec(in, out, n); });
}

// Level of a tone in the settled second half.
double levelDb(const std::vector<float>& y, double hz)
{
    return dsptest::db(dsptest::amplitudeAt(y, y.size() / 2, hz) + 1e-12);
}

// Level of a tone averaged over short Hann-windowed frames: each splice of the taps restarts the
// tone's phase, so a long transform would cancel what a listener hears.
double shortTimeLevelDb(const std::vector<float>& y, double hz)
{
    constexpr std::size_t kLen = 2048;
    double power = 0;
    int frames = 0;
    for (std::size_t at = y.size() / 2; at + kLen <= y.size(); at += kLen / 2, ++frames) {
        std::complex<double> acc = 0;
        double wsum = 0;
        for (std::size_t i = 0; i < kLen; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * dsptest::kPi * double(i) / double(kLen));
            acc += w * double(y[at + i]) * std::polar(1.0, -2 * dsptest::kPi * hz * double(i) / dsptest::kFs);
            wsum += w;
        }
        const double amp = 2 * std::abs(acc) / wsum;
        power += amp * amp;
    }
    return dsptest::db(std::sqrt(power / frames) + 1e-12);
}

TEST(PolyPhasePitchShifter, MovesASineByTheRatio)
{
    struct Case {
        float semitones;
        double out;
    };
    const Case cases[] = {{12.0f, 880.0}, {-12.0f, 220.0}, {7.0f, 440.0 * std::exp2(7.0 / 12.0)}};
    for (const Case& c : cases)
        for (unsigned phases : {2u, 4u}) {
            auto p = std::make_unique<PolyPhasePitchShifter>(4096, phases);
            p->setSemitonesUp(c.semitones);
            auto y = shift(*p, dsptest::sine(96000, 440.0, 0.5));
            const double wanted = shortTimeLevelDb(y, c.out), source = shortTimeLevelDb(y, 440.0);
            // Two taps cross-fade one delayed copy into the next; more taps overlap copies of
            // different delays, which comb the tone, so only the pair keeps its level.
            if (phases == 2) {
                EXPECT_GT(wanted, dsptest::db(0.5) - 4.0) << c.semitones;
            }
            EXPECT_GT(wanted - source, 15.0) << c.semitones << " " << phases;
            EXPECT_TRUE(fxtest::allFinite(y));
        }
}

// At a ratio of 1 the taps stand still; with the windows summing to one the level is kept for any
// number of taps (a tone whose period divides the tap spacing adds in phase).
TEST(PolyPhasePitchShifter, UnityRatioKeepsTheLevelForAnyTapCount)
{
    for (unsigned phases : {2u, 4u, 8u}) {
        auto p = std::make_unique<PolyPhasePitchShifter>(4096, phases);
        p->setSemitonesUp(0.0f);
        const double hz = 48000.0 / 512.0 * 10.0; // 937.5 Hz: whole periods in 4096 / 8 samples
        auto y = shift(*p, dsptest::sine(48000, hz, 0.5));
        EXPECT_NEAR(levelDb(y, hz), dsptest::db(0.5), 0.1) << phases;
    }
}

TEST(PolyPhasePitchShifter, OutputDoesNotDependOnHowTheInputIsSplit)
{
    auto x = dsptest::noise(20000, 8);
    std::vector<float> first;
    for (int split : {1, 3, 16, 17}) {
        auto p = std::make_unique<PolyPhasePitchShifter>(2048, 3);
        p->setSemitonesUp(5.0f);
        auto y = shift(*p, x, split);
        if (first.empty()) {
            first = y;
        } else {
            EXPECT_EQ(y, first) << split;
        }
    }
}

TEST(PolyPhasePitchShifter, OutOfRangeSettingsAreHeldAtTheLimits)
{
    // A ring larger than the buffer, no ring and no taps would write out of bounds or divide by 0.
    struct Case {
        unsigned size, phases, wantSize;
    };
    for (const Case& c : {Case{100000, 2, 16384}, Case{0, 2, 2}, Case{1024, 0, 1024}, Case{1024, 99, 1024}}) {
        auto p = std::make_unique<PolyPhasePitchShifter>(c.size, c.phases);
        EXPECT_EQ(p->getBufferSize(), c.wantSize);
        auto y = shift(*p, dsptest::noise(40000, 2));
        EXPECT_TRUE(fxtest::allFinite(y));
        EXPECT_LT(fxtest::peak(y), 2.0);
    }
    // Semitones beyond three octaves act as three octaves.
    auto a = std::make_unique<PolyPhasePitchShifter>(4096, 2);
    auto b = std::make_unique<PolyPhasePitchShifter>(4096, 2);
    a->setSemitonesUp(48.0f);
    b->setSemitonesUp(36.0f);
    auto x = dsptest::noise(8000, 4);
    EXPECT_EQ(shift(*a, x), shift(*b, x));
    float nothing = 5.0f;
    a->exec(&nothing, &nothing, 0);
    EXPECT_EQ(nothing, 5.0f);
}

} // namespace
