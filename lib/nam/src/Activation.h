#pragma once
#include <cmath>

// The activation functions of the model files. Tanh is the trainer's rational approximation, not
// std::tanh: models are trained and checked against it, and the exact function moves the output by
// up to 4e-3. The operation order below is part of the result; keep it.
namespace NeuralAudio::detail {

inline float fastTanh(float x)
{
    constexpr float alpha = 2.45550750702956f, beta = 0.893229853513558f, gamma = 0.821226666969744f;
    constexpr float delta = 2.44506634652299f, epsilon = 0.814642734961073f;
    float a = std::fabs(x);
    float s = x * x;
    float num = x * (alpha + alpha * a + (beta + gamma * a) * s);
    float den = delta + (delta + s) * std::fabs(x + (epsilon * x) * a);
    return num / den;
}

// LSTM gates use the sigmoid derived from the fast tanh.
inline float fastSigmoid(float x)
{
    return 0.5f * (fastTanh(0.5f * x) + 1.0f);
}

// Gated WaveNet layers and the "Sigmoid" activation use the exact logistic function.
inline float exactSigmoid(float x)
{
    return 1.0f / (1.0f + std::exp(-x));
}

inline float hardTanh(float x)
{
    return x < -1.0f ? -1.0f : (x > 1.0f ? 1.0f : x);
}

inline float relu(float x)
{
    return x > 0.0f ? x : 0.0f;
}

inline float leakyRelu(float x)
{
    return x > 0.0f ? x : 0.01f * x;
}

} // namespace NeuralAudio::detail
