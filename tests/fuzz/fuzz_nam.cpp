// The amp-model loader: a NAM file's text. A model it accepts must run and stay finite-sized in
// its buffers: some samples go through it after the prewarm.
#include "FuzzSupport.h"

#include <NeuralAudio/NeuralModel.h>

#include <memory>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_setup();
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<NeuralAudio::NeuralModel> model;
    try {
        model.reset(NeuralAudio::NeuralModel::CreateFromStream(stream, "fuzz.nam"));
    } catch (const NeuralAudio::ModelError&) {
        return 0;
    }
    float samples[67];
    for (int i = 0; i < 67; ++i) samples[i] = float(i % 7 - 3) * 0.1f;
    model->Process(samples, samples, 16);
    model->Process(samples, samples, 51);
    model->Prewarm();
    model->GetRecommendedInputDBAdjustment();
    model->GetRecommendedOutputDBAdjustment();
    return 0;
}
