// WaveNet models. Of this library, only this file and Lstm.cpp compile Eigen products: keep it so.
//
// A block of samples goes through one layer at a time, so each layer's weights are loaded once per
// block rather than once per sample. Each layer keeps its past inputs in a ring of at least
// dilation*(kernel-1) + kMaxBlock columns: enough that writing the current block never overwrites a
// column that one of its taps still needs.
//
// Two layouts. Arrays of 12 or more channels hold each sample's channels together and compute them
// a register of channels at a time (the standard and lite models' first arrays). Arrays of at most 8
// channels (nano, feather, and the second arrays of the larger models) would fill such registers
// only partly, so they hold each channel's samples together and compute four samples at a time.
#include "Activation.h"
#include "FastTanhBlock.h"
#include "LayerArrayBase.h"
#include "Models.h"
#include "NeonLayerArray.h"
#include "Vec4.h"

#include <Eigen/Core>

#include <algorithm>
#include <cstring>

namespace NeuralAudio::detail {
namespace {

using Eigen::Dynamic;
template <int R, int C>
using ConstMap = Eigen::Map<const Eigen::Matrix<float, R, C>>;
template <int R, int C>
using MutMap = Eigen::Map<Eigen::Matrix<float, R, C>>;

struct Layer {
    int dilation = 0;
    int ringSize = 0;
    int pos = 0; // ring column of the next sample
    const float* w = nullptr; // one matrix per tap, oldest tap first: wr x c
    const float* bias = nullptr; // wr
    const float* mixin = nullptr; // wr
    const float* proj = nullptr; // rows x c
    const float* projBias = nullptr; // rows
    float* ring = nullptr; // rows x ringSize
};

// Channels together per sample. C fixed at compile time for the trainer's wide arrays (not gated),
// Dynamic for any shape the other layout does not take. The fixed path stores each channel vector in
// P rows, a whole number of SIMD registers; the extra rows have zero weights everywhere, so they stay
// silent and feed nothing.
template <int C>
class LayerArray final : public LayerArrayBase {
    static constexpr int P = C == Dynamic ? Dynamic : (C + 3) / 4 * 4;

public:
    explicit LayerArray(const LayerArraySpec& spec, WeightReader& reader)
        : c_(spec.channels), cin_(spec.inputSize), h_(spec.headSize), k_(spec.kernelSize), gated_(spec.gated),
          headBias_(spec.headBias), activation_(spec.activation)
    {
        rows_ = C == Dynamic ? c_ : P;
        wr_ = gated_ ? 2 * c_ : rows_; // rows of the convolution: both halves when gated
        size_t weightCount = size_t(rows_) * cin_ + size_t(h_) * rows_ + h_;
        // z_ also takes the array's input, packed, in the general path.
        size_t stateCount = size_t(kMaxBlock) * (2 * rows_ + std::max(wr_, cin_) + h_);
        for (int d : spec.dilations) {
            weightCount += size_t(wr_) * c_ * k_ + 2 * size_t(wr_) + size_t(rows_) * c_ + rows_;
            stateCount += size_t(rows_) * (size_t(d) * (k_ - 1) + kMaxBlock);
        }
        weights_.assign(weightCount, 0.0f);
        state_.assign(stateCount, 0.0f);

        float* wp = weights_.data();
        float* sp = state_.data();
        // A matrix stored row by row in the file into `rows` x cols columns (padding rows stay 0).
        auto matrix = [&](float* out, int fileRows, int cols, int rows) {
            for (int r = 0; r < fileRows; ++r)
                for (int c = 0; c < cols; ++c) out[size_t(c) * rows + r] = reader.next();
        };

        float* rechannel = take(wp, size_t(rows_) * cin_);
        matrix(rechannel, c_, cin_, rows_);
        rechannel_ = rechannel;
        for (int d : spec.dilations) {
            Layer layer;
            layer.dilation = d;
            layer.ringSize = d * (k_ - 1) + kMaxBlock;
            float* w = take(wp, size_t(wr_) * c_ * k_);
            // File order is [out][in][tap].
            for (int o = 0; o < (gated_ ? 2 * c_ : c_); ++o)
                for (int i = 0; i < c_; ++i)
                    for (int k = 0; k < k_; ++k) w[(size_t(k) * c_ + i) * wr_ + o] = reader.next();
            layer.w = w;
            float* bias = take(wp, wr_);
            reader.vector(bias, gated_ ? 2 * c_ : c_);
            layer.bias = bias;
            float* mixin = take(wp, wr_);
            reader.vector(mixin, gated_ ? 2 * c_ : c_);
            layer.mixin = mixin;
            float* proj = take(wp, size_t(rows_) * c_);
            matrix(proj, c_, c_, rows_);
            layer.proj = proj;
            float* projBias = take(wp, rows_);
            reader.vector(projBias, c_);
            layer.projBias = projBias;
            layer.ring = take(sp, size_t(rows_) * layer.ringSize);
            layers_.push_back(layer);
        }
        // One row of rows_ values per head output (file order, padded).
        float* headW = take(wp, size_t(h_) * rows_);
        for (int o = 0; o < h_; ++o) reader.vector(headW + size_t(o) * rows_, c_);
        headWeights_ = headW;
        float* headB = take(wp, h_);
        if (headBias_) reader.vector(headB, h_);
        headBiasValues_ = headB;

        residual_ = take(sp, size_t(rows_) * kMaxBlock);
        acc_ = take(sp, size_t(rows_) * kMaxBlock);
        z_ = take(sp, size_t(std::max(wr_, cin_)) * kMaxBlock);
        head_ = take(sp, size_t(h_) * kMaxBlock);
    }

