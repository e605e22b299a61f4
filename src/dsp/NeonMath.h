#pragma once
// Natural logarithm and power of two in the four lanes of a NEON register, for the kernels that
// need one of each per sample. Accurate to a few units in the last place over the whole float range
// (the libm functions they stand in for are the reference in the tests).
#if defined(__ARM_NEON)
#include <arm_neon.h>

// ln x for x >= 0: x = m * 2^e with m in [sqrt(1/2), sqrt(2)), ln x = e ln 2 + 2 atanh(s),
// s = (m - 1) / (m + 1), |s| < 0.172, so the odd series to s^9 leaves under 1e-9. 0 and numbers
// below the normal range give minus infinity; infinity and NaN come back as they are.
inline float32x4_t neon_log(float32x4_t x)
{
    const int32x4_t bits = vreinterpretq_s32_f32(x);
    int32x4_t e = vsubq_s32(vshrq_n_s32(bits, 23), vdupq_n_s32(127));
    float32x4_t m = vreinterpretq_f32_s32(vorrq_s32(vandq_s32(bits, vdupq_n_s32(0x007FFFFF)), vdupq_n_s32(0x3F800000)));
    const uint32x4_t high = vcgtq_f32(m, vdupq_n_f32(1.41421356f));
    m = vbslq_f32(high, vmulq_n_f32(m, 0.5f), m);
    e = vsubq_s32(e, vreinterpretq_s32_u32(high)); // all ones is -1: one more power of two
    const float32x4_t one = vdupq_n_f32(1.0f);
    const float32x4_t s = vdivq_f32(vsubq_f32(m, one), vaddq_f32(m, one));
    const float32x4_t s2 = vmulq_f32(s, s);
    float32x4_t p = vfmaq_f32(vdupq_n_f32(1.0f / 7.0f), s2, vdupq_n_f32(1.0f / 9.0f));
    p = vfmaq_f32(vdupq_n_f32(1.0f / 5.0f), s2, p);
    p = vfmaq_f32(vdupq_n_f32(1.0f / 3.0f), s2, p);
    p = vfmaq_f32(one, s2, p);
    float32x4_t ln = vfmaq_f32(vmulq_f32(vaddq_f32(s, s), p), vcvtq_f32_s32(e), vdupq_n_f32(0.693147181f));
    ln = vbslq_f32(vcltq_f32(x, vdupq_n_f32(1.17549435e-38f)), vdupq_n_f32(-__builtin_inff()), ln);
    const uint32x4_t special = vceqq_s32(vandq_s32(bits, vdupq_n_s32(0x7F800000)), vdupq_n_s32(0x7F800000));
    return vbslq_f32(special, x, ln);
}

// 2^v: v = n + f with n an integer and |f| <= 1/2, 2^f = e^(f ln 2) by its series to the 7th power
// (under 6e-9), and n added to the exponent (in two steps at the ends, where n may be 128 or -126). Below
// 2^-125.5 the result is 0, from 2^128 on infinity; NaN stays NaN.
inline float32x4_t neon_exp2(float32x4_t v)
{
    const float32x4_t n = vrndnq_f32(v);
    const float32x4_t t = vmulq_n_f32(vsubq_f32(v, n), 0.693147181f);
    float32x4_t p = vfmaq_f32(vdupq_n_f32(1.0f / 720.0f), t, vdupq_n_f32(1.0f / 5040.0f));
    p = vfmaq_f32(vdupq_n_f32(1.0f / 120.0f), t, p);
    p = vfmaq_f32(vdupq_n_f32(1.0f / 24.0f), t, p);
    p = vfmaq_f32(vdupq_n_f32(1.0f / 6.0f), t, p);
    p = vfmaq_f32(vdupq_n_f32(0.5f), t, p);
    p = vfmaq_f32(vdupq_n_f32(1.0f), t, p);
    p = vfmaq_f32(vdupq_n_f32(1.0f), t, p);
    const float32x4_t top = vdupq_n_f32(127.0f), bottom = vdupq_n_f32(-125.0f);
    const float32x4_t clamped = vminq_f32(vmaxq_f32(n, bottom), top);
    float32x4_t r = vreinterpretq_f32_s32(vaddq_s32(vreinterpretq_s32_f32(p), vshlq_n_s32(vcvtq_s32_f32(clamped), 23)));
    const float32x4_t rest = vbslq_f32(vcgtq_f32(n, top), vdupq_n_f32(2.0f),
                                       vbslq_f32(vcltq_f32(n, bottom), vdupq_n_f32(0.5f), vdupq_n_f32(1.0f)));
    r = vmulq_f32(r, rest);
    r = vbslq_f32(vcltq_f32(v, vdupq_n_f32(-125.5f)), vdupq_n_f32(0.0f), r);
    r = vbslq_f32(vcgeq_f32(v, vdupq_n_f32(128.0f)), vdupq_n_f32(__builtin_inff()), r);
    return vbslq_f32(vceqq_f32(v, v), r, v);
}
#endif
