#include "dsp/ExponentialCurve.h"

#include <cmath>

float exponentialCurve(float x, float base)
{
    if (base < 0.0f) return 0.0f;
    if (base > 1.0f) return (std::pow(base, x) - 1.0f) / (base - 1.0f);
    if (base == 1.0f) return x;
    return (1.0f - std::pow(base, x)) / (1.0f - base);
}