    Plane residual() const override { return {residual_, 1, rows_}; }
    Plane head() const override { return {head_, 1, h_}; }

    void process(const float* x, Plane v, Plane accIn, int n, bool settle) noexcept override
    {
        MutMap<P, Dynamic> r(residual_, rows_, n);
        MutMap<P, Dynamic> acc(acc_, rows_, n);
        if constexpr (C == Dynamic) {
            v.copyTo(z_, cin_, n); // a packed operand: a strided one would make Eigen allocate a copy
            r.noalias() = ConstMap<Dynamic, Dynamic>(rechannel_, c_, cin_) * ConstMap<Dynamic, Dynamic>(z_, cin_, n);
        } else {
            // Few inputs per sample (1, or the previous array's channels): plain fixed-size sums beat
            // a general product call.
            for (int t = 0; t < n; ++t) {
                Vec col = ConstMap<P, 1>(rechannel_) * v.at(0, t);
                for (int j = 1; j < cin_; ++j) col.noalias() += ConstMap<P, 1>(rechannel_ + size_t(j) * P) * v.at(j, t);
                r.col(t) = col;
            }
        }
        if (accIn.data) {
            if constexpr (C != Dynamic) acc.setZero();
            for (int t = 0; t < n; ++t)
                for (int o = 0; o < c_; ++o) acc(o, t) = accIn.at(o, t);
        } else {
            acc.setZero();
        }

        for (Layer& layer : layers_) {
            storeHistory(layer, r, n, settle);
            if constexpr (C == Dynamic) {
                generalLayer(layer, x, n);
            } else {
                int t = 0;
                for (; t + kColumns <= n; t += kColumns) fixedColumns<kColumns>(layer, x, t);
                for (; t < n; ++t) fixedColumns<1>(layer, x, t);
            }
            layer.pos += n;
            if (layer.pos >= layer.ringSize) layer.pos -= layer.ringSize;
        }

        MutMap<Dynamic, Dynamic> head(head_, h_, n);
        if constexpr (C == Dynamic) {
            head.noalias() =
                Eigen::Map<const Eigen::Matrix<float, Dynamic, Dynamic, Eigen::RowMajor>>(headWeights_, h_, c_) * acc;
        } else {
            for (int t = 0; t < n; ++t)
                for (int o = 0; o < h_; ++o) head(o, t) = ConstMap<P, 1>(headWeights_ + size_t(o) * P).dot(acc.col(t));
        }
        if (headBias_) head.colwise() += ConstMap<Dynamic, 1>(headBiasValues_, h_, 1);
    }

private:
    using Vec = Eigen::Matrix<float, P, 1>;
    // Samples computed together in the fixed path: enough independent sums to hide the add latency,
    // few enough that they stay in registers.
    static constexpr int kColumns = P >= 12 ? 2 : 4;

