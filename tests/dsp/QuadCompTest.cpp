#include "dsp/QuadComp.h"

#include <gtest/gtest.h>

#include "DspTestUtil.h"
#include "support/TempRoot.h"

using namespace dsptest;

namespace {

// The gain computer and smoother in double, from thr, ratio, times and knee as given.
struct RefComp {
    double thr, ratio, att, rel, makeup, knee, env = 0;
    RefComp(double t, double r, double aMs, double rMs, double mDb, double k)
        : thr(t), ratio(r), att(std::exp(-std::log(9.0) / 48.0 / aMs)), rel(std::exp(-std::log(9.0) / 48.0 / rMs)),
          makeup(std::pow(10.0, mDb / 20)), knee(k)
    {}
    double target(double level) const
    {
        double lo = thr - knee / 2, hi = thr + knee / 2;
        if (level > hi) return (level - thr) * (1 / ratio - 1);
        if (level <= lo) return 0;
        return (level - lo) * (level - lo) * (1 / ratio - 1) * 0.5 / knee;
    }
    double step(double x, double fade)
    {
        double t = target(20 * std::log10(std::abs(x)));
        env = env > t ? att * env + (1 - att) * t : rel * env + (1 - rel) * t;
        return makeup * fade * std::pow(10.0, env / 20) * x;
    }
};

std::vector<float> run(QuadComp& c, const std::vector<float>& x, int split, float fade = 1.0f)
{
    return runSplit(x, split, [&](const float* in, float* out, int n) { c.exec(in, out, n, fade); });
}

// A constant level: the detector works on each sample's own level, so a constant makes the level exact.
std::vector<float> level(std::size_t n, double dB)
{
    return std::vector<float>(n, float(std::pow(10.0, dB / 20)));
}

double gainDb(const QuadComp& c)
{
    return 20 * std::log10(c.getActualGain());
}

// Samples from the 10 % to the 90 % point of a move of the gain from `from` to `to` dB.
double riseSamples(const std::vector<double>& gains, double from, double to)
{
    auto crossed = [&](double frac) {
        double mark = from + frac * (to - from);
        for (std::size_t i = 0; i < gains.size(); ++i)
            if ((to < from && gains[i] <= mark) || (to > from && gains[i] >= mark)) return double(i);
        return -1.0;
    };
    return crossed(0.9) - crossed(0.1);
}

} // namespace

TEST(QuadComp, RatioOneLeavesTheSignalAlone)
{
    QuadComp c;
    c.load(-30, 1, 5, 50, 0, 6);
    auto x = noise(4800, 1, 1.0f);
    auto y = run(c, x, 16);
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y[i], x[i]);
}

TEST(QuadComp, SettledGainFollowsTheStaticCurve)
{
    struct Case {
        float thr, ratio, knee, levelDb, wantDb;
    } cases[] = {
        {-30, 4, 0, -18, -9}, // 12 dB over, ratio 4
        {-30, 4, 6, -18, -9}, // above the knee
        {-30, 4, 6, -34, 0}, // below the knee
        {-30, 4, 6, -30, -0.5625}, // knee middle: 3^2 * (1/4 - 1) * 0.5 / 6
        {-30, 4, 6, -27, -2.25}, // knee top meets the line: (3)(1/4 - 1)
        {-20, 2, 0, -10, -5}, // hard knee
        {-20, 1000, 0, 0, -19.98}, // limiter-like
    };
    for (auto k : cases) {
        QuadComp c;
        c.load(k.thr, k.ratio, 1, 1, 0, k.knee);
        run(c, level(48000, k.levelDb), 16);
        EXPECT_NEAR(gainDb(c), k.wantDb, 0.01)
            << "thr " << k.thr << " ratio " << k.ratio << " knee " << k.knee << " level " << k.levelDb;
    }
}

TEST(QuadComp, AttackAndReleaseTimesFrom10To90Percent)
{
    for (auto [attackMs, releaseMs] : {std::pair{10.0f, 100.0f}, {2.0f, 300.0f}, {50.0f, 20.0f}}) {
        QuadComp c;
        c.load(-30, 4, attackMs, releaseMs, 0, 0);
        std::vector<double> gains;
        float buf[16];
        auto loud = level(16, -18), quiet = level(16, -50);
        for (int b = 0; b < 48000 / 16; ++b) {
            for (int i = 0; i < 16; ++i) {
                c.exec(loud.data() + i, buf, 1, 1.0f);
                gains.push_back(gainDb(c));
            }
        }
        EXPECT_NEAR(riseSamples(gains, 0, -9) / 48.0, attackMs, 0.05) << attackMs;
        gains.clear();
        for (int b = 0; b < 96000 / 16; ++b) {
            for (int i = 0; i < 16; ++i) {
                c.exec(quiet.data() + i, buf, 1, 1.0f);
                gains.push_back(gainDb(c));
            }
        }
        EXPECT_NEAR(riseSamples(gains, -9, 0) / 48.0, releaseMs, 0.05) << releaseMs;
    }
}

