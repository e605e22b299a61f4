#pragma once
#include "dsp/ExponentialCurve.h"

// The gains of a "Dry-Wet" knob at position u (0: all dry .. 1: all wet): up to the middle the dry
// signal stays at 1 while the wet rises along `taper` (0..1 to 0..1); from the middle on the wet stays
// at 1 while the dry falls along it, so the middle has both at full level. A block that is off keeps
// the dry signal at 1, whatever the knob says (its wet part is what dies away).
struct DryWet {
    float dry;
    float wet;
};

inline DryWet dryWet(float u, bool on, float (*taper)(float))
{
    DryWet g{1.0f, 1.0f};
    if (u < 0.5f) g.wet = taper(2.0f * u);
    else g.dry = taper(2.0f * (1.0f - u));
    if (!on) g.dry = 1.0f;
    return g;
}

// The taper of most blocks' "Dry-Wet" knobs.
inline float dryWetCurve(float x)
{
    return exponentialCurve(x, 10.0f);
}