    // Ring column of sample t of the current block, `lag` samples back. The ring holds
    // history + kMaxBlock columns, so one correction in either direction is enough.
    static int ringColumn(const Layer& layer, int t, int lag) noexcept
    {
        int col = layer.pos + t - lag;
        if (col < 0) col += layer.ringSize;
        else if (col >= layer.ringSize) col -= layer.ringSize;
        return col;
    }

    // The trainer's shapes: N samples through one layer with every partial sum in registers.
    template <int N>
    void fixedColumns(Layer& layer, const float* x, int t) noexcept
    {
        using Block = Eigen::Matrix<float, P, N>;
        Block sum;
        for (int i = 0; i < N; ++i) sum.col(i) = ConstMap<P, 1>(layer.bias) + ConstMap<P, 1>(layer.mixin) * x[t + i];
        for (int k = 0; k < k_; ++k) {
            const float* w = layer.w + size_t(k) * C * P;
            const int lag = layer.dilation * (k_ - 1 - k);
            const float* src[N];
            for (int i = 0; i < N; ++i) src[i] = layer.ring + size_t(ringColumn(layer, t + i, lag)) * P;
            for (int j = 0; j < C; ++j) {
                ConstMap<P, 1> column(w + j * P);
                for (int i = 0; i < N; ++i) sum.col(i).noalias() += column * src[i][j];
            }
        }
        const Block u = activateBlock(sum);
        MutMap<P, N>(acc_ + size_t(t) * P) += u;
        Block mixed;
        for (int i = 0; i < N; ++i) mixed.col(i) = ConstMap<P, 1>(layer.projBias);
        for (int j = 0; j < C; ++j) {
            ConstMap<P, 1> column(layer.proj + j * P);
            for (int i = 0; i < N; ++i) mixed.col(i).noalias() += column * u(j, i);
        }
        MutMap<P, N>(residual_ + size_t(t) * P) += mixed;
    }

    template <class M>
    [[gnu::always_inline]] M activateBlock(const M& z) const noexcept
    {
        using A = Eigen::Array<float, M::RowsAtCompileTime, M::ColsAtCompileTime>;
        switch (activation_) {
        case Activation::Tanh: return fastTanhBlock(A(z.array())).matrix();
        case Activation::ReLU: return z.cwiseMax(0.0f);
        case Activation::Hardtanh: return z.cwiseMax(-1.0f).cwiseMin(1.0f);
        case Activation::LeakyReLU: return z.unaryExpr([](float v) { return leakyRelu(v); });
        case Activation::Sigmoid: return z.unaryExpr([](float v) { return exactSigmoid(v); });
        }
        return z;
    }

