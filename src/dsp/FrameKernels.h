#pragma once
#include <cmath>
#include <cstring>

#include "dsp/FrameConstants.h"

#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// Small numeric routines over one 16-sample channel frame (names ending in _SFRAME) and over counted
// arrays (_SFRAME_UNROLLED), for the audio thread: no allocation, no state of their own. Counted
// routines take any n; whole groups of four run in the vector lanes, the rest one by one.
//
// Each vector routine has a portable form (zq_portable, the reference the tests hold the other to)
// and an aarch64 NEON form (zq_neon); the global names call the NEON form on aarch64 and the
// portable one elsewhere, where g++ vectorises it for SSE. Sums and maxima run in four lanes in both
// forms, lane j taking elements j, j + 4, ..., joined as (0 + 1) + (2 + 3): the two forms then differ
// only where NEON fuses a multiply with the following add and the compiled portable form does not
// (g++ fuses those too on aarch64), and in the reciprocal's last bits. The recursive filters have one
// form: every sample needs the one before.

inline constexpr int kZqFrame = 16;

namespace zq_portable {

inline void mul(const float* a, const float* b, float* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = a[i] * b[i];
}
inline void add(const float* a, const float* b, float* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = a[i] + b[i];
}
inline void weighted(const float* a, const float* b, float w, float* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = a[i] * w + b[i];
}
inline void scale(const float* x, float* out, float g, int n)
{
    for (int i = 0; i < n; ++i) out[i] = x[i] * g;
}
inline void offset(float* x, float c, int n)
{
    for (int i = 0; i < n; ++i) x[i] += c;
}
inline void cube(const float* x, float* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = x[i] * x[i] * x[i];
}
inline void absolute(const float* x, float* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = std::fabs(x[i]);
}
// The quotient refined twice by r = r (2 - x r), as the vector form refines its estimate. 0 and
// infinity have exact reciprocals and skip the steps, which would turn them into NaN.
inline void recip(const float* x, float* out, int n)
{
    for (int i = 0; i < n; ++i) {
        float r = 1.0f / x[i];
        if (r != 0.0f && std::isfinite(r)) {
            r = r * (2.0f - x[i] * r);
            r = r * (2.0f - x[i] * r);
        }
        out[i] = r;
    }
}

// Four running values, joined (0 + 1) + (2 + 3), then the rest of n one by one.
template <class Term, class Join>
inline float reduce(int n, float init, Term term, Join join)
{
    float acc[4] = {init, init, init, init};
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int j = 0; j < 4; ++j) acc[j] = join(acc[j], term(i + j));
    float r = join(join(acc[0], acc[1]), join(acc[2], acc[3]));
    for (; i < n; ++i) r = join(r, term(i));
    return r;
}
inline float plus(float a, float b)
{
    return a + b;
}
inline float larger(float a, float b)
{
    return a > b ? a : b;
}

inline float dot(const float* a, const float* b, int n)
{
    return reduce(
        n, 0.0f, [&](int i) { return a[i] * b[i]; }, plus);
}
inline float sumAbs(const float* x, int n)
{
    return reduce(
        n, 0.0f, [&](int i) { return std::fabs(x[i]); }, plus);
}
inline float maxAbs(const float* x, int n)
{
    return reduce(
        n, 0.0f, [&](int i) { return std::fabs(x[i]); }, larger);
}
inline float max(const float* x, int n)
{
    return reduce(
        n, -HUGE_VALF, [&](int i) { return x[i]; }, larger);
}

// out[i] = sum over k of taps[k] ring[(position + i + k) & mask], four outputs at a time.
inline void fircirc(const float* ring, const float* taps, float* out, int position, int mask, int tapCount, int n)
{
    for (int i = 0; i < n; i += 4) {
        const int m = n - i < 4 ? n - i : 4;
        float acc[4] = {};
        for (int k = 0; k < tapCount; ++k)
            for (int j = 0; j < m; ++j) acc[j] += taps[k] * ring[(position + i + j + k) & mask];
        for (int j = 0; j < m; ++j) out[i + j] = acc[j];
    }
}

