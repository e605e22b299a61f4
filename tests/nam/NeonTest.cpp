// The NEON forms of the runtime's kernels (aarch64) against the portable kernels they stand in for,
// which stay the reference: every model built both ways (KESTRUN_NAM_BASELINE=1 keeps the portable
// kernels), the same signal through both in several block splits (which take the passes of fewer
// samples and the split of long calls). The forms differ only in the order of their sums and in which
// multiplies are fused with their adds, so the outputs must agree within kRelative of the output's
// peak. Built on aarch64 only.
#if defined(__ARM_NEON)
#include "NamTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace namtest;

namespace {

// Measured under qemu: the WaveNets at most 5.1e-7 of the peak (the smaller ones agree to the bit),
// the LSTMs 1.2e-6, their recurrence carrying the rounding along. A wrong lane, tap or column moves
// the output by orders of magnitude more.
constexpr double kRelative = 4e-6;

std::unique_ptr<NeuralAudio::NeuralModel> createPortable(const std::string& text)
{
    ::setenv("KESTRUN_NAM_BASELINE", "1", 1);
    auto model = create(text);
    ::unsetenv("KESTRUN_NAM_BASELINE");
    return model;
}

double peak(const std::vector<float>& x)
{
    double p = 0;
    for (float v : x) p = std::max(p, double(std::fabs(v)));
    return p;
}

TEST(NamNeon, EveryShapeMatchesThePortableKernels)
{
    struct Case {
        std::string what, text;
    };
    std::vector<Case> cases;
    for (const char* name : {"a_wavenet_small", "c_lstm_1x8", "d_lstm_2x8", "e_wavenet_feather", "e_wavenet_nano",
                             "e_wavenet_standard", "f_wavenet_relu_1array", "t_wavenet_tiny", "t_lstm_tiny"})
        cases.push_back({name, readText(vectorPath(std::string(name) + ".nam"))});
    // Every width the NEON arrays take, chained as the trainer chains them, with kernels of 2 to 5,
    // every activation and a dilation longer than a block.
    uint32_t seed = 11;
    const char* activations[] = {"Tanh", "ReLU", "Hardtanh", "LeakyReLU", "Sigmoid"};
    int a = 0;
    for (int c : {2, 4, 6, 8, 12, 16}) {
        for (int k : {2, 3, 5}) {
            const char* activation = activations[a++ % 5];
            cases.push_back({"WaveNet " + std::to_string(c) + "/" + std::to_string(c / 2) + " channels, kernel " +
                                 std::to_string(k) + ", " + activation,
                             waveNetJson({{1, c, c / 2, k, {1, 2, 4, 64}, activation, false, false},
                                          {c, c / 2, 1, k, {1, 8, 40}, "Tanh", false, true}},
                                         seed++)});
        }
    }
    // A NEON array behind a general one (its input not along time), and a general one behind it.
    cases.push_back(
        {"WaveNet gated 5, then 4, then 3 channels", waveNetJson({{1, 5, 4, 3, {1, 2}, "Tanh", true, false},
                                                                  {5, 4, 3, 3, {1, 4}, "Tanh", false, false},
                                                                  {4, 3, 1, 2, {2, 3}, "ReLU", false, true}},
                                                                 seed++)});
    // Every hidden size of the fixed LSTMs, one and two layers: four groups at once, a remainder, two
    // chunks.
    for (int h = 8; h <= 32; h += 4)
        for (int layers : {1, 2})
            cases.push_back(
                {"LSTM " + std::to_string(layers) + " x " + std::to_string(h), lstmJson(layers, h, seed++)});

    const std::vector<float> input = testSignal(1200);
    for (const Case& c : cases) {
        for (size_t block : {16, 1, 7, 33}) {
            auto neon = create(c.text), portable = createPortable(c.text);
            const std::vector<float> expected = run(*portable, input, block);
            const double bound = kRelative * std::max(peak(expected), 1e-3);
            EXPECT_LE(maxAbsDiff(run(*neon, input, block), expected), bound) << c.what << " in blocks of " << block;
        }
    }
}

} // namespace
#endif
