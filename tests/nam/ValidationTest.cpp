// What the loader refuses and what it accepts. Every refusal must be a ModelError that says why,
// never a crash or a read past the weight array (the sanitizer build runs these too).
#include "NamTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace namtest;
using nlohmann::json;

namespace {

json tinyWaveNet()
{
    return readJson(vectorPath("t_wavenet_tiny.nam"));
}

json tinyLstm()
{
    return readJson(vectorPath("t_lstm_tiny.nam"));
}

json twoArrays()
{
    return readJson(vectorPath("a_wavenet_small.nam"));
}

std::string errorOf(const std::string& text)
{
    try {
        create(text);
    } catch (const NeuralAudio::ModelError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong exception type: ") + e.what();
    }
    return "accepted";
}

struct Case {
    const char* name;
    std::function<json()> model;
    const char* reason; // part of the error text
};

TEST(NamValidation, MalformedModelsAreRefusedWithTheirReason)
{
    auto wavenet = [](std::function<void(json&)> change) {
        return [change] {
            json m = tinyWaveNet();
            change(m);
            return m;
        };
    };
    auto layer = [](const char* key, json value) {
        return [key, value] {
            json m = tinyWaveNet();
            m["config"]["layers"][0][key] = value;
            return m;
        };
    };
    auto lstm = [](std::function<void(json&)> change) {
        return [change] {
            json m = tinyLstm();
            change(m);
            return m;
        };
    };
    const Case cases[] = {
        {"not an object",
         [] {
             return json::array({1, 2});
         },
         "not a JSON object"},
        {"no architecture", wavenet([](json& m) { m.erase("architecture"); }), "missing \"architecture\""},
        {"architecture a number", wavenet([](json& m) { m["architecture"] = 3; }), "\"architecture\" is not"},
        {"ConvNet", wavenet([](json& m) { m["architecture"] = "ConvNet"; }), "unsupported architecture"},
        {"Linear", wavenet([](json& m) { m["architecture"] = "Linear"; }), "unsupported architecture"},
        {"SlimmableContainer", wavenet([](json& m) { m["architecture"] = "SlimmableContainer"; }),
         "unsupported architecture"},
        {"no config", wavenet([](json& m) { m.erase("config"); }), "missing \"config\""},
        {"config an array", wavenet([](json& m) { m["config"] = json::array(); }), "\"config\" is not"},
        {"no weights", wavenet([](json& m) { m.erase("weights"); }), "missing \"weights\""},
        {"weights an object", wavenet([](json& m) { m["weights"] = json::object(); }), "\"weights\" is not"},
        {"one weight short", wavenet([](json& m) { m["weights"].erase(m["weights"].size() - 1); }), "weight count"},
        {"one weight over", wavenet([](json& m) { m["weights"].push_back(0.5); }), "weight count"},
        {"no weights at all", wavenet([](json& m) { m["weights"] = json::array(); }), "weight count"},
        {"weight a string", wavenet([](json& m) { m["weights"][3] = "0.5"; }), "not a number"},
        {"weight null", wavenet([](json& m) { m["weights"][3] = nullptr; }), "not a number"},
        {"weight nested", wavenet([](json& m) { m["weights"][3] = json::array({0.5}); }), "not a number"},
        {"weight beyond float", wavenet([](json& m) { m["weights"][3] = 1e300; }), "float range"},
        {"newer version", wavenet([](json& m) { m["version"] = "0.6.0"; }), "newer than"},
        {"newer patch", wavenet([](json& m) { m["version"] = "0.5.5"; }), "newer than"},
        {"newer major version", wavenet([](json& m) { m["version"] = "1.0.0"; }), "newer than"},
        {"no layers", wavenet([](json& m) { m["config"].erase("layers"); }), "missing \"layers\""},
        {"empty layers", wavenet([](json& m) { m["config"]["layers"] = json::array(); }), "non-empty"},
        {"layer not an object", wavenet([](json& m) { m["config"]["layers"][0] = 4; }), "not an object"},
        {"a head", wavenet([](json& m) { m["config"]["head"] = json::object(); }), "head is not supported"},
        {"channels a string", layer("channels", "2"), "not an integer"},
        {"channels fractional", layer("channels", 2.5), "not an integer"},
        {"channels boolean", layer("channels", true), "not an integer"},
        {"channels zero", layer("channels", 0), "out of range"},
        {"channels huge", layer("channels", 100000), "out of range"},
        {"channels beyond 64 bits", layer("channels", 18446744073709551615ull), "out of range"},
        {"kernel zero", layer("kernel_size", 0), "out of range"},
        {"kernel huge", layer("kernel_size", 4096), "out of range"},
        {"condition size 2", layer("condition_size", 2), "must be 1"},
        {"first input size 2", layer("input_size", 2), "must take 1 input"},
        {"last head size 2", layer("head_size", 2), "head size 1"},
        {"dilations empty", layer("dilations", json::array()), "non-empty"},
        {"dilations a number", layer("dilations", 1), "non-empty"},
        {"dilation zero", layer("dilations", json::array({1, 0})), "dilation out of range"},
        {"dilation negative", layer("dilations", json::array({1, -2})), "dilation out of range"},
        {"dilation fractional", layer("dilations", json::array({1, 1.5})), "not an integer"},
        {"history of seconds", layer("dilations", json::array({20000, 20000})), "receptive field"},
        {"unknown activation", layer("activation", "Swish"), "unknown activation"},
        {"activation lower case", layer("activation", "tanh"), "unknown activation"},
        {"activation an object", layer("activation", json{{"type", "ReLU"}}), "not a name"},
        {"gated a string", layer("gated", "false"), "not a boolean"},
        {"head_bias a number", layer("head_bias", 1), "not a boolean"},
        {"newer layout key", layer("layer1x1", json::object()), "unsupported key"},
        {"bottleneck", layer("bottleneck", 2), "unsupported key"},
        {"film key", layer("conv_pre_film", json::object()), "unsupported key"},
        {"kernel sizes", wavenet([](json& m) { m["config"]["kernel_sizes"] = json::array({3}); }), "unsupported key"},
        {"chained input mismatch",
         [] {
             json m = twoArrays();
             m["config"]["layers"][1]["input_size"] = 3;
             return m;
         },
         "differs from the previous channels"},
        {"chained channels mismatch",
         [] {
             json m = twoArrays();
             m["config"]["layers"][1]["channels"] = 3;
             return m;
         },
         "differs from the previous head size"},
        {"too many arrays",
         [] {
             json m = tinyWaveNet();
             json array = m["config"]["layers"][0];
             array["input_size"] = 2;
             for (int i = 0; i < 9; ++i) m["config"]["layers"].push_back(array);
             return m;
         },
         "too many layer arrays"},
        {"lstm no layers", lstm([](json& m) { m["config"].erase("num_layers"); }), "missing \"num_layers\""},
        {"lstm zero layers", lstm([](json& m) { m["config"]["num_layers"] = 0; }), "out of range"},
        {"lstm zero hidden", lstm([](json& m) { m["config"]["hidden_size"] = 0; }), "out of range"},
        {"lstm huge hidden", lstm([](json& m) { m["config"]["hidden_size"] = 500; }), "out of range"},
        {"lstm hidden a string", lstm([](json& m) { m["config"]["hidden_size"] = "2"; }), "not an integer"},
        {"lstm input size 2", lstm([](json& m) { m["config"]["input_size"] = 2; }), "must be 1"},
        {"lstm weight short", lstm([](json& m) { m["weights"].erase(0); }), "weight count"},
        {"lstm weight over", lstm([](json& m) { m["weights"].push_back(1); }), "weight count"},
    };
    for (const Case& c : cases) {
        std::string error = errorOf(c.model().dump());
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

TEST(NamValidation, BrokenTextIsRefused)
{
    const std::string text = readText(vectorPath("a_wavenet_small.nam"));
    const std::string broken[] = {"", "   ", "{", "nonsense", text.substr(0, text.size() / 2),
                                  text.substr(0, text.size() - 1), text.substr(0, 1),
                                  "{\"architecture\": \"WaveNet\",}",
                                  // deep nesting must not exhaust the stack
                                  std::string(200000, '[') + std::string(200000, ']'),
                                  "{\"weights\": " + std::string(200000, '[') + std::string(200000, ']') + "}"};
    for (const std::string& t : broken) {
        std::string error = errorOf(t);
        EXPECT_NE(error.find("invalid NAM file"), std::string::npos) << t.substr(0, 40) << ": " << error;
    }
}

TEST(NamValidation, OtherExtensionsAreRefused)
{
    std::istringstream stream(readText(vectorPath("t_lstm_tiny.nam")));
    EXPECT_THROW(NeuralAudio::NeuralModel::CreateFromStream(stream, ".json"), NeuralAudio::ModelError);
    std::istringstream again(readText(vectorPath("t_lstm_tiny.nam")));
    EXPECT_NO_THROW(delete NeuralAudio::NeuralModel::CreateFromStream(again, "models/amp.nam"));
}

// Texts the trainer or a hand edit may produce that play exactly like the original.
TEST(NamValidation, TolerableVariationsPlayTheSame)
{
    const std::string text = readText(vectorPath("t_wavenet_tiny.nam"));
    const std::vector<float> input = testSignal(600);
    const std::vector<float> expected = run(*create(text), input, 16);
    auto changed = [&](std::function<void(json&)> change) {
        json m = json::parse(text);
        change(m);
        return m.dump();
    };
    const std::pair<const char*, std::string> variants[] = {
        {"byte-order mark and white space", "\xEF\xBB\xBF \n\t" + text},
        {"text after the object", text + "\n}} trailing garbage"},
        {"no version", changed([](json& m) { m.erase("version"); })},
        {"older version", changed([](json& m) { m["version"] = "0.5.0"; })},
        {"version a number", changed([](json& m) { m["version"] = 5; })},
        {"version unreadable", changed([](json& m) { m["version"] = "0.5"; })},
        {"no metadata", changed([](json& m) { m.erase("metadata"); })},
        {"metadata a string", changed([](json& m) { m["metadata"] = "amp"; })},
        {"sample rate null", changed([](json& m) { m["sample_rate"] = nullptr; })},
        {"sample rate 44100", changed([](json& m) { m["sample_rate"] = 44100; })},
        {"config head_scale differs", changed([](json& m) { m["config"]["head_scale"] = 7.0; })},
        {"Fasttanh", changed([](json& m) { m["config"]["layers"][0]["activation"] = "Fasttanh"; })},
        {"integer weight literals", changed([](json& m) {
             for (json& w : m["weights"])
                 if (w.get<double>() == std::floor(w.get<double>())) w = int(w.get<double>());
         })},
        {"unknown top-level key", changed([](json& m) {
             m["comment"] = {{"any", 1}};
         })},
    };
    for (const auto& [name, variant] : variants) {
        std::unique_ptr<NeuralAudio::NeuralModel> model;
        ASSERT_NO_THROW(model = create(variant)) << name;
        EXPECT_EQ(maxAbsDiff(run(*model, input, 16), expected), 0.0) << name;
    }
}

} // namespace
