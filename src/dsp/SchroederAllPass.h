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

    // gain: feedback/feedforward gain; delay in samples, kept within n..size by exec.
    void compile(float g, unsigned int d) {
        gain.store(g, std::memory_order_relaxed);
        delay.store(d, std::memory_order_relaxed);
    }

    // n at most 16. The input array is overwritten with the allpass's inner signal v. A delay shorter
    // than the block would read samples of this very block before they are written, so it is
    // lengthened to n.
    inline void exec(float* in, float* out, int n) {
        if (n > kMaxBlock)
            n = kMaxBlock;
        const float g = gain.load(std::memory_order_relaxed);
        int d = static_cast<int>(delay.load(std::memory_order_relaxed) > static_cast<unsigned>(size)
                                     ? static_cast<unsigned>(size)
                                     : delay.load(std::memory_order_relaxed));
        if (d < n)
            d = n;
        float* r = ring.data();
        float* s = scratch.data();
        const int read = (writeIndex - d) & mask;
        for (int k = 0; k < n; ++k)
            s[k] = r[(read + k) & mask];
        for (int k = 0; k < n; ++k)
            in[k] = in[k] + g * s[k];
        for (int k = 0; k < n; ++k)
            r[(writeIndex + k) & mask] = in[k];
        for (int k = 0; k < n; ++k)
            out[k] = s[k] - g * in[k];
        writeIndex = (writeIndex + n) & mask;
    }

    int getSize() const { return size; }

private:
    const int size;
    const int mask;
    AlignedArray<float> ring;
    AlignedArray<float> scratch;
    std::atomic<float> gain{0.7071f};
    std::atomic<unsigned int> delay;
    int writeIndex = 0;
};
