// LSTM models: one sample at a time through every layer (each sample needs the previous hidden state).
// The trainer's hidden sizes (multiples of 4 up to 32) run a fixed-size path whose gate weights are laid
// out for the vector unit; any other size runs the same computation with run-time sizes.
#include "Activation.h"
#include "Models.h"
#include "Neon.h"
#include "Vec4.h"

#include <Eigen/Core>

#include <algorithm>
#include <cmath>

namespace NeuralAudio::detail {
namespace {

// Zero samples per Prewarm(), from the current state (from the file's, when a NaN or infinity has
// reached the cells: they would never forget it).
constexpr int kPrewarmSamples = 2048;

bool allFinite(const float* values, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

// The file's numbers for one layer: W row by row (4H rows of [input weights, recurrent weights], gate
// order input, forget, cell candidate, output), the bias, and the stored state.
struct LayerWeights {
    int inputSize = 0;
    std::vector<float> rows; // 4H x (inputSize + H), row by row
    std::vector<float> bias;
    std::vector<float> hidden, cell;
    std::vector<float> fileHidden, fileCell; // the stored state, for a restart
};

struct LstmWeights {
    int hiddenSize = 0;
    std::vector<LayerWeights> layers;
    std::vector<float> head;
    float headBias = 0.0f;
};

LstmWeights readLstm(const ModelSpec& spec)
{
    LstmWeights w;
    const int h = spec.lstm.hiddenSize;
    w.hiddenSize = h;
    WeightReader reader(spec.weights);
    for (int n = 0; n < spec.lstm.numLayers; ++n) {
        LayerWeights layer;
        layer.inputSize = n == 0 ? 1 : h;
        layer.rows.resize(size_t(4 * h) * (layer.inputSize + h));
        reader.vector(layer.rows.data(), int(layer.rows.size()));
        layer.bias.resize(size_t(4 * h));
        reader.vector(layer.bias.data(), 4 * h);
        layer.hidden.resize(size_t(h));
        layer.cell.resize(size_t(h));
        reader.vector(layer.hidden.data(), h); // the state the trainer left the network in
        reader.vector(layer.cell.data(), h);
        layer.fileHidden = layer.hidden;
        layer.fileCell = layer.cell;
        w.layers.push_back(std::move(layer));
    }
    w.head.resize(size_t(h));
    reader.vector(w.head.data(), h);
    w.headBias = reader.next();
    reader.expectEnd();
    return w;
}

// The sigmoid gates are 0.5 * (tanh(x / 2) + 1): their rows are stored halved (halving is exact), so
// that one tanh pass serves all four gates.
bool isSigmoidRow(int row, int h)
{
    return row < 2 * h || row >= 3 * h;
}

// Both LSTM paths: the metadata levels.
class LstmBase : public NeuralModel {
protected:
    explicit LstmBase(const ModelSpec& spec)
    {
        inputLevelDbu_ = spec.inputLevelDbu;
        loudnessDb_ = spec.loudnessDb;
    }
};

// Weights and state of a fixed-size LSTM of hidden size H and L layers, room for two inputs of H per
// layer; the core that derives from it decides the weights' order.
template <int H, int L>
struct LstmStore {
    struct Layer {
        alignas(64) float weights[4 * H * 2 * H] = {};
        alignas(64) float bias[4 * H] = {};
        alignas(16) float hidden[H] = {};
        alignas(16) float cell[H] = {};
    };
    Layer layers[L];
    alignas(16) float head[H] = {};
    float headBias = 0.0f;
    float fileHidden[L][H] = {};
    float fileCell[L][H] = {};

    // Back to the file's state when a NaN or infinity has reached it.
    void restoreIfNotFinite() noexcept
    {
        bool finite = true;
        for (const Layer& layer : layers) finite = finite && allFinite(layer.hidden, H) && allFinite(layer.cell, H);
        if (finite) return;
        for (int n = 0; n < L; ++n) {
            std::copy_n(fileHidden[n], H, layers[n].hidden);
            std::copy_n(fileCell[n], H, layers[n].cell);
        }
    }
};

// Fills the layers, head and state of a fixed-size core from the file. The gate rows are regrouped by
// four hidden units: a group's 16 rows are its units' input, forget, candidate and output rows (lane
// gate * 4 + unit % 4), and `column(group, j, inputSize)` says where file column j of a group goes
// (in rows of 16). The sigmoid rows are halved.
template <int H, int L, class Column>
void loadCore(LstmStore<H, L>& core, const LstmWeights& w, Column column)
{
    for (size_t n = 0; n < w.layers.size(); ++n) {
        const LayerWeights& file = w.layers[n];
        auto& layer = core.layers[n];
        const int cols = file.inputSize + H;
        for (int gate = 0; gate < 4; ++gate) {
            for (int unit = 0; unit < H; ++unit) {
                const int row = gate * H + unit;
                const int group = unit / 4, lane = gate * 4 + unit % 4;
                const float scale = isSigmoidRow(row, H) ? 0.5f : 1.0f;
                for (int j = 0; j < cols; ++j) {
                    const float weight = file.rows[size_t(row) * cols + j];
                    layer.weights[column(group, j, file.inputSize) * 16 + lane] = scale * weight;
                }
                layer.bias[group * 16 + lane] = scale * file.bias[size_t(row)];
            }
        }
        for (int i = 0; i < H; ++i) {
            layer.hidden[i] = core.fileHidden[n][i] = file.hidden[size_t(i)];
            layer.cell[i] = core.fileCell[n][i] = file.cell[size_t(i)];
        }
    }
    for (int i = 0; i < H; ++i) core.head[i] = w.head[size_t(i)];
    core.headBias = w.headBias;
}

// Weights and state of an LSTM with hidden size H (a multiple of 4) and L layers, sizes fixed at
// compile time. The gate rows are regrouped by four hidden units: a group holds those units' input,
// forget, candidate and output rows (16 rows, four SIMD registers), and for each input column the
// group's 16 weights lie together, so one pass over a group's columns leaves its sums in registers
// while the inputs stream by, and the four gates of four units come out side by side.
template <int H, int L>
struct LstmCore : LstmStore<H, L> {
    static_assert(H % 4 == 0, "hidden units come in groups of 4");
    static constexpr int Groups = H / 4;

    // The first layer takes the sample, the others the previous layer's hidden state: In + H columns,
    // padded to an even count (Store: every layer at the larger size).
    using Store = LstmStore<H, L>;
    using Store::head;
    using Store::headBias;
    using Store::layers;
    using typename Store::Layer;

    explicit LstmCore(const LstmWeights& w)
    {
        loadCore<H, L>(*this, w, [](int group, int j, int in) {
            const int cols = in + H;
            return group * (cols + cols % 2) + j;
        });
    }

    // One step of one layer: the gate sums of every group (each sum split over even and odd columns,
    // since the chains of additions are what a sample waits for), then all gate activations side by
    // side (independent divisions overlap), then the cells.
    template <int In>
    [[gnu::always_inline]] static void advance(Layer& layer, const float* in) noexcept
    {
        constexpr int Cols = In + H;
        constexpr int Padded = Cols + Cols % 2;
        Vec4 x[Padded]; // every input spread over a register once
        for (int j = 0; j < In; ++j) x[j] = splat4(in[j]);
        for (int j = 0; j < H; ++j) x[In + j] = splat4(layer.hidden[j]);
        if constexpr (Padded > Cols) x[Cols] = splat4(0.0f);
        alignas(64) float q[4 * H];
        for (int g = 0; g < Groups; ++g) {
            const float* w = layer.weights + g * Padded * 16;
            const float* b = layer.bias + g * 16;
            Vec4 s0 = load4(b), s1 = load4(b + 4), s2 = load4(b + 8), s3 = load4(b + 12);
            Vec4 t0 = splat4(0.0f), t1 = t0, t2 = t0, t3 = t0;
            for (int j = 0; j < Padded; j += 2, w += 32) {
                s0 += load4(w) * x[j];
                s1 += load4(w + 4) * x[j];
                s2 += load4(w + 8) * x[j];
                s3 += load4(w + 12) * x[j];
                t0 += load4(w + 16) * x[j + 1];
                t1 += load4(w + 20) * x[j + 1];
                t2 += load4(w + 24) * x[j + 1];
                t3 += load4(w + 28) * x[j + 1];
            }
            store4(q + g * 16, s0 + t0);
            store4(q + g * 16 + 4, s1 + t1);
            store4(q + g * 16 + 8, s2 + t2);
            store4(q + g * 16 + 12, s3 + t3);
        }
        for (int i = 0; i < 4 * H; i += 4) store4(q + i, fastTanh4(load4(q + i)));
        for (int g = 0; g < Groups; ++g) {
            const Vec4 input = 0.5f * (load4(q + g * 16) + 1.0f);
            const Vec4 forget = 0.5f * (load4(q + g * 16 + 4) + 1.0f);
            const Vec4 c = forget * load4(layer.cell + 4 * g) + input * load4(q + g * 16 + 8);
            store4(layer.cell + 4 * g, c);
            store4(q + g * 16, fastTanh4(c)); // the input gate is used: its place takes tanh(c)
        }
        for (int g = 0; g < Groups; ++g)
            store4(layer.hidden + 4 * g, 0.5f * (load4(q + g * 16 + 12) + 1.0f) * load4(q + g * 16));
    }

    [[gnu::always_inline]] void run(const float* input, float* output, size_t count) noexcept
    {
        for (size_t t = 0; t < count; ++t) {
            const float x = input ? input[t] : 0.0f;
            advance<1>(layers[0], &x);
            for (int n = 1; n < L; ++n) advance<H>(layers[n], layers[n - 1].hidden);
            if (!output) continue;
            Vec4 sum = splat4(0.0f);
            for (int i = 0; i < H; i += 4) sum += load4(head + i) * load4(layers[L - 1].hidden + i);
            output[t] = (sum[0] + sum[1]) + (sum[2] + sum[3]) + headBias;
        }
    }
};

#if defined(__ARM_NEON)
// The unit's form (aarch64 NEON) of LstmCore: the same sums, gates and cells, but each hidden state
// is read four units to a register and every multiply-add takes its input from a lane, so no input is
// spread over a register first; a group's 16 weights of one column come in one load of four
// registers, and all groups (up to four, 16 sums) run side by side, which keeps enough independent
// sums for the add latency without splitting them by column. Columns: the hidden state first, then
// the layer's input. The sums' order differs from LstmCore's, by the last bits.
template <int H, int L>
struct NeonLstmCore : LstmStore<H, L> {
    static_assert(H % 4 == 0, "hidden units come in groups of 4");
    static constexpr int Groups = H / 4;
    static constexpr int Chunk = Groups < 4 ? Groups : 4; // groups whose sums are held at once

    // Weights [group][column][gate][unit], bias [group][gate][unit].
    using Store = LstmStore<H, L>;
    using Store::head;
    using Store::headBias;
    using Store::layers;
    using typename Store::Layer;

    explicit NeonLstmCore(const LstmWeights& w)
    {
        // File columns: the input, then the hidden state.
        loadCore<H, L>(*this, w, [](int group, int j, int in) { return group * (in + H) + (j < in ? H + j : j - in); });
    }

    // sums[g][gate] += the group's weights of `count` columns from `col` on, times the registers of
    // `values` by lanes.
    template <int G>
    [[gnu::always_inline]] static void columns(float32x4_t (&sums)[Chunk][4], const float* w, int cols, int col,
                                               const float* values, int count) noexcept
    {
        for (int r = 0; r < count; r += 4) {
            const float32x4_t v = vld1q_f32(values + r);
            unroll<4>([&](auto lane) NAM_INLINE {
                unroll<G>([&](auto g) NAM_INLINE {
                    const float32x4x4_t q = vld1q_f32_x4(w + (size_t(g) * cols + col + r + lane) * 16);
                    unroll<4>([&](auto gate) NAM_INLINE {
                        sums[g][gate] = vfmaq_laneq_f32(sums[g][gate], q.val[gate], v, decltype(lane)::value);
                    });
                });
            });
        }
    }

    // One step of one layer for the groups first .. first + G - 1.
    // (hidden: the layer's state before the step.)
    template <int In, int G>
    [[gnu::always_inline]] static void chunk(Layer& layer, const float* hidden, const float* in, int first) noexcept
    {
        constexpr int Cols = In + H;
        const float* w = layer.weights + size_t(first) * Cols * 16;
        float32x4_t sums[Chunk][4];
        each<G, 4>([&](auto g, auto gate)
                       NAM_INLINE { sums[g][gate] = vld1q_f32(layer.bias + (first + g) * 16 + gate * 4); });
        columns<G>(sums, w, Cols, 0, hidden, H);
        if constexpr (In == 1) {
            unroll<G>([&](auto g) NAM_INLINE {
                const float32x4x4_t q = vld1q_f32_x4(w + (size_t(g) * Cols + H) * 16);
                unroll<4>([&](auto gate)
                              NAM_INLINE { sums[g][gate] = vfmaq_n_f32(sums[g][gate], q.val[gate], in[0]); });
            });
        } else {
            columns<G>(sums, w, Cols, H, in, In);
        }
        unroll<G>([&](auto g) NAM_INLINE {
            const float32x4_t half = vdupq_n_f32(0.5f);
            const float32x4_t input = vfmaq_f32(half, half, neonFastTanh(sums[g][0]));
            const float32x4_t forget = vfmaq_f32(half, half, neonFastTanh(sums[g][1]));
            const float32x4_t candidate = neonFastTanh(sums[g][2]);
            const float32x4_t out = vfmaq_f32(half, half, neonFastTanh(sums[g][3]));
            float* cell = layer.cell + (first + g) * 4;
            const float32x4_t c = vfmaq_f32(vmulq_f32(forget, vld1q_f32(cell)), input, candidate);
            vst1q_f32(cell, c);
            sums[g][0] = vmulq_f32(out, neonFastTanh(c)); // the hidden state, stored once every sum is made
        });
        unroll<G>([&](auto g) NAM_INLINE { vst1q_f32(layer.hidden + (first + g) * 4, sums[g][0]); });
    }

    template <int In>
    [[gnu::always_inline]] static void advance(Layer& layer, const float* in) noexcept
    {
        // Every chunk reads the whole previous hidden state: a later chunk's new units wait until all
        // are made.
        if constexpr (Groups == Chunk) {
            chunk<In, Chunk>(layer, layer.hidden, in, 0);
        } else {
            alignas(16) float previous[H];
            std::copy_n(layer.hidden, H, previous);
            for (int first = 0; first + Chunk <= Groups; first += Chunk) chunk<In, Chunk>(layer, previous, in, first);
            if constexpr (Groups % Chunk != 0) chunk<In, Groups % Chunk>(layer, previous, in, Groups - Groups % Chunk);
        }
    }

    [[gnu::always_inline]] void run(const float* input, float* output, size_t count) noexcept
    {
        for (size_t t = 0; t < count; ++t) {
            const float x = input ? input[t] : 0.0f;
            advance<1>(layers[0], &x);
            for (int n = 1; n < L; ++n) advance<H>(layers[n], layers[n - 1].hidden);
            if (!output) continue;
            const float* hidden = layers[L - 1].hidden;
            float32x4_t sum = vmulq_f32(vld1q_f32(head), vld1q_f32(hidden));
            for (int i = 4; i < H; i += 4) sum = vfmaq_f32(sum, vld1q_f32(head + i), vld1q_f32(hidden + i));
            output[t] = (vgetq_lane_f32(sum, 0) + vgetq_lane_f32(sum, 1)) +
                        (vgetq_lane_f32(sum, 2) + vgetq_lane_f32(sum, 3)) + headBias;
        }
    }
};
#endif

// Runs a fixed-size core as built for the baseline, and for x86-64 cores with FMA. Null input:
// silence; null output: nothing written.
template <class Core>
void runBaseline(Core& core, const float* input, float* output, size_t count) noexcept
{
    core.run(input, output, count);
}

#if NAM_HAS_FMA_CLONE
template <class Core>
NAM_FMA_CLONE void runFma(Core& core, const float* input, float* output, size_t count) noexcept
{
    core.run(input, output, count);
}
#endif

template <class Core>
class FixedLstm final : public LstmBase {
public:
    FixedLstm(const ModelSpec& spec, const LstmWeights& w) : LstmBase(spec), core_(w)
    {
#if NAM_HAS_FMA_CLONE
        if (cpuHasFma()) run_ = &runFma<Core>;
#endif
    }

    void Prewarm() noexcept override
    {
        core_.restoreIfNotFinite();
        run_(core_, nullptr, nullptr, kPrewarmSamples);
    }
    void Process(float* input, float* output, size_t numSamples) noexcept override
    {
        run_(core_, input, output, numSamples);
    }

private:
    Core core_;
    void (*run_)(Core&, const float*, float*, size_t) noexcept = &runBaseline<Core>;
};

// Any hidden size and layer count: one matrix-vector product per layer over [input; hidden].
class GeneralLstm final : public LstmBase {
    using RowMajor = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

public:
    GeneralLstm(const ModelSpec& spec, LstmWeights w)
        : LstmBase(spec), w_(std::move(w)), q_(size_t(4 * w_.hiddenSize)), in_(size_t(2 * w_.hiddenSize) + 1)
    {}

    void Prewarm() noexcept override
    {
        for (LayerWeights& layer : w_.layers) {
            if (allFinite(layer.hidden.data(), layer.hidden.size()) && allFinite(layer.cell.data(), layer.cell.size()))
                continue;
            layer.hidden = layer.fileHidden; // same sizes: no allocation
            layer.cell = layer.fileCell;
        }
        for (int i = 0; i < kPrewarmSamples; ++i) step(0.0f);
    }

    void Process(float* input, float* output, size_t numSamples) noexcept override
    {
        for (size_t i = 0; i < numSamples; ++i) output[i] = step(input[i]);
    }

private:
    float step(float x) noexcept
    {
        const int h = w_.hiddenSize;
        const float* v = &x;
        for (LayerWeights& layer : w_.layers) {
            const int cols = layer.inputSize + h;
            std::copy_n(v, layer.inputSize, in_.data());
            std::copy_n(layer.hidden.data(), h, in_.data() + layer.inputSize);
            Eigen::Map<Eigen::VectorXf> q(q_.data(), 4 * h);
            q.noalias() = Eigen::Map<const RowMajor>(layer.rows.data(), 4 * h, cols) *
                          Eigen::Map<const Eigen::VectorXf>(in_.data(), cols);
            q += Eigen::Map<const Eigen::VectorXf>(layer.bias.data(), 4 * h);
            for (int i = 0; i < h; ++i) {
                float in = fastSigmoid(q_[size_t(i)]);
                float forget = fastSigmoid(q_[size_t(h + i)]);
                float candidate = fastTanh(q_[size_t(2 * h + i)]);
                float out = fastSigmoid(q_[size_t(3 * h + i)]);
                float c = forget * layer.cell[size_t(i)] + in * candidate;
                layer.cell[size_t(i)] = c;
                layer.hidden[size_t(i)] = out * fastTanh(c);
            }
            v = layer.hidden.data();
        }
        return Eigen::Map<const Eigen::VectorXf>(w_.head.data(), h).dot(Eigen::Map<const Eigen::VectorXf>(v, h)) +
               w_.headBias;
    }

    LstmWeights w_;
    std::vector<float> q_;
    std::vector<float> in_;
};

template <int H, int L>
std::unique_ptr<NeuralModel> makeFixed(const ModelSpec& spec, const LstmWeights& w)
{
#if defined(__ARM_NEON)
    if (!baselineRequested()) return std::make_unique<FixedLstm<NeonLstmCore<H, L>>>(spec, w);
#endif
    return std::make_unique<FixedLstm<LstmCore<H, L>>>(spec, w);
}

template <int H>
std::unique_ptr<NeuralModel> makeFixed(const ModelSpec& spec, const LstmWeights& w)
{
    if (w.layers.size() == 1) return makeFixed<H, 1>(spec, w);
    return makeFixed<H, 2>(spec, w);
}

} // namespace

std::unique_ptr<NeuralModel> makeLstm(const ModelSpec& spec)
{
    LstmWeights w = readLstm(spec);
    std::unique_ptr<NeuralModel> model;
    if (w.layers.size() <= 2) {
        switch (w.hiddenSize) {
        case 8: model = makeFixed<8>(spec, w); break;
        case 12: model = makeFixed<12>(spec, w); break;
        case 16: model = makeFixed<16>(spec, w); break;
        case 20: model = makeFixed<20>(spec, w); break;
        case 24: model = makeFixed<24>(spec, w); break;
        case 28: model = makeFixed<28>(spec, w); break;
        case 32: model = makeFixed<32>(spec, w); break;
        default: break;
        }
    }
    if (!model) model = std::make_unique<GeneralLstm>(spec, std::move(w));
    model->Prewarm();
    return model;
}

} // namespace NeuralAudio::detail
