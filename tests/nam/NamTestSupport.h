#pragma once
// Shared helpers of the amp-model runtime tests: the reference vectors beside the repository and
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