    // Any shape, gated or not: whole-block products, then the activation over the block.
    void generalLayer(Layer& layer, const float* x, int n) noexcept
    {
        MutMap<Dynamic, Dynamic> r(residual_, c_, n);
        MutMap<Dynamic, Dynamic> acc(acc_, c_, n);
        MutMap<Dynamic, Dynamic> z(z_, wr_, n);
        ConstMap<Dynamic, 1> bias(layer.bias, wr_, 1);
        ConstMap<Dynamic, 1> mixin(layer.mixin, wr_, 1);
        for (int t = 0; t < n; ++t) z.col(t) = bias + mixin * x[t];
        for (int k = 0; k < k_; ++k) {
            ConstMap<Dynamic, Dynamic> w(layer.w + size_t(k) * wr_ * c_, wr_, c_);
            int start = ringColumn(layer, 0, layer.dilation * (k_ - 1 - k));
            int first = std::min(n, layer.ringSize - start);
            z.leftCols(first).noalias() += w * ConstMap<Dynamic, Dynamic>(layer.ring + size_t(start) * c_, c_, first);
            if (first < n)
                z.rightCols(n - first).noalias() += w * ConstMap<Dynamic, Dynamic>(layer.ring, c_, n - first);
        }
        // The activated part overwrites the top c rows of z.
        activate(n);
        auto u = z.topRows(c_);
        acc += u;
        r.noalias() += ConstMap<Dynamic, Dynamic>(layer.proj, c_, c_) * u;
        r.colwise() += ConstMap<Dynamic, 1>(layer.projBias, c_, 1);
    }

    void storeHistory(Layer& layer, const MutMap<P, Dynamic>& r, int n, bool settle) noexcept
    {
        MutMap<P, Dynamic> ring(layer.ring, rows_, layer.ringSize);
        if (settle) {
            ring.colwise() = r.col(0);
            return;
        }
        int first = std::min(n, layer.ringSize - layer.pos);
        ring.middleCols(layer.pos, first) = r.leftCols(first);
        if (first < n) ring.leftCols(n - first) = r.rightCols(n - first);
    }

    template <class F>
    void activateWith(int n, F f) noexcept
    {
        for (int t = 0; t < n; ++t) {
            float* col = z_ + size_t(t) * wr_;
            if (gated_) {
                for (int i = 0; i < c_; ++i) col[i] = f(col[i]) * exactSigmoid(col[c_ + i]);
            } else {
                for (int i = 0; i < c_; ++i) col[i] = f(col[i]);
            }
        }
    }

    void activate(int n) noexcept
    {
        switch (activation_) {
        case Activation::Tanh: activateWith(n, [](float v) { return fastTanh(v); }); break;
        case Activation::Hardtanh: activateWith(n, [](float v) { return hardTanh(v); }); break;
        case Activation::ReLU: activateWith(n, [](float v) { return relu(v); }); break;
        case Activation::LeakyReLU: activateWith(n, [](float v) { return leakyRelu(v); }); break;
        case Activation::Sigmoid: activateWith(n, [](float v) { return exactSigmoid(v); }); break;
        }
    }

