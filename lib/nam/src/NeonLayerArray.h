#pragma once
#if defined(__ARM_NEON)
#include "Activation.h"
#include "LayerArrayBase.h"
#include "ModelFile.h"
#include "Models.h"
#include "Neon.h"

#include <arm_neon.h>

#include <vector>

// The unit's form of a WaveNet layer array (aarch64 NEON) of C = 2 to 16 channels, not gated: each
// channel's samples together, as in the portable channels-apart arrays, for every width.
//
// The portable arrays keep every weight spread over a register, which suits x86-64, where a
// multiply-add takes its broadcast operand from memory; NEON cannot, so there each spread weight is a
// load of its own, one per multiply-add. Here the weights lie four to a register, as in the file, and
// each multiply-add takes one lane of them: a load serves four outputs, and (with up to 16 sums held
// in registers, SS registers of four samples) SS registers of samples. The sums run in the portable
// order (bias and input mix, then tap by tap and input by input), so that the two forms differ only
// where the portable form's compiled code does not fuse a multiply with its add. Built only on
// aarch64; KESTRUN_NAM_BASELINE=1 keeps the portable arrays there too.
namespace NeuralAudio::detail {

template <int C>
class NeonLayerArray final : public LayerArrayBase {
    static_assert(C >= 1 && C <= 16, "at most 16 sums of every sample pass live in registers");
    static constexpr int CP = (C + 3) / 4 * 4; // a row of weights: whole registers
    static constexpr int R = CP / 4;
    static constexpr int SS = C <= 4 ? 4 : C <= 8 ? 2 : 1; // registers of four samples per pass
    using Sums = float32x4_t[C][SS];

public:
    NeonLayerArray(const LayerArraySpec& spec, WeightReader& reader)
        : cin_(spec.inputSize), headSize_(spec.headSize), kernel_(spec.kernelSize), headBias_(spec.headBias),
          tanh_(spec.activation == Activation::Tanh), activation_(spec.activation)
    {
        const int k = kernel_;
        size_t weightCount = size_t(cin_) * CP + size_t(headSize_) * C + headSize_;
        size_t stateCount = size_t(kMaxBlock) * (2 * C + headSize_ + cin_);
        for (int d : spec.dilations) {
            weightCount += size_t(k) * C * CP + 3 * CP + size_t(C) * CP;
            stateCount += size_t(C) * (timeRingSize(d, k) + kMirror);
        }
        weights_.assign(weightCount, 0.0f);
        state_.assign(stateCount, 0.0f);
        float* wp = weights_.data();
        float* sp = state_.data();

        // Weight rows by input, the outputs along the row (file: [out][in]).
        float* rechannel = take(wp, size_t(cin_) * CP);
        for (int o = 0; o < C; ++o)
            for (int j = 0; j < cin_; ++j) rechannel[size_t(j) * CP + o] = reader.next();
        rechannel_ = rechannel;
        for (int d : spec.dilations) {
            TimeLayer layer;
            layer.dilation = d;
            layer.ringSize = timeRingSize(d, k);
            layer.stride = layer.ringSize + kMirror;
            // [tap][in] rows of the outputs (file: [out][in][tap]).
            float* w = take(wp, size_t(k) * C * CP);
            for (int o = 0; o < C; ++o)
                for (int i = 0; i < C; ++i)
                    for (int tap = 0; tap < k; ++tap) w[(size_t(tap) * C + i) * CP + o] = reader.next();
            layer.w = w;
            float* bias = take(wp, CP);
            reader.vector(bias, C);
            layer.bias = bias;
            float* mixin = take(wp, CP);
            reader.vector(mixin, C);
            layer.mixin = mixin;
            // [out] rows of the inputs, as in the file: an output's sum takes its row by lanes.
            float* proj = take(wp, size_t(C) * CP);
            for (int o = 0; o < C; ++o) reader.vector(proj + size_t(o) * CP, C);
            layer.proj = proj;
            float* projBias = take(wp, CP);
            reader.vector(projBias, C);
            layer.projBias = projBias;
            layer.ring = take(sp, size_t(C) * layer.stride);
            layers_.push_back(layer);
        }
        float* headW = take(wp, size_t(headSize_) * C);
        reader.vector(headW, headSize_ * C); // [head][in], as in the file
        headWeights_ = headW;
        float* headB = take(wp, headSize_);
        if (headBias_) reader.vector(headB, headSize_);
        headBiasValues_ = headB;
        acc_ = take(sp, size_t(C) * kMaxBlock);
        residual_ = take(sp, size_t(C) * kMaxBlock);
        head_ = take(sp, size_t(headSize_) * kMaxBlock);
        input_ = take(sp, size_t(cin_) * kMaxBlock);
    }

