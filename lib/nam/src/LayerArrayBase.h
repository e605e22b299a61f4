#pragma once
#include "Models.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

// What the WaveNet's layer arrays share: the interface the model chains them by, the planes they
// hand each other, and the history ring of the arrays that keep each channel's samples together.
namespace NeuralAudio::detail {

// The next `count` floats of an array that is handed out piece by piece.
inline float* take(float*& p, size_t count)
{
    float* at = p;
    p += count;
    return at;
}

// Rows (channels) by columns (samples) of floats, either layout: element (row, t) at
// data[row * rowStride + t * colStride].
struct Plane {
    const float* data = nullptr;
    int rowStride = 0;
    int colStride = 0;
    float at(int row, int t) const { return data[size_t(row) * rowStride + size_t(t) * colStride]; }
    // Rows x cols into `out`, column by column.
    void copyTo(float* out, int rows, int cols) const
    {
        for (int t = 0; t < cols; ++t)
            for (int r = 0; r < rows; ++r) *out++ = at(r, t);
    }
};

class LayerArrayBase {
public:
    virtual ~LayerArrayBase() = default;
    // x: the raw input samples (n, and zeros up to the next multiple of 4); v: this array's input
    // (inputSize rows); accIn: the previous array's head output (channels rows), or no data for
    // zeros. Both planes hold at least n columns, rounded up to a multiple of 4. With `settle`, n is
    // 1 and every layer's whole history is first set to that layer's input, which gives the steady
    // state of a constant input.
    virtual void process(const float* x, Plane v, Plane accIn, int n, bool settle) noexcept = 0;
    // Output of the last layer (channels rows) and of the head (headSize rows).
    virtual Plane residual() const = 0;
    virtual Plane head() const = 0;
};

// ---- Channels apart: each channel's samples together, four samples per register.

// Each layer's ring row holds ringSize columns and then `kMirror` more that repeat its first ones, so
// that four samples starting anywhere in the ring can be read as one register (and up to 16 from
// anywhere before the ring's end).
constexpr int kMirror = kMaxBlock + 4;
static_assert(kMaxBlock % 4 == 0, "a block is whole registers of samples");

// One layer of such an array. The weights' layout is the kernel's: see the array that fills them.
struct TimeLayer {
    int dilation = 0;
    int ringSize = 0;
    int stride = 0; // ringSize + kMirror
    int pos = 0; // ring column of the block's first sample
    float* ring = nullptr; // C rows
    const float* w = nullptr; // per tap, oldest tap first
    const float* bias = nullptr;
    const float* mixin = nullptr;
    const float* proj = nullptr;
    const float* projBias = nullptr;
};

// Ring columns a layer of dilation d and kernel k needs: its history and a block, and at least the
// mirror's length.
inline int timeRingSize(int d, int k)
{
    return std::max(d * (k - 1) + kMaxBlock, kMirror);
}

// After columns [pos, pos + count) of every row were written (the write may run into the mirror):
// bring the ring and its mirror back in step.
inline void mirror(const TimeLayer& layer, int rows, int count) noexcept
{
    for (int c = 0; c < rows; ++c) {
        float* row = layer.ring + size_t(c) * layer.stride;
        const int end = layer.pos + count;
        if (end > layer.ringSize) std::memcpy(row, row + layer.ringSize, sizeof(float) * size_t(end - layer.ringSize));
        if (layer.pos < kMirror)
            std::memcpy(row + layer.ringSize + layer.pos, row + layer.pos,
                        sizeof(float) * size_t(std::min(end, kMirror) - layer.pos));
    }
}

// The steady state of a constant input: every column of every row, mirror included, takes the
// row's current column.
inline void settleRing(const TimeLayer& layer, int rows) noexcept
{
    for (int c = 0; c < rows; ++c) {
        float* row = layer.ring + size_t(c) * layer.stride;
        std::fill(row, row + layer.stride, row[layer.pos]);
    }
}

} // namespace NeuralAudio::detail