// Output i: the weights move by step * error * x[i .. i + taps - 1] (the window that gave the error),
// then out[i] = weights . x[i + 1 .. i + taps] and error = desired[i] - out[i]. groups(w, prev, cur,
// g, m) does that for the first m weights (whole groups of four) and returns their sum; the rest
// follow one by one.
template <class Groups>
inline float lmsRun(const float* x, float* w, const float* desired, float* out, float step, float error, int taps,
                    int n, Groups groups)
{
    const int m = taps & ~3;
    for (int i = 0; i < n; ++i) {
        const float g = step * error;
        const float* prev = x + i;
        const float* cur = x + i + 1;
        float y = groups(w, prev, cur, g, m);
        for (int k = m; k < taps; ++k) {
            w[k] += g * prev[k];
            y += w[k] * cur[k];
        }
        out[i] = y;
        error = desired[i] - y;
    }
    return error;
}
inline float lms(const float* x, float* w, const float* desired, float* out, float step, float error, int taps, int n)
{
    return lmsRun(x, w, desired, out, step, error, taps, n,
                  [](float* w, const float* prev, const float* cur, float g, int m) {
                      float acc[4] = {};
                      for (int k = 0; k < m; k += 4)
                          for (int j = 0; j < 4; ++j) {
                              w[k + j] += g * prev[k + j];
                              acc[j] += w[k + j] * cur[k + j];
                          }
                      return (acc[0] + acc[1]) + (acc[2] + acc[3]);
                  });
}

} // namespace zq_portable

#if defined(__ARM_NEON)
// Products and sums of products use fused multiply-adds, one rounding fewer per step than an
// unfused portable build.
namespace zq_neon {

// Four lanes per step; the rest of n goes through the portable form.
template <class Op, class Rest>
inline void lanes(int n, Op op, Rest rest)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) op(i);
    if (i < n) rest(i, n - i);
}

inline void mul(const float* a, const float* b, float* out, int n)
{
    lanes(
        n, [&](int i) { vst1q_f32(out + i, vmulq_f32(vld1q_f32(a + i), vld1q_f32(b + i))); },
        [&](int i, int m) { zq_portable::mul(a + i, b + i, out + i, m); });
}
inline void add(const float* a, const float* b, float* out, int n)
{
    lanes(
        n, [&](int i) { vst1q_f32(out + i, vaddq_f32(vld1q_f32(a + i), vld1q_f32(b + i))); },
        [&](int i, int m) { zq_portable::add(a + i, b + i, out + i, m); });
}
inline void weighted(const float* a, const float* b, float w, float* out, int n)
{
    lanes(
        n, [&](int i) { vst1q_f32(out + i, vfmaq_n_f32(vld1q_f32(b + i), vld1q_f32(a + i), w)); },
        [&](int i, int m) { zq_portable::weighted(a + i, b + i, w, out + i, m); });
}
inline void scale(const float* x, float* out, float g, int n)
{
    lanes(
        n, [&](int i) { vst1q_f32(out + i, vmulq_n_f32(vld1q_f32(x + i), g)); },
        [&](int i, int m) { zq_portable::scale(x + i, out + i, g, m); });
}
inline void offset(float* x, float c, int n)
{
    lanes(
        n, [&](int i) { vst1q_f32(x + i, vaddq_f32(vld1q_f32(x + i), vdupq_n_f32(c))); },
        [&](int i, int m) { zq_portable::offset(x + i, c, m); });
}
inline void cube(const float* x, float* out, int n)
{
    lanes(
        n,
        [&](int i) {
            const float32x4_t v = vld1q_f32(x + i);
            vst1q_f32(out + i, vmulq_f32(vmulq_f32(v, v), v));
        },
        [&](int i, int m) { zq_portable::cube(x + i, out + i, m); });
}
inline void absolute(const float* x, float* out, int n)
{
    lanes(
        n, [&](int i) { vst1q_f32(out + i, vabsq_f32(vld1q_f32(x + i))); },
        [&](int i, int m) { zq_portable::absolute(x + i, out + i, m); });
}
// The 8-bit reciprocal estimate, refined twice (vrecps gives 2 - x r): about 2^-16, then float
// precision. The instructions take 0 to infinity and infinity to 0 through the steps.
inline void recip(const float* x, float* out, int n)
{
    lanes(
        n,
        [&](int i) {
            const float32x4_t v = vld1q_f32(x + i);
            float32x4_t r = vrecpeq_f32(v);
            r = vmulq_f32(r, vrecpsq_f32(v, r));
            vst1q_f32(out + i, vmulq_f32(r, vrecpsq_f32(v, r)));
        },
        [&](int i, int m) { zq_portable::recip(x + i, out + i, m); });
}

