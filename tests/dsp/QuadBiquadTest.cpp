#include "dsp/QuadBiquad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "DspTestUtil.h"
#include "dsp/BiquadDesign.h"
#include "dsp/Fft.h"

using namespace dsptest;

namespace {

// The cookbook forms in double, as the designers are specified.
enum class Kind { Lpf, Hpf, Bpf, Bpf0db, PeakingEQ, Notch, Allpass, LowShelf, HighShelf };

Sos reference(Kind kind, double f, double q, double dB)
{
    if (q <= 0.0001) q = 0.0001;
    double w = 2 * kPi * f, cw = std::cos(w), sw = std::sin(w), al = sw / (2 * q);
    double A = std::pow(10.0, dB / 40), sa = 2 * std::sqrt(A) * al;
    double b0 = 0, b1 = 0, b2 = 0, a0, a1 = -2 * cw, a2 = 1 - al;
    a0 = 1 + al;
    switch (kind) {
    case Kind::Lpf: b0 = (1 - cw) / 2, b1 = 1 - cw, b2 = (1 - cw) / 2; break;
    case Kind::Hpf: b0 = (1 + cw) / 2, b1 = -(1 + cw), b2 = (1 + cw) / 2; break;
    case Kind::Bpf: b0 = sw / 2, b1 = 0, b2 = -sw / 2; break;
    case Kind::Bpf0db:
    case Kind::PeakingEQ: b0 = al, b1 = 0, b2 = -al; break;
    case Kind::Notch: b0 = 1 + A * al, b1 = -2 * cw, b2 = 1 - A * al; break;
    case Kind::Allpass: b0 = 1 - al, b1 = -2 * cw, b2 = 1 + al; break;
    case Kind::LowShelf:
        b0 = A * ((A + 1) - (A - 1) * cw + sa), b1 = 2 * A * ((A - 1) - (A + 1) * cw),
        b2 = A * ((A + 1) - (A - 1) * cw - sa), a0 = (A + 1) + (A - 1) * cw + sa, a1 = -2 * ((A - 1) + (A + 1) * cw),
        a2 = (A + 1) + (A - 1) * cw - sa;
        break;
    case Kind::HighShelf:
        b0 = A * ((A + 1) + (A - 1) * cw + sa), b1 = -2 * A * ((A - 1) + (A + 1) * cw),
        b2 = A * ((A + 1) + (A - 1) * cw - sa), a0 = (A + 1) - (A - 1) * cw + sa, a1 = 2 * ((A - 1) - (A + 1) * cw),
        a2 = (A + 1) - (A - 1) * cw - sa;
        break;
    }
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

int generate(Kind kind, float* c, float f, float q, float dB)
{
    switch (kind) {
    case Kind::Lpf: return dsps_biquad_gen_lpf_f32(c, f, q);
    case Kind::Hpf: return dsps_biquad_gen_hpf_f32(c, f, q);
    case Kind::Bpf: return dsps_biquad_gen_bpf_f32(c, f, q);
    case Kind::Bpf0db: return dsps_biquad_gen_bpf0db_f32(c, f, q);
    case Kind::PeakingEQ: return dsps_biquad_gen_peakingEQ_f32(c, f, q);
    case Kind::Notch: return dsps_biquad_gen_notch_f32(c, f, dB, q);
    case Kind::Allpass: {
        float other[5];
        dsps_biquad_gen_allpass360_f32(other, f, q);
        int r = dsps_biquad_gen_allpass180_f32(c, f, q);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(other[i], c[i]);
        return r;
    }
    case Kind::LowShelf: return dsps_biquad_gen_lowShelf_f32(c, f, dB, q);
    case Kind::HighShelf: return dsps_biquad_gen_highShelf_f32(c, f, dB, q);
    }
    return -1;
}

void expectCoeffs(const float* c, const Sos& r, const std::string& what)
{
    const double ref[5] = {r.b0, r.b1, r.b2, r.a1, r.a2};
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(c[i], ref[i], 2e-6 * std::max(1.0, std::abs(ref[i]))) << what << " coefficient " << i;
}

Sos sosOf(const QuadBiquad& bq)
{
    auto k = bq.getCoeffs();
    return {k.c[0], k.c[1], k.c[2], k.c[3], k.c[4]};
}

double tanHalf(double hz)
{
    return std::tan(kPi * hz / kFs);
}
double poleOf(double k)
{
    return (k - 1) / (k + 1);
}

struct SetterCase {
    const char* name;
    std::function<void(QuadBiquad&)> set;
    Sos ref;
};

std::vector<SetterCase> setterCases()
{
    auto lo1 = [](double f, double g) {
        double k = tanHalf(f);
        return Sos{g / (1 + k), -g / (1 + k), 0, poleOf(k), 0};
    };
    auto hi1 = [](double f, double g) {
        double k = tanHalf(f);
        return Sos{g * k / (1 + k), g * k / (1 + k), 0, poleOf(k), 0};
    };
    auto lohi = [](double fl, double fh, double g) {
        double kl = tanHalf(fl), kh = tanHalf(fh), c = g * kh / ((1 + kl) * (1 + kh));
        return Sos{c, 0, -c, poleOf(kl) + poleOf(kh), poleOf(kl) * poleOf(kh)};
    };
    auto dual = [](double f1, double f2, double g) {
        double k1 = tanHalf(f1), k2 = tanHalf(f2), c = g / ((1 + k1) * (1 + k2));
        return Sos{c, -2 * c, c, poleOf(k1) + poleOf(k2), poleOf(k1) * poleOf(k2)};
    };
    auto peaking = [](double f, double q, double dB, double g) {
        double w = 2 * kPi * f / kFs, al = std::sin(w) / (2 * q), A = std::pow(10.0, dB / 40), a0 = 1 + al;
        return Sos{g * (1 + A * al) / a0, -2 * g * std::cos(w) / a0, g * (1 - A * al) / a0, -2 * std::cos(w) / a0,
                   (1 - al) / a0};
    };
    Sos pk = peaking(2500, 2, -9, 1);
    return {
        {"lo_cut_1", [](QuadBiquad& b) { b.set_lo_cut_1_order(120); }, lo1(120, 1)},
        {"lo_cut_1_g", [](QuadBiquad& b) { b.set_lo_cut_1_order(40, 0.5f); }, lo1(40, 0.5)},
        {"hi_cut_1", [](QuadBiquad& b) { b.set_hi_cut_1_order(6000); }, hi1(6000, 1)},
        {"hi_cut_1_g", [](QuadBiquad& b) { b.set_hi_cut_1_order(15000, 2); }, hi1(15000, 2)},
        {"lohi_1", [](QuadBiquad& b) { b.set_lohi_cut_1_order(80, 8000); }, lohi(80, 8000, 1)},
        {"lohi_1_g", [](QuadBiquad& b) { b.set_lohi_cut_1_order(20, 20000, 0.7f); }, lohi(20, 20000, 0.7)},
        {"dual_lo", [](QuadBiquad& b) { b.set_dual_lo_cut_1_order(50, 300); }, dual(50, 300, 1)},
        {"dual_lo_g", [](QuadBiquad& b) { b.set_dual_lo_cut_1_order(100, 100, 3); }, dual(100, 100, 3)},
        {"gain", [](QuadBiquad& b) { b.set_gain_only(0.25f); }, {0.25, 0, 0, 0, 0}},
        {"coeffs",
         [](QuadBiquad& b) { b.set_coeffs(3.2045f, -5.78f, 2.5775f, -1.279f, 0.2797f); },
         {3.2045, -5.78, 2.5775, -1.279, 0.2797}},
        {"lpf2", [](QuadBiquad& b) { b.set_lpf_2_order(1000, 0.71f); }, reference(Kind::Lpf, 1000 / kFs, 0.71, 0)},
        {"hpf2", [](QuadBiquad& b) { b.set_hpf_2_order(90, 1.31f); }, reference(Kind::Hpf, 90 / kFs, 1.31, 0)},
        {"lpf_shelf", [](QuadBiquad& b) { b.set_lpf_shelf(100, 0.7f, 9); },
         reference(Kind::LowShelf, 100 / kFs, 0.7, 9)},
        {"hpf_shelf", [](QuadBiquad& b) { b.set_hpf_shelf(3200, 0.7f, -7); },
         reference(Kind::HighShelf, 3200 / kFs, 0.7, -7)},
        {"peaking", [](QuadBiquad& b) { b.set_peaking(800, 0.7f, 6); }, peaking(800, 0.7, 6, 1)},
        {"peaking_g", [](QuadBiquad& b) { b.set_peaking(200, 1.5f, -12, 0.5f); }, peaking(200, 1.5, -12, 0.5)},
        {"scale",
         [](QuadBiquad& b) {
             b.set_peaking(2500, 2, -9);
             b.scale(0.5f);
         },
         {pk.b0 / 2, pk.b1 / 2, pk.b2 / 2, pk.a1, pk.a2}},
    };
}

} // namespace

TEST(QuadBiquad, GeneratorsMatchTheCookbookInDouble)
{
    const Kind kinds[] = {Kind::Lpf,   Kind::Hpf,     Kind::Bpf,      Kind::Bpf0db,   Kind::PeakingEQ,
                          Kind::Notch, Kind::Allpass, Kind::LowShelf, Kind::HighShelf};
    const float freqs[] = {0.0005f, 0.02f, 0.2f, 0.45f};
    const float qs[] = {0.3f, 0.7071f, 8.0f};
    const float gains[] = {-15.0f, 0.0f, 6.0f};
    for (Kind kind : kinds)
        for (float f : freqs)
            for (float q : qs)
                for (float dB : gains) {
                    float c[5];
                    ASSERT_EQ(generate(kind, c, f, q, dB), 0);
                    expectCoeffs(c, reference(kind, f, q, dB),
                                 "kind " + std::to_string(int(kind)) + " f " + std::to_string(f) + " q " +
                                     std::to_string(q) + " dB " + std::to_string(dB));
                }
}

TEST(QuadBiquad, SettersMatchTheirFormulasInDouble)
{
    for (auto& c : setterCases()) {
        QuadBiquad bq;
        c.set(bq);
        expectCoeffs(bq.getCoeffs().c, c.ref, c.name);
    }
}

// The response an impulse measures through the FFT is the one of the stored coefficients (which the
// test above holds to the design).
TEST(QuadBiquad, MeasuredResponseMatchesTheDesign)
{
    constexpr int N = 4096;
    for (auto& c : setterCases()) {
        if (std::string(c.name) == "coeffs") // the voicing filter is not a stable low-order design
            continue;
        QuadBiquad bq;
        c.set(bq);
        std::vector<float> x(N, 0.0f);
        x[0] = 1.0f;
        auto h = runSplit(x, 16, [&](const float* in, float* out, int n) { bq.exec(in, out, n); });
        std::vector<float> spectrum(2 * N);
        getFft(h.data(), spectrum.data(), N);
        // From about 100 Hz up: below it a float high-pass deep in its stop band is rounding noise.
        for (int k = 9; k < N / 2; k += 7) {
            double want = magnitude(sosOf(bq), k * kFs / N);
            double got = std::hypot(spectrum[2 * k], spectrum[2 * k + 1]);
            // 0.01 dB, with a floor for the float rounding noise of a high-pass deep in its stop band.
            EXPECT_NEAR(got, want, std::max(want * 1.2e-3, 5e-4)) << c.name << " at bin " << k;
        }
    }
}

// Steady-state gains a listener hears, measured with sines.
TEST(QuadBiquad, SineGainsAtTheDesignPoints)
{
    struct Case {
        const char* name;
        std::function<void(QuadBiquad&)> set;
        double hz;
        double wantDb;
    } cases[] = {
        {"peaking gives half the dB", [](QuadBiquad& b) { b.set_peaking(1000, 1, 6); }, 1000, 6.0 / 2},
        {"peaking cut", [](QuadBiquad& b) { b.set_peaking(1000, 1, -12); }, 1000, -12.0 / 2},
        {"peaking times g", [](QuadBiquad& b) { b.set_peaking(1000, 1, 6, 0.5f); }, 1000, 3 + db(0.5)},
        {"lpf2 at cut-off", [](QuadBiquad& b) { b.set_lpf_2_order(1000, 0.70710678f); }, 1000, db(std::sqrt(0.5))},
        {"hpf2 at cut-off", [](QuadBiquad& b) { b.set_hpf_2_order(1000, 0.70710678f); }, 1000, db(std::sqrt(0.5))},
        {"lo cut at cut-off", [](QuadBiquad& b) { b.set_lo_cut_1_order(1000); }, 1000, db(std::sqrt(0.5))},
        {"hi cut at cut-off", [](QuadBiquad& b) { b.set_hi_cut_1_order(1000); }, 1000, db(std::sqrt(0.5))},
        {"high shelf far above", [](QuadBiquad& b) { b.set_hpf_shelf(500, 0.7f, 6); }, 18000, 6.0},
        {"low shelf far below", [](QuadBiquad& b) { b.set_lpf_shelf(5000, 0.7f, -6); }, 30, -6.0},
        {"gain only", [](QuadBiquad& b) { b.set_gain_only(2); }, 440, db(2)},
    };
    for (auto& c : cases) {
        QuadBiquad bq;
        c.set(bq);
        auto x = sine(48000, c.hz, 0.25);
        auto y = runSplit(x, 16, [&](const float* in, float* out, int n) { bq.exec(in, out, n); });
        EXPECT_NEAR(db(amplitudeAt(y, 24000, c.hz) / 0.25), c.wantDb, 0.02) << c.name;
    }
}

TEST(QuadBiquad, ZeroOrNegativeQIsTheSmallestQNotADivisionByZero)
{
    float atZero[5], atFloor[5], negative[5];
    dsps_biquad_gen_lpf_f32(atZero, 0.01f, 0.0f);
    dsps_biquad_gen_lpf_f32(atFloor, 0.01f, 0.0001f);
    dsps_biquad_gen_lpf_f32(negative, 0.01f, -3.0f);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(std::isfinite(atZero[i]));
        EXPECT_EQ(atZero[i], atFloor[i]);
        EXPECT_EQ(negative[i], atFloor[i]);
    }
    QuadBiquad a, b;
    a.set_peaking(1000, 0, 6);
    b.set_peaking(1000, 0.0001f, 6);
    auto x = noise(512, 3);
    auto ya = runSplit(x, 16, [&](const float* in, float* out, int n) { a.exec(in, out, n); });
    auto yb = runSplit(x, 16, [&](const float* in, float* out, int n) { b.exec(in, out, n); });
    for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_TRUE(std::isfinite(ya[i]));
        ASSERT_EQ(ya[i], yb[i]);
    }
}

