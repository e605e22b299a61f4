#pragma once
#include <Eigen/Core>

// fastTanh (Activation.h) over a fixed-size Eigen array, so that it vectorises. The same
// operations in the same order as the scalar form, hence the same results.
namespace NeuralAudio::detail {

template <class A>
[[gnu::always_inline]] inline A fastTanhBlock(const A& v)
{
    constexpr float alpha = 2.45550750702956f, beta = 0.893229853513558f, gamma = 0.821226666969744f;
    constexpr float delta = 2.44506634652299f, epsilon = 0.814642734961073f;
    const A a = v.abs();
    const A s = v * v;
    const A num = v * (alpha + alpha * a + (beta + gamma * a) * s);
    const A den = delta + (delta + s) * (v + (epsilon * v) * a).abs();
    return num / den;
}

} // namespace NeuralAudio::detail
