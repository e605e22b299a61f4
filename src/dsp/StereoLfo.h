#pragma once

// The LFOs of the modulation and delay blocks: a phase in points of a shape table, stepped per
// sample, read by linear interpolation, with a right channel that may lead the left by a stereo
// phase.
//
// The shape tables (sine, triangle and a flattened square) hold one cycle of 45 points (entries
// 0..44) repeated in entries 45..89, so that a phase up to 45 plus one neighbour and an offset up to
// 45 are read without wrapping. Values lie in 0..1. They are built once, during start-up, before any
// block that reads them runs (modulationsEngine_initReferenceShapes; a second call does nothing).
inline constexpr int kShapePoints = 45;
extern float referenceShapeSin[2 * kShapePoints];
extern float referenceShapeTriang[2 * kShapePoints];
extern float referenceShapeSquare[2 * kShapePoints];
extern bool referenceShapeInitialized;
void modulationsEngine_initReferenceShapes();

// The table of a "shape" option index: 0 "Triang", 1 "Sin", 2 "Square" (anything else: the triangle).
inline const float* lfoShapeTable(int option)
{
    return option == 1 ? referenceShapeSin : option == 2 ? referenceShapeSquare : referenceShapeTriang;
}
// The table value at integer point j plus fraction f (linear interpolation to j + 1).
inline float lfoShapeAt(const float* table, int j, float f)
{
    return table[j] + f * (table[j + 1] - table[j]);
}
// Table points per sample for a rate in Hz: 45 points per cycle at 48 kHz.
inline constexpr float kShapePointsPerHzSample = 0.0009375f;

// Where in the cycle one channel's LFO stands: table point j and the fraction f toward j + 1.
struct LfoPoint {
    int j = 0;
    float f = 0.0f;
    // The table value here, or `shift` points further on (taps read a third of a cycle apart).
    float in(const float* table, int shift = 0) const { return lfoShapeAt(table, j + shift, f); }
};

// One LFO with a stereo lead. The audio thread owns it.
class StereoLfo {
public:
    // Once per block, before its samples: a phase past the cycle folds back into it.
    void wrap()
    {
        if (phase > static_cast<float>(kShapePoints)) phase -= static_cast<float>(kShapePoints);
    }
    // Per sample: the phase moves on by `increment` points; `left` is where it stands then, `right`
    // leads it by `offset` points (a stereo phase; it may be fractional while it glides), folded
    // back into the table.
    void step(float increment, float offset, LfoPoint& left, LfoPoint& right)
    {
        phase += increment;
        left.j = static_cast<int>(phase);
        left.f = phase - static_cast<float>(left.j);
        const float p = phase + offset;
        right.j = static_cast<int>(p);
        right.f = p - static_cast<float>(right.j);
        if (right.j >= kShapePoints + 1) right.j -= kShapePoints;
    }

    float phase = 0.0f; // table points
};
