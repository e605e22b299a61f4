#include "dsp/StereoLfo.h"

#include <cmath>

alignas(16) float referenceShapeSin[2 * kShapePoints];
alignas(16) float referenceShapeTriang[2 * kShapePoints];
alignas(16) float referenceShapeSquare[2 * kShapePoints];
bool referenceShapeInitialized = false;

void modulationsEngine_initReferenceShapes()
{
    if (referenceShapeInitialized) return;
    // 6.28 / 45: the tables were voiced with this step, a hair short of a full cycle.
    constexpr float kStep = 0.13955556f;
    float tri = 0.5f, dir = 1.0f;
    constexpr float kTriStep = 0.044444446f;
    for (int k = 0; k < kShapePoints; ++k) {
        const float s = std::sin(static_cast<float>(k) * kStep);
        referenceShapeSin[k] = (s + 1.0f) * 0.5f;
        const float sgn = s <= 0.0f ? -1.0f : 1.0f;
        referenceShapeSquare[k] = (sgn * std::pow(std::fabs(s), 0.25f) + 1.0f) * 0.5f;
        referenceShapeTriang[k] = tri;
        float next = tri + dir * kTriStep;
        if (next > 1.0f || next < 0.0f) {
            dir = -dir;
            next = tri + dir * kTriStep;
        }
        tri = next;
    }
    for (int k = 0; k < kShapePoints; ++k) {
        referenceShapeSin[k + kShapePoints] = referenceShapeSin[k];
        referenceShapeSquare[k + kShapePoints] = referenceShapeSquare[k];
        referenceShapeTriang[k + kShapePoints] = referenceShapeTriang[k];
    }
    referenceShapeInitialized = true;
}
