// WaveNet models. Of this library, only this file and Lstm.cpp compile Eigen products: keep it so.
//
// A block of samples goes through one layer at a time, so each layer's weights are loaded once per
// block rather than once per sample. Each layer keeps its past inputs in a ring of
// dilation*(kernel-1) + kMaxBlock columns: just enough that writing the current block never
// overwrites a column that one of its taps still needs.
#include "Activation.h"
#include "FastTanhBlock.h"
#include "Models.h"

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
using Strided = Eigen::Map<const Eigen::MatrixXf, 0, Eigen::OuterStride<>>;

class LayerArrayBase {
public:
    virtual ~LayerArrayBase() = default;
    // x: the raw input samples (n); v: this array's input (inputSize values per sample, samples
    // vStride apart); accIn: the previous array's head output (channels x n), or null for zeros.
    // With `settle`, n is 1 and every layer's whole history is first set to that layer's input, which
    // gives the steady state of a constant input.
    virtual void process(const float* x, const float* v, int vStride, const float* accIn, int n,
                         bool settle) noexcept = 0;
    // Output of the last layer: channels values per sample, residualStride() apart.
    const float* residual() const { return residual_; }
    int residualStride() const { return rows_; }
    // Head output: headSize values per sample, packed.
    const float* head() const { return head_; }

protected:
    float* residual_ = nullptr;
    float* head_ = nullptr;
    int rows_ = 0;
};

struct Layer {
    int dilation = 0;
    int ringSize = 0;
    int pos = 0;                     // ring column of the next sample
    const float* w = nullptr;        // one matrix per tap, oldest tap first: wr x c
    const float* bias = nullptr;     // wr
    const float* mixin = nullptr;    // wr
    const float* proj = nullptr;     // rows x c
    const float* projBias = nullptr; // rows
    float* ring = nullptr;           // rows x ringSize
};

// C fixed at compile time for the trainer's shapes (not gated), Dynamic for any other shape. The
// fixed path stores each channel vector in P rows, a whole number of SIMD registers; the extra rows
// have zero weights everywhere, so they stay silent and feed nothing.
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
        size_t stateCount = size_t(kMaxBlock) * (2 * rows_ + wr_ + h_);
        for (int d : spec.dilations) {
            weightCount += size_t(wr_) * c_ * k_ + 2 * size_t(wr_) + size_t(rows_) * c_ + rows_;
            stateCount += size_t(rows_) * (size_t(d) * (k_ - 1) + kMaxBlock);
        }
        weights_.assign(weightCount, 0.0f);
        state_.assign(stateCount, 0.0f);

        float* wp = weights_.data();
        float* sp = state_.data();
        auto take = [](float*& p, size_t count) {
            float* at = p;
            p += count;
            return at;
        };
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
        z_ = take(sp, size_t(wr_) * kMaxBlock);
        head_ = take(sp, size_t(h_) * kMaxBlock);
    }

    void process(const float* x, const float* v, int vStride, const float* accIn, int n, bool settle) noexcept override
    {
        MutMap<P, Dynamic> r(residual_, rows_, n);
        MutMap<P, Dynamic> acc(acc_, rows_, n);
        if constexpr (C == Dynamic) {
            r.noalias() = ConstMap<Dynamic, Dynamic>(rechannel_, c_, cin_) * Strided(v, cin_, n, Eigen::OuterStride<>(vStride));
        } else {
            // Few inputs per sample (1, or the previous array's channels): plain fixed-size sums beat
            // a general product call.
            for (int t = 0; t < n; ++t) {
                const float* in = v + size_t(t) * vStride;
                Vec col = ConstMap<P, 1>(rechannel_) * in[0];
                for (int j = 1; j < cin_; ++j) col.noalias() += ConstMap<P, 1>(rechannel_ + size_t(j) * P) * in[j];
                r.col(t) = col;
            }
        }
        if (accIn) {
            if constexpr (C != Dynamic) acc.setZero();
            acc.topRows(c_) = ConstMap<Dynamic, Dynamic>(accIn, c_, n);
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
            head.noalias() = Eigen::Map<const Eigen::Matrix<float, Dynamic, Dynamic, Eigen::RowMajor>>(headWeights_, h_, c_) * acc;
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
        if (col < 0)
            col += layer.ringSize;
        else if (col >= layer.ringSize)
            col -= layer.ringSize;
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
            if (first < n) z.rightCols(n - first).noalias() += w * ConstMap<Dynamic, Dynamic>(layer.ring, c_, n - first);
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
    float* acc_ = nullptr;
    float* z_ = nullptr;
};

std::unique_ptr<LayerArrayBase> makeLayerArray(const LayerArraySpec& spec, WeightReader& reader)
{
    if (!spec.gated) {
        switch (spec.channels) {
        case 2: return std::make_unique<LayerArray<2>>(spec, reader);
        case 4: return std::make_unique<LayerArray<4>>(spec, reader);
        case 6: return std::make_unique<LayerArray<6>>(spec, reader);
        case 8: return std::make_unique<LayerArray<8>>(spec, reader);
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
        input_[0] = 0.0f;
        run(1, true);
    }

    void Process(float* input, float* output, size_t numSamples) noexcept override
    {
        while (numSamples > 0) {
            int n = int(std::min<size_t>(numSamples, kMaxBlock));
            std::memcpy(input_, input, sizeof(float) * n); // input and output may be one buffer
            run(n, false);
            const float* head = arrays_.back()->head();
            for (int t = 0; t < n; ++t) output[t] = headScale_ * head[t];
            input += n;
            output += n;
            numSamples -= size_t(n);
        }
    }

private:
    void run(int n, bool settle) noexcept
    {
        const float* v = input_;
        int stride = 1;
        const float* acc = nullptr;
        for (auto& array : arrays_) {
            array->process(input_, v, stride, acc, n, settle);
            v = array->residual();
            stride = array->residualStride();
            acc = array->head();
        }
    }

    std::vector<std::unique_ptr<LayerArrayBase>> arrays_;
    float input_[kMaxBlock] = {};
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