    int c_, cin_, h_, k_;
    int wr_ = 0;
    bool gated_, headBias_;
    Activation activation_;
    std::vector<float> weights_;
    std::vector<float> state_;
    std::vector<Layer> layers_;
    const float* rechannel_ = nullptr;
    const float* headWeights_ = nullptr;
    const float* headBiasValues_ = nullptr;
    float* residual_ = nullptr;
    float* head_ = nullptr;
    int rows_ = 0;
    float* acc_ = nullptr;
    float* z_ = nullptr;
};

// ---- Channels apart: each channel's samples together, four samples per register (TimeLayer, LayerArrayBase.h).

struct TimeArrayState {
    int cin = 0, headSize = 0, kernel = 0;
    bool headBias = false;
    Activation activation = Activation::Tanh;
    std::vector<TimeLayer> layers;
    const float* rechannel = nullptr; // [out][in], scalars
    const float* headWeights = nullptr; // [head][in], scalars
    const float* headBiasValues = nullptr;
    float* acc = nullptr; // C rows of kMaxBlock
    float* residual = nullptr; // C rows of kMaxBlock
    float* head = nullptr; // headSize rows of kMaxBlock
};

// One layer over a block (n4 samples, a multiple of 4): taps from the layer's ring, activation into
// the head accumulator, and the residual into `out` (the next layer's ring, or the array's output).
template <int C>
[[gnu::always_inline]] inline void timeLayer(const TimeLayer& layer, const TimeArrayState& a, const float* x,
                                             float* out, int outStride, int n4) noexcept
{
    const int k = a.kernel;
    for (int t = 0; t < n4; t += 4) {
        Vec4 z[C];
        const Vec4 xv = load4(x + t);
        for (int o = 0; o < C; ++o) z[o] = load4(layer.bias + 4 * o) + load4(layer.mixin + 4 * o) * xv;
        for (int tap = 0; tap < k; ++tap) {
            int col = layer.pos + t - layer.dilation * (k - 1 - tap);
            if (col < 0) col += layer.ringSize;
            else if (col >= layer.ringSize) col -= layer.ringSize;
            const float* src = layer.ring + col;
            const float* w = layer.w + size_t(tap) * C * C * 4;
            for (int j = 0; j < C; ++j) {
                const Vec4 in = load4(src + size_t(j) * layer.stride);
                for (int o = 0; o < C; ++o) z[o] += load4(w + (j * C + o) * 4) * in;
            }
        }
        for (int o = 0; o < C; ++o) {
            z[o] = activate4(z[o], a.activation);
            float* acc = a.acc + o * kMaxBlock + t;
            store4(acc, load4(acc) + z[o]);
        }
        int now = layer.pos + t;
        if (now >= layer.ringSize) now -= layer.ringSize;
        for (int o = 0; o < C; ++o) {
            Vec4 r = load4(layer.ring + size_t(o) * layer.stride + now) + load4(layer.projBias + 4 * o);
            for (int j = 0; j < C; ++j) r += load4(layer.proj + (j * C + o) * 4) * z[j];
            store4(out + size_t(o) * outStride + t, r);
        }
    }
}

template <int C>
[[gnu::always_inline]] inline void timeArray(TimeArrayState& a, const float* x, Plane v, Plane accIn, int n,
                                             bool settle) noexcept
{
    const int n4 = (n + 3) & ~3;
    // The input of the first layer.
    TimeLayer& first = a.layers.front();
    for (int o = 0; o < C; ++o) {
        float* row = first.ring + size_t(o) * first.stride + first.pos;
        const float* weights = a.rechannel + size_t(o) * a.cin;
        for (int t = 0; t < n4; t += 4) {
            Vec4 sum = splat4(0.0f);
            for (int j = 0; j < a.cin; ++j)
                sum += splat4(weights[j]) * Vec4{v.at(j, t), v.at(j, t + 1), v.at(j, t + 2), v.at(j, t + 3)};
            store4(row + t, sum);
        }
    }
    mirror(first, C, n4);
    for (int o = 0; o < C; ++o)
        for (int t = 0; t < n4; ++t) a.acc[o * kMaxBlock + t] = accIn.data ? accIn.at(o, t) : 0.0f;

    for (size_t l = 0; l < a.layers.size(); ++l) {
        TimeLayer& layer = a.layers[l];
        if (settle) settleRing(layer, C);
        if (l + 1 < a.layers.size()) {
            TimeLayer& next = a.layers[l + 1];
            timeLayer<C>(layer, a, x, next.ring + next.pos, next.stride, n4);
            mirror(next, C, n4);
        } else {
            timeLayer<C>(layer, a, x, a.residual, kMaxBlock, n4);
        }
        layer.pos += n;
        if (layer.pos >= layer.ringSize) layer.pos -= layer.ringSize;
    }

    for (int h = 0; h < a.headSize; ++h) {
        const float* weights = a.headWeights + size_t(h) * C;
        const float bias = a.headBias ? a.headBiasValues[h] : 0.0f;
        for (int t = 0; t < n4; t += 4) {
            Vec4 sum = splat4(bias);
            for (int j = 0; j < C; ++j) sum += splat4(weights[j]) * load4(a.acc + j * kMaxBlock + t);
            store4(a.head + h * kMaxBlock + t, sum);
        }
    }
}

// The array as built for the baseline, and for x86-64 cores with FMA.
template <int C>
void timeArrayBaseline(TimeArrayState& a, const float* x, Plane v, Plane accIn, int n, bool settle) noexcept
{
    timeArray<C>(a, x, v, accIn, n, settle);
}

#if NAM_HAS_FMA_CLONE
template <int C>
NAM_FMA_CLONE void timeArrayFma(TimeArrayState& a, const float* x, Plane v, Plane accIn, int n, bool settle) noexcept
{
    timeArray<C>(a, x, v, accIn, n, settle);
}
#endif

// Arrays of C <= 8 channels, not gated, any kernel size and activation.
template <int C>
class TimeLayerArray final : public LayerArrayBase {
public:
    TimeLayerArray(const LayerArraySpec& spec, WeightReader& reader)
    {
        a_.cin = spec.inputSize;
        a_.headSize = spec.headSize;
        a_.kernel = spec.kernelSize;
        a_.headBias = spec.headBias;
        a_.activation = spec.activation;
        const int k = spec.kernelSize;
        size_t weightCount = size_t(C) * a_.cin + size_t(a_.headSize) * C + a_.headSize;
        size_t stateCount = size_t(kMaxBlock) * (2 * C + a_.headSize);
        for (int d : spec.dilations) {
            weightCount += 4 * (size_t(k) * C * C + 3 * C + size_t(C) * C);
            stateCount += size_t(C) * (timeRingSize(d, k) + kMirror);
        }
        weights_.assign(weightCount, 0.0f);
        state_.assign(stateCount, 0.0f);
        float* wp = weights_.data();
        float* sp = state_.data();
        auto spread = [](float* at, float value) { std::fill(at, at + 4, value); };

        float* rechannel = take(wp, size_t(C) * a_.cin);
        reader.vector(rechannel, C * a_.cin); // [out][in], as in the file
        a_.rechannel = rechannel;
        for (int d : spec.dilations) {
            TimeLayer layer;
            layer.dilation = d;
            layer.ringSize = timeRingSize(d, k);
            layer.stride = layer.ringSize + kMirror;
            float* w = take(wp, 4 * size_t(k) * C * C);
            // File order is [out][in][tap].
            for (int o = 0; o < C; ++o)
                for (int i = 0; i < C; ++i)
                    for (int tap = 0; tap < k; ++tap) spread(w + ((size_t(tap) * C + i) * C + o) * 4, reader.next());
            layer.w = w;
            float* bias = take(wp, 4 * size_t(C));
            for (int o = 0; o < C; ++o) spread(bias + 4 * o, reader.next());
            layer.bias = bias;
            float* mixin = take(wp, 4 * size_t(C));
            for (int o = 0; o < C; ++o) spread(mixin + 4 * o, reader.next());
            layer.mixin = mixin;
            float* proj = take(wp, 4 * size_t(C) * C);
            for (int o = 0; o < C; ++o)
                for (int i = 0; i < C; ++i) spread(proj + (size_t(i) * C + o) * 4, reader.next());
            layer.proj = proj;
            float* projBias = take(wp, 4 * size_t(C));
            for (int o = 0; o < C; ++o) spread(projBias + 4 * o, reader.next());
            layer.projBias = projBias;
            layer.ring = take(sp, size_t(C) * layer.stride);
            a_.layers.push_back(layer);
        }
        float* headW = take(wp, size_t(a_.headSize) * C);
        reader.vector(headW, a_.headSize * C); // [head][in], as in the file
        a_.headWeights = headW;
        float* headB = take(wp, a_.headSize);
        if (a_.headBias) reader.vector(headB, a_.headSize);
        a_.headBiasValues = headB;
        a_.acc = take(sp, size_t(C) * kMaxBlock);
        a_.residual = take(sp, size_t(C) * kMaxBlock);
        a_.head = take(sp, size_t(a_.headSize) * kMaxBlock);
#if NAM_HAS_FMA_CLONE
        if (cpuHasFma()) run_ = &timeArrayFma<C>;
#endif
    }

