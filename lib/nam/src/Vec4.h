#pragma once
#include "Activation.h"
#include "ModelFile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Four floats in one SIMD register (SSE on x86-64, NEON on aarch64) through the compiler's generic
// vector extension. The small fixed-size paths use it where they must decide themselves which sums stay
// in registers: Eigen's expression templates leave that to the inliner, which gives up in long loops.
namespace NeuralAudio::detail {

using Vec4 = float __attribute__((vector_size(16)));

[[gnu::always_inline]] inline Vec4 load4(const float* p)
{
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store4(float* p, Vec4 v)
{
    std::memcpy(p, &v, sizeof v);
}

[[gnu::always_inline]] inline Vec4 splat4(float x)
{
    return Vec4{x, x, x, x};
}

[[gnu::always_inline]] inline Vec4 abs4(Vec4 v)
{
    using Bits = int32_t __attribute__((vector_size(16)));
    return reinterpret_cast<Vec4>(reinterpret_cast<Bits>(v) & 0x7fffffff);
}

// fastTanh (Activation.h) on four lanes: the same operations in the same order, hence the same results.
[[gnu::always_inline]] inline Vec4 fastTanh4(Vec4 x)
{
    constexpr float alpha = 2.45550750702956f, beta = 0.893229853513558f, gamma = 0.821226666969744f;
    constexpr float delta = 2.44506634652299f, epsilon = 0.814642734961073f;
    const Vec4 a = abs4(x);
    const Vec4 s = x * x;
    const Vec4 num = x * (alpha + alpha * a + (beta + gamma * a) * s);
    const Vec4 den = delta + (delta + s) * abs4(x + (epsilon * x) * a);
    return num / den;
}

// Any activation of the model files on four lanes.
[[gnu::always_inline]] inline Vec4 activate4(Vec4 z, Activation activation) noexcept
{
    switch (activation) {
    case Activation::Tanh: return fastTanh4(z);
    case Activation::ReLU: return z > 0.0f ? z : splat4(0.0f);
    case Activation::Hardtanh: return z < -1.0f ? splat4(-1.0f) : (z > 1.0f ? splat4(1.0f) : z);
    case Activation::LeakyReLU: return z > 0.0f ? z : 0.01f * z;
    case Activation::Sigmoid:
        return Vec4{exactSigmoid(z[0]), exactSigmoid(z[1]), exactSigmoid(z[2]), exactSigmoid(z[3])};
    }
    return z;
}

// KESTRUN_NAM_BASELINE=1 keeps the portable kernels, as built for the baseline of the architecture,
// when a model is built: to test and time them on a core that would run another form (x86-64 with
// FMA, aarch64 with the NEON forms).
inline bool baselineRequested()
{
    const char* baseline = std::getenv("KESTRUN_NAM_BASELINE");
    return baseline && baseline[0] == '1';
}

// The x86-64 baseline has no fused multiply-add, which every aarch64 core has (and which the library is
// built to use there). The small fixed-size kernels are therefore compiled once more for x86-64 cores
// with AVX2 and FMA, at the same four-float width, and the copy is chosen once, when a model is built.
#if defined(__x86_64__)
#define NAM_HAS_FMA_CLONE 1
#define NAM_FMA_CLONE __attribute__((target("avx2,fma")))
inline bool cpuHasFma()
{
    if (baselineRequested()) return false;
    __builtin_cpu_init(); // may run before the library's own start-up code
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#endif

} // namespace NeuralAudio::detail
