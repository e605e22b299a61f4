#include "dsp/SchroederAllPass.h"

#include <gtest/gtest.h>

#include "DspTestUtil.h"
#include "dsp/Fft.h"

using namespace dsptest;

namespace {

// y = z^-D v - g v, v = x + g z^-D v, in double.
std::vector<double> reference(const std::vector<float>& x, double g, int delay)
{
    std::vector<double> v(x.size()), y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double dv = i >= std::size_t(delay) ? v[i - delay] : 0.0;
        v[i] = x[i] + g * dv;
        y[i] = dv - g * v[i];
    }
    return y;
}

std::vector<float> run(SchroederAllPass& ap, std::vector<float> x, int split)
{
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); i += split) {
        int n = int(std::min<std::size_t>(split, x.size() - i));
        ap.exec(x.data() + i, y.data() + i, n);
    }
    return y;
}

} // namespace

TEST(SchroederAllPass, MatchesTheDifferenceEquation)
{
    auto x = noise(6000, 1);
    struct Case {
        int size;
        float gain;
        unsigned delay;
    } cases[] = {{2048, 0.7071f, 2048}, {2048, 0.5f, 347}, {1024, -0.6f, 17}, {64, 0.3f, 16}};
    for (auto c : cases)
        for (int split : {1, 3, 16, 17}) {
            if (c.delay < 16u && split > int(c.delay)) continue;
            SchroederAllPass ap(c.size);
            ap.compile(c.gain, c.delay);
            EXPECT_LT(relError(run(ap, x, split), reference(x, c.gain, int(c.delay))), 1e-5)
                << "delay " << c.delay << " split " << split;
        }
}

TEST(SchroederAllPass, KeepsTheEnergyOfNoise)
{
    SchroederAllPass ap(2048);
    ap.compile(0.7071f, 1201);
    auto x = noise(4800, 2);
    x.resize(48000 * 2, 0.0f); // time for the echoes to die away (0.7071^80)
    auto y = run(ap, x, 16);
    double ein = 0, eout = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        ein += double(x[i]) * x[i];
        eout += double(y[i]) * y[i];
    }
    EXPECT_NEAR(eout / ein, 1.0, 1e-4);
}

TEST(SchroederAllPass, FlatMagnitudeResponse)
{
    const int n = 4096;
    SchroederAllPass ap(256);
    ap.compile(0.5f, 37);
    std::vector<float> x(n, 0.0f), spectrum(2 * n);
    x[0] = 1.0f;
    auto h = run(ap, x, 16);
    getFft(h.data(), spectrum.data(), n);
    for (int k = 0; k <= n / 2; ++k)
        ASSERT_NEAR(std::hypot(spectrum[2 * k], spectrum[2 * k + 1]), 1.0, 1e-5) << "bin " << k;
}
