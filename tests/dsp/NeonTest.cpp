// The NEON paths of the unit (aarch64) against the portable code they stand in for, which stays the
// reference: the same input through both, compared within 1e-6 of the signal's peak (the biquad
// within what its own arithmetic allows, see below; the frame kernels within 1e-6 of their terms).
// Built on aarch64 only.
#if defined(__ARM_NEON)
#include "dsp/FrameKernels.h"
#include "dsp/NeonMath.h"
#include "dsp/QuadBiquad.h"
#include "dsp/QuadComp.h"
#include "dsp/QuadFIR.h"
#include "dsp/RealFft32.h"

#include "DspTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kRelative = 1e-6;
constexpr double kUnitRoundoff = 5.9604644775390625e-8; // 2^-24

double peak(const std::vector<float>& x)
{
    double p = 0;
    for (float v : x) p = std::max(p, double(std::fabs(v)));
    return p;
}

double maxDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, double(std::fabs(a[i] - b[i])));
    return d;
}

std::vector<float> lanes(float32x4_t (*f)(float32x4_t), std::vector<float> x)
{
    x.resize((x.size() + 3) & ~std::size_t(3));
    for (std::size_t i = 0; i < x.size(); i += 4) vst1q_f32(x.data() + i, f(vld1q_f32(x.data() + i)));
    return x;
}

TEST(Neon, LogAndExp2MatchTheLibraryOverTheFloatRange)
{
    std::vector<float> x, v;
    for (float a = 1.2e-38f; a < 3e38f; a *= 1.0137f) x.push_back(a);
    for (float a = -125.5f; a < 128.0f; a += 0.0173f) v.push_back(a);
    std::vector<float> ln = lanes(neon_log, x), p = lanes(neon_exp2, v);
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(ln[i], std::log(x[i]), kRelative * std::max(1.0f, std::fabs(std::log(x[i])))) << x[i];
    for (std::size_t i = 0; i < v.size(); ++i) ASSERT_NEAR(p[i], std::exp2(v[i]), kRelative * std::exp2(v[i])) << v[i];

    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> edges = lanes(neon_log, {0.0f, 1e-42f, inf, nan});
    EXPECT_EQ(edges[0], -inf);
    EXPECT_EQ(edges[1], -inf); // below the normal range: the compressor wants no reduction either way
    EXPECT_EQ(edges[2], inf);
    EXPECT_TRUE(std::isnan(edges[3]));
    edges = lanes(neon_exp2, {-200.0f, 200.0f, nan, 0.0f});
    EXPECT_EQ(edges[0], 0.0f);
    EXPECT_EQ(edges[1], inf);
    EXPECT_TRUE(std::isnan(edges[2]));
    EXPECT_EQ(edges[3], 1.0f);
}

// A decaying noise response like a cabinet's, against a noise history, at the blocks' tap counts
// and counts that leave a remainder after the four-tap steps.
TEST(Neon, FirBlockMatchesThePortableBlock)
{
    for (int taps : {1, 3, 17, 1024, 2047, 2048}) {
        std::vector<float> c = dsptest::noise(std::size_t(taps), 5);
        for (int k = 0; k < taps; ++k) c[std::size_t(k)] *= std::exp(float(k - taps + 1) / 300.0f);
        std::vector<float> h = dsptest::noise(std::size_t(taps) + QuadFIR::kBlock, 6);
        std::vector<float> portable(QuadFIR::kBlock), neon(QuadFIR::kBlock);
        QuadFIR::block16Portable(c.data(), h.data(), portable.data(), taps);
        QuadFIR::block16Neon(c.data(), h.data(), neon.data(), taps);
        EXPECT_LE(maxDifference(portable, neon), kRelative * peak(portable)) << taps;
    }
}

