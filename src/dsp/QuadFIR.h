#pragma once
#include <atomic>
#include <cstring>

#include "dsp/AlignedArray.h"
#include "dsp/RealFft32.h"

#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// FIR filter on one channel: the cabinet impulse responses (2048 taps) and the pickup simulator
// (1024 taps), without latency. The first 16 taps (the head) run in direct form, on the present
// block and the one before; the rest in partitions of 16 taps, each convolved in the frequency domain
// with a past block pair (uniformly partitioned overlap-save): a 32-point transform per block, one
// complex multiply-add per bin and partition, one inverse, about a quarter of the direct form's work.
// That part only depends on past blocks, so it is done once at the start of each block of 16 and
// any split of the input gives the same result.
//
// Taps are kept time-reversed, coeffs[N-1] multiplying the current sample and coeffs[0] the oldest,
// with the head and the partitions' spectra (RealFft32's layout, scaled by 1/128) beside them.
// load* run on the compile thread and publish a whole new tap set (a block of 16 is never filtered
// with half old, half new taps); exec runs on the audio thread. A new filter passes its input
// unchanged.
class QuadFIR {
public:
    static constexpr int kBlock = 16;

    explicit QuadFIR(int taps);

    // ir holds N samples, ir[0] first in time: the filter then convolves with ir.
    void load(const float* ir);
    // Output = wet * (signal convolved with ir) + (1 - wet) * signal.
    void load_blend(const float* ir, float wet);
    // Every tap moves the fraction s from its present value towards the load_blend target, so that
    // repeated calls glide from one response to another.
    void load_smooth_blend(const float* ir, float wet, float s);
    // Clears the history at the start of the next exec, where a new block of 16 then starts (called
    // at the fade's quiet point so that a new response starts from clean delay lines; the clearing
    // itself stays on the audio thread).
    void resetStatus() { clearPending.store(true, std::memory_order_release); }
    // Clears the history at once (audio thread).
    void reset() { clear(); }

    // Filters n samples (any n; the blocks pass 16). in and out may be the same array. The history
    // stays across a change of taps.
    // (Out of line: the blocks that hold a filter keep their own paths, the switched-off one above
    // all, free of its registers.)
    void exec(const float* in, float* out, int n);

    int getTaps() const { return taps; }
    // The published taps, time-reversed (N floats).
    const float* getCoeffs() const { return bank.data() + active.load(std::memory_order_acquire) * setStride; }