inline float dot(const float* a, const float* b, int n)
{
    float32x4_t acc = vdupq_n_f32(0.0f);
    int i = 0;
    for (; i + 4 <= n; i += 4) acc = vfmaq_f32(acc, vld1q_f32(a + i), vld1q_f32(b + i));
    float r = vaddvq_f32(acc); // pairwise: (0 + 1) + (2 + 3)
    for (; i < n; ++i) r += a[i] * b[i];
    return r;
}
inline float sumAbs(const float* x, int n)
{
    float32x4_t acc = vdupq_n_f32(0.0f);
    int i = 0;
    for (; i + 4 <= n; i += 4) acc = vaddq_f32(acc, vabsq_f32(vld1q_f32(x + i)));
    float r = vaddvq_f32(acc);
    for (; i < n; ++i) r += std::fabs(x[i]);
    return r;
}
inline float maxAbs(const float* x, int n)
{
    float32x4_t acc = vdupq_n_f32(0.0f);
    int i = 0;
    for (; i + 4 <= n; i += 4) acc = vmaxq_f32(acc, vabsq_f32(vld1q_f32(x + i)));
    return zq_portable::larger(vmaxvq_f32(acc), zq_portable::maxAbs(x + i, n - i));
}
inline float max(const float* x, int n)
{
    float32x4_t acc = vdupq_n_f32(-HUGE_VALF);
    int i = 0;
    for (; i + 4 <= n; i += 4) acc = vmaxq_f32(acc, vld1q_f32(x + i));
    return zq_portable::larger(vmaxvq_f32(acc), zq_portable::max(x + i, n - i));
}

// Four samples of the ring from index at, wrapping after mask.
inline float32x4_t ringLoad(const float* ring, int at, int mask)
{
    if (at + 3 <= mask) return vld1q_f32(ring + at);
    const float v[4] = {ring[at], ring[(at + 1) & mask], ring[(at + 2) & mask], ring[(at + 3) & mask]};
    return vld1q_f32(v);
}
inline void fircirc(const float* ring, const float* taps, float* out, int position, int mask, int tapCount, int n)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        float32x4_t acc = vdupq_n_f32(0.0f);
        for (int k = 0; k < tapCount; ++k)
            acc = vfmaq_n_f32(acc, ringLoad(ring, (position + i + k) & mask, mask), taps[k]);
        vst1q_f32(out + i, acc);
    }
    if (i < n) zq_portable::fircirc(ring, taps, out + i, position + i, mask, tapCount, n - i);
}

inline float lms(const float* x, float* w, const float* desired, float* out, float step, float error, int taps, int n)
{
    return zq_portable::lmsRun(x, w, desired, out, step, error, taps, n,
                               [](float* w, const float* prev, const float* cur, float g, int m) {
                                   float32x4_t acc = vdupq_n_f32(0.0f);
                                   for (int k = 0; k < m; k += 4) {
                                       const float32x4_t wk = vfmaq_n_f32(vld1q_f32(w + k), vld1q_f32(prev + k), g);
                                       vst1q_f32(w + k, wk);
                                       acc = vfmaq_f32(acc, wk, vld1q_f32(cur + k));
                                   }
                                   return vaddvq_f32(acc);
                               });
}

} // namespace zq_neon
namespace zq_path = zq_neon;
#else
namespace zq_path = zq_portable;
#endif

// Copies (the ranges may overlap) and clearing: the C library's own vector code.
inline void ZQ_blk_move_SFRAME(const float* src, float* dst)
{
    std::memmove(dst, src, kZqFrame * sizeof(float));
}
inline void ZQ_blk_move_SFRAME_UNROLLED(const float* src, float* dst, int n)
{
    std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(float));
}
inline void ZQ_mem_clean_SFRAME_UNROLLED(float* dst, int n)
{
    std::memset(dst, 0, static_cast<std::size_t>(n) * sizeof(float));
}

// Element-wise: out may be the same array as an input.
inline void ZQ_vecMul_SFRAME(const float* a, const float* b, float* out)
{
    zq_path::mul(a, b, out, kZqFrame);
}
inline void ZQ_vecMul_SFRAME_UNROLLED(const float* a, const float* b, float* out, int n)
{
    zq_path::mul(a, b, out, n);
}
inline void ZQ_vecIncrement_SFRAME(float* acc, const float* x)
{
    zq_path::add(acc, x, acc, kZqFrame);
}
inline void ZQ_vecOffset_SFRAME(float* x, float c)
{
    zq_path::offset(x, c, kZqFrame);
}
// out = a w + b, w one weight for all elements.
inline void ZQ_w_vec_SFRAME(const float* a, const float* b, float w, float* out)
{
    zq_path::weighted(a, b, w, out, kZqFrame);
}
inline void ZQ_w_vec_SFRAME_UNROLLED(const float* a, const float* b, float w, float* out, int n)
{
    zq_path::weighted(a, b, w, out, n);
}
inline void ZQ_vec_cube_SFRAME_UNROLLED(const float* x, float* out, int n)
{
    zq_path::cube(x, out, n);
}
inline void ZQ_vec_sum_SFRAME(const float* a, const float* b, float* out)
{
    zq_path::add(a, b, out, kZqFrame);
}
inline void ZQ_vec_sum_SFRAME_UNROLLED(const float* a, const float* b, float* out, int n)
{
    zq_path::add(a, b, out, n);
}
inline void ZQ_vec_scale_SFRAME(float* x, float g)
{
    zq_path::scale(x, x, g, kZqFrame);
}
inline void ZQ_vec_scale2_SFRAME(const float* x, float* out, float g)
{
    zq_path::scale(x, out, g, kZqFrame);
}
inline void ZQ_abs_SFRAME(const float* x, float* out)
{
    zq_path::absolute(x, out, kZqFrame);
}
inline void ZQ_abs_SFRAME_UNROLLED(const float* x, float* out, int n)
{
    zq_path::absolute(x, out, n);
}
inline void ZQ_vecrecip_SFRAME_UNROLLED(const float* x, float* out, int n)
{
    zq_path::recip(x, out, n);
}