// Frequencies outside 0..Nyquist are kept inside so that no pole leaves the unit circle.
TEST(QuadBiquad, OutOfRangeFrequenciesStayStable)
{
    std::function<void(QuadBiquad&)> sets[] = {
        [](QuadBiquad& b) { b.set_lo_cut_1_order(-50); },         [](QuadBiquad& b) { b.set_hi_cut_1_order(30000); },
        [](QuadBiquad& b) { b.set_lohi_cut_1_order(-1, 24000); }, [](QuadBiquad& b) { b.set_lpf_2_order(40000, 0.7f); },
        [](QuadBiquad& b) { b.set_peaking(24000, 1, 6); },        [](QuadBiquad& b) { b.set_hpf_shelf(NAN, 0.7f, 6); },
    };
    for (auto& set : sets) {
        QuadBiquad bq;
        set(bq);
        auto y = runSplit(noise(48000, 5), 16, [&](const float* in, float* out, int n) { bq.exec(in, out, n); });
        double tail = 0;
        for (std::size_t i = 40000; i < y.size(); ++i) tail = std::max(tail, double(std::abs(y[i])));
        EXPECT_TRUE(std::isfinite(tail));
        EXPECT_LT(tail, 100.0);
    }
}

TEST(QuadBiquad, NewSectionIsSilent)
{
    QuadBiquad bq;
    auto x = noise(64, 1);
    std::vector<float> y(64, 1.0f);
    bq.exec(x.data(), y.data(), 64);
    for (float v : y) EXPECT_EQ(v, 0.0f);
}