    Plane residual() const override { return {residual_, kMaxBlock, 1}; }
    Plane head() const override { return {head_, kMaxBlock, 1}; }

    void process(const float* x, Plane v, Plane accIn, int n, bool settle) noexcept override
    {
        const int n4 = (n + 3) & ~3;
        // The input rows, each along time (the previous array's residual already is).
        const float* in = v.data;
        int inStride = v.rowStride;
        if (v.colStride != 1) {
            for (int j = 0; j < cin_; ++j)
                for (int t = 0; t < n4; ++t) input_[j * kMaxBlock + t] = v.at(j, t);
            in = input_;
            inStride = kMaxBlock;
        }
        TimeLayer& first = layers_.front();
        float* const start = first.ring + first.pos;
        passes(n4, [&](auto ss, int t) { inputPass<decltype(ss)::value>(in + t, inStride, start + t, first.stride); });
        mirror(first, C, n4);
        for (int o = 0; o < C; ++o) {
            float* acc = acc_ + o * kMaxBlock;
            if (!accIn.data)
                for (int t = 0; t < n4; t += 4) vst1q_f32(acc + t, vdupq_n_f32(0.0f));
            else if (accIn.colStride == 1)
                for (int t = 0; t < n4; t += 4)
                    vst1q_f32(acc + t, vld1q_f32(accIn.data + size_t(o) * accIn.rowStride + t));
            else
                for (int t = 0; t < n4; ++t) acc[t] = accIn.at(o, t);
        }

        for (size_t l = 0; l < layers_.size(); ++l) {
            TimeLayer& layer = layers_[l];
            if (settle) settleRing(layer, C);
            TimeLayer* next = l + 1 < layers_.size() ? &layers_[l + 1] : nullptr;
            float* out = next ? next->ring + next->pos : residual_;
            const int outStride = next ? next->stride : kMaxBlock;
            if (tanh_)
                passes(n4, [&](auto ss, int t) { layerPass<decltype(ss)::value, true>(layer, x, out, outStride, t); });
            else
                passes(n4, [&](auto ss, int t) { layerPass<decltype(ss)::value, false>(layer, x, out, outStride, t); });
            if (next) mirror(*next, C, n4);
            layer.pos += n;
            if (layer.pos >= layer.ringSize) layer.pos -= layer.ringSize;
        }

        for (int h = 0; h < headSize_; ++h) {
            const float* weights = headWeights_ + size_t(h) * C;
            const float bias = headBias_ ? headBiasValues_[h] : 0.0f;
            for (int t = 0; t < n4; t += 4) {
                float32x4_t sum = vdupq_n_f32(bias);
                for (int j = 0; j < C; ++j) sum = vfmaq_n_f32(sum, vld1q_f32(acc_ + j * kMaxBlock + t), weights[j]);
                vst1q_f32(head_ + h * kMaxBlock + t, sum);
            }
        }
    }

private:
    // f(SS, t) for the passes of SS registers of samples over n4 samples, then f(1, t) for the rest.
    template <class F>
    [[gnu::always_inline]] static void passes(int n4, F f) noexcept
    {
        int t = 0;
        for (; t + 4 * SS <= n4; t += 4 * SS) f(std::integral_constant<int, SS>{}, t);
        if constexpr (SS > 1)
            for (; t < n4; t += 4) f(std::integral_constant<int, 1>{}, t);
    }

    // z[o][s] += w[o] * row[4s .. 4s + 3]: one input's row of weights, read a register at a time and
    // taken by lanes.
    template <int S>
    [[gnu::always_inline]] static void mixInput(Sums& z, const float* row, const float* weights) noexcept
    {
        float32x4_t v[S];
        unroll<S>([&](auto s) NAM_INLINE { v[s] = vld1q_f32(row + 4 * s); });
        unroll<R>([&](auto g) NAM_INLINE {
            const float32x4_t wv = vld1q_f32(weights + 4 * g);
            unroll<4>([&](auto lane) NAM_INLINE {
                constexpr int o = 4 * decltype(g)::value + decltype(lane)::value;
                if constexpr (o < C)
                    unroll<S>([&](auto s)
                                  NAM_INLINE { z[o][s] = vfmaq_laneq_f32(z[o][s], v[s], wv, decltype(lane)::value); });
            });
        });
    }

    // z[o][s] += sum over inputs j of w[j][o] * src[j][4s .. 4s + 3], J inputs when J > 0, else `count`.
    template <int S, int J>
    [[gnu::always_inline]] static void mix(Sums& z, const float* src, int stride, const float* w, int count) noexcept
    {
        if constexpr (J > 0)
            unroll<J>([&](auto j) NAM_INLINE { mixInput<S>(z, src + j * size_t(stride), w + j * CP); });
        else
            for (int j = 0; j < count; ++j) mixInput<S>(z, src + size_t(j) * stride, w + size_t(j) * CP);
    }