// The partitioned FIR's three kernels: the transform of a block pair, the sum of a response's
// spectra times the pairs' (the cabinet's 127 partitions and short runs), and the inverse of that
// sum, each on both paths from the same input.
TEST(Neon, PartitionKernelsMatchThePortableForms)
{
    constexpr int kSpectrum = RealFft32::kSpectrum;
    const std::vector<float> x = dsptest::noise(RealFft32::kSize, 8);
    std::vector<float> portable(kSpectrum), neon(kSpectrum);
    RealFft32::forwardPortable(x.data(), portable.data());
    RealFft32::forwardNeon(x.data(), neon.data());
    EXPECT_LE(maxDifference(portable, neon), kRelative * peak(portable)) << "forward";

    for (int count : {1, 2, 127}) {
        std::vector<float> pairs(std::size_t(count) * kSpectrum), spectra(pairs.size());
        for (int q = 0; q < count; ++q) {
            const std::vector<float> a = dsptest::noise(RealFft32::kSize, 20 + q), b = dsptest::noise(16, 40 + q);
            std::vector<float> padded(RealFft32::kSize, 0.0f);
            std::copy(b.begin(), b.end(), padded.begin());
            RealFft32::forwardPortable(a.data(), pairs.data() + q * kSpectrum);
            RealFft32::forwardPortable(padded.data(), spectra.data() + q * kSpectrum);
        }
        QuadFIR::multiplyAddPortable(pairs.data(), spectra.data(), count, portable.data());
        QuadFIR::multiplyAddNeon(pairs.data(), spectra.data(), count, neon.data());
        EXPECT_LE(maxDifference(portable, neon), kRelative * peak(portable)) << count << " partitions";
    }

    std::vector<float> yPortable(16), yNeon(16);
    RealFft32::inverseUpperHalfPortable(portable.data(), yPortable.data());
    RealFft32::inverseUpperHalfNeon(portable.data(), yNeon.data());
    EXPECT_LE(maxDifference(yPortable, yNeon), kRelative * peak(yPortable)) << "inverse";
}

// Each path rounds every product and sum of a step once; those errors enter the recursion and leave
// it amplified by the noise gain of the poles (the RMS gain |h|2 of 1/A(z)). Two float
// implementations of one section therefore differ by a few 2^-24 |h|2 of the signal, whatever their
// order of operations (measured: 1.0 to 4.7 times that, and each path as close to a double-precision
// run as the other). For sections whose poles sit near the unit circle (low cuts, low peaks and
// shelves) that is above 1e-6, so the bound is the larger of 1e-6 and 8 2^-24 |h|2.
TEST(Neon, BiquadMatchesThePortableLoopWithinItsArithmetic)
{
    const std::vector<float> x = dsptest::noise(9600, 7);
    struct Case {
        const char* name;
        void (*set)(QuadBiquad&);
    } cases[] = {
        {"lpf 1 kHz", [](QuadBiquad& q) { q.set_lpf_2_order(1000, 0.707f); }},
        {"lpf 12 kHz q 4", [](QuadBiquad& q) { q.set_lpf_2_order(12000, 4.0f); }},
        {"hpf 80 Hz", [](QuadBiquad& q) { q.set_hpf_2_order(80, 0.707f); }},
        {"peak 1 kHz +6 dB", [](QuadBiquad& q) { q.set_peaking(1000, 1.0f, 6.0f); }},
        {"peak 100 Hz +12 dB", [](QuadBiquad& q) { q.set_peaking(100, 1.41f, 12.0f); }},
        {"low shelf 200 Hz -9 dB", [](QuadBiquad& q) { q.set_lpf_shelf(200, 0.7f, -9.0f); }},
        {"high shelf 5 kHz +6 dB", [](QuadBiquad& q) { q.set_hpf_shelf(5000, 0.7f, 6.0f); }},
        {"first-order cut 30 Hz", [](QuadBiquad& q) { q.set_lo_cut_1_order(30); }},
        {"first-order cut 8 kHz", [](QuadBiquad& q) { q.set_hi_cut_1_order(8000); }},
    };
    for (const Case& c : cases) {
        QuadBiquad portable, neon;
        c.set(portable);
        c.set(neon);
        std::vector<float> yp(x.size()), yn(x.size());
        for (std::size_t i = 0; i < x.size(); i += 16) {
            portable.execPortable(x.data() + i, yp.data() + i, 16);
            neon.execNeon(x.data() + i, yn.data() + i, 16);
        }
        const QuadBiquad::Coeffs k = portable.getCoeffs();
        double y1 = 0, y2 = 0, energy = 0;
        for (int i = 0; i < 200000; ++i) {
            double y = (i == 0 ? 1.0 : 0.0) - k.c[3] * y1 - k.c[4] * y2;
            energy += y * y;
            y2 = y1;
            y1 = y;
        }
        const double bound = std::max(kRelative, 8 * kUnitRoundoff * std::sqrt(energy));
        EXPECT_LE(maxDifference(yp, yn), bound * peak(yp)) << c.name;
    }

    // A flat band (b = a) is exactly transparent on the NEON path: its four-sample matrices are the
    // identity and zeros. (The portable loop is exact only where b1 x - a1 y is not fused.)
    QuadBiquad flat;
    flat.set_peaking(100, 1.41f, 0.0f);
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); i += 16) flat.execNeon(x.data() + i, y.data() + i, 16);
    EXPECT_EQ(y, x);
}

