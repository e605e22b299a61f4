#pragma once
#include <cmath>

#include "dsp/DoubleBuffer.h"

// Gain computer and level smoother of the studio compressor: feed-forward, in the dB domain, on each
// sample's own level (no detector filter), with a soft knee, separate attack and release smoothing
// of the gain, make-up gain and the engine's fade gain at the output. At 48000 Hz.
// load runs on the compile thread (thresholds and gains in dB, times in ms); exec on the audio
// thread. The coefficient set is handed over whole, the smoothed gain is state.
class QuadComp {
public:
    // Everything load computes.
    struct Coeffs {
        float thr = -40.0f; // dB
        float kneeLo = -40.0f, kneeHi = -40.0f; // dB: threshold -/+ half the knee width
        float slope = 1.0f; // 1 / ratio
        float offset = 0.0f; // (1 - 1/ratio) * thr
        float kneeCoef = 0.0f; // (1/ratio - 1) * 0.5 / knee; 0 for a hard knee
        float att = 0.0f, attInv = 1.0f; // attack coefficient per sample and 1 - it
        float rel = 0.0f, relInv = 1.0f; // release coefficient per sample and 1 - it
        float makeup = 1.0f; // linear
    };

    QuadComp() = default;

    // Bad values are reported with a log line and replaced: a negative knee by 0, a ratio below 1
    // by no compression, times below 1 ms by 1 ms.
    void load(float thr, float ratio, float attackMs, float releaseMs, float makeupDb, float kneeDb);

    // Processes n samples (in groups of four; the blocks pass 16) and multiplies the result by
    // fadeGain, the engine's fade gain for this frame. in and out may be the same array.
    inline void exec(const float* in, float* out, int n, float fadeGain) {
        const Coeffs k = coeffs.read();
        const float outGain = k.makeup * fadeGain;
        float e = env;
        float g = lastGain;
        for (int i = 0; i < n; ++i) {
            float x = in[i];
            // ln|x| in dB; a zero sample is minus infinity and wants no reduction. Capped so that an
            // infinite sample cannot drive the smoothed gain to minus infinity for good.
            float level = std::fmin(std::log(std::fabs(x)) * 8.6862f, 1000.0f);
            float target;
            // Tested from the top so that a NaN level asks for no reduction instead of poisoning env.
            if (level > k.kneeHi)
                target = level * (k.slope - 1.0f) + k.offset;
            else if (level > k.kneeLo) {
                float d = level - k.kneeLo;
                target = d * d * k.kneeCoef;
            } else
                target = 0.0f;
            if (e > target)
                e = k.att * e + k.attInv * target;
            else
                e = k.rel * e + k.relInv * target;
            g = std::exp2(e * 0.166095f);
            out[i] = outGain * (g * x);
        }
        env = e;
        lastGain = g;
    }

    // Linear gain of the last sample processed (before make-up).
    float getActualGain() const { return lastGain; }

    // Clears the smoothed gain.
    void reset() {
        env = 0.0f;
        lastGain = 1.0f;
    }

    Coeffs getCoeffs() const { return coeffs.current(); }

private:
    DoubleBuffer<Coeffs> coeffs{Coeffs{}};
    // State: the smoothed gain in dB and the last linear gain.
    float env = 0.0f;
    float lastGain = 1.0f;
};
