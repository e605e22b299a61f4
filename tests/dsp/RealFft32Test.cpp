#include "dsp/RealFft32.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "DspTestUtil.h"

// The layout and the scaling the partitioned FIR relies on, against a DFT in double: forward gives
// twice the DFT (bins 0..15 split, bin 16 apart, bin 0's imaginary part exactly zero), and the
// inverse of a spectrum gives 32 times the upper half of its normalised inverse, so the inverse of a
// forward returns 64 times samples 16..31.
TEST(RealFft32, ForwardIsTwiceTheDftAndTheInverseReturnsTheUpperHalf)
{
    const double pi = std::acos(-1.0);
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::vector<float> x = dsptest::noise(RealFft32::kSize, seed);
        float s[RealFft32::kSpectrum];
        RealFft32::forward(x.data(), s);
        for (int k = 0; k <= 16; ++k) {
            std::complex<double> want = 0;
            for (int m = 0; m < 32; ++m) want += double(x[std::size_t(m)]) * std::polar(2.0, -2 * pi * k * m / 32);
            const double re = k < 16 ? s[k] : s[RealFft32::kNyquist], im = k < 16 ? s[16 + k] : 0.0;
            EXPECT_NEAR(re, want.real(), 1e-5) << "bin " << k << " seed " << seed;
            EXPECT_NEAR(im, want.imag(), 1e-5) << "bin " << k << " seed " << seed;
        }
        EXPECT_EQ(s[16], 0.0f);
        float y[16];
        RealFft32::inverseUpperHalf(s, y);
        for (int n = 0; n < 16; ++n)
            EXPECT_NEAR(y[n] / 64.0f, x[std::size_t(16 + n)], 1e-6) << "sample " << 16 + n << " seed " << seed;
    }
}
