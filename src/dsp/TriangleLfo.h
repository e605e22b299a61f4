#pragma once
#include <array>

// Triangles between two turning points, stepped per sample: the slow sweeps that move a delay
// line's read position (the reverbs' lines, the delay's tape wow). Values are used as they are, in
// the caller's units; the table-shaped LFOs of the modulation and delay blocks are StereoLfo's.
// `Lanes` triangles side by side, each with its own increment and points: the tape wow steps four
// at once, kept as one vector through the sample loop. The audio thread owns it.
//
// Two ways to turn, chosen by the sweep:
// - turn() once per block, then step() per sample: the test stays out of the sample loop, and a
//   value may run past a turning point by up to a block of steps, so a caller that must stay inside
//   a range sets its points that far within it;
// - bounce() per sample: the value stops on a turning point and heads back from there.
template <int Lanes = 1>
class TriangleLfo {
    static_assert(Lanes >= 1);

public:
    // Before a block: a lane heads up below its `low`, down at or above its `high` (the second test
    // wins).
    void turn(const std::array<float, Lanes>& low, const std::array<float, Lanes>& high)
    {
        for (int k = 0; k < Lanes; ++k) {
            if (value[k] < low[k]) direction[k] = 1.0f;
            if (value[k] >= high[k]) direction[k] = -1.0f;
        }
    }

    // Per sample: every lane one increment on in its direction.
    void step(const std::array<float, Lanes>& increment)
    {
        for (int k = 0; k < Lanes; ++k) value[k] += direction[k] * increment[k];
    }

    // One lane: the same with plain values; step returns the new value.
    void turn(float low, float high) requires(Lanes == 1) { turn(std::array{low}, std::array{high}); }
    float step(float increment) requires(Lanes == 1)
    {
        step(std::array{increment});
        return value[0];
    }

    // Per sample, one lane: one increment on, held to low..high; reaching either end turns it.
    float bounce(float increment, float low, float high) requires(Lanes == 1)
    {
        float& v = value[0];
        v += direction[0] * increment;
        if (v >= high) {
            v = high;
            direction[0] = -1.0f;
        } else if (v <= low) {
            v = low;
            direction[0] = 1.0f;
        }
        return v;
    }

    // From 0 upward unless the owner starts it elsewhere.
    std::array<float, Lanes> value{};
    std::array<float, Lanes> direction = rising(); // +1 rising, -1 falling

private:
    static constexpr std::array<float, Lanes> rising()
    {
        std::array<float, Lanes> up{};
        up.fill(1.0f);
        return up;
    }
};
