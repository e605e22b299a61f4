#pragma once
#include <cstddef>
#include <filesystem>
#include <istream>
#include <stdexcept>
#include <string>

// Runtime for neural amp models in the NAM file format (WaveNet and LSTM).
//
// Threads: a model is built on a non-real-time thread (CreateFromStream does all parsing and every
// allocation). After that, Prewarm() and Process() allocate nothing, take no lock and never throw, so
// the amp-model worker thread may call them; one model is used by one thread at a time.
// Samples are mono float, full scale +-1.0. Adjustments are in dB.
namespace NeuralAudio {

// Raised by CreateFromStream for any text it will not run: broken JSON, missing or mistyped keys, a
// weight count that does not fit the config, an unsupported architecture or layout, absurd sizes.
class ModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class NeuralModel {
public:
    virtual ~NeuralModel();
    NeuralModel(const NeuralModel&) = delete;
    NeuralModel& operator=(const NeuralModel&) = delete;

    // Builds a model from the whole text of `stream`. The extension of `path` picks the format; only
    // ".nam" (NAM JSON) is known. The returned model belongs to the caller and has been prewarmed
    // once. Throws ModelError (never returns null).
    static NeuralModel* CreateFromStream(std::istream& stream, std::filesystem::path path);

    // WaveNet: resets all history to the settled state of a silent input. LSTM: runs 2048 silent
    // samples from the current state (each call settles further), or from the state the file holds
    // when a NaN or infinity has reached the current one.
    virtual void Prewarm() noexcept = 0;

    // numSamples samples from `input` to `output` (any count; the two may be the same buffer).
    // State carries over between calls.
    virtual void Process(float* input, float* output, size_t numSamples) noexcept = 0;

    // Interface level (12 dBu) minus the level the model was captured at; 0 when unknown.
    virtual float GetRecommendedInputDBAdjustment() const;
    // Gain that brings the model's loudness to -18 dBFS; 0 when unknown.
    virtual float GetRecommendedOutputDBAdjustment() const;

    // Estimated work per sample, from the model's sizes: multiply-adds, each activation counted as
    // eight. A standard WaveNet (16 and 8 channels) comes to 15,240; what a core can afford is
    // the caller's to judge.
    double GetCostPerSample() const { return costPerSample_; }

protected:
    NeuralModel() = default;

    // The model's own levels from its metadata; the defaults give 0 dB adjustments.
    float inputLevelDbu_ = 12.0f;
    float loudnessDb_ = -18.0f;
    double costPerSample_ = 0.0;
};

} // namespace NeuralAudio
