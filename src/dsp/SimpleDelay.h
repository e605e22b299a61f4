#pragma once
#include <atomic>
#include <cmath>

#include "dsp/AlignedArray.h"
#include "dsp/Glide.h"
#include "dsp/TriangleLfo.h"

// Power-of-two delay line with two taps cross-faded, so that the delay can change without a click,
// and an optional triangle sweep of the read position with linear interpolation (reverb lines).
// setDelay and setModulation run on the compile thread, exec on the audio thread. A tap's delay is
// only ever changed while that tap is silent (weight below 0.05); the cross-fade takes about 60
// blocks of 16 samples (20 ms) and then rests on one tap alone. A new sweep depth glides, so the
// read position never jumps.
class SimpleDelay {
public:
    // length in samples; the ring is the smallest power of two that holds it (1 below 2).
    explicit SimpleDelay(int length);

    // samples, limited to size - 1. During a cross-fade nothing changes: the compile pass calls
    // again every 10 ms and the value is taken once the fade has settled.
    void setDelay(int samples);
    int getDelay() const { return delayA.load(std::memory_order_relaxed); }
    // rate: triangle phase step per sample; depth: sweep in samples (0 = no modulation).
    void setModulation(float rate, float depth)
    {
        modRate.store(rate, std::memory_order_relaxed);
        modDepth.store(depth, std::memory_order_relaxed);
    }

    // in and out may be the same array.
    inline void exec(const float* in, float* out, int n)
    {
        const int dA = delayA.load(std::memory_order_relaxed);
        const int dB = delayB.load(std::memory_order_relaxed);
        const float target = xfadeTarget.load(std::memory_order_relaxed);
        // One cross-fade step per call, as a ramp across the block: a jump of the weight at the
        // block boundary would step the output by 5 % of the difference between the taps.
        const float xfFrom = xfade.load(std::memory_order_relaxed);
        float xfTo = 0.95f * xfFrom + 0.050000012f * target;
        // Lands on the tap, as a glide does: short of it, the fade would stall a few 1e-7 away and
        // keep both taps in every sample.
        if (std::fabs(xfTo - target) <= kGainGlideSnap) xfTo = target;
        xfade.store(xfTo, std::memory_order_relaxed);
        const float xfStep = n > 0 ? (xfTo - xfFrom) / static_cast<float>(n) : 0.0f;
        const float rate = modRate.load(std::memory_order_relaxed);
        const float depthTarget = modDepth.load(std::memory_order_relaxed);
        float* buf = buffer.data();
        int w = writeIndex;
        const bool still = depthTarget == 0.0f && depthGlide.settled(0.0f);
        // Settled on one tap that reads what this call writes at once (delay 0) or nothing of it,
        // not even by wrapping: a copy in and a copy out (the weights are exactly 1 and 0, so the
        // output is the tap's sample).
        const int heard = xfTo == 0.0f ? dA : dB;
        if (still && xfFrom == xfTo && (xfTo == 0.0f || xfTo == 1.0f) &&
            (heard == 0 || (heard >= n && heard <= size - n))) {
            toRing(buf, w, in, n);
            fromRing(buf, (w - heard) & mask, out, n);
            w = (w + n) & mask;
        } else if (still) {
            for (int k = 0; k < n; ++k) {
                buf[w] = in[k];
                float a = buf[(w - dA) & mask];
                float b = buf[(w - dB) & mask];
                w = (w + 1) & mask;
                float xf = k == n - 1 ? xfTo : xfFrom + xfStep * static_cast<float>(k + 1);
                out[k] = (1.0f - xf) * a + xf * b;
            }
        } else {
            // The triangle turns only between blocks; turning up within a block's steps of 0, it never
            // falls below 0.
            TriangleLfo<> lfo = sweep;
            lfo.turn(static_cast<float>(n) * rate, 1.0f);
            const Ramp depth = depthGlide.advance(depthTarget, GlideKind::Position, n);
            for (int k = 0; k < n; ++k) {
                float m = depth.at(k) * lfo.step(rate);
                int i = static_cast<int>(m);
                float f = m - static_cast<float>(i);
                buf[w] = in[k];
                int ra = w - dA - i, rb = w - dB - i;
                float a = (1.0f - f) * buf[ra & mask] + f * buf[(ra - 1) & mask];
                float b = (1.0f - f) * buf[rb & mask] + f * buf[(rb - 1) & mask];
                w = (w + 1) & mask;
                float xf = k == n - 1 ? xfTo : xfFrom + xfStep * static_cast<float>(k + 1);
                out[k] = (1.0f - xf) * a + xf * b;
            }
            sweep = lfo;
        }
        writeIndex = w;
    }

    int getSize() const { return size; }

    // Silences the line (audio thread); taps, cross-fade and sweep go on as they were.
    void reset() { std::fill_n(buffer.data(), size, 0.0f); }

private:
    // n samples into the ring from position at, and out of it, wrapping at the end.
    inline void toRing(float* __restrict buf, int at, const float* __restrict src, int n) const
    {
        const int first = n < size - at ? n : size - at;
        for (int k = 0; k < first; ++k) buf[at + k] = src[k];
        for (int k = first; k < n; ++k) buf[k - first] = src[k];
    }
    inline void fromRing(const float* __restrict buf, int at, float* __restrict dst, int n) const
    {
        const int first = n < size - at ? n : size - at;
        for (int k = 0; k < first; ++k) dst[k] = buf[at + k];
        for (int k = first; k < n; ++k) dst[k] = buf[k - first];
    }

    const int size;
    const int mask;
    AlignedArray<float> buffer;
    // Coefficients, written by the compile thread.
    std::atomic<int> delayA{0}, delayB{0};
    std::atomic<float> xfadeTarget{0.0f};
    std::atomic<float> modRate{0.0f}, modDepth{0.0f};
    // State, written by the audio thread (xfade is read by setDelay to know which tap is heard).
    std::atomic<float> xfade{0.0f};
    int writeIndex = 0;
    Glide depthGlide{0.0f};
    TriangleLfo<> sweep{{0.5f}, {1.0f}};
};
