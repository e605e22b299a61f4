// The runtime against the reference outputs in tests/data/nam: every model, several block
// splits, the LSTMs' second prewarm, and the recommended adjustments.
#include "NamTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace namtest;

namespace {

// The reference's own results move by up to 5e-7 between block sizes; typical faults land far above.
constexpr double kTolerance = 1e-5;

const char* const kModels[] = {"a_wavenet_small",       "c_lstm_1x8",     "d_lstm_2x8",
                               "e_wavenet_feather",     "e_wavenet_nano", "e_wavenet_standard",
                               "f_wavenet_relu_1array", "t_wavenet_tiny", "t_lstm_tiny"};

TEST(NamVectors, EveryModelMatchesInEveryBlockSplit)
{
    const std::vector<float> input = readF32(vectorPath("input.f32"));
    ASSERT_EQ(input.size(), 4800u);
    for (const char* name : kModels) {
        const std::string text = readText(vectorPath(std::string(name) + ".nam"));
        const std::vector<float> expected = readF32(vectorPath(std::string(name) + ".out.f32"));
        for (size_t block : {16, 1, 7, 31, 32, 33, 100, 4800}) {
            auto model = create(text);
            EXPECT_LE(maxAbsDiff(run(*model, input, block), expected), kTolerance) << name << " in blocks of " << block;
        }
    }
}

// The small fixed-size kernels also exist as built for x86-64 cores with FMA; a core without it (and
// every other architecture) runs the baseline build, which this machine may otherwise never use.
TEST(NamVectors, BaselineKernelsMatchToo)
{
    const std::vector<float> input = readF32(vectorPath("input.f32"));
    ::setenv("KESTRUN_NAM_BASELINE", "1", 1);
    for (const char* name : kModels) {
        auto model = create(readText(vectorPath(std::string(name) + ".nam")));
        EXPECT_LE(maxAbsDiff(run(*model, input, 16), readF32(vectorPath(std::string(name) + ".out.f32"))), kTolerance)
            << name;
    }
    ::unsetenv("KESTRUN_NAM_BASELINE");
}

// The amp-model player's budget is counted in standard WaveNets by this estimate.
TEST(NamVectors, CostOfTheTrainerShapes)
{
    struct Case {
        const char* name;
        double cost;
    } cases[] = {{"e_wavenet_standard", 15240}, {"e_wavenet_nano", 1164}, {"d_lstm_2x8", 288 + 320 + 512 + 320 + 8}};
    for (const Case& c : cases)
        EXPECT_EQ(create(readText(vectorPath(std::string(c.name) + ".nam")))->GetCostPerSample(), c.cost) << c.name;
}

TEST(NamVectors, SecondPrewarmMatchesWhatThePlayerHears)
{
    const std::vector<float> input = readF32(vectorPath("input.f32"));
    for (const char* name : kModels) {
        std::string prewarm2 = vectorPath(std::string(name) + ".out-prewarm2.f32");
        std::string expectedPath =
            std::ifstream(prewarm2).good() ? prewarm2 : vectorPath(std::string(name) + ".out.f32");
        auto model = create(readText(vectorPath(std::string(name) + ".nam")));
        model->Prewarm();
        EXPECT_LE(maxAbsDiff(run(*model, input, 16), readF32(expectedPath)), kTolerance) << name;
    }
}

// A WaveNet prewarm forgets everything played before; an LSTM prewarm settles from where it is.
TEST(NamVectors, PrewarmMidStream)
{
    const std::vector<float> input = readF32(vectorPath("input.f32"));
    for (const char* name : {"a_wavenet_small", "e_wavenet_nano", "f_wavenet_relu_1array"}) {
        auto model = create(readText(vectorPath(std::string(name) + ".nam")));
        run(*model, input, 16);
        model->Prewarm();
        EXPECT_LE(maxAbsDiff(run(*model, input, 16), readF32(vectorPath(std::string(name) + ".out.f32"))), 1e-6)
            << name;
    }
}

// A NaN would stay in an LSTM's cells for good; a prewarm after one starts again from the state the
// file holds (a WaveNet's forgets everything anyway), so every model plays as when it was built.
TEST(NamVectors, PrewarmAfterANaNPlaysAsNew)
{
    const std::vector<float> input = readF32(vectorPath("input.f32"));
    for (const char* name : kModels) {
        auto model = create(readText(vectorPath(std::string(name) + ".nam")));
        std::vector<float> poison(16, 0.0f);
        poison[3] = std::nanf("");
        model->Process(poison.data(), poison.data(), poison.size());
        model->Prewarm();
        EXPECT_LE(maxAbsDiff(run(*model, input, 16), readF32(vectorPath(std::string(name) + ".out.f32"))), kTolerance)
            << name;
    }
}

TEST(NamVectors, RecommendedAdjustmentsOfEveryModel)
{
    const nlohmann::json expected = readJson(vectorPath("expected.json"));
    for (const char* name : kModels) {
        const nlohmann::json& entry = expected.at("models").at(name);
        auto model = create(readText(vectorPath(entry.at("file").get<std::string>())));
        EXPECT_FLOAT_EQ(model->GetRecommendedInputDBAdjustment(), entry.at("recommended_input_db").get<float>())
            << name;
        EXPECT_FLOAT_EQ(model->GetRecommendedOutputDBAdjustment(), entry.at("recommended_output_db").get<float>())
            << name;
    }
}

TEST(NamVectors, RecommendedAdjustmentsOfMetadataCases)
{
    const nlohmann::json cases = readJson(vectorPath("adjustments.json"));
    nlohmann::json model = readJson(vectorPath("t_lstm_tiny.nam"));
    ASSERT_FALSE(cases.at("cases").empty());
    for (const nlohmann::json& c : cases.at("cases")) {
        if (c.at("metadata_text").is_null()) model.erase("metadata");
        else model["metadata"] = nlohmann::json::parse(c.at("metadata_text").get<std::string>());
        auto m = create(model.dump());
        const std::string name = c.at("name").get<std::string>();
        EXPECT_FLOAT_EQ(m->GetRecommendedInputDBAdjustment(), c.at("recommended_input_db").get<float>()) << name;
        EXPECT_FLOAT_EQ(m->GetRecommendedOutputDBAdjustment(), c.at("recommended_output_db").get<float>()) << name;
    }
}

// The hand-worked first outputs of the two tiny models, which pin down tap order, prewarm and the
// fast activation functions independently of the vector files.
TEST(NamVectors, WorkedExamples)
{
    struct Case {
        const char* model;
        float expected[3];
    } cases[] = {{"t_wavenet_tiny", {0.66234493f, -0.090518117f, 0.38713560f}},
                 {"t_lstm_tiny", {1.0321780f, 0.77405936f, 1.2240547f}}};
    for (const Case& c : cases) {
        auto model = create(readText(vectorPath(std::string(c.model) + ".nam")));
        std::vector<float> out = run(*model, {0.5f, -0.25f, 1.0f}, 16);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(out[i], c.expected[i], 1e-6) << c.model << " sample " << i;
    }
}

} // namespace
