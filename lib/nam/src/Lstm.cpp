// LSTM models: one sample at a time through every layer (each sample needs the previous hidden state).
// Hidden sizes the trainer uses get fixed-size matrices; any other size runs the same code with
// run-time sizes.
#include "Activation.h"
#include "FastTanhBlock.h"
#include "Models.h"

#include <Eigen/Core>

namespace NeuralAudio::detail {
namespace {

using Eigen::Dynamic;
template <int R, int C>
using ConstMap = Eigen::Map<const Eigen::Matrix<float, R, C>>;
template <int R, int C>
using MutMap = Eigen::Map<Eigen::Matrix<float, R, C>>;

// Zero samples per Prewarm(), from the current state.
constexpr int kPrewarmSamples = 2048;

template <int H>
class LstmModel final : public NeuralModel {
    static constexpr int G = H == Dynamic ? Dynamic : 4 * H; // gate rows

public:
    explicit LstmModel(const ModelSpec& spec) : h_(spec.lstm.hiddenSize), layerCount_(spec.lstm.numLayers)
    {
        inputLevelDbu_ = spec.inputLevelDbu;
        loudnessDb_ = spec.loudnessDb;
        const int g = 4 * h_;
        // Per layer: input weights g x in, recurrent weights g x h, bias g; then state h, c; then q g.
        size_t weightCount = size_t(h_) + 1, stateCount = size_t(g);
        for (int n = 0; n < layerCount_; ++n) {
            int in = n == 0 ? 1 : h_;
            weightCount += size_t(g) * (in + h_) + g;
            stateCount += 2 * size_t(h_);
        }
        weights_.assign(weightCount, 0.0f);
        state_.assign(stateCount, 0.0f);

        WeightReader reader(spec.weights);
        float* wp = weights_.data();
        float* sp = state_.data();
        for (int n = 0; n < layerCount_; ++n) {
            Layer& layer = layers_[n];
            layer.inputSize = n == 0 ? 1 : h_;
            layer.wx = wp;
            layer.wh = wp + size_t(g) * layer.inputSize;
            layer.bias = layer.wh + size_t(g) * h_;
            wp = layer.bias + g;
            // A file row is [input weights, recurrent weights] for one gate unit.
            for (int row = 0; row < g; ++row) {
                for (int i = 0; i < layer.inputSize; ++i) layer.wx[size_t(i) * g + row] = reader.next();
                for (int j = 0; j < h_; ++j) layer.wh[size_t(j) * g + row] = reader.next();
            }
            reader.vector(layer.bias, g);
            layer.hidden = sp;
            layer.cell = sp + h_;
            sp += 2 * size_t(h_);
            reader.vector(layer.hidden, h_); // the state the trainer left the network in
            reader.vector(layer.cell, h_);
        }
        headWeights_ = wp;
        reader.vector(wp, h_);
        headBias_ = reader.next();
        reader.expectEnd();
        q_ = sp;
        if constexpr (H != Dynamic)
            for (int row = 0; row < g; ++row) gateScale_[row] = row >= 2 * h_ && row < 3 * h_ ? 1.0f : 0.5f;
    }

    void Prewarm() noexcept override
    {
        for (int i = 0; i < kPrewarmSamples; ++i) step(0.0f);
    }

    void Process(float* input, float* output, size_t numSamples) noexcept override
    {
        for (size_t i = 0; i < numSamples; ++i) output[i] = step(input[i]);
    }

private:
    struct Layer {
        int inputSize = 0;
        float* wx = nullptr; // g x inputSize
        float* wh = nullptr; // g x h
        float* bias = nullptr;
        float* hidden = nullptr;
        float* cell = nullptr;
    };

    float step(float x) noexcept
    {
        const int g = 4 * h_;
        MutMap<G, 1> q(q_, g, 1);
        const float* v = nullptr;
        for (int n = 0; n < layerCount_; ++n) {
            Layer& layer = layers_[n];
            MutMap<H, 1> hidden(layer.hidden, h_, 1);
            q = ConstMap<G, 1>(layer.bias, g, 1);
            if (n == 0)
                q += ConstMap<G, 1>(layer.wx, g, 1) * x;
            else
                q.noalias() += ConstMap<G, H>(layer.wx, g, h_) * ConstMap<H, 1>(v, h_, 1);
            q.noalias() += ConstMap<G, H>(layer.wh, g, h_) * hidden;

            // Gate order in the rows: input, forget, cell candidate, output.
            if constexpr (H != Dynamic) {
                // All four gates in one vectorised pass: the sigmoid gates are 0.5 * (tanh(x / 2) + 1),
                // and halving is exact, so this equals the scalar form below.
                using GateArray = Eigen::Array<float, G, 1>;
                using HiddenArray = Eigen::Array<float, H, 1>;
                const GateArray t = fastTanhBlock(GateArray(q.array() * ConstMap<G, 1>(gateScale_).array()));
                const HiddenArray in = 0.5f * (t.template segment<H>(0) + 1.0f);
                const HiddenArray forget = 0.5f * (t.template segment<H>(H) + 1.0f);
                const HiddenArray out = 0.5f * (t.template segment<H>(3 * H) + 1.0f);
                const HiddenArray c = forget * MutMap<H, 1>(layer.cell).array() + in * t.template segment<H>(2 * H);
                MutMap<H, 1>(layer.cell) = c.matrix();
                MutMap<H, 1>(layer.hidden) = (out * fastTanhBlock(c)).matrix();
            } else {
                for (int i = 0; i < h_; ++i) {
                    float in = fastSigmoid(q_[i]);
                    float forget = fastSigmoid(q_[h_ + i]);
                    float candidate = fastTanh(q_[2 * h_ + i]);
                    float out = fastSigmoid(q_[3 * h_ + i]);
                    float c = forget * layer.cell[i] + in * candidate;
                    layer.cell[i] = c;
                    layer.hidden[i] = out * fastTanh(c);
                }
            }
            v = layer.hidden;
        }
        return ConstMap<1, H>(headWeights_, 1, h_).dot(ConstMap<1, H>(v, 1, h_)) + headBias_;
    }

    int h_;
    int layerCount_;
    std::vector<float> weights_;
    std::vector<float> state_;
    Layer layers_[kMaxLstmLayers];
    const float* headWeights_ = nullptr;
    float headBias_ = 0.0f;
    float* q_ = nullptr;
    float gateScale_[H == Dynamic ? 1 : 4 * H] = {}; // fixed sizes: 1 for the candidate rows, else 0.5
};

} // namespace

std::unique_ptr<NeuralModel> makeLstm(const ModelSpec& spec)
{
    std::unique_ptr<NeuralModel> model;
    switch (spec.lstm.hiddenSize) {
    case 8: model = std::make_unique<LstmModel<8>>(spec); break;
    case 12: model = std::make_unique<LstmModel<12>>(spec); break;
    case 16: model = std::make_unique<LstmModel<16>>(spec); break;
    case 20: model = std::make_unique<LstmModel<20>>(spec); break;
    case 24: model = std::make_unique<LstmModel<24>>(spec); break;
    case 32: model = std::make_unique<LstmModel<32>>(spec); break;
    default: model = std::make_unique<LstmModel<Dynamic>>(spec); break;
    }
    model->Prewarm();
    return model;
}

} // namespace NeuralAudio::detail
