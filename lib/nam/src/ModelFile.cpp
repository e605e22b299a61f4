#include "ModelFile.h"

#include "NeuralAudio/NeuralModel.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <string>

namespace NeuralAudio::detail {

using nlohmann::json;

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw ModelError("invalid NAM file: " + what);
}

const json& require(const json& object, const char* key)
{
    auto it = object.find(key);
    if (it == object.end()) fail(std::string("missing \"") + key + "\"");
    return *it;
}

// The JSON reader keeps non-negative literals unsigned and negative ones signed; both are checked
// against the same bounds before narrowing.
bool integerInRange(const json& value, int low, int high)
{
    if (value.is_number_unsigned()) {
        uint64_t v = value.get<uint64_t>();
        return v <= uint64_t(high) && int64_t(v) >= low;
    }
    int64_t v = value.get<int64_t>();
    return v >= low && v <= high;
}

// Integers only: a fractional or boolean size is a broken file, not something to round.
int requireInt(const json& object, const char* key, int low, int high)
{
    const json& value = require(object, key);
    if (!value.is_number_integer()) fail(std::string("\"") + key + "\" is not an integer");
    if (!integerInRange(value, low, high)) fail(std::string("\"") + key + "\" out of range");
    return int(value.get<int64_t>());
}

bool requireBool(const json& object, const char* key)
{
    const json& value = require(object, key);
    if (!value.is_boolean()) fail(std::string("\"") + key + "\" is not a boolean");
    return value.get<bool>();
}

// Keys of the newer file layout, which this runtime does not implement.
void rejectNewerLayout(const json& object)
{
    static const char* const keys[] = {"kernel_sizes", "bottleneck",         "gating_mode", "secondary_activation",
                                       "groups_input", "groups_input_mixin", "layer1x1",    "head1x1",
                                       "slimmable",    "condition_dsp",      "in_channels"};
    for (const char* key : keys)
        if (object.contains(key)) fail(std::string("unsupported key \"") + key + "\"");
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string& key = it.key();
        if (key.size() >= 5 && key.compare(key.size() - 5, 5, "_film") == 0) fail("unsupported key \"" + key + "\"");
    }
}

Activation parseActivation(const json& value)
{
    if (!value.is_string()) fail("\"activation\" is not a name");
    const std::string& name = value.get_ref<const std::string&>();
    if (name == "Tanh" || name == "Fasttanh") return Activation::Tanh;
    if (name == "Hardtanh") return Activation::Hardtanh;
    if (name == "ReLU") return Activation::ReLU;
    if (name == "LeakyReLU") return Activation::LeakyReLU;
    if (name == "Sigmoid") return Activation::Sigmoid;
    fail("unknown activation \"" + name + "\"");
}

std::vector<LayerArraySpec> parseWaveNet(const json& config)
{
    rejectNewerLayout(config);
    if (auto head = config.find("head"); head != config.end() && !head->is_null())
        fail("a WaveNet head is not supported");
    const json& layers = require(config, "layers");
    if (!layers.is_array() || layers.empty()) fail("\"layers\" is not a non-empty array");
    if (layers.size() > size_t(kMaxLayerArrays)) fail("too many layer arrays");

    std::vector<LayerArraySpec> arrays;
    long receptiveField = 0;
    for (const json& item : layers) {
        if (!item.is_object()) fail("a layer array is not an object");
        rejectNewerLayout(item);
        LayerArraySpec a;
        a.inputSize = requireInt(item, "input_size", 1, kMaxChannels);
        a.conditionSize = requireInt(item, "condition_size", 1, kMaxChannels);
        a.headSize = requireInt(item, "head_size", 1, kMaxChannels);
        a.channels = requireInt(item, "channels", 1, kMaxChannels);
        a.kernelSize = requireInt(item, "kernel_size", 1, kMaxKernelSize);
        a.activation = parseActivation(require(item, "activation"));
        a.gated = requireBool(item, "gated");
        a.headBias = requireBool(item, "head_bias");
        const json& dilations = require(item, "dilations");
        if (!dilations.is_array() || dilations.empty()) fail("\"dilations\" is not a non-empty array");
        if (dilations.size() > size_t(kMaxLayersPerArray)) fail("too many layers");
        for (const json& d : dilations) {
            if (!d.is_number_integer()) fail("a dilation is not an integer");
            if (!integerInRange(d, 1, kMaxReceptiveField)) fail("dilation out of range");
            a.dilations.push_back(int(d.get<int64_t>()));
            receptiveField += long(a.dilations.back()) * (a.kernelSize - 1);
            if (receptiveField > kMaxReceptiveField) fail("receptive field too long");
        }
        // The raw input sample is the only conditioning signal this format carries.
        if (a.conditionSize != 1) fail("\"condition_size\" must be 1");
        if (arrays.empty()) {
            if (a.inputSize != 1) fail("the first layer array must take 1 input");
        } else {
            if (a.inputSize != arrays.back().channels) fail("\"input_size\" differs from the previous channels");
            if (a.channels != arrays.back().headSize) fail("\"channels\" differs from the previous head size");
        }
        arrays.push_back(std::move(a));
    }
    if (arrays.back().headSize != 1) fail("the last layer array must have head size 1");
    return arrays;
}

