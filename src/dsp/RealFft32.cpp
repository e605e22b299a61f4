#include "dsp/RealFft32.h"

#include <cmath>

#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// The real transform of 32 samples is a complex one of 16 (even samples as real parts, odd ones as
// imaginary parts) and a pass that separates the two halves' spectra again. The 16-point transform
// is the four-step form of 4 x 4: 4-point transforms down the columns, twiddles, the same across the
// rows; every step works on whole rows of four, which is what the NEON form keeps in registers.
// Its inverse is the same transform with real and imaginary parts exchanged on the way in and out.

namespace {

struct Twiddles {
    // Rows 1..3 of the 4 x 4 step: e^(-2 pi i row col / 16), real and imaginary parts.
    alignas(16) float rowRe[12], rowIm[12];
    // e^(-2 pi i k / 32) = cos - i sin for k = 0..15: the pass between the two spectra.
    alignas(16) float cos32[16], sin32[16];
    Twiddles()
    {
        const double pi = std::acos(-1.0);
        for (int row = 1; row < 4; ++row)
            for (int col = 0; col < 4; ++col) {
                rowRe[4 * (row - 1) + col] = float(std::cos(2 * pi * row * col / 16));
                rowIm[4 * (row - 1) + col] = float(-std::sin(2 * pi * row * col / 16));
            }
        for (int k = 0; k < 16; ++k) {
            cos32[k] = float(std::cos(2 * pi * k / 32));
            sin32[k] = float(std::sin(2 * pi * k / 32));
        }
    }
};
const Twiddles kTw;

// The 4-point transform of elements 0, s, 2s, 3s (real and imaginary parts apart) into elements 0,
// t, 2t, 3t of the output.
inline void transform4(const float* xr, const float* xi, int s, float* yr, float* yi, int t)
{
    const float s02r = xr[0] + xr[2 * s], d02r = xr[0] - xr[2 * s];
    const float s13r = xr[s] + xr[3 * s], d13r = xr[s] - xr[3 * s];
    const float s02i = xi[0] + xi[2 * s], d02i = xi[0] - xi[2 * s];
    const float s13i = xi[s] + xi[3 * s], d13i = xi[s] - xi[3 * s];
    yr[0] = s02r + s13r;
    yi[0] = s02i + s13i;
    yr[t] = d02r + d13i;
    yi[t] = d02i - d13r;
    yr[2 * t] = s02r - s13r;
    yi[2 * t] = s02i - s13i;
    yr[3 * t] = d02r - d13i;
    yi[3 * t] = d02i + d13r;
}

// In place, split arrays of 16; natural order in and out.
void fft16(float* re, float* im)
{
    float ar[16], ai[16];
    // Columns: element 4 row + col; the result's row is the column transform's bin.
    for (int col = 0; col < 4; ++col) transform4(re + col, im + col, 4, ar + col, ai + col, 4);
    for (int i = 4; i < 16; ++i) {
        const float r = ar[i], m = ai[i], wr = kTw.rowRe[i - 4], wi = kTw.rowIm[i - 4];
        ar[i] = r * wr - m * wi;
        ai[i] = r * wi + m * wr;
    }
    // Rows: row k1's four columns give bins k1, k1 + 4, k1 + 8, k1 + 12.
    for (int k1 = 0; k1 < 4; ++k1) transform4(ar + 4 * k1, ai + 4 * k1, 1, re + k1, im + k1, 4);
}

} // namespace

void RealFft32::forwardPortable(const float* x, float* s)
{
    float zr[17], zi[17];
    for (int n = 0; n < 16; ++n) {
        zr[n] = x[2 * n];
        zi[n] = x[2 * n + 1];
    }
    fft16(zr, zi);
    zr[16] = zr[0];
    zi[16] = zi[0];
    // Even part E = (Z[k] + conj Z[16-k]) / 2, odd part O = (Z[k] - conj Z[16-k]) / 2i, X = E + W^k O.
    for (int k = 0; k < 16; ++k) {
        const float er = zr[k] + zr[16 - k], ei = zi[k] - zi[16 - k];
        const float dr = zr[k] - zr[16 - k], di = zi[k] + zi[16 - k];
        s[k] = er + kTw.cos32[k] * di - kTw.sin32[k] * dr;
        s[kBins + k] = ei - kTw.cos32[k] * dr - kTw.sin32[k] * di;
    }
    s[kNyquist] = 2.0f * (zr[0] - zi[0]);
    s[kNyquist + 1] = s[kNyquist + 2] = s[kNyquist + 3] = 0.0f;
}