TEST(Neon, CompressorMatchesThePortableLoop)
{
    std::vector<float> x = dsptest::noise(9600, 8);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] *= float(0.5 + 0.5 * std::sin(double(i) / 700.0));
    x[100] = 0.0f; // minus infinity dB
    struct Case {
        float thr, ratio, attackMs, releaseMs, makeupDb, kneeDb;
    } cases[] = {{-20, 4, 5, 50, 6, 6}, {-40, 20, 1, 200, 0, 0}, {-10, 2, 30, 300, 3, 12}, {-30, 1, 10, 100, 0, 0}};
    for (const Case& c : cases) {
        QuadComp portable, neon;
        portable.load(c.thr, c.ratio, c.attackMs, c.releaseMs, c.makeupDb, c.kneeDb);
        neon.load(c.thr, c.ratio, c.attackMs, c.releaseMs, c.makeupDb, c.kneeDb);
        std::vector<float> yp(x.size()), yn(x.size());
        for (std::size_t i = 0; i < x.size(); i += 16) {
            portable.execPortable(x.data() + i, yp.data() + i, 16, 0.9f);
            neon.execNeon(x.data() + i, yn.data() + i, 16, 0.9f);
        }
        EXPECT_LE(maxDifference(yp, yn), kRelative * peak(yp)) << c.thr;
        EXPECT_NEAR(neon.getActualGain(), portable.getActualGain(), kRelative);
    }
}

// Both forms of a frame kernel as two entries of the table below: an element-wise kernel writes o, a
// reduction o[0].
#define KERNEL(body) [](const float* a, const float* b, float* o, int n) { (void)a, (void)b, (void)n, body; }
#define BOTH(f, args) KERNEL(zq_portable::f args), KERNEL(zq_neon::f args)
#define BOTH_REDUCE(f, args) KERNEL(o[0] = zq_portable::f args), KERNEL(o[0] = zq_neon::f args)

