#pragma once
#include <atomic>
#include <cmath>

#include "dsp/DoubleBuffer.h"
#include "dsp/NeonMath.h"

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
    // fadeGain, the engine's fade gain for this frame. in and out may be the same array. On aarch64
    // the logarithms and powers of two of four samples are taken together with NEON.
    inline void exec(const float* in, float* out, int n, float fadeGain)
    {
#if defined(__ARM_NEON)
        execNeon(in, out, n, fadeGain);
#else
        execPortable(in, out, n, fadeGain);
#endif
    }

    // The reference: the libm logarithm and power of two, one sample after the other.
    inline void execPortable(const float* in, float* out, int n, float fadeGain)
    {
        const Coeffs& k = coeffs.read();
        const float outGain = k.makeup * fadeGain;
        float e = env;
        float g = lastGain.load(std::memory_order_relaxed);
        for (int i = 0; i < n; ++i) {
            float x = in[i];
            e = smooth(k, e, target(k, std::fmin(std::log(std::fabs(x)) * kNepersToDb, kMaxLevelDb)));
            g = std::exp2(e * kDbToLog2);
            out[i] = outGain * (g * x);
        }
        env = e;
        lastGain.store(g, std::memory_order_relaxed);
    }

#if defined(__ARM_NEON)
    // Only the smoothing, which depends on the sample before, stays one sample at a time.
    inline void execNeon(const float* in, float* out, int n, float fadeGain)
    {
        const Coeffs& k = coeffs.read();
        const float outGain = k.makeup * fadeGain;
        float e = env;
        float g = lastGain.load(std::memory_order_relaxed);
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            const float32x4_t x = vld1q_f32(in + i);
            // vminnm, like fmin, takes the number when the level is NaN.
            const float32x4_t levels =
                vminnmq_f32(vmulq_n_f32(neon_log(vabsq_f32(x)), kNepersToDb), vdupq_n_f32(kMaxLevelDb));
            float level[4], envs[4];
            vst1q_f32(level, levels);
            for (int j = 0; j < 4; ++j) envs[j] = e = smooth(k, e, target(k, level[j]));
            const float32x4_t gains = neon_exp2(vmulq_n_f32(vld1q_f32(envs), kDbToLog2));
            vst1q_f32(out + i, vmulq_n_f32(vmulq_f32(gains, x), outGain));
            g = vgetq_lane_f32(gains, 3);
        }
        env = e;
        lastGain.store(g, std::memory_order_relaxed);
        if (i < n) execPortable(in + i, out + i, n - i, fadeGain);
    }
#endif

    // Linear gain of the last sample processed (before make-up); the compile thread reads it for the
    // gain display while the audio thread runs.
    float getActualGain() const
    {
        return lastGain.load(std::memory_order_relaxed);
    }

    // Clears the smoothed gain.
    void reset()
    {
        env = 0.0f;
        lastGain.store(1.0f, std::memory_order_relaxed);
    }

    Coeffs getCoeffs() const
    {
        return coeffs.current();
    }

private:
    // ln|x| to dB; a zero sample is minus infinity and wants no reduction. Capped so that an infinite
    // sample cannot drive the smoothed gain to minus infinity for good; the cap (fmin, vminnm) also
    // takes the place of a NaN level, so a NaN sample counts as the loudest: the deepest reduction,
    // left at the release rate like any other.
    static constexpr float kNepersToDb = 8.6862f;
    static constexpr float kMaxLevelDb = 1000.0f;
    // dB to the exponent of 2: 10^(dB/20) = 2^(dB * 0.166095).
    static constexpr float kDbToLog2 = 0.166095f;

    // The static curve: the gain wanted for a level, in dB (a number: the callers cap it).
    static float target(const Coeffs& k, float level)
    {
        if (level > k.kneeHi) return level * (k.slope - 1.0f) + k.offset;
        if (level > k.kneeLo) {
            float d = level - k.kneeLo;
            return d * d * k.kneeCoef;
        }
        return 0.0f;
    }
    // Attack while more reduction is wanted, release otherwise.
    static float smooth(const Coeffs& k, float e, float target)
    {
        return e > target ? k.att * e + k.attInv * target : k.rel * e + k.relInv * target;
    }

    DoubleBuffer<Coeffs> coeffs{Coeffs{}};
    // State: the smoothed gain in dB and the last linear gain.
    float env = 0.0f;
    std::atomic<float> lastGain{1.0f};
};
