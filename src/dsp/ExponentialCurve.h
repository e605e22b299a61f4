#pragma once

// Knob taper: maps a 0..1 position to a curved 0..1 value, bending upwards for base > 1 and
// downwards for 0 <= base < 1; base 1 is linear, a negative base gives 0. Compile thread.
float exponentialCurve(float x, float base);