// The whole path against the double reference, in every split, with make-up and fade gains.
TEST(QuadCompSplits, MatchTheDoubleReference)
{
    auto x = noise(9600, 4, 1.0f);
    for (std::size_t i = 0; i < x.size(); ++i) // a swell and a drop, so both smoothers work
        x[i] *= float(0.02 + 0.98 * std::abs(std::sin(kPi * double(i) / 4800)));
    x[100] = 0.0f; // a zero sample is minus infinity dB
    for (int split : {1, 3, 4, 16, 17}) {
        QuadComp c;
        c.load(-20, 3, 3, 40, 4, 8);
        RefComp ref(-20, 3, 3, 40, 4, 8);
        auto y = run(c, x, split, 0.8f);
        std::vector<double> want(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) want[i] = ref.step(x[i], 0.8);
        EXPECT_LT(relError(y, want), 1e-4) << "split " << split;
    }
}

TEST(QuadComp, BadValuesAreReportedAndReplaced)
{
    struct Case {
        float ratio, attackMs, releaseMs, knee;
        const char* log;
    } cases[] = {
        {4, 5, 50, 0, ""},
        {4, 5, 50, -3, "ERROR (QuadComp): Knee must be > 0\n"},
        {0.5f, 5, 50, 6, "ERROR (QuadComp): Ratio must be >= 1\n"},
        {4, 0.5f, 50, 6, "ERROR (QuadComp): Attack time must be >= 1\n"},
        {4, 5, 0, 6, "ERROR (QuadComp): Release time must be >= 1\n"},
    };
    for (auto k : cases) {
        QuadComp c;
        StdoutCapture capture;
        c.load(-30, k.ratio, k.attackMs, k.releaseMs, 0, k.knee);
        EXPECT_EQ(capture.text(), k.log);
        auto co = c.getCoeffs();
        EXPECT_TRUE(std::isfinite(co.kneeCoef)) << k.log;
        EXPECT_TRUE(std::isfinite(co.slope) && std::isfinite(co.offset)) << k.log;
    }

    // A negative knee and a knee of 0 both give the hard knee.
    QuadComp hard, negative;
    hard.load(-30, 4, 5, 50, 0, 0);
    negative.load(-30, 4, 5, 50, 0, -3);
    auto x = noise(4800, 6, 0.5f);
    EXPECT_EQ(run(hard, x, 16), run(negative, x, 16));

    // Ratio below 1 does not compress; attack 0.5 ms behaves as 1 ms.
    QuadComp below;
    below.load(-30, 0.5f, 5, 50, 0, 6);
    EXPECT_EQ(run(below, x, 16), x);
    QuadComp fast, oneMs;
    fast.load(-30, 4, 0.5f, 50, 0, 6);
    oneMs.load(-30, 4, 1, 50, 0, 6);
    EXPECT_EQ(run(fast, x, 16), run(oneMs, x, 16));
}

TEST(QuadComp, MakeupAndFadeScaleTheOutput)
{
    QuadComp c;
    c.load(0, 4, 5, 50, 6, 0);
    auto x = level(64, -40); // below the threshold: no reduction
    auto y = run(c, x, 16, 0.5f);
    EXPECT_NEAR(y.back() / x.back(), std::pow(10.0, 6.0 / 20) * 0.5, 1e-5);
}

// A stray NaN or infinity must not leave the compressor stuck at a NaN or zero gain.
TEST(QuadComp, RecoversFromNonFiniteSamples)
{
    QuadComp c;
    c.load(-30, 4, 1, 1, 0, 6);
    std::vector<float> x = level(4800, -18);
    x[10] = NAN;
    x[20] = INFINITY;
    auto y = run(c, x, 16);
    EXPECT_TRUE(std::isfinite(y.back()));
    EXPECT_NEAR(gainDb(c), -9, 0.01);
}
