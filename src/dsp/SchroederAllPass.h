#pragma once
#include <atomic>

#include "dsp/AlignedArray.h"

// Block-wise Schroeder allpass, y = z^-D v - g v with v = x + g z^-D v, on a power-of-two ring
// (the alternative reverbs). compile runs on the compile thread, exec on the audio thread.
class SchroederAllPass {
public:
    static constexpr int kMaxBlock = 16;

    // size in samples, rounded up to a power of two.
    explicit SchroederAllPass(int size);

    // g: feedback and feedforward gain; d: delay in samples.
    void compile(float g, unsigned int d)
    {
        gain.store(g, std::memory_order_relaxed);
        delay.store(d, std::memory_order_relaxed);
    }

    // Processes n samples in blocks of at most 16. The input array is overwritten with the
    // allpass's inner signal v. A delay shorter than the block would read samples of this very block
    // before they are written, so it is lengthened to the block; one longer than the ring is cut to it.
    inline void exec(float* in, float* out, int n)
    {
        const float g = gain.load(std::memory_order_relaxed);
        const unsigned dl = delay.load(std::memory_order_relaxed);
        const int dRing = dl > static_cast<unsigned>(size) ? size : static_cast<int>(dl);
        float* r = ring.data();
        float* s = scratch.data();
        while (n > 0) {
            const int m = n < kMaxBlock ? n : kMaxBlock;
            const int d = dRing < m ? m : dRing;
            const int read = (writeIndex - d) & mask;
            for (int k = 0; k < m; ++k) s[k] = r[(read + k) & mask];
            for (int k = 0; k < m; ++k) in[k] = in[k] + g * s[k];
            for (int k = 0; k < m; ++k) r[(writeIndex + k) & mask] = in[k];
            for (int k = 0; k < m; ++k) out[k] = s[k] - g * in[k];
            writeIndex = (writeIndex + m) & mask;
            in += m;
            out += m;
            n -= m;
        }
    }

    int getSize() const { return size; }

    // Silences the ring (audio thread).
    void reset() { std::fill_n(ring.data(), size, 0.0f); }

private:
    const int size;
    const int mask;
    AlignedArray<float> ring;
    AlignedArray<float> scratch;
    std::atomic<float> gain{0.7071f};
    std::atomic<unsigned int> delay;
    int writeIndex = 0;
};
