// The frame kernels, the per-frame filters and the fractional table reads against plain loops in
// double. On aarch64 these run the NEON forms; NeonTest compares them with the portable ones.
#include "dsp/FrameKernels.h"
#include "dsp/FractionalIndex.h"
#include "dsp/FrameFilters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

#include "DspTestUtil.h"

using namespace dsptest;

namespace {

constexpr float kW = 0.7f, kC = 0.25f, kG = -1.5f;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kGuard = 123.0f;
using Frame = std::function<void(const float* in, float* out)>;

// Noise with 0, infinity and -0 at fixed places, for the kernels that must carry them through.
std::vector<float> withSpecials(std::vector<float> x)
{
    x[1] = 0.0f;
    x[2] = kInf;
    x[5] = -0.0f;
    return x;
}

// A kernel call on inputs a, b, output o and count n; a reference term of a and b in double.
#define KERNEL(call) [](const float* a, const float* b, float* o, int n) { (void)a, (void)b, (void)o, (void)n, call; }
#define REF(expr)                                                                                                      \
    [](double a, double b) {                                                                                           \
        (void)a, (void)b;                                                                                              \
        return double(expr);                                                                                           \
    }

TEST(FrameKernels, ElementWiseKernelsMatchPlainLoopsAndWriteOnlyTheirCount)
{
    struct Row {
        const char* name;
        bool counted; // else one frame
        void (*run)(const float* a, const float* b, float* o, int n);
        double (*ref)(double a, double b);
    } rows[] = {
        {"vecMul", false, KERNEL(ZQ_vecMul_SFRAME(a, b, o)), REF(a * b)},
        {"vecMul counted", true, KERNEL(ZQ_vecMul_SFRAME_UNROLLED(a, b, o, n)), REF(a * b)},
        {"vecIncrement", false, KERNEL((std::copy_n(a, kZqFrame, o), ZQ_vecIncrement_SFRAME(o, b))), REF(a + b)},
        {"vecOffset", false, KERNEL((std::copy_n(a, kZqFrame, o), ZQ_vecOffset_SFRAME(o, kC))), REF(a + kC)},
        {"w_vec", false, KERNEL(ZQ_w_vec_SFRAME(a, b, kW, o)), REF(a * kW + b)},
        {"w_vec counted", true, KERNEL(ZQ_w_vec_SFRAME_UNROLLED(a, b, kW, o, n)), REF(a * kW + b)},
        {"vec_cube counted", true, KERNEL(ZQ_vec_cube_SFRAME_UNROLLED(a, o, n)), REF(a * a * a)},
        {"vec_sum", false, KERNEL(ZQ_vec_sum_SFRAME(a, b, o)), REF(a + b)},
        {"vec_sum counted", true, KERNEL(ZQ_vec_sum_SFRAME_UNROLLED(a, b, o, n)), REF(a + b)},
        {"vec_scale", false, KERNEL((std::copy_n(a, kZqFrame, o), ZQ_vec_scale_SFRAME(o, kG))), REF(a * kG)},
        {"vec_scale2", false, KERNEL(ZQ_vec_scale2_SFRAME(a, o, kG)), REF(a * kG)},
        {"abs", false, KERNEL(ZQ_abs_SFRAME(a, o)), REF(std::fabs(a))},
        {"abs counted", true, KERNEL(ZQ_abs_SFRAME_UNROLLED(a, o, n)), REF(std::fabs(a))},
        {"vecrecip counted", true, KERNEL(ZQ_vecrecip_SFRAME_UNROLLED(a, o, n)), REF(1.0 / a)},
        {"blk_move", false, KERNEL(ZQ_blk_move_SFRAME(a, o)), REF(a)},
        {"blk_move counted", true, KERNEL(ZQ_blk_move_SFRAME_UNROLLED(a, o, n)), REF(a)},
        {"mem_clean counted", true, KERNEL(ZQ_mem_clean_SFRAME_UNROLLED(o, n)), REF(0)},
    };
    const std::vector<float> a = withSpecials(noise(2048, 1)), b = noise(2048, 2);
    for (const Row& r : rows) {
        for (int n : r.counted ? std::vector<int>{1, 3, 4, 16, 17, 2047} : std::vector<int>{kZqFrame}) {
            std::vector<float> out(std::size_t(n) + 4, kGuard);
            r.run(a.data(), b.data(), out.data(), n);
            for (int i = 0; i < n; ++i) {
                const double want = r.ref(a[i], b[i]);
                if (!std::isfinite(a[i]) || !std::isfinite(want) || want == 0.0)
                    ASSERT_EQ(out[i], float(want)) << r.name << ", n " << n << ", element " << i;
                else // a few roundings, relative to the terms
                    ASSERT_NEAR(out[i], want, 1e-6 * (std::fabs(want) + std::fabs(a[i]) + std::fabs(b[i])))
                        << r.name << ", n " << n << ", element " << i;
            }
            for (int i = n; i < n + 4; ++i) ASSERT_EQ(out[i], kGuard) << r.name << " wrote past n " << n;
        }
    }
}

TEST(FrameKernels, BlockMovesAreSafeWhenTheRangesOverlap)
{
    for (int shift : {-3, -1, 1, 5}) {
        for (int n : {3, 16, 33}) {
            std::vector<float> buf = noise(48, 3), want = buf;
            const int from = shift < 0 ? -shift : 0, to = shift < 0 ? 0 : shift;
            std::vector<float> moved(buf.begin() + from, buf.begin() + from + n);
            std::copy(moved.begin(), moved.end(), want.begin() + to);
            if (n == kZqFrame) ZQ_blk_move_SFRAME(buf.data() + from, buf.data() + to);
            else ZQ_blk_move_SFRAME_UNROLLED(buf.data() + from, buf.data() + to, n);
            EXPECT_EQ(buf, want) << "shift " << shift << ", n " << n;
        }
    }
}

// Sums within 1e-6 of the sum of the terms' magnitudes (a few roundings each); maxima exact. The
// all-negative input catches a maximum that starts from 0.
TEST(FrameKernels, ReductionsMatchPlainLoops)
{
    struct Row {
        const char* name;
        bool counted;
        void (*run)(const float* a, const float* b, float* o, int n); // the result in o[0]
        double (*term)(double a, double b);
        bool sum; // else the largest term
    } rows[] = {
        {"vec_sum_square", false, KERNEL(o[0] = ZQ_vec_sum_square_SFRAME(a)), REF(a * a), true},
        {"vec_sum_elements", false, KERNEL(o[0] = ZQ_vec_sum_elements_SFRAME(a)), REF(a), true},
        {"vec_sum_elm", false, KERNEL(o[0] = ZQ_vec_sum_elm_SFRAME(a)), REF(a), true},
        {"L1", false, KERNEL(o[0] = ZQ_L1_SFRAME(a)), REF(std::fabs(a)), true},
        {"peak", false, KERNEL(o[0] = ZQ_peak_SFRAME(a)), REF(std::fabs(a)), false},
        {"max", false, KERNEL(o[0] = ZQ_max_SFRAME(a)), REF(a), false},
        {"dotprod", true, KERNEL(o[0] = ZQ_dotprod_SFRAME_UNROLLED(a, b, n)), REF(a * b), true},
        {"dotprod natural", true, KERNEL(o[0] = DSPF_sp_dotprod_natural(a, b, n)), REF(a * b), true},
    };
    std::vector<float> negative = noise(2048, 4);
    for (float& v : negative) v -= 0.6f;
    for (const std::vector<float>& a : {noise(2048, 5), negative}) {
        const std::vector<float> b = noise(2048, 6);
        for (const Row& r : rows) {
            for (int n : r.counted ? std::vector<int>{1, 2, 3, 5, 16, 17, 2047} : std::vector<int>{kZqFrame}) {
                double want = r.sum ? 0.0 : -kInf, magnitude = 0;
                for (int i = 0; i < n; ++i) {
                    const double t = r.term(a[i], b[i]);
                    want = r.sum ? want + t : std::max(want, t);
                    magnitude += std::fabs(t);
                }
                float got;
                r.run(a.data(), b.data(), &got, n);
                EXPECT_NEAR(got, want, r.sum ? 1e-6 * magnitude : 0.0) << r.name << ", n " << n;
            }
        }
    }
    const float silence[kZqFrame] = {};
    EXPECT_EQ(ZQ_peak_SFRAME(silence), 0.0f);
}
#undef KERNEL
#undef REF

// The recursive sections and the filter objects frame by frame against double-precision loops, with
// in and out separate and the same array. Each float rounding enters the recursion and leaves it
// amplified by the noise gain of the poles (the RMS gain of 1/A(z)), so a recursive row may differ
// from double by a few 2^-24 times that gain: the bound is the larger of 2e-6 and 8 2^-24 gain.
TEST(FrameKernels, FrameFiltersMatchDoublePrecisionLoops)
{
    const Sos lowpass{0.0674553, 0.1349105, 0.0674553, -1.1429805, 0.4128016}; // 4.8 kHz, q 0.707
    const Sos bell{1.0412, -1.8825, 0.8697, -1.8825, 0.9109}; // 1 kHz, +6 dB
    // The fourth-order section: the product of the two, as floats; the reference runs them in double.
    const Sos& p = lowpass;
    const Sos& q = bell;
    const float c4[9] = {float(p.b0 * q.b0),
                         float(p.b0 * q.b1 + p.b1 * q.b0),
                         float(p.b0 * q.b2 + p.b1 * q.b1 + p.b2 * q.b0),
                         float(p.b1 * q.b2 + p.b2 * q.b1),
                         float(p.b2 * q.b2),
                         float(p.a1 + q.a1),
                         float(p.a2 + p.a1 * q.a1 + q.a2),
                         float(p.a1 * q.a2 + p.a2 * q.a1),
                         float(p.a2 * q.a2)};
    struct Row {
        const char* name;
        std::function<Frame()> make;
        std::function<std::vector<double>(const std::vector<float>&)> ref;
        std::vector<double> poles; // a1, a2, ... of the denominator
    };
    auto convolution = [](const std::vector<float>& ir) {
        return [ir](const std::vector<float>& x) {
            std::vector<double> y(x.size());
            for (std::size_t i = 0; i < x.size(); ++i)
                for (std::size_t j = 0; j < ir.size() && j <= i; ++j) y[i] += double(ir[j]) * x[i - j];
            return y;
        };
    };
    auto fir = [](const std::vector<float>& ir) {
        return [ir]() -> Frame {
            auto f = std::make_shared<FIRExecObj>(int(ir.size()));
            for (std::size_t k = 0; k < ir.size(); ++k) f->taps[k] = ir[ir.size() - 1 - k];
            return [f](const float* in, float* out) { FIRExecObj_exec(f.get(), in, out); };
        };
    };
    const std::vector<float> ir1 = {0.8f}, ir16 = noise(16, 7, 0.2f), ir17 = noise(17, 8, 0.2f),
                             ir100 = noise(100, 9, 0.1f);
    std::vector<Row> rows = {
        {"biquad",
         [&]() -> Frame {
             auto f = std::make_shared<BiquadObjExec>();
             *f = {{float(p.b0), float(p.b1), float(p.b2)}, {1.0f, float(p.a1), float(p.a2)}, {}};
             return [f](const float* in, float* out) { BiquadObjExec_exec(f.get(), in, out); };
         },
         [&](const std::vector<float>& x) {
             return filter(Sos{float(p.b0), float(p.b1), float(p.b2), float(p.a1), float(p.a2)}, x);
         },
         {p.a1, p.a2}},
        {"fourth order",
         [&]() -> Frame {
             auto f = std::make_shared<IIR4Obj>();
             std::copy_n(c4, 9, f->c);
             return [f](const float* in, float* out) { IIR4Obj_exec(f.get(), in, out); };
         },
         [&](const std::vector<float>& x) {
             std::vector<double> y(x.size());
             for (std::size_t i = 0; i < x.size(); ++i)
                 for (std::size_t k = 0; k < 5; ++k) {
                     if (k <= i) y[i] += c4[k] * double(x[i - k]);
                     if (k >= 1 && k <= i) y[i] -= c4[4 + k] * y[i - k];
                 }
             return y;
         },
         {c4[5], c4[6], c4[7], c4[8]}},
        {"single pole",
         []() -> Frame {
             auto f = std::make_shared<SinglePoleIIRObj>();
             f->b0 = 0.1f;
             f->a1 = -0.9f;
             return [f](const float* in, float* out) { SinglePoleIIRObj_exec(f.get(), in, out); };
         },
         [](const std::vector<float>& x) {
             return filter(Sos{0.1f, 0, 0, -0.9f, 0}, x);
         },
         {-0.9}},
        {"fir 1 tap", fir(ir1), convolution(ir1), {}},
        {"fir 16 taps", fir(ir16), convolution(ir16), {}},
        {"fir 17 taps", fir(ir17), convolution(ir17), {}},
        {"fir 100 taps", fir(ir100), convolution(ir100), {}},
    };
    const std::vector<float> x = noise(40 * kZqFrame, 10);
    for (const Row& r : rows) {
        const std::vector<double> want = r.ref(x);
        std::vector<double> h;
        double energy = 0;
        for (std::size_t i = 0; i < 20000; ++i) {
            double v = i == 0 ? 1.0 : 0.0;
            for (std::size_t k = 1; k <= r.poles.size() && k <= i; ++k) v -= r.poles[k - 1] * h[i - k];
            h.push_back(v);
            energy += v * v;
        }
        const double bound = std::max(2e-6, 8 * 5.9604644775390625e-8 * std::sqrt(energy));
        for (bool inPlace : {false, true}) {
            Frame exec = r.make();
            std::vector<float> y = inPlace ? x : std::vector<float>(x.size());
            for (std::size_t i = 0; i < x.size(); i += kZqFrame)
                exec(inPlace ? y.data() + i : x.data() + i, y.data() + i);
            EXPECT_LT(relError(y, want), bound) << r.name << (inPlace ? ", in place" : "");
        }
    }
}

// Reads that wrap the ring, counts that are not whole groups of four.
TEST(FrameKernels, CircularFirReadsAcrossTheWrap)
{
    struct Case {
        int taps, sizeBits, position, n;
    } cases[] = {{1, 5, 15, 4}, {5, 5, 13, 6}, {16, 6, 30, 16}, {17, 6, 31, 17}, {3, 3, 2, 3}};
    for (const Case& c : cases) {
        const int size = 1 << (c.sizeBits - 1);
        const std::vector<float> ring = noise(std::size_t(size), 11), taps = noise(std::size_t(c.taps), 12);
        std::vector<float> out(std::size_t(c.n) + 4, kGuard);
        ZQ_fircirc_SFRAME_UNROLLED(ring.data(), taps.data(), out.data(), c.position, c.sizeBits, c.taps, c.n);
        for (int i = 0; i < c.n; ++i) {
            double want = 0, magnitude = 0;
            for (int k = 0; k < c.taps; ++k) {
                const double t = double(taps[k]) * ring[(c.position + i + k) % size];
                want += t;
                magnitude += std::fabs(t);
            }
            EXPECT_NEAR(out[i], want, 1e-6 * magnitude) << c.taps << " taps, output " << i;
        }
        for (int i = c.n; i < c.n + 4; ++i) EXPECT_EQ(out[i], kGuard) << c.taps << " taps wrote past n";
    }
}

// The adaptive filter learns an unknown response; split into calls of 1, 3, 16 and 17 outputs
// (x advanced, the returned error passed on) it gives the same samples as one call; and it follows
// the same recursion run in double.
TEST(FrameKernels, LmsLearnsAResponseAndChainsAcrossCalls)
{
    for (int taps : {7, 8, 33}) {
        const int n = 3000;
        const std::vector<float> x = noise(std::size_t(n + taps), 13), unknown = noise(std::size_t(taps), 14);
        std::vector<float> desired(n);
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < taps; ++k) desired[i] += unknown[k] * x[i + 1 + k];
        const float step = 1.0f / float(taps);

        std::vector<float> w(static_cast<std::size_t>(taps)), out(n);
        const float error = ZQ_DSPF_sp_lms(x.data(), w.data(), desired.data(), out.data(), step, 0.0f, taps, n);
        for (int k = 0; k < taps; ++k) EXPECT_NEAR(w[k], unknown[k], 1e-3) << taps << " taps, weight " << k;
        EXPECT_LT(std::fabs(error), 1e-3) << taps << " taps";

        for (int split : {1, 3, 16, 17}) {
            std::vector<float> ws(static_cast<std::size_t>(taps)), outs(n);
            float e = 0.0f;
            for (int i = 0; i < n; i += split) {
                const int m = std::min(split, n - i);
                e = ZQ_DSPF_sp_lms(x.data() + i, ws.data(), desired.data() + i, outs.data() + i, step, e, taps, m);
            }
            EXPECT_EQ(outs, out) << taps << " taps, split " << split;
            EXPECT_EQ(e, error);
        }

        std::vector<double> wd(static_cast<std::size_t>(taps)), want(n);
        double ed = 0;
        for (int i = 0; i < n; ++i) {
            double y = 0;
            for (int k = 0; k < taps; ++k) {
                wd[k] += step * ed * x[i + k];
                y += wd[k] * x[i + 1 + k];
            }
            want[i] = y;
            ed = desired[i] - y;
        }
        EXPECT_LT(relError(out, want), 1e-5) << taps << " taps";
    }
}

TEST(FrameKernels, FractionalReadsInterpolateBetweenNeighbours)
{
    const float table[4] = {0.0f, 10.0f, 20.0f, 40.0f};
    struct Case {
        float pos;
        int mask; // 0: the unbounded read
        float want;
    } cases[] = {
        {0.0f, 0, 0.0f},   {1.25f, 0, 12.5f}, {2.5f, 0, 30.0f},  {2.0f, 0, 20.0f},  {3.5f, 3, 20.0f},
        {5.25f, 3, 12.5f}, {-0.5f, 3, 20.0f}, {-3.75f, 3, 2.5f}, {2.75f, 3, 35.0f},
    };
    for (const Case& c : cases) {
        const float got = c.mask ? modulations_get_fractional_index_value_bounded(table, c.pos, c.mask)
                                 : modulations_get_fractional_index_value(table, c.pos);
        EXPECT_EQ(got, c.want) << c.pos << " mask " << c.mask;
    }
}

} // namespace