// Any split of the stream gives the double-precision result; a change of coefficients mid-stream
// keeps the state (the reference switches at the same sample without clearing anything).
TEST(QuadBiquad, SplitsAndCoefficientChangesFollowTheReference)
{
    auto x = noise(4800, 9);
    const std::size_t change = 2400;
    for (int split : {1, 3, 16, 17}) {
        QuadBiquad bq;
        bq.set_peaking(1000, 0.7f, 9);
        Sos first = sosOf(bq);
        QuadBiquad probe;
        probe.set_lpf_2_order(3000, 1.2f);
        Sos second = sosOf(probe);

        std::vector<float> y(x.size());
        bool changed = false;
        for (std::size_t i = 0; i < x.size(); i += split) {
            if (i >= change && !changed) {
                bq.set_lpf_2_order(3000, 1.2f);
                changed = true;
            }
            int n = static_cast<int>(std::min<std::size_t>(split, x.size() - i));
            bq.exec(x.data() + i, y.data() + i, n);
        }
        // Where the switch actually fell for this split.
        std::size_t at = ((change + split - 1) / split) * split;
        std::vector<double> ref(x.size());
        double s1 = 0, s2 = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const Sos& s = i < at ? first : second;
            double in = x[i], out = s.b0 * in + s1;
            s1 = s2 + s.b1 * in - s.a1 * out;
            s2 = s.b2 * in - s.a2 * out;
            ref[i] = out;
        }
        EXPECT_LT(relError(y, ref), 1e-5) << "split " << split;
    }
}
