#include "dsp/QuadFIR.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "DspTestUtil.h"

using namespace dsptest;

namespace {

// y[i] = sum over j of ir[j] x[i - j], in double, x zero before the start.
std::vector<double> convolve(const std::vector<float>& ir, const std::vector<float>& x)
{
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double acc = 0;
        for (std::size_t j = 0; j < ir.size() && j <= i; ++j) acc += double(ir[j]) * x[i - j];
        y[i] = acc;
    }
    return y;
}

std::vector<float> run(QuadFIR& fir, const std::vector<float>& x, int split)
{
    return runSplit(x, split, [&](const float* in, float* out, int n) { fir.exec(in, out, n); });
}

bool aligned16(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p) % 16 == 0;
}

} // namespace

TEST(QuadFIR, NewFilterIsTheIdentity)
{
    for (int taps : {1, 7, 2048}) {
        auto x = noise(200, 1);
        for (int split : {1, 3, 16, 17}) {
            QuadFIR fir(taps);
            auto y = run(fir, x, split);
            for (std::size_t i = 0; i < x.size(); ++i)
                ASSERT_EQ(y[i], x[i]) << taps << " taps, split " << split << ", sample " << i;
        }
    }
}

TEST(QuadFIR, ImpulseAtTapDDelaysByD)
{
    struct Case {
        int taps, d;
    } cases[] = {{64, 0}, {64, 1}, {64, 15}, {64, 16}, {64, 17}, {64, 63}, {2048, 1000}, {2048, 2047}, {1023, 1022}};
    for (auto c : cases) {
        std::vector<float> ir(c.taps, 0.0f);
        ir[c.d] = 1.0f;
        auto x = noise(c.taps + 300, 2);
        for (int split : {1, 3, 16, 17}) {
            QuadFIR fir(c.taps);
            fir.load(ir.data());
            auto y = run(fir, x, split);
            // Within the head the delayed sample comes back exactly; beyond it through the
            // transforms, within their rounding.
            const float tolerance = c.d < QuadFIR::kBlock ? 0.0f : 1e-6f;
            for (std::size_t i = 0; i < x.size(); ++i)
                ASSERT_NEAR(y[i], i >= std::size_t(c.d) ? x[i - c.d] : 0.0f, tolerance)
                    << c.taps << " taps, d " << c.d << ", split " << split << ", sample " << i;
        }
    }
}

// The vector kernel against a direct convolution, over many blocks and every tap-count remainder.
TEST(QuadFIR, RandomTapsMatchADirectConvolution)
{
    for (int taps : {2048, 1024, 1023, 100, 33, 17, 9, 5, 1}) {
        auto ir = noise(taps, 10 + taps, 0.05f);
        auto x = noise(taps + 2000, 20 + taps);
        auto ref = convolve(ir, x);
        for (int split : {1, 3, 16, 17}) {
            QuadFIR fir(taps);
            fir.load(ir.data());
            EXPECT_LT(relError(run(fir, x, split), ref), 2e-6) << taps << " taps, split " << split;
        }
    }
}

TEST(QuadFIR, LoadBlendMixesDryAndConvolved)
{
    const int taps = 256;
    auto ir = noise(taps, 4, 0.2f);
    auto x = noise(1000, 5);
    QuadFIR plain(taps), dry(taps), full(taps), half(taps);
    plain.load(ir.data());
    dry.load_blend(ir.data(), 0.0f);
    full.load_blend(ir.data(), 1.0f);
    half.load_blend(ir.data(), 0.5f);
    auto yPlain = run(plain, x, 16), yDry = run(dry, x, 16), yFull = run(full, x, 16), yHalf = run(half, x, 16);
    auto wet = convolve(ir, x);
    std::vector<double> mix(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_EQ(yDry[i], x[i]);
        ASSERT_EQ(yFull[i], yPlain[i]);
        mix[i] = 0.5 * wet[i] + 0.5 * x[i];
    }
    EXPECT_LT(relError(yHalf, mix), 2e-6);
}