LstmSpec parseLstm(const json& config)
{
    rejectNewerLayout(config);
    LstmSpec lstm;
    lstm.numLayers = requireInt(config, "num_layers", 1, kMaxLstmLayers);
    lstm.hiddenSize = requireInt(config, "hidden_size", 1, kMaxHiddenSize);
    if (config.contains("input_size") && requireInt(config, "input_size", 0, kMaxHiddenSize) != 1)
        fail("\"input_size\" must be 1");
    return lstm;
}

// "0.5.4" and older are the layout implemented here; later versions change the WaveNet layers. The
// field was never required, so a missing or unreadable one is no reason to refuse a file.
void checkVersion(const json& root)
{
    auto it = root.find("version");
    if (it == root.end() || !it->is_string()) return;
    unsigned major = 0, minor = 0, patch = 0;
    char tail = 0;
    if (std::sscanf(it->get_ref<const std::string&>().c_str(), "%u.%u.%u%c", &major, &minor, &patch, &tail) != 3)
        return;
    if (major > 0 || minor > 5 || (minor == 5 && patch > 4)) fail("file version newer than 0.5.4");
}

// A metadata level counts only when it is a finite number after conversion to float; anything else
// (absent, null, text, out of float range) leaves the neutral default.
void readLevel(const json& metadata, const char* key, float& out)
{
    auto it = metadata.find(key);
    if (it == metadata.end() || !it->is_number()) return;
    float value = float(it->get<double>());
    if (std::isfinite(value)) out = value;
}

} // namespace

size_t waveNetWeightCount(const std::vector<LayerArraySpec>& arrays)
{
    size_t count = 0;
    for (const LayerArraySpec& a : arrays) {
        size_t c = size_t(a.channels), cz = a.gated ? 2 * c : c;
        size_t perLayer = cz * c * size_t(a.kernelSize) + cz + cz * size_t(a.conditionSize) + c * c + c;
        count += c * size_t(a.inputSize) + a.dilations.size() * perLayer + size_t(a.headSize) * c +
                 (a.headBias ? size_t(a.headSize) : 0);
    }
    return count + 1; // head scale
}

size_t lstmWeightCount(const LstmSpec& lstm)
{
    size_t h = size_t(lstm.hiddenSize), count = 0;
    for (int n = 0; n < lstm.numLayers; ++n) {
        size_t in = n == 0 ? 1 : h;
        count += 4 * h * (in + h) + 4 * h + 2 * h;
    }
    return count + h + 1;
}

double modelCost(const ModelSpec& spec)
{
    // A fast tanh is some fifteen operations with a division: about eight multiply-adds.
    constexpr double kActivation = 8.0;
    double cost = 0.0;
    if (spec.architecture == ModelSpec::Architecture::WaveNet) {
        for (const LayerArraySpec& a : spec.layerArrays) {
            const double c = a.channels, cz = a.gated ? 2 * c : c;
            const double perLayer = cz * c * a.kernelSize + cz * a.conditionSize + c * c + cz * kActivation;
            cost += c * a.inputSize + double(a.dilations.size()) * perLayer + a.headSize * c;
        }
    } else {
        const double h = spec.lstm.hiddenSize;
        for (int n = 0; n < spec.lstm.numLayers; ++n) cost += 4 * h * ((n == 0 ? 1 : h) + h) + 5 * h * kActivation;
        cost += h;
    }
    return cost;
}

ModelSpec parseModelFile(std::istream& stream)
{
    json root;
    try {
        // One JSON value; whatever follows it is not looked at.
        stream >> root;
    } catch (const json::exception& e) {
        throw ModelError(std::string("invalid NAM file: ") + e.what());
    }
    if (!root.is_object()) fail("not a JSON object");
    checkVersion(root);

    ModelSpec spec;
    const json& architecture = require(root, "architecture");
    if (!architecture.is_string()) fail("\"architecture\" is not a string");
    const json& config = require(root, "config");
    if (!config.is_object()) fail("\"config\" is not an object");
    size_t expected = 0;
    const std::string& name = architecture.get_ref<const std::string&>();
    if (name == "WaveNet") {
        spec.architecture = ModelSpec::Architecture::WaveNet;
        spec.layerArrays = parseWaveNet(config);
        expected = waveNetWeightCount(spec.layerArrays);
    } else if (name == "LSTM") {
        spec.architecture = ModelSpec::Architecture::Lstm;
        spec.lstm = parseLstm(config);
        expected = lstmWeightCount(spec.lstm);
    } else {
        fail("unsupported architecture \"" + name + "\"");
    }

    const json& weights = require(root, "weights");
    if (!weights.is_array()) fail("\"weights\" is not an array");
    if (weights.size() != expected)
        fail("weight count " + std::to_string(weights.size()) + " does not match the config (" +
             std::to_string(expected) + ")");
    spec.weights.reserve(expected);
    for (const json& w : weights) {
        if (!w.is_number()) fail("a weight is not a number");
        float value = float(w.get<double>());
        if (!std::isfinite(value)) fail("a weight is out of float range");
        spec.weights.push_back(value);
    }

    if (auto it = root.find("metadata"); it != root.end() && it->is_object()) {
        readLevel(*it, "input_level_dbu", spec.inputLevelDbu);
        readLevel(*it, "loudness", spec.loudnessDb);
    }
    return spec;
}

} // namespace NeuralAudio::detail
