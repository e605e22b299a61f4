#pragma once
#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

// The NAM file parsed and checked, in plain form: shapes, weights as float32, and the two metadata
// levels. Everything here has passed validation: sizes are in range and the weight count matches.
namespace NeuralAudio::detail {

enum class Activation { Tanh, Hardtanh, ReLU, LeakyReLU, Sigmoid };

struct LayerArraySpec {
    int inputSize = 0;
    int conditionSize = 0;
    int headSize = 0;
    int channels = 0;
    int kernelSize = 0;
    std::vector<int> dilations;
    Activation activation = Activation::Tanh;
    bool gated = false;
    bool headBias = false;
};

struct LstmSpec {
    int numLayers = 0;
    int hiddenSize = 0;
};

struct ModelSpec {
    enum class Architecture { WaveNet, Lstm } architecture = Architecture::WaveNet;
    std::vector<LayerArraySpec> layerArrays; // WaveNet
    LstmSpec lstm; // LSTM
    std::vector<float> weights;
    float inputLevelDbu = 12.0f;
    float loudnessDb = -18.0f;
};

// Limits that keep a hostile text from claiming huge memory or time; far above the trainer's shapes
// (at most 16 channels, 10 layers per array, a receptive field of 4092 samples, hidden size 32).
inline constexpr int kMaxChannels = 64;
inline constexpr int kMaxKernelSize = 16;
inline constexpr int kMaxLayerArrays = 8;
inline constexpr int kMaxLayersPerArray = 64;
inline constexpr int kMaxReceptiveField = 24000; // half a second at 48 kHz
inline constexpr int kMaxHiddenSize = 128;
inline constexpr int kMaxLstmLayers = 8;

size_t waveNetWeightCount(const std::vector<LayerArraySpec>& arrays);
size_t lstmWeightCount(const LstmSpec& lstm);
// Multiply-adds per sample, an activation counted as eight.
double modelCost(const ModelSpec& spec);

// Reads one JSON value from `stream` (text after it is ignored) and checks it. Throws ModelError.
ModelSpec parseModelFile(std::istream& stream);

} // namespace NeuralAudio::detail
