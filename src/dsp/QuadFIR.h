#pragma once
#include <atomic>
#include <cstring>

#include "dsp/AlignedArray.h"

// Direct-form FIR filter on one channel: the cabinet impulse responses (2048 taps) and the pickup
// simulator (1024 taps). Taps are kept time-reversed, coeffs[N-1] multiplying the current sample
// and coeffs[0] the oldest, and the history holds N - 1 past samples plus one block of 16, both
// 16-byte aligned: the layout of the vector FIR routine the blocks were written for.
// load* run on the compile thread and publish a whole new tap set (a block is never filtered with
// half old, half new taps); exec runs on the audio thread. A new filter passes its input unchanged.
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
    // Clears the history at the start of the next exec (called at the fade's quiet point so that a
    // new response starts from clean delay lines; the clearing itself stays on the audio thread).
    void resetStatus() { clearPending.store(true, std::memory_order_release); }

    // Filters n samples (any n; the blocks pass 16). in and out may be the same array. The history
    // stays across a change of taps.
    inline void exec(const float* in, float* out, int n) {
        if (clearPending.exchange(false, std::memory_order_acquire))
            std::memset(firState.data(), 0, firState.size() * sizeof(float));
        const float* c = bank.data() + active.load(std::memory_order_acquire) * stride;
        float* hist = firState.data();
        while (n > 0) {
            int m = n < kBlock ? n : kBlock;
            std::memcpy(hist + taps - 1, in, m * sizeof(float));
            float y[kBlock];
            block16(c, hist, y, taps);
            std::memcpy(out, y, m * sizeof(float));
            std::memmove(hist, hist + m, (taps - 1) * sizeof(float));
            in += m;
            out += m;
            n -= m;
        }
    }

    int getTaps() const { return taps; }
    // The published taps, time-reversed (N floats).
    const float* getCoeffs() const { return bank.data() + active.load(std::memory_order_acquire) * stride; }
    const float* getState() const { return firState.data(); }

    // y[i] = sum over k of c[k] * h[i + k] for i < 16. Each step takes eight taps against 16
    // consecutive history samples; the inner loop runs over outputs, so every lane is an output of
    // its own: no horizontal sum and no reassociation across steps, which lets g++ -O3 vectorise it
    // for SSE and NEON without fast-math. (One tap per step would let the compiler vectorise across
    // taps with in-order reductions instead, several times slower.)
    static inline void block16(const float* __restrict c, const float* __restrict h, float* __restrict y,
                               int taps) {
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
            for (int i = 0; i < kBlock; ++i)
                acc[i] += ck * hk[i];
        }
        for (int i = 0; i < kBlock; ++i)
            y[i] = acc[i];
    }

private:
    void publish(const float* next);
    float* spare() { return bank.data() + (1 - active.load(std::memory_order_relaxed)) * stride; }

    const int taps;
    const int stride; // taps rounded up to 4 floats, so both banks start 16-byte aligned
    AlignedArray<float> bank; // two tap sets; the published one is active
    AlignedArray<float> firState; // N + 16
    std::atomic<int> active{0};
    std::atomic<bool> clearPending{false};
};
