#include "dsp/QuadBiquad.h"

#include <cmath>
#include <cstring>

#include "dsp/BiquadDesign.h"

namespace {

constexpr double kHzToW = 0.0001308996938995747; // 2 pi / 48000
constexpr double kHzToNorm = 2.0833333e-5; // 1 / 48000
constexpr double kMaxHz = 0.49 * 48000.0;

// tan(w/2) of a first-order section; the frequency is kept below Nyquist and above 0 so that the
// pole (k-1)/(k+1) stays inside the unit circle.
double prewarp(float fHz)
{
    double f = std::fmin(std::fmax(static_cast<double>(fHz), 0.0), kMaxHz);
    return std::tan(f * kHzToW / 2.0);
}

double pole(double k)
{
    return (k - 1.0) / (k + 1.0);
}

#if defined(__ARM_NEON)
// The four-sample matrices: the section run in double for four samples from each unit input (x0..x3,
// s1, s2) alone, taken from the float coefficients that the portable loop uses.
void deriveBlock(QuadBiquad::Coeffs& k)
{
    const double b0 = k.c[0], b1 = k.c[1], b2 = k.c[2], a1 = k.c[3], a2 = k.c[4];
    for (int unit = 0; unit < 6; ++unit) {
        double s1 = unit == 4 ? 1 : 0, s2 = unit == 5 ? 1 : 0;
        for (int i = 0; i < 4; ++i) {
            double x = i == unit ? 1 : 0;
            double y = b0 * x + s1;
            s1 = s2 + b1 * x - a1 * y;
            s2 = b2 * x - a2 * y;
            k.toY[unit][i] = static_cast<float>(y);
        }
        k.toS[unit][0] = static_cast<float>(s1);
        k.toS[unit][1] = static_cast<float>(s2);
    }
}
#endif

// Every byte set: unchanged sets compare equal and are not handed over again. b0, b1, b2, a1, a2
// from c; every other byte zero.
void publishWhole(DoubleBuffer<QuadBiquad::Coeffs>& coeffs, const float* c)
{
    QuadBiquad::Coeffs k;
    std::memset(static_cast<void*>(&k), 0, sizeof k);
    std::memcpy(k.c, c, 5 * sizeof(float));
#if defined(__ARM_NEON)
    deriveBlock(k);
#endif
    coeffs.publish(k);
}

} // namespace

void QuadBiquad::publish(double b0, double b1, double b2, double a1, double a2)
{
    const float c[5] = {static_cast<float>(b0), static_cast<float>(b1), static_cast<float>(b2), static_cast<float>(a1),
                        static_cast<float>(a2)};
    publishWhole(coeffs, c);
}

void QuadBiquad::set_lo_cut_1_order(float f)
{
    set_lo_cut_1_order(f, 1.0f);
}

void QuadBiquad::set_lo_cut_1_order(float f, float g)
{
    double k = prewarp(f);
    publish(g / (1 + k), -g / (1 + k), 0, pole(k), 0);
}

void QuadBiquad::set_hi_cut_1_order(float f)
{
    set_hi_cut_1_order(f, 1.0f);
}

void QuadBiquad::set_hi_cut_1_order(float f, float g)
{
    double k = prewarp(f);
    publish(g * k / (1 + k), g * k / (1 + k), 0, pole(k), 0);
}

void QuadBiquad::set_lohi_cut_1_order(float fLo, float fHi)
{
    set_lohi_cut_1_order(fLo, fHi, 1.0f);
}

void QuadBiquad::set_lohi_cut_1_order(float fLo, float fHi, float g)
{
    double kL = prewarp(fLo), kH = prewarp(fHi);
    double c = g * kH / ((1 + kL) * (1 + kH));
    double pL = pole(kL), pH = pole(kH);
    publish(c, 0, -c, pL + pH, pL * pH);
}

void QuadBiquad::set_dual_lo_cut_1_order(float f1, float f2)
{
    set_dual_lo_cut_1_order(f1, f2, 1.0f);
}

void QuadBiquad::set_dual_lo_cut_1_order(float f1, float f2, float g)
{
    double k1 = prewarp(f1), k2 = prewarp(f2);
    double c = g / ((1 + k1) * (1 + k2));
    double p1 = pole(k1), p2 = pole(k2);
    publish(c, -2 * c, c, p1 + p2, p1 * p2);
}

void QuadBiquad::set_gain_only(float g)
{
    publish(g, 0, 0, 0, 0);
}

void QuadBiquad::set_coeffs(float b0, float b1, float b2, float a1, float a2)
{
    publish(b0, b1, b2, a1, a2);
}

void QuadBiquad::set_lpf_2_order(float f, float q)
{
    Coeffs k;
    dsps_biquad_gen_lpf_f32(k.c, static_cast<float>(f * kHzToNorm), q);
    publishWhole(coeffs, k.c);
}

void QuadBiquad::set_hpf_2_order(float f, float q)
{
    Coeffs k;
    dsps_biquad_gen_hpf_f32(k.c, static_cast<float>(f * kHzToNorm), q);
    publishWhole(coeffs, k.c);
}

void QuadBiquad::set_lpf_shelf(float f, float q, float dB)
{
    Coeffs k;
    dsps_biquad_gen_lowShelf_f32(k.c, static_cast<float>(f * kHzToNorm), dB, q);
    publishWhole(coeffs, k.c);
}

void QuadBiquad::set_hpf_shelf(float f, float q, float dB)
{
    Coeffs k;
    dsps_biquad_gen_highShelf_f32(k.c, static_cast<float>(f * kHzToNorm), dB, q);
    publishWhole(coeffs, k.c);
}

void QuadBiquad::set_peaking(float f, float q, float dB)
{
    set_peaking(f, q, dB, 1.0f);
}

void QuadBiquad::set_peaking(float f, float q, float dB, float g)
{
    auto t = biquad_design::terms(f * kHzToNorm, q, dB);
    double a0 = 1 + t.alpha;
    publish(g * (1 + t.a * t.alpha) / a0, -2 * g * t.cosW / a0, g * (1 - t.a * t.alpha) / a0, -2 * t.cosW / a0,
            (1 - t.alpha) / a0);
}

void QuadBiquad::scale(float g)
{
    Coeffs k = coeffs.current();
    for (int i = 0; i < 3; ++i) k.c[i] *= g;
    publishWhole(coeffs, k.c);
}
