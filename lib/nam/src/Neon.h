#pragma once
#if defined(__ARM_NEON)
#include "Vec4.h"

#include <arm_neon.h>

#include <utility>

// Helpers of the NEON forms of the runtime's kernels (aarch64).
namespace NeuralAudio::detail {

// For the lambdas of the unrolled loops below: g++ inlines a lambda only where it sees fit, and one
// left out of line takes the sums it adds to out of their registers.
#define NAM_INLINE __attribute__((always_inline))

// f(std::integral_constant<int, i>) for i = 0 .. N-1, unrolled: a lane number must be a constant.
template <int N, class F>
[[gnu::always_inline]] inline void unroll(F&& f)
{
    [&]<int... I>(std::integer_sequence<int, I...>) NAM_INLINE
    {
        (f(std::integral_constant<int, I>{}), ...);
    }
    (std::make_integer_sequence<int, N>{});
}

// f(i, j) for i < N and j < M, both unrolled.
template <int N, int M, class F>
[[gnu::always_inline]] inline void each(F&& f)
{
    unroll<N>([&](auto i) NAM_INLINE { unroll<M>([&](auto j) NAM_INLINE { f(i, j); }); });
}

// The activations of Vec4.h on a NEON register (the same type underneath): the same results.
[[gnu::always_inline]] inline float32x4_t neonFastTanh(float32x4_t v)
{
    return (float32x4_t)fastTanh4((Vec4)v);
}

[[gnu::always_inline]] inline float32x4_t neonActivate(float32x4_t v, Activation activation)
{
    return (float32x4_t)activate4((Vec4)v, activation);
}

} // namespace NeuralAudio::detail
#endif