void RealFft32::inverseUpperHalfPortable(const float* s, float* y)
{
    float yr[17], yi[17];
    for (int k = 0; k < 16; ++k) {
        yr[k] = s[k];
        yi[k] = s[kBins + k];
    }
    yr[16] = s[kNyquist];
    yi[16] = 0.0f;
    // Back to the packed spectrum: Z = E + i O with E and W^k O from X[k] and conj X[16-k].
    float zr[16], zi[16];
    for (int k = 0; k < 16; ++k) {
        const float er = yr[k] + yr[16 - k], ei = yi[k] - yi[16 - k];
        const float dr = yr[k] - yr[16 - k], di = yi[k] + yi[16 - k];
        const float orr = kTw.cos32[k] * dr - kTw.sin32[k] * di;
        const float oi = kTw.cos32[k] * di + kTw.sin32[k] * dr;
        zr[k] = er - oi;
        zi[k] = ei + orr;
    }
    fft16(zi, zr);
    for (int n = 8; n < 16; ++n) {
        y[2 * (n - 8)] = zr[n];
        y[2 * (n - 8) + 1] = zi[n];
    }
}

#if defined(__ARM_NEON)
namespace {

inline float32x4_t reversed(float32x4_t v)
{
    const float32x4_t t = vrev64q_f32(v);
    return vextq_f32(t, t, 2);
}

inline float32x4_t trn1x2(float32x4_t a, float32x4_t b)
{
    return vreinterpretq_f32_f64(vtrn1q_f64(vreinterpretq_f64_f32(a), vreinterpretq_f64_f32(b)));
}
inline float32x4_t trn2x2(float32x4_t a, float32x4_t b)
{
    return vreinterpretq_f32_f64(vtrn2q_f64(vreinterpretq_f64_f32(a), vreinterpretq_f64_f32(b)));
}

inline void transpose(float32x4_t* r)
{
    const float32x4_t t0 = vtrn1q_f32(r[0], r[1]), t1 = vtrn2q_f32(r[0], r[1]);
    const float32x4_t t2 = vtrn1q_f32(r[2], r[3]), t3 = vtrn2q_f32(r[2], r[3]);
    r[0] = trn1x2(t0, t2);
    r[1] = trn1x2(t1, t3);
    r[2] = trn2x2(t0, t2);
    r[3] = trn2x2(t1, t3);
}

// The 4-point transform across four rows, lane by lane.
inline void transform4(float32x4_t* re, float32x4_t* im)
{
    const float32x4_t s02r = vaddq_f32(re[0], re[2]), d02r = vsubq_f32(re[0], re[2]);
    const float32x4_t s13r = vaddq_f32(re[1], re[3]), d13r = vsubq_f32(re[1], re[3]);
    const float32x4_t s02i = vaddq_f32(im[0], im[2]), d02i = vsubq_f32(im[0], im[2]);
    const float32x4_t s13i = vaddq_f32(im[1], im[3]), d13i = vsubq_f32(im[1], im[3]);
    re[0] = vaddq_f32(s02r, s13r);
    im[0] = vaddq_f32(s02i, s13i);
    re[1] = vaddq_f32(d02r, d13i);
    im[1] = vsubq_f32(d02i, d13r);
    re[2] = vsubq_f32(s02r, s13r);
    im[2] = vsubq_f32(s02i, s13i);
    re[3] = vsubq_f32(d02r, d13i);
    im[3] = vaddq_f32(d02i, d13r);
}

// Rows of four in registers: element 4 row + col in, bin 4 row + lane out.
inline void fft16(float32x4_t* re, float32x4_t* im)
{
    transform4(re, im);
    for (int row = 1; row < 4; ++row) {
        const float32x4_t wr = vld1q_f32(kTw.rowRe + 4 * (row - 1)), wi = vld1q_f32(kTw.rowIm + 4 * (row - 1));
        const float32x4_t r = re[row], m = im[row];
        re[row] = vfmsq_f32(vmulq_f32(r, wr), m, wi);
        im[row] = vfmaq_f32(vmulq_f32(r, wi), m, wr);
    }
    transpose(re);
    transpose(im);
    transform4(re, im);
}

// Lanes k = 4 j .. 4 j + 3 of v[16 - k], v in four rows, bin 16 given in place of lane 3 of the
// first row's reversal (bin 0, which is not needed there).
inline void mirrored(const float32x4_t* v, float32x4_t bin16Row, float32x4_t* m)
{
    const float32x4_t q1 = reversed(v[1]), q2 = reversed(v[2]), q3 = reversed(v[3]);
    m[0] = vextq_f32(bin16Row, q3, 3);
    m[1] = vextq_f32(q3, q2, 3);
    m[2] = vextq_f32(q2, q1, 3);
    m[3] = vextq_f32(q1, reversed(v[0]), 3);
}

} // namespace