// Element-wise kernels per element, reductions as a whole, each within 1e-6 of the magnitude of its
// terms (summed for a reduction). The NEON forms fuse a product with the following add, which at
// most saves a rounding of 2^-24 of the product per term over an unfused portable build (g++ fuses
// the portable form as well here: measured equal); the reciprocal's estimate refined twice lands
// within a few 2^-24 of the quotient (measured 1.2e-7). Sums run in the same four lanes in both
// forms, so nothing else differs.
TEST(Neon, FrameKernelsMatchThePortableForms)
{
    struct Row {
        const char* name;
        void (*portable)(const float*, const float*, float*, int);
        void (*neon)(const float*, const float*, float*, int);
        double (*magnitude)(double a, double b); // of one element's terms
        bool reduction;
    } rows[] = {
        {"mul", BOTH(mul, (a, b, o, n)), [](double a, double b) { return std::fabs(a * b); }, false},
        {"add", BOTH(add, (a, b, o, n)), [](double a, double b) { return std::fabs(a) + std::fabs(b); }, false},
        {"weighted", BOTH(weighted, (a, b, 0.7f, o, n)),
         [](double a, double b) { return std::fabs(0.7 * a) + std::fabs(b); }, false},
        {"scale", BOTH(scale, (a, o, -1.5f, n)), [](double a, double) { return std::fabs(1.5 * a); }, false},
        {"offset", BOTH(offset, ((std::copy_n(a, n, o), o), 0.25f, n)),
         [](double a, double) { return std::fabs(a) + 0.25; }, false},
        {"cube", BOTH(cube, (a, o, n)), [](double a, double) { return std::fabs(a * a * a); }, false},
        {"abs", BOTH(absolute, (a, o, n)), [](double a, double) { return std::fabs(a); }, false},
        {"recip", BOTH(recip, (a, o, n)), [](double a, double) { return std::fabs(1 / a); }, false},
        {"dot", BOTH_REDUCE(dot, (a, b, n)), [](double a, double b) { return std::fabs(a * b); }, true},
        {"sum of magnitudes", BOTH_REDUCE(sumAbs, (a, n)), [](double a, double) { return std::fabs(a); }, true},
        {"peak", BOTH_REDUCE(maxAbs, (a, n)), [](double, double) { return 0.0; }, true}, // exact
        {"max", BOTH_REDUCE(max, (a, n)), [](double, double) { return 0.0; }, true},
    };
    const std::vector<float> a = dsptest::noise(2048, 9), b = dsptest::noise(2048, 10);
    for (const Row& r : rows) {
        for (int n : {1, 3, 4, 16, 17, 2047}) {
            std::vector<float> portable(static_cast<std::size_t>(n)), neon(static_cast<std::size_t>(n));
            r.portable(a.data(), b.data(), portable.data(), n);
            r.neon(a.data(), b.data(), neon.data(), n);
            if (r.reduction) {
                double magnitude = 0;
                for (int i = 0; i < n; ++i) magnitude += r.magnitude(a[i], b[i]);
                EXPECT_NEAR(neon[0], portable[0], kRelative * magnitude) << r.name << ", n " << n;
            } else {
                for (int i = 0; i < n; ++i)
                    ASSERT_NEAR(neon[i], portable[i], kRelative * r.magnitude(a[i], b[i]))
                        << r.name << ", n " << n << ", element " << i;
            }
        }
    }
}
#undef KERNEL
#undef BOTH
#undef BOTH_REDUCE

// The ring FIR within 1e-6 of the sum of its terms' magnitudes, as the dot product. The adaptive
// filter feeds each output's error back into its weights, so the two forms drift apart by roundings
// that the adaptation itself damps: outputs and weights within 1e-6 of their peaks over 3000 outputs.
TEST(Neon, RingFirAndLmsMatchThePortableForms)
{
    const std::vector<float> ring = dsptest::noise(256, 11), taps = dsptest::noise(255, 12);
    for (int tapCount : {1, 3, 64, 255}) {
        for (int position : {0, 250}) { // 250: the first windows wrap
            for (int n : {4, 16, 17}) {
                std::vector<float> portable(static_cast<std::size_t>(n)), neon(static_cast<std::size_t>(n));
                zq_portable::fircirc(ring.data(), taps.data(), portable.data(), position, 255, tapCount, n);
                zq_neon::fircirc(ring.data(), taps.data(), neon.data(), position, 255, tapCount, n);
                for (int i = 0; i < n; ++i) {
                    double magnitude = 0;
                    for (int k = 0; k < tapCount; ++k) magnitude += std::fabs(taps[k] * ring[(position + i + k) & 255]);
                    ASSERT_NEAR(neon[i], portable[i], kRelative * magnitude) << tapCount << " taps, output " << i;
                }
            }
        }
    }

    for (int tapCount : {7, 8, 33}) {
        const int n = 3000;
        const std::vector<float> x = dsptest::noise(std::size_t(n + tapCount), 13);
        std::vector<float> desired = dsptest::noise(std::size_t(n), 14);
        for (int i = 0; i < n; ++i) desired[i] = 0.3f * desired[i] + x[i + 1] - 0.5f * x[i + tapCount / 2];
        std::vector<float> wp(static_cast<std::size_t>(tapCount)), wn = wp, yp(n), yn(n);
        const float step = 1.0f / float(tapCount);
        const float ep = zq_portable::lms(x.data(), wp.data(), desired.data(), yp.data(), step, 0.0f, tapCount, n);
        const float en = zq_neon::lms(x.data(), wn.data(), desired.data(), yn.data(), step, 0.0f, tapCount, n);
        EXPECT_LE(maxDifference(yp, yn), kRelative * peak(yp)) << tapCount << " taps";
        EXPECT_LE(maxDifference(wp, wn), kRelative * peak(wp)) << tapCount << " taps";
        EXPECT_NEAR(en, ep, kRelative * peak(yp)) << tapCount << " taps";
    }
}

} // namespace
#endif
