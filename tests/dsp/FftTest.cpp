#include "dsp/Fft.h"

#include <gtest/gtest.h>

#include "DspTestUtil.h"
#include "support/TempRoot.h"

using namespace dsptest;
using cd = std::complex<double>;

namespace {

// Largest deviation of an interleaved float array from a reference, relative to the reference's
// largest magnitude.
double relError(const std::vector<float>& got, const std::vector<cd>& want)
{
    double err = 0, peak = 1e-30;
    for (std::size_t k = 0; k < want.size(); ++k) {
        err = std::max(err, std::abs(cd(got[2 * k], got[2 * k + 1]) - want[k]));
        peak = std::max(peak, std::abs(want[k]));
    }
    return err / peak;
}

} // namespace

TEST(Fft, ForwardMatchesADirectDft)
{
    for (int n : {1, 2, 4, 8, 16, 32, 64, 2048, 4096}) {
        auto x = noise(n, n);
        std::vector<cd> xc(x.begin(), x.end());
        std::vector<float> out(2 * n);
        getFft(x.data(), out.data(), float(n));
        EXPECT_LT(relError(out, dft(xc, false)), 2e-6) << "size " << n;
    }
}

TEST(Fft, InverseMatchesADirectDftWithItsScaling)
{
    for (int n : {2, 16, 128, 2048, 4096}) {
        auto re = noise(n, 100 + n), im = noise(n, 200 + n);
        std::vector<cd> xc(n);
        std::vector<float> in(2 * n), out(2 * n);
        for (int k = 0; k < n; ++k) {
            xc[k] = cd(re[k], im[k]);
            in[2 * k] = re[k];
            in[2 * k + 1] = im[k];
        }
        getIfft(in.data(), out.data(), float(n));
        EXPECT_LT(relError(out, dft(xc, true)), 2e-6) << "size " << n;
    }
}

TEST(Fft, RoundTripReturnsTheBlock)
{
    for (int n : {16, 2048, 4096}) {
        auto x = noise(n, 7 * n);
        std::vector<float> spectrum(2 * n), back(2 * n);
        getFft(x.data(), spectrum.data(), float(n));
        getIfft(spectrum.data(), back.data(), float(n));
        for (int k = 0; k < n; ++k) {
            ASSERT_NEAR(back[2 * k], x[k], 1e-6) << "size " << n << " sample " << k;
            ASSERT_NEAR(back[2 * k + 1], 0.0f, 1e-6) << "size " << n << " sample " << k;
        }
    }
}

TEST(Fft, ImpulseGivesAFlatSpectrumAndBack)
{
    const int n = 4096;
    std::vector<float> x(n, 0.0f), spectrum(2 * n), back(2 * n);
    x[0] = 1.0f;
    getFft(x.data(), spectrum.data(), n);
    for (int k = 0; k < n; ++k) {
        ASSERT_EQ(spectrum[2 * k], 1.0f);
        ASSERT_EQ(spectrum[2 * k + 1], 0.0f);
    }
    getIfft(spectrum.data(), back.data(), n);
    for (int k = 0; k < n; ++k) ASSERT_NEAR(back[2 * k], k == 0 ? 1.0f : 0.0f, 1e-7f);
}

// The twiddle table is made once per size and logged each time it is made.
TEST(Fft, TwiddlesAreCachedPerSize)
{
    std::vector<float> x(2 * 4096, 0.25f), out(2 * 4096);
    getFft(x.data(), out.data(), 2048); // whatever size an earlier test left in the table
    StdoutCapture capture;
    getFft(x.data(), out.data(), 4096);
    getFft(x.data(), out.data(), 4096);
    getIfft(out.data(), x.data(), 4096);
    getFft(x.data(), out.data(), 2048);
    getFft(x.data(), out.data(), 4096);
    EXPECT_EQ(capture.text(),
              "I (Libs): Generated twiddles with size 4096\n"
              "I (Libs): Generated twiddles with size 2048\n"
              "I (Libs): Generated twiddles with size 4096\n");
}

TEST(Fft, LastStageRadixAndTableBounds)
{
    EXPECT_EQ(getFtButterflySize(4096), 4);
    EXPECT_EQ(getFtButterflySize(16), 4);
    EXPECT_EQ(getFtButterflySize(2048), 2);
    EXPECT_EQ(getFtButterflySize(8), 2);
    // The table never writes past 2n floats, and each stage starts with the unit twiddles.
    for (int n : {4, 8, 16, 2048, 4096}) {
        std::vector<float> w(2 * n + 8, -7.0f);
        twiddle_gen(w.data(), n);
        for (int i = 2 * n; i < 2 * n + 8; ++i) ASSERT_EQ(w[i], -7.0f) << n;
        const float unit[6] = {1, 0, 1, 0, 1, 0};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(w[i], unit[i]);
    }
    EXPECT_EQ(bitr(1u), 0x80000000u);
    EXPECT_EQ(bitr(0x12345678u), 0x1e6a2c48u);
    for (unsigned i = 0; i < 64; ++i) EXPECT_EQ(brev[i], bitr(i) >> 26);
}

// Sizes the transform cannot do leave the output untouched instead of running off the arrays.
TEST(Fft, UnusableSizesDoNothing)
{
    std::vector<float> x(64, 1.0f), out(128, -3.0f);
    for (float n : {0.0f, -4.0f, 12.0f, NAN}) {
        getFft(x.data(), out.data(), n);
        getIfft(x.data(), out.data(), n);
        for (float v : out) ASSERT_EQ(v, -3.0f) << n;
    }
}

TEST(Fft, ComplexHelpers)
{
    float re[3] = {1, -2, 3}, c[6];
    real2Complex(3, re, c);
    EXPECT_EQ(std::vector<float>(c, c + 6), (std::vector<float>{1, 0, -2, 0, 3, 0}));
    float a[4] = {1, 2, 0, -1}, b[4] = {3, -4, 5, 6};
    complexMultiply(2, a, b);
    // (1 + 2i)(3 - 4i) = 11 + 2i; (-i)(5 + 6i) = 6 - 5i
    EXPECT_EQ(std::vector<float>(b, b + 4), (std::vector<float>{11, 2, 6, -5}));
}