// Reductions of one frame or n elements.
inline float ZQ_vec_sum_square_SFRAME(const float* x)
{
    return zq_path::dot(x, x, kZqFrame);
}
// Each x . 1 is exact, so the dot product with the ones is the plain sum.
inline float ZQ_vec_sum_elements_SFRAME(const float* x)
{
    return zq_path::dot(x, zq_ones, kZqFrame);
}
inline float ZQ_vec_sum_elm_SFRAME(const float* x)
{
    return ZQ_vec_sum_elements_SFRAME(x);
}
inline float ZQ_L1_SFRAME(const float* x)
{
    return zq_path::sumAbs(x, kZqFrame);
}
// Largest magnitude; 0 for a silent frame.
inline float ZQ_peak_SFRAME(const float* x)
{
    return zq_path::maxAbs(x, kZqFrame);
}
inline float ZQ_max_SFRAME(const float* x)
{
    return zq_path::max(x, kZqFrame);
}
inline float ZQ_dotprod_SFRAME_UNROLLED(const float* a, const float* b, int n)
{
    return zq_path::dot(a, b, n);
}
inline float DSPF_sp_dotprod_natural(const float* a, const float* b, int n)
{
    return zq_path::dot(a, b, n);
}

// One biquad over the frame, transposed direct form II: b = b0, b1, b2; a[1], a[2] = a1, a2 (a[0]
// is not read: a0 is 1); state = the two terms carried from the previous frame. y may be x.
inline void ZQ_biquad_SFRAME(const float* x, const float* b, const float* a, float* state, float* y)
{
    float s1 = state[0], s2 = state[1];
    for (int i = 0; i < kZqFrame; ++i) {
        const float in = x[i];
        const float out = b[0] * in + s1;
        s1 = s2 + b[1] * in - a[1] * out;
        s2 = b[2] * in - a[2] * out;
        y[i] = out;
    }
    state[0] = s1;
    state[1] = s2;
}

// A fourth-order section over the frame in direct form I, whose memory is plain past inputs and
// outputs, so new coefficients act from the next sample on without stored terms of the old ones:
// c = b0 .. b4, a1 .. a4 (a0 is 1); x[-4] .. x[-1] are the four inputs before the frame and must be
// readable; state = the last four outputs, newest first. y must not overlap x[-4 .. 15].
inline void ZQ_iir4(const float* x, const float* c, float* y, float* state)
{
    float y1 = state[0], y2 = state[1], y3 = state[2], y4 = state[3];
    for (int i = 0; i < kZqFrame; ++i) {
        const float v = c[0] * x[i] + c[1] * x[i - 1] + c[2] * x[i - 2] + c[3] * x[i - 3] + c[4] * x[i - 4] -
                        c[5] * y1 - c[6] * y2 - c[7] * y3 - c[8] * y4;
        y4 = y3;
        y3 = y2;
        y2 = y1;
        y1 = v;
        y[i] = v;
    }
    state[0] = y1;
    state[1] = y2;
    state[2] = y3;
    state[3] = y4;
}

// FIR over a ring of 2^(sizeBits - 1) samples: out[i] = sum over k of taps[k] ring[position + i + k],
// indices wrapping, so taps are in time-reversed order (the last multiplies the newest sample).
// Four outputs at a time; n need not be a multiple of four.
inline void ZQ_fircirc_SFRAME_UNROLLED(const float* ring, const float* taps, float* out, int position, int sizeBits,
                                       int tapCount, int n)
{
    zq_path::fircirc(ring, taps, out, position, (1 << (sizeBits - 1)) - 1, tapCount, n);
}

// Least-mean-squares adaptive FIR over n outputs; x holds n + taps samples. For output i the
// weights first move by step * error * x[i .. i + taps - 1], the window that gave the previous
// error, then out[i] = weights . x[i + 1 .. i + taps] and error = desired[i] - out[i]. Returns the
// last error: the next call, with x advanced by n, continues where this one ended.
inline float ZQ_DSPF_sp_lms(const float* x, float* weights, const float* desired, float* out, float step, float error,
                            int taps, int n)
{
    return zq_path::lms(x, weights, desired, out, step, error, taps, n);
}
