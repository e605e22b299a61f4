#pragma once

// Second-order section designers. coeffs receives five floats b0, b1, b2, a1, a2 (a0 normalised
// to 1, transposed direct form II as QuadBiquad runs them); f is the frequency as a fraction of the
// sample rate, q the quality factor, gain in dB. The Audio EQ Cookbook forms, worked out in double
// precision (a float 1 - cos w loses most of its digits at low cut-offs) and stored as float.
// q is floored at 0.0001 and f kept inside 0..0.49 so that no design divides by zero or puts a
// pole outside the unit circle. Every designer returns 0. Called on the compile thread.
int dsps_biquad_gen_lpf_f32(float* coeffs, float f, float q);
int dsps_biquad_gen_hpf_f32(float* coeffs, float f, float q);
// Constant skirt gain: the peak gain is q.
int dsps_biquad_gen_bpf_f32(float* coeffs, float f, float q);
// 0 dB at the centre.
int dsps_biquad_gen_bpf0db_f32(float* coeffs, float f, float q);
int dsps_biquad_gen_notch_f32(float* coeffs, float f, float gain, float q);
int dsps_biquad_gen_allpass360_f32(float* coeffs, float f, float q);
int dsps_biquad_gen_allpass180_f32(float* coeffs, float f, float q);
// Same section as the 0 dB band-pass (the name is kept for the callers that use it).
int dsps_biquad_gen_peakingEQ_f32(float* coeffs, float f, float q);
int dsps_biquad_gen_lowShelf_f32(float* coeffs, float f, float gain, float q);
int dsps_biquad_gen_highShelf_f32(float* coeffs, float f, float gain, float q);

namespace biquad_design {
// The common terms of the designers, for the section setters that build their own forms.
struct Terms {
    double cosW; // cos w
    double sinW; // sin w
    double alpha; // sin(w) / 2q
    double a; // 10^(dB/40)
};
// fNorm: frequency / sample rate; clamps as the designers do.
Terms terms(double fNorm, double q, double gainDb);
// Linear amplitude of a gain in dB taken as a square root: 10^(dB/40).
double shelfAmplitude(double gainDb);
} // namespace biquad_design