    Plane residual() const override
    {
        return {a_.residual, kMaxBlock, 1};
    }
    Plane head() const override
    {
        return {a_.head, kMaxBlock, 1};
    }

    void process(const float* x, Plane v, Plane accIn, int n, bool settle) noexcept override
    {
        run_(a_, x, v, accIn, n, settle);
    }

private:
    TimeArrayState a_;
    std::vector<float> weights_;
    std::vector<float> state_;
    void (*run_)(TimeArrayState&, const float*, Plane, Plane, int, bool) noexcept = &timeArrayBaseline<C>;
};

std::unique_ptr<LayerArrayBase> makeLayerArray(const LayerArraySpec& spec, WeightReader& reader)
{
#if defined(__ARM_NEON)
    if (!spec.gated && !baselineRequested()) {
        switch (spec.channels) {
        case 2: return std::make_unique<NeonLayerArray<2>>(spec, reader);
        case 4: return std::make_unique<NeonLayerArray<4>>(spec, reader);
        case 6: return std::make_unique<NeonLayerArray<6>>(spec, reader);
        case 8: return std::make_unique<NeonLayerArray<8>>(spec, reader);
        case 12: return std::make_unique<NeonLayerArray<12>>(spec, reader);
        case 16: return std::make_unique<NeonLayerArray<16>>(spec, reader);
        default: break;
        }
    }
#endif
    if (!spec.gated) {
        switch (spec.channels) {
        case 2: return std::make_unique<TimeLayerArray<2>>(spec, reader);
        case 4: return std::make_unique<TimeLayerArray<4>>(spec, reader);
        case 6: return std::make_unique<TimeLayerArray<6>>(spec, reader);
        case 8: return std::make_unique<TimeLayerArray<8>>(spec, reader);
        case 12: return std::make_unique<LayerArray<12>>(spec, reader);
        case 16: return std::make_unique<LayerArray<16>>(spec, reader);
        default: break;
        }
    }
    return std::make_unique<LayerArray<Dynamic>>(spec, reader);
}

class WaveNetModel final : public NeuralModel {
public:
    explicit WaveNetModel(const ModelSpec& spec)
    {
        inputLevelDbu_ = spec.inputLevelDbu;
        loudnessDb_ = spec.loudnessDb;
        WeightReader reader(spec.weights);
        for (const LayerArraySpec& a : spec.layerArrays) arrays_.push_back(makeLayerArray(a, reader));
        // The factor applied to the output is the last weight, whatever the config's head_scale says.
        headScale_ = reader.next();
        reader.expectEnd();
    }

