#pragma once
#include <cmath>

// The values of one block of samples that move in a straight line: sample k of the block (from 0)
// takes start + (k + 1) * increment, so the block's last sample ends on the new value.
struct Ramp {
    float start;
    float increment;
    float at(int k) const { return start + increment * static_cast<float>(k + 1); }
    float end(int n) const { return at(n - 1); }
};

// How a setting may move, fixed for each setting when its block is built. A level (a gain, a pan, a
// mix, a feedback) glides with a time constant of about 2.5 ms: quick enough for a knob to feel
// direct, slow enough that its steps (the compile pass hands one every 10 ms) are not heard. A read
// position (a modulation depth, a tape wow, a stereo lead of an LFO) moves where a delay line is
// read, and the speed of that move is a pitch shift: it glides about 15 ms.
enum class GlideKind { Level, Position };

// Shares per 16-sample block of the two kinds, and how close to its target a glide lands on it.
inline constexpr float kGainGlideShare = 0.125f;
inline constexpr float kGainGlideSnap = 1e-6f;
inline constexpr float kDepthGlideShare = 0.02f;
inline constexpr float kDepthGlideSnap = 1e-3f; // samples

// A setting that glides to its target instead of stepping. Once per block it covers a fixed share of
// the remaining distance (a one-pole glide with a time constant of about 1 / share blocks) and moves
// in a straight line within the block, so the value never jumps and its slope changes only at block
// edges. Within `snap` of the target, or once its share of the way is too small to move the value
// at all, it lands on it, so that a settled glide is exact and costs nothing to test. The first block after construction starts on its target: a block that was never
// heard has nothing to glide from.
//
// Audio thread only: the target comes from the block's coefficient set.
class Glide {
public:
    Glide() = default;
    explicit Glide(float value) : current(value), primed(true) {}

    // The value reached at the end of the last block.
    float value() const { return current; }
    bool settled(float target) const { return primed && current == target; }
    // The next block of n samples toward `target`.
    Ramp advance(float target, float share, float snap, int n)
    {
        if (!primed) {
            primed = true;
            current = target;
        }
        const float start = current;
        float end = start + (target - start) * share;
        // Close enough, or so close that the share no longer moves a float of this size: there.
        if (std::fabs(target - end) <= snap || end == start) end = target;
        current = end;
        return {start, (end - start) / static_cast<float>(n)};
    }
    Ramp advance(float target, GlideKind kind, int n) { return advance(target, shareOf(kind), snapOf(kind), n); }
    // The share and snap of a kind.
    static float shareOf(GlideKind kind) { return kind == GlideKind::Level ? kGainGlideShare : kDepthGlideShare; }
    static float snapOf(GlideKind kind) { return kind == GlideKind::Level ? kGainGlideSnap : kDepthGlideSnap; }
    // Stands at v now, and glides from there.
    void jump(float v)
    {
        current = v;
        primed = true;
    }

private:
    float current = 0.0f;
    bool primed = false;
};
