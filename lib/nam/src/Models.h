#pragma once
#include "ModelFile.h"
#include "NeuralAudio/NeuralModel.h"

#include <memory>

// Builders of the two architectures from a checked file. They allocate everything the model will
// ever use; processing afterwards allocates nothing.
namespace NeuralAudio::detail {

// Longest stretch a WaveNet processes at once; longer calls are cut into pieces of this size.
inline constexpr int kMaxBlock = 32;

std::unique_ptr<NeuralModel> makeWaveNet(const ModelSpec& spec);
std::unique_ptr<NeuralModel> makeLstm(const ModelSpec& spec);

// Takes weights from the front of the file's array; throws instead of reading past its end.
class WeightReader {
public:
    explicit WeightReader(const std::vector<float>& weights) : weights_(weights) {}
    float next()
    {
        if (pos_ >= weights_.size()) throw ModelError("invalid NAM file: too few weights");
        return weights_[pos_++];
    }
    // A rows x cols matrix stored row by row in the file, written column by column to `out`.
    void matrix(float* out, int rows, int cols)
    {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) out[size_t(c) * rows + r] = next();
    }
    void vector(float* out, int count)
    {
        for (int i = 0; i < count; ++i) out[i] = next();
    }
    void expectEnd() const
    {
        if (pos_ != weights_.size()) throw ModelError("invalid NAM file: too many weights");
    }

private:
    const std::vector<float>& weights_;
    size_t pos_ = 0;
};

} // namespace NeuralAudio::detail