    void Prewarm() noexcept override
    {
        std::fill(std::begin(input_), std::end(input_), 0.0f);
        run(1, true);
    }

    void Process(float* input, float* output, size_t numSamples) noexcept override
    {
        while (numSamples > 0) {
            int n = int(std::min<size_t>(numSamples, kMaxBlock));
            std::memcpy(input_, input, sizeof(float) * n); // input and output may be one buffer
            std::fill(input_ + n, std::end(input_), 0.0f); // the lanes past n of the last four
            run(n, false);
            const Plane head = arrays_.back()->head();
            for (int t = 0; t < n; ++t) output[t] = headScale_ * head.at(0, t);
            input += n;
            output += n;
            numSamples -= size_t(n);
        }
    }

private:
    void run(int n, bool settle) noexcept
    {
        Plane v{input_, 0, 1};
        Plane acc;
        for (auto& array : arrays_) {
            array->process(input_, v, acc, n, settle);
            v = array->residual();
            acc = array->head();
        }
    }

    std::vector<std::unique_ptr<LayerArrayBase>> arrays_;
    alignas(16) float input_[kMaxBlock] = {};
    float headScale_ = 0.0f;
};

} // namespace

std::unique_ptr<NeuralModel> makeWaveNet(const ModelSpec& spec)
{
    auto model = std::make_unique<WaveNetModel>(spec);
    model->Prewarm();
    return model;
}

} // namespace NeuralAudio::detail