void RealFft32::forwardNeon(const float* x, float* s)
{
    float32x4_t re[4], im[4];
    for (int r = 0; r < 4; ++r) {
        const float32x4x2_t p = vld2q_f32(x + 8 * r);
        re[r] = p.val[0];
        im[r] = p.val[1];
    }
    fft16(re, im);
    float32x4_t mr[4], mi[4];
    mirrored(re, reversed(re[0]), mr);
    mirrored(im, reversed(im[0]), mi);
    for (int j = 0; j < 4; ++j) {
        const float32x4_t er = vaddq_f32(re[j], mr[j]), ei = vsubq_f32(im[j], mi[j]);
        const float32x4_t dr = vsubq_f32(re[j], mr[j]), di = vaddq_f32(im[j], mi[j]);
        const float32x4_t c = vld1q_f32(kTw.cos32 + 4 * j), sn = vld1q_f32(kTw.sin32 + 4 * j);
        vst1q_f32(s + 4 * j, vfmsq_f32(vfmaq_f32(er, di, c), dr, sn));
        vst1q_f32(s + kBins + 4 * j, vfmsq_f32(vfmsq_f32(ei, dr, c), di, sn));
    }
    const float nyquist = 2.0f * (vgetq_lane_f32(re[0], 0) - vgetq_lane_f32(im[0], 0));
    vst1q_f32(s + kNyquist, vsetq_lane_f32(nyquist, vdupq_n_f32(0.0f), 0));
}

void RealFft32::inverseUpperHalfNeon(const float* s, float* y)
{
    float32x4_t yr[4], yi[4];
    for (int j = 0; j < 4; ++j) {
        yr[j] = vld1q_f32(s + 4 * j);
        yi[j] = vld1q_f32(s + kBins + 4 * j);
    }
    float32x4_t mr[4], mi[4];
    mirrored(yr, vsetq_lane_f32(s[kNyquist], reversed(yr[0]), 3), mr);
    mirrored(yi, vsetq_lane_f32(0.0f, reversed(yi[0]), 3), mi);
    float32x4_t zr[4], zi[4];
    for (int j = 0; j < 4; ++j) {
        const float32x4_t er = vaddq_f32(yr[j], mr[j]), ei = vsubq_f32(yi[j], mi[j]);
        const float32x4_t dr = vsubq_f32(yr[j], mr[j]), di = vaddq_f32(yi[j], mi[j]);
        const float32x4_t c = vld1q_f32(kTw.cos32 + 4 * j), sn = vld1q_f32(kTw.sin32 + 4 * j);
        const float32x4_t orr = vfmsq_f32(vmulq_f32(dr, c), di, sn);
        const float32x4_t oi = vfmaq_f32(vmulq_f32(di, c), dr, sn);
        zr[j] = vsubq_f32(er, oi);
        zi[j] = vaddq_f32(ei, orr);
    }
    fft16(zi, zr);
    vst2q_f32(y, float32x4x2_t{{zr[2], zi[2]}});
    vst2q_f32(y + 8, float32x4x2_t{{zr[3], zi[3]}});
}
#endif
