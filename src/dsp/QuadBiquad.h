#pragma once
#include "dsp/DoubleBuffer.h"

#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

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
#if defined(__ARM_NEON)
        // The section over four samples at once, derived from c in double: outputs 0..3 are
        // sum_j x[j] * toY[j] + s1 * toY[4] + s2 * toY[5], the state after them likewise from toS.
        alignas(16) float toY[6][4] = {};
        float toS[6][2] = {};
#endif
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
    // On aarch64 the four-sample NEON form, elsewhere the portable loop (vectorised by the compiler
    // where it can).
    inline void exec(const float* in, float* out, int n)
    {
        run(coeffs.read(), state.s, in, out, n);
    }
    // The reference: one sample after the other, transposed direct form II.
    inline void execPortable(const float* in, float* out, int n)
    {
        runPortable(coeffs.read(), state.s, in, out, n);
    }
#if defined(__ARM_NEON)
    inline void execNeon(const float* in, float* out, int n)
    {
        runNeon(coeffs.read(), state.s, in, out, n);
    }
#endif

    // The kernels on a coefficient set and a state (s1, s2 of the transposed form) kept elsewhere:
    // what exec runs, for a section that holds its own (GlidingBiquad at rest).
    static inline void run(const Coeffs& k, float* s, const float* in, float* out, int n)
    {
#if defined(__ARM_NEON)
        runNeon(k, s, in, out, n);
#else
        runPortable(k, s, in, out, n);
#endif
    }
    static inline void runPortable(const Coeffs& k, float* s, const float* in, float* out, int n)
    {
        const float b0 = k.c[0], b1 = k.c[1], b2 = k.c[2], a1 = k.c[3], a2 = k.c[4];
        float s1 = s[0], s2 = s[1];
        for (int i = 0; i < n; ++i) {
            float x = in[i];
            float y = b0 * x + s1;
            s1 = s2 + b1 * x - a1 * y;
            s2 = b2 * x - a2 * y;
            out[i] = y;
        }
        s[0] = s1;
        s[1] = s2;
    }
#if defined(__ARM_NEON)
    // Four samples per step: six multiply-adds give the four outputs and six more the next state,
    // with no dependency between the outputs of a step. The rest of n goes through runPortable.
    // A flat section (b = a) stays exact: its matrices are the identity and zeros.
    static inline void runNeon(const Coeffs& k, float* state, const float* in, float* out, int n)
    {
        float32x2_t s = vld1_f32(state);
        const float32x4_t y0 = vld1q_f32(k.toY[0]), y1 = vld1q_f32(k.toY[1]), y2 = vld1q_f32(k.toY[2]),
                          y3 = vld1q_f32(k.toY[3]), ys1 = vld1q_f32(k.toY[4]), ys2 = vld1q_f32(k.toY[5]);
        const float32x2_t n0 = vld1_f32(k.toS[0]), n1 = vld1_f32(k.toS[1]), n2 = vld1_f32(k.toS[2]),
                          n3 = vld1_f32(k.toS[3]), ns1 = vld1_f32(k.toS[4]), ns2 = vld1_f32(k.toS[5]);
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            const float32x4_t x = vld1q_f32(in + i);
            float32x4_t y = vmulq_lane_f32(ys1, s, 0);
            y = vfmaq_lane_f32(y, ys2, s, 1);
            y = vfmaq_laneq_f32(y, y0, x, 0);
            y = vfmaq_laneq_f32(y, y1, x, 1);
            y = vfmaq_laneq_f32(y, y2, x, 2);
            y = vfmaq_laneq_f32(y, y3, x, 3);
            float32x2_t next = vmul_lane_f32(ns1, s, 0);
            next = vfma_lane_f32(next, ns2, s, 1);
            next = vfma_laneq_f32(next, n0, x, 0);
            next = vfma_laneq_f32(next, n1, x, 1);
            next = vfma_laneq_f32(next, n2, x, 2);
            next = vfma_laneq_f32(next, n3, x, 3);
            s = next;
            vst1q_f32(out + i, y);
        }
        vst1_f32(state, s);
        if (i < n) runPortable(k, state, in + i, out + i, n - i);
    }
#endif
    // Clears the filter memory (never called while audio runs through the section).
    void reset()
    {
        state = State{};
    }

    // The published coefficients b0, b1, b2, a1, a2.
    Coeffs getCoeffs() const
    {
        return coeffs.current();
    }

private:
    struct State {
        alignas(16) float s[2]{};
    };

    void publish(double b0, double b1, double b2, double a1, double a2);

    DoubleBuffer<Coeffs> coeffs{Coeffs{}};
    State state;
};