    // The first layer's input over 4S samples: the array's input rows mixed into `out`. (Flattened,
    // as the layer pass: one function whatever the compiler makes of the helpers it calls.)
    template <int S>
    [[gnu::flatten]] void inputPass(const float* in, int inStride, float* out, int outStride) noexcept
    {
        Sums z;
        each<C, S>([&](auto o, auto s) NAM_INLINE { z[o][s] = vdupq_n_f32(0.0f); });
        mix<S, 0>(z, in, inStride, rechannel_, cin_);
        each<C, S>([&](auto o, auto s) NAM_INLINE { vst1q_f32(out + o * size_t(outStride) + 4 * s, z[o][s]); });
    }

    // One layer over 4S samples from t: taps from the ring, activation into the head accumulator,
    // residual into `out`.
    template <int S, bool Tanh>
    [[gnu::flatten]] void layerPass(const TimeLayer& layer, const float* x, float* out, int outStride, int t) noexcept
    {
        Sums z;
        float32x4_t xv[S];
        unroll<S>([&](auto s) NAM_INLINE { xv[s] = vld1q_f32(x + t + 4 * s); });
        unroll<C>([&](auto o) NAM_INLINE {
            constexpr int lane = decltype(o)::value % 4, reg = decltype(o)::value / 4 * 4;
            const float32x4_t b = vld1q_f32(layer.bias + reg), m = vld1q_f32(layer.mixin + reg);
            unroll<S>([&](auto s) NAM_INLINE { z[o][s] = vfmaq_laneq_f32(vdupq_laneq_f32(b, lane), xv[s], m, lane); });
        });
        const int k = kernel_;
        for (int tap = 0; tap < k; ++tap) {
            int col = layer.pos + t - layer.dilation * (k - 1 - tap);
            if (col < 0) col += layer.ringSize;
            else if (col >= layer.ringSize) col -= layer.ringSize;
            mix<S, C>(z, layer.ring + col, layer.stride, layer.w + size_t(tap) * C * CP, C);
        }
        each<C, S>([&](auto o, auto s) NAM_INLINE {
            z[o][s] = Tanh ? neonFastTanh(z[o][s]) : neonActivate(z[o][s], activation_);
            float* acc = acc_ + o * kMaxBlock + t + 4 * s;
            vst1q_f32(acc, vaddq_f32(vld1q_f32(acc), z[o][s]));
        });
        int now = layer.pos + t;
        if (now >= layer.ringSize) now -= layer.ringSize;
        unroll<C>([&](auto o) NAM_INLINE {
            constexpr int lane = decltype(o)::value % 4, reg = decltype(o)::value / 4 * 4;
            const float32x4_t pb = vdupq_laneq_f32(vld1q_f32(layer.projBias + reg), lane);
            const float* ring = layer.ring + decltype(o)::value * size_t(layer.stride) + now;
            const float* row = layer.proj + decltype(o)::value * CP;
            float32x4_t r[S];
            unroll<S>([&](auto s) NAM_INLINE { r[s] = vaddq_f32(vld1q_f32(ring + 4 * s), pb); });
            unroll<R>([&](auto g) NAM_INLINE {
                const float32x4_t wv = vld1q_f32(row + 4 * decltype(g)::value);
                unroll<4>([&](auto l) NAM_INLINE {
                    constexpr int j = 4 * decltype(g)::value + decltype(l)::value;
                    if constexpr (j < C)
                        unroll<S>([&](auto s)
                                      NAM_INLINE { r[s] = vfmaq_laneq_f32(r[s], z[j][s], wv, decltype(l)::value); });
                });
            });
            unroll<S>([&](auto s) NAM_INLINE { vst1q_f32(out + o * size_t(outStride) + t + 4 * s, r[s]); });
        });
    }

    int cin_, headSize_, kernel_;
    bool headBias_, tanh_;
    Activation activation_;
    std::vector<float> weights_;
    std::vector<float> state_;
    std::vector<TimeLayer> layers_;
    const float* rechannel_ = nullptr; // [in] rows of CP outputs
    const float* headWeights_ = nullptr; // [head][in]
    const float* headBiasValues_ = nullptr;
    float* acc_ = nullptr; // C rows of kMaxBlock
    float* residual_ = nullptr; // C rows of kMaxBlock
    float* head_ = nullptr; // headSize rows of kMaxBlock
    float* input_ = nullptr; // cin rows of kMaxBlock: an input that is not along time, copied
};

} // namespace NeuralAudio::detail
#endif
