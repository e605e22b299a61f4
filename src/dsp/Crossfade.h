#pragma once

// Moves between two settings of something that cannot glide without being heard, such as the read
// position of a delay line (a jump clicks; a glide bends the pitch): while a move runs, the caller
// computes its output with both the old and the new setting and mixes them, the old fading out and
// the new in, linearly over a fixed number of samples. A target that changes during a move is taken
// when the move has ended, so a turning knob becomes a chain of moves.
//
// Audio thread only. T is a small value type with ==.
template <class T>
class Crossfade {
public:
    Crossfade(const T& initial, int samples) : fromSetting(initial), toSetting(initial), step(1.0f / samples) {}

    // Once per block, before its samples: starts a move to `target` when none runs.
    void follow(const T& target)
    {
        if (moving() || target == toSetting) return;
        fromSetting = toSetting;
        toSetting = target;
        weight = 0.0f;
    }
    bool moving() const { return weight < 1.0f; }
    const T& from() const { return fromSetting; }
    const T& to() const { return toSetting; }
    // The weight of to() for the next sample (1 when no move runs), moving on by one sample.
    float next()
    {
        if (weight >= 1.0f) return 1.0f;
        weight += step;
        if (weight >= 1.0f) weight = 1.0f;
        return weight;
    }

private:
    T fromSetting;
    T toSetting;
    float weight = 1.0f;
    float step;
};
