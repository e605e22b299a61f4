#include "NeuralAudio/NeuralModel.h"

#include "ModelFile.h"
#include "Models.h"

namespace NeuralAudio {

NeuralModel::~NeuralModel() = default;

NeuralModel* NeuralModel::CreateFromStream(std::istream& stream, std::filesystem::path path)
{
    // The player passes the bare extension ".nam", which the path library sees as a file name.
    if (path.extension() != ".nam" && path.filename() != ".nam")
        throw ModelError("unsupported model format: " + path.string());
    detail::ModelSpec spec = detail::parseModelFile(stream);
    std::unique_ptr<NeuralModel> model = spec.architecture == detail::ModelSpec::Architecture::WaveNet
                                             ? detail::makeWaveNet(spec)
                                             : detail::makeLstm(spec);
    model->costPerSample_ = detail::modelCost(spec);
    return model.release();
}

// The interface level is the runtime's fixed 12 dBu; the player never changes it.
float NeuralModel::GetRecommendedInputDBAdjustment() const
{
    return 12.0f - inputLevelDbu_;
}

float NeuralModel::GetRecommendedOutputDBAdjustment() const
{
    return -18.0f - loudnessDb_;
}

} // namespace NeuralAudio