    // y[i] = sum over k of c[k] * h[i + k] for i < 16: NEON intrinsics on aarch64, the portable
    // loop elsewhere.
    static inline void block16(const float* __restrict c, const float* __restrict h, float* __restrict y, int taps)
    {
#if defined(__ARM_NEON)
        block16Neon(c, h, y, taps);
#else
        block16Portable(c, h, y, taps);
#endif
    }
    // The reference. Each step takes eight taps against 16
    // consecutive history samples; the inner loop runs over outputs, so every lane is an output of
    // its own: no horizontal sum and no reassociation across steps, which lets g++ -O3 vectorise it
    // for SSE and NEON without fast-math. (One tap per step would let the compiler vectorise across
    // taps with in-order reductions instead, several times slower.)
    static inline void block16Portable(const float* __restrict c, const float* __restrict h, float* __restrict y,
                                       int taps)
    {
        float acc[kBlock] = {};
        int k = 0;
        for (; k + 8 <= taps; k += 8) {
            const float* ck = c + k;
            const float* hk = h + k;
            for (int i = 0; i < kBlock; ++i)
                acc[i] += ((ck[0] * hk[i] + ck[1] * hk[i + 1]) + (ck[2] * hk[i + 2] + ck[3] * hk[i + 3])) +
                          ((ck[4] * hk[i + 4] + ck[5] * hk[i + 5]) + (ck[6] * hk[i + 6] + ck[7] * hk[i + 7]));
        }
        for (; k < taps; ++k) {
            const float ck = c[k];
            const float* hk = h + k;
            for (int i = 0; i < kBlock; ++i) acc[i] += ck * hk[i];
        }
        for (int i = 0; i < kBlock; ++i) y[i] = acc[i];
    }
#if defined(__ARM_NEON)
    // Four taps per step against the 16 outputs in four registers: the 20 history samples of a
    // step are loaded once and shifted with vext; even and odd taps go to separate accumulators so
    // that two chains of fused multiply-adds are in flight per output register. History reads end
    // at h[taps + 15], inside the N + 16 floats.
    static inline void block16Neon(const float* __restrict c, const float* __restrict h, float* __restrict y, int taps)
    {
        float32x4_t e0 = vdupq_n_f32(0.0f), e1 = e0, e2 = e0, e3 = e0; // taps k, k + 2
        float32x4_t o0 = e0, o1 = e0, o2 = e0, o3 = e0; // taps k + 1, k + 3
        int k = 0;
        for (; k + 4 <= taps; k += 4) {
            const float32x4_t ck = vld1q_f32(c + k);
            const float* hk = h + k;
            const float32x4_t h0 = vld1q_f32(hk), h1 = vld1q_f32(hk + 4), h2 = vld1q_f32(hk + 8),
                              h3 = vld1q_f32(hk + 12), h4 = vld1q_f32(hk + 16);
            e0 = vfmaq_laneq_f32(e0, h0, ck, 0);
            e1 = vfmaq_laneq_f32(e1, h1, ck, 0);
            e2 = vfmaq_laneq_f32(e2, h2, ck, 0);
            e3 = vfmaq_laneq_f32(e3, h3, ck, 0);
            o0 = vfmaq_laneq_f32(o0, vextq_f32(h0, h1, 1), ck, 1);
            o1 = vfmaq_laneq_f32(o1, vextq_f32(h1, h2, 1), ck, 1);
            o2 = vfmaq_laneq_f32(o2, vextq_f32(h2, h3, 1), ck, 1);
            o3 = vfmaq_laneq_f32(o3, vextq_f32(h3, h4, 1), ck, 1);
            e0 = vfmaq_laneq_f32(e0, vextq_f32(h0, h1, 2), ck, 2);
            e1 = vfmaq_laneq_f32(e1, vextq_f32(h1, h2, 2), ck, 2);
            e2 = vfmaq_laneq_f32(e2, vextq_f32(h2, h3, 2), ck, 2);
            e3 = vfmaq_laneq_f32(e3, vextq_f32(h3, h4, 2), ck, 2);
            o0 = vfmaq_laneq_f32(o0, vextq_f32(h0, h1, 3), ck, 3);
            o1 = vfmaq_laneq_f32(o1, vextq_f32(h1, h2, 3), ck, 3);
            o2 = vfmaq_laneq_f32(o2, vextq_f32(h2, h3, 3), ck, 3);
            o3 = vfmaq_laneq_f32(o3, vextq_f32(h3, h4, 3), ck, 3);
        }
        for (; k < taps; ++k) {
            const float* hk = h + k;
            e0 = vfmaq_n_f32(e0, vld1q_f32(hk), c[k]);
            e1 = vfmaq_n_f32(e1, vld1q_f32(hk + 4), c[k]);
            e2 = vfmaq_n_f32(e2, vld1q_f32(hk + 8), c[k]);
            e3 = vfmaq_n_f32(e3, vld1q_f32(hk + 12), c[k]);
        }
        vst1q_f32(y, vaddq_f32(e0, o0));
        vst1q_f32(y + 4, vaddq_f32(e1, o1));
        vst1q_f32(y + 8, vaddq_f32(e2, o2));
        vst1q_f32(y + 12, vaddq_f32(e3, o3));
    }
#endif

    // acc = the sum over q < count of x[q] times g[q], spectra of RealFft32's layout stored one after
    // the other: the partitions' products. NEON intrinsics on aarch64, the portable loop elsewhere.
    static void multiplyAdd(const float* __restrict x, const float* __restrict g, int count, float* __restrict acc)
    {
#if defined(__ARM_NEON)
        multiplyAddNeon(x, g, count, acc);
#else
        multiplyAddPortable(x, g, count, acc);
#endif
    }
    static void multiplyAddPortable(const float* __restrict x, const float* __restrict g, int count,
                                    float* __restrict acc);
#if defined(__ARM_NEON)
    static void multiplyAddNeon(const float* __restrict x, const float* __restrict g, int count, float* __restrict acc);
#endif

private:
    void publish(float* next);
    float* spare()
    {
        return bank.data() + (1 - active.load(std::memory_order_relaxed)) * setStride;
    }
    // Transforms the block pair just completed, sums the partitions' products into the tail of the
    // block that starts, and moves the pair on (audio thread).
    void startBlock();
    void clear();

    const int taps;
    const int stride; // taps rounded up to 4 floats
    const int parts; // partitions after the head
    const int setStride; // one tap set: taps, head (16), spectra of partitions parts .. 1
    AlignedArray<float> bank; // two tap sets; the published one is active
    std::atomic<int> active{0};
    std::atomic<bool> clearPending{false};
    // Audio thread: the tap set of the present block, the spectra of the last `parts` block pairs
    // (each written twice, at slot and slot + parts, so that the newest `parts` are always in a row),
    // the previous and present block (and room for the head's reads), the tail of the present block.
    const float* blockSet = nullptr;
    AlignedArray<float> pairs;
    AlignedArray<float> recent;
    alignas(16) float tail[kBlock] = {};
    int newest = 0;
    int fill = 0;
};
