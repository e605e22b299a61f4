#pragma once
// Shared helpers of the amp-model runtime tests: the reference vectors in tests/data/nam and
// running a model over a signal in chosen block sizes.
#include "NeuralAudio/NeuralModel.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace namtest {

inline std::string vectorPath(const std::string& name)
{
    return std::string(NAM_VECTORS_DIR) + "/" + name;
}

inline std::string readText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline std::vector<float> readF32(const std::string& path)
{
    std::string bytes = readText(path);
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

inline nlohmann::json readJson(const std::string& path)
{
    return nlohmann::json::parse(readText(path));
}

inline std::unique_ptr<NeuralAudio::NeuralModel> create(const std::string& text)
{
    std::istringstream stream(text);
    return std::unique_ptr<NeuralAudio::NeuralModel>(NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam"));
}

// Runs `input` through the model in consecutive blocks of `block` samples (in place).
inline std::vector<float> run(NeuralAudio::NeuralModel& model, std::vector<float> signal, size_t block)
{
    for (size_t at = 0; at < signal.size(); at += block) {
        size_t n = std::min(block, signal.size() - at);
        model.Process(signal.data() + at, signal.data() + at, n);
    }
    return signal;
}

inline double maxAbsDiff(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size()) return INFINITY;
    double worst = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = std::fabs(double(a[i]) - double(b[i]));
        if (!(d <= worst)) worst = d; // NaN counts as the worst
    }
    return worst;
}

// A test signal: a sine with a noise burst, finite and within +-1.
inline std::vector<float> testSignal(size_t count)
{
    std::vector<float> s(count);
    uint32_t x = 12345;
    for (size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        float noise = float(x) / 4294967296.0f - 0.5f;
        s[i] = 0.6f * std::sin(float(i) * 0.0576f) + (i % 997 < 200 ? noise : 0.0f);
    }
    return s;
}

} // namespace namtest

namespace namtest {

// Synthetic models of any shape, with small random weights in the file's order.
struct ArrayShape {
    int inputSize, channels, headSize, kernelSize;
    std::vector<int> dilations;
    std::string activation;
    bool gated, headBias;
};

class WeightSource {
public:
    explicit WeightSource(uint32_t seed) : x_(seed ? seed : 1) {}
    void add(nlohmann::json& out, size_t count, float scale)
    {
        for (size_t i = 0; i < count; ++i) {
            x_ ^= x_ << 13;
            x_ ^= x_ >> 17;
            x_ ^= x_ << 5;
            out.push_back(scale * (float(x_) / 2147483648.0f - 1.0f));
        }
    }

private:
    uint32_t x_;
};

inline std::string waveNetJson(const std::vector<ArrayShape>& shape, uint32_t seed)
{
    WeightSource source(seed);
    nlohmann::json weights = nlohmann::json::array(), layers = nlohmann::json::array();
    for (const ArrayShape& a : shape) {
        size_t c = size_t(a.channels), cz = a.gated ? 2 * c : c;
        source.add(weights, c * a.inputSize, 1.0f);
        for (size_t l = 0; l < a.dilations.size(); ++l) {
            source.add(weights, cz * c * a.kernelSize, 1.2f / std::sqrt(float(c * a.kernelSize)));
            source.add(weights, cz, 0.2f);
            source.add(weights, cz, 0.8f);
            source.add(weights, c * c, 1.0f / std::sqrt(float(c)));
            source.add(weights, c, 0.1f);
        }
        source.add(weights, size_t(a.headSize) * c, 1.0f / std::sqrt(float(c)));
        if (a.headBias) source.add(weights, size_t(a.headSize), 0.1f);
        layers.push_back({{"input_size", a.inputSize},
                          {"condition_size", 1},
                          {"head_size", a.headSize},
                          {"channels", a.channels},
                          {"kernel_size", a.kernelSize},
                          {"dilations", a.dilations},
                          {"activation", a.activation},
                          {"gated", a.gated},
                          {"head_bias", a.headBias}});
    }
    weights.push_back(0.3f);
    nlohmann::json model = {{"version", "0.5.4"},
                            {"architecture", "WaveNet"},
                            {"config", {{"layers", layers}, {"head", nullptr}, {"head_scale", 0.3}}},
                            {"weights", weights}};
    return model.dump();
}

inline std::string lstmJson(int layers, int hidden, uint32_t seed)
{
    WeightSource source(seed);
    nlohmann::json weights = nlohmann::json::array();
    for (int n = 0; n < layers; ++n) {
        size_t in = n == 0 ? 1 : size_t(hidden), h = size_t(hidden);
        source.add(weights, 4 * h * (in + h), 1.5f / std::sqrt(float(h)));
        source.add(weights, 4 * h, 0.5f);
        source.add(weights, 2 * h, 0.5f);
    }
    source.add(weights, size_t(hidden) + 1, 0.5f);
    nlohmann::json model = {{"version", "0.5.4"},
                            {"architecture", "LSTM"},
                            {"config", {{"input_size", 1}, {"hidden_size", hidden}, {"num_layers", layers}}},
                            {"weights", weights}};
    return model.dump();
}

} // namespace namtest