TEST(QuadFIR, SmoothBlendGlidesToTheTarget)
{
    const int taps = 32;
    std::vector<float> ir(taps, 0.0f);
    ir[5] = 1.0f;
    QuadFIR fir(taps);
    fir.load_smooth_blend(ir.data(), 1.0f, 0.25f);
    // One step: a quarter of the way from the unit impulse to the delayed one.
    EXPECT_FLOAT_EQ(fir.getCoeffs()[taps - 1], 0.75f);
    EXPECT_FLOAT_EQ(fir.getCoeffs()[taps - 1 - 5], 0.25f);
    for (int i = 0; i < 200; ++i) fir.load_smooth_blend(ir.data(), 1.0f, 0.25f);
    EXPECT_NEAR(fir.getCoeffs()[taps - 1], 0.0f, 1e-6f);
    EXPECT_NEAR(fir.getCoeffs()[taps - 1 - 5], 1.0f, 1e-6f);
}

// New taps start from the existing past samples; resetStatus clears that past.
TEST(QuadFIR, HistoryOutlivesATapChangeUntilReset)
{
    const int taps = 128;
    auto irA = noise(taps, 6, 0.1f), irB = noise(taps, 7, 0.1f);
    auto x = noise(640, 8);
    QuadFIR fir(taps);
    fir.load(irA.data());
    std::vector<float> y(x.size());
    fir.exec(x.data(), y.data(), 320);
    fir.load(irB.data());
    for (int i = 320; i < 640; i += 16) fir.exec(x.data() + i, y.data() + i, 16);
    auto refB = convolve(irB, x);
    std::vector<float> tail(y.begin() + 320, y.end());
    std::vector<double> refTail(refB.begin() + 320, refB.end());
    EXPECT_LT(relError(tail, refTail), 2e-6);

    fir.resetStatus();
    std::vector<float> silence(64, 0.0f), out(64, 1.0f);
    fir.exec(silence.data(), out.data(), 64);
    for (float v : out) EXPECT_EQ(v, 0.0f);
}

// Taps loaded in the middle of a block of 16 (calls of 8 samples) take effect with the next block:
// the rest of the block is filtered as it began. A reset asked for with them clears the history at
// the next call instead, which then starts from silence with the new taps.
TEST(QuadFIR, ChangesWithinABlockWaitForTheNextBlock)
{
    const int taps = 300;
    auto irA = noise(taps, 11, 0.1f), irB = noise(taps, 12, 0.1f);
    auto x = noise(480, 13);
    const std::size_t change = 40; // half-way through the third block
    auto refA = convolve(irA, x), refB = convolve(irB, x);
    std::vector<float> after(x.begin() + change, x.end());
    auto refFresh = convolve(irB, after);
    for (bool reset : {false, true}) {
        QuadFIR fir(taps);
        fir.load(irA.data());
        std::vector<float> y(x.size());
        for (std::size_t i = 0; i < x.size(); i += 8) {
            if (i == change) {
                fir.load(irB.data());
                if (reset) fir.resetStatus();
            }
            fir.exec(x.data() + i, y.data() + i, 8);
        }
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double want = reset ? (i < change ? refA[i] : refFresh[i - change]) : i < 48 ? refA[i] : refB[i];
            ASSERT_NEAR(y[i], want, 2e-6) << (reset ? "reset" : "load") << ", sample " << i;
        }
    }
}

TEST(QuadFIR, TapsAre16ByteAligned)
{
    for (int taps : {1, 3, 1023, 1024, 2048}) {
        QuadFIR fir(taps);
        std::vector<float> ir(taps, 0.1f);
        EXPECT_TRUE(aligned16(fir.getCoeffs())) << taps;
        fir.load(ir.data()); // the other bank
        EXPECT_TRUE(aligned16(fir.getCoeffs())) << taps;
    }
}

TEST(QuadFIR, NonPositiveTapCountIsOneTap)
{
    QuadFIR fir(0);
    EXPECT_EQ(fir.getTaps(), 1);
    auto x = noise(40, 3);
    auto y = run(fir, x, 16);
    EXPECT_EQ(y, x);
}
