// After creation a model must never allocate: Process and Prewarm run on the amp-model worker thread.
// Uses the test programs' allocation counter (support/AllocationCounter.h).
#include "NamTestSupport.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

using namespace namtest;

namespace {

// Runs the model over `input` in several block sizes (longer than the internal block too) and
// prewarms it in between, all inside the counting window; returns the allocations seen.
long allocationsWhilePlaying(NeuralAudio::NeuralModel& model, std::vector<float>& input, std::vector<float>& output)
{
    alloccount::open();
    for (size_t block : {16, 1, 7, 100}) {
        for (size_t at = 0; at + block <= input.size(); at += block)
            model.Process(input.data() + at, output.data() + at, block);
        model.Prewarm();
    }
    return alloccount::close();
}

TEST(NamAllocation, ProcessAndPrewarmAllocateNothing)
{
    std::vector<std::string> texts;
    for (const char* name : {"a_wavenet_small", "c_lstm_1x8", "d_lstm_2x8", "e_wavenet_feather", "e_wavenet_nano",
                             "e_wavenet_standard", "f_wavenet_relu_1array", "t_wavenet_tiny", "t_lstm_tiny"})
        texts.push_back(readText(vectorPath(std::string(name) + ".nam")));
    // The general code paths: gated, odd channel counts, an LSTM size without fixed-size code.
    texts.push_back(
        waveNetJson({{1, 5, 3, 3, {1, 2, 4}, "Tanh", true, false}, {5, 3, 1, 2, {1, 8}, "ReLU", false, true}}, 3));
    texts.push_back(waveNetJson({{1, 24, 1, 3, {1, 2, 4, 8}, "Sigmoid", false, true}}, 4));
    texts.push_back(lstmJson(3, 5, 5));
    texts.push_back(lstmJson(1, 48, 6));
    // The largest sizes the loader accepts: Eigen must still find its scratch space on the stack.
    texts.push_back(waveNetJson({{1, 64, 1, 16, {1, 2}, "Tanh", true, true}}, 8));
    texts.push_back(lstmJson(2, 128, 9));

    std::vector<float> input = testSignal(400), output(input.size());
    for (const std::string& text : texts) {
        auto model = create(text);
        EXPECT_EQ(allocationsWhilePlaying(*model, input, output), 0) << text.substr(0, 200);
    }
}

} // namespace
