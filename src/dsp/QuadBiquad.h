#pragma once
#include "dsp/DoubleBuffer.h"

// One second-order IIR section on one channel (transposed direct form II) at 48000 Hz: every tone
// control, cut filter, shelf, peak and band filter of the effect blocks. The setters run on the
// compile thread, take Hz, dB and linear gains, and write coefficients only: the filter memory is
// kept, so a change of setting never clears the sound. exec runs on the audio thread.
// A new section has all coefficients 0 and outputs silence until a setter runs.
class QuadBiquad {
public:
    // b0, b1, b2, a1, a2 (a0 = 1), then zeros up to 32 bytes: the set is compared bytewise with the
    // published one, so it has no padding that could differ by chance and republish an unchanged set.
    struct Coeffs {
        alignas(16) float c[8] = {};
    };

    QuadBiquad() = default;

    void set_lo_cut_1_order(float f);
    void set_lo_cut_1_order(float f, float g);
    void set_hi_cut_1_order(float f);
    void set_hi_cut_1_order(float f, float g);
    // High-pass at fLo times low-pass at fHi.
    void set_lohi_cut_1_order(float fLo, float fHi);
    void set_lohi_cut_1_order(float fLo, float fHi, float g);
    // Two first-order high-passes.
    void set_dual_lo_cut_1_order(float f1, float f2);
    void set_dual_lo_cut_1_order(float f1, float f2, float g);
    void set_gain_only(float g);
    void set_coeffs(float b0, float b1, float b2, float a1, float a2);
    void set_lpf_2_order(float f, float q);
    void set_hpf_2_order(float f, float q);
    void set_lpf_shelf(float f, float q, float dB);
    void set_hpf_shelf(float f, float q, float dB);
    // A boost or cut of dB/2 at f times g (the denominator uses alpha, not alpha/A: stored presets
    // were voiced with this section), approaching g far from f.
    void set_peaking(float f, float q, float dB, float g);
    void set_peaking(float f, float q, float dB);
    // Multiplies b0, b1, b2 by g. It publishes a second set after the setter's own, so the audio
    // thread may run one block between the two; setters that take g publish once.
    void scale(float g);

    // Filters n samples; in and out may be the same array. The state carries over between calls.
    inline void exec(const float* in, float* out, int n) {
        const Coeffs k = coeffs.read();
        const float b0 = k.c[0], b1 = k.c[1], b2 = k.c[2], a1 = k.c[3], a2 = k.c[4];
        float s1 = state.s[0], s2 = state.s[1];
        for (int i = 0; i < n; ++i) {
            float x = in[i];
            float y = b0 * x + s1;
            s1 = s2 + b1 * x - a1 * y;
            s2 = b2 * x - a2 * y;
            out[i] = y;
        }
        state.s[0] = s1;
        state.s[1] = s2;
    }

    // Clears the filter memory (never called while audio runs through the section).
    void reset() { state = State{}; }

    // The published coefficients b0, b1, b2, a1, a2.
    Coeffs getCoeffs() const { return coeffs.current(); }

private:
    struct State {
        alignas(16) float s[2]{};
    };

    void publish(double b0, double b1, double b2, double a1, double a2);

    DoubleBuffer<Coeffs> coeffs{Coeffs{}};
    State state;
};
