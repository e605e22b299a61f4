#pragma once
#include <cmath>

#include "dsp/DoubleBuffer.h"
#include "dsp/Glide.h"
#include "dsp/QuadBiquad.h"

// A second-order section under a knob (a cut, a shelf, a band, a damping filter): designed with the
// setters of QuadBiquad, but its coefficients glide to a new design instead of stepping. Each block
// they cover a share of the way and move in a straight line within it, and the section runs in
// direct form I, whose memory is the real past input and output: a changed coefficient then only
// changes what is made of that past. (A stepped coefficient in the transposed form leaves its memory
// out of step with the new section, which rings out as a click, worst for cuts near Nyquist.) Any
// mix of two stable sections is stable, so the glide never leaves the stable region. Standing on its
// design it runs QuadBiquad's kernel, as cheap as a plain section.
//
// set runs on the compile thread, exec and reset on the audio thread. A new section passes nothing
// until it is first set; the first set is taken at once.
class GlidingBiquad {
public:
    // design(QuadBiquad&) calls one of QuadBiquad's setters; the result is the new target.
    template <class Design>
    void set(Design&& design)
    {
        design(designer);
        target.publish(designer.getCoeffs());
    }

    // Filters n samples (in and out may be the same array).
    inline void exec(const float* in, float* out, int n)
    {
        const QuadBiquad::Coeffs& t = target.read();
        // Gliding form: b0, b1 - a1, b2 - a2, a1, a2.
        const float goal[5] = {t.c[0], t.c[1] - t.c[3], t.c[2] - t.c[4], t.c[3], t.c[4]};
        if (!primed) {
            for (int j = 0; j < 5; ++j) c[j] = goal[j];
            primed = true;
        }
        float x1 = s.x1, x2 = s.x2, y1 = s.y1, y2 = s.y2;
        bool rest = n >= 2;
        for (int j = 0; j < 5; ++j) rest = rest && c[j] == goal[j];
        if (rest) {
            // On its design (most of the time): the plain section's kernel, four samples per step on
            // aarch64, started from and leaving behind the real past that a later glide needs. Its
            // state is formed as the loop below forms its sums, so a flat section stays exact.
            float st[2] = {(c[3] * (x1 - y1) + c[1] * x1) + (c[4] * (x2 - y2) + c[2] * x2),
                           c[4] * (x1 - y1) + c[2] * x1};
            const float last[2] = {in[n - 1], in[n - 2]};
            QuadBiquad::run(t, st, in, out, n);
            s = State{last[0], last[1], out[n - 1], out[n - 2]};
            return;
        }
        float end[5], step[5];
        bool moving = false;
        for (int j = 0; j < 5; ++j) {
            end[j] = c[j] + (goal[j] - c[j]) * kGainGlideShare;
            // Close enough, or too close for the share to move it: there (else it would never settle).
            if (std::fabs(goal[j] - end[j]) <= kCoeffSnap || end[j] == c[j]) end[j] = goal[j];
            step[j] = (end[j] - c[j]) / static_cast<float>(n);
            moving |= end[j] != c[j];
        }
        float b0 = c[0], d1 = c[1], d2 = c[2], a1 = c[3], a2 = c[4];
        for (int i = 0; i < n; ++i) {
            if (moving) {
                b0 += step[0];
                d1 += step[1];
                d2 += step[2];
                a1 += step[3];
                a2 += step[4];
            }
            const float x = in[i];
            // b1 x1 - a1 y1 written as a1 (x1 - y1) + (b1 - a1) x1: a flat section (b = a, b0 = 1)
            // passes its input exactly, whether or not the compiler fuses the products.
            const float y = b0 * x + ((a1 * (x1 - y1) + d1 * x1) + (a2 * (x2 - y2) + d2 * x2));
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            out[i] = y;
        }
        s = State{x1, x2, y1, y2};
        for (int j = 0; j < 5; ++j) c[j] = end[j];
    }

    // Clears the memory (audio thread, or before audio runs).
    void reset() { s = State{}; }

    // The coefficients the section glides to (b0, b1, b2, a1, a2).
    QuadBiquad::Coeffs getTarget() const { return target.current(); }

private:
    static constexpr float kCoeffSnap = 1e-7f;

    struct State {
        float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    };

    QuadBiquad designer; // compile thread: only its design is used
    DoubleBuffer<QuadBiquad::Coeffs> target{QuadBiquad::Coeffs{}};
    // Audio thread.
    float c[5] = {}; // the gliding form at the end of the last block
    bool primed = false;
    State s;
};
