#include "dsp/BiquadDesign.h"

#include <cmath>
#include <numbers>

namespace biquad_design {

double shelfAmplitude(double gainDb)
{
    return std::sqrt(std::exp(gainDb * 0.1151292546497023));
}

Terms terms(double fNorm, double q, double gainDb)
{
    // fmax/fmin also turn a NaN frequency into a bound instead of passing it on.
    fNorm = std::fmin(std::fmax(fNorm, 0.0), 0.49);
    if (!(q > 0.0001)) q = 0.0001;
    double w = 2.0 * std::numbers::pi * fNorm;
    Terms t;
    t.cosW = std::cos(w);
    t.sinW = std::sin(w);
    t.alpha = t.sinW / (2.0 * q);
    t.a = shelfAmplitude(gainDb);
    return t;
}

} // namespace biquad_design

namespace {

void store(float* coeffs, double b0, double b1, double b2, double a0, double a1, double a2)
{
    coeffs[0] = static_cast<float>(b0 / a0);
    coeffs[1] = static_cast<float>(b1 / a0);
    coeffs[2] = static_cast<float>(b2 / a0);
    coeffs[3] = static_cast<float>(a1 / a0);
    coeffs[4] = static_cast<float>(a2 / a0);
}

} // namespace

using biquad_design::terms;

int dsps_biquad_gen_lpf_f32(float* coeffs, float f, float q)
{
    auto t = terms(f, q, 0);
    double c = 1.0 - t.cosW;
    store(coeffs, c / 2, c, c / 2, 1 + t.alpha, -2 * t.cosW, 1 - t.alpha);
    return 0;
}

int dsps_biquad_gen_hpf_f32(float* coeffs, float f, float q)
{
    auto t = terms(f, q, 0);
    double c = 1.0 + t.cosW;
    store(coeffs, c / 2, -c, c / 2, 1 + t.alpha, -2 * t.cosW, 1 - t.alpha);
    return 0;
}

int dsps_biquad_gen_bpf_f32(float* coeffs, float f, float q)
{
    auto t = terms(f, q, 0);
    store(coeffs, t.sinW / 2, 0, -t.sinW / 2, 1 + t.alpha, -2 * t.cosW, 1 - t.alpha);
    return 0;
}

int dsps_biquad_gen_bpf0db_f32(float* coeffs, float f, float q)
{
    auto t = terms(f, q, 0);
    store(coeffs, t.alpha, 0, -t.alpha, 1 + t.alpha, -2 * t.cosW, 1 - t.alpha);
    return 0;
}

int dsps_biquad_gen_peakingEQ_f32(float* coeffs, float f, float q)
{
    return dsps_biquad_gen_bpf0db_f32(coeffs, f, q);
}

int dsps_biquad_gen_notch_f32(float* coeffs, float f, float gain, float q)
{
    auto t = terms(f, q, gain);
    store(coeffs, 1 + t.a * t.alpha, -2 * t.cosW, 1 - t.a * t.alpha, 1 + t.alpha, -2 * t.cosW, 1 - t.alpha);
    return 0;
}

int dsps_biquad_gen_allpass180_f32(float* coeffs, float f, float q)
{
    auto t = terms(f, q, 0);
    store(coeffs, 1 - t.alpha, -2 * t.cosW, 1 + t.alpha, 1 + t.alpha, -2 * t.cosW, 1 - t.alpha);
    return 0;
}

int dsps_biquad_gen_allpass360_f32(float* coeffs, float f, float q)
{
    return dsps_biquad_gen_allpass180_f32(coeffs, f, q);
}

int dsps_biquad_gen_lowShelf_f32(float* coeffs, float f, float gain, float q)
{
    auto t = terms(f, q, gain);
    double A = t.a, c = t.cosW, s = 2 * std::sqrt(A) * t.alpha;
    store(coeffs, A * ((A + 1) - (A - 1) * c + s), 2 * A * ((A - 1) - (A + 1) * c), A * ((A + 1) - (A - 1) * c - s),
          (A + 1) + (A - 1) * c + s, -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - s);
    return 0;
}

int dsps_biquad_gen_highShelf_f32(float* coeffs, float f, float gain, float q)
{
    auto t = terms(f, q, gain);
    double A = t.a, c = t.cosW, s = 2 * std::sqrt(A) * t.alpha;
    store(coeffs, A * ((A + 1) + (A - 1) * c + s), -2 * A * ((A - 1) + (A + 1) * c), A * ((A + 1) + (A - 1) * c - s),
          (A + 1) - (A - 1) * c + s, 2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - s);
    return 0;
}
