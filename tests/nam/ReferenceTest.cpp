// The runtime against a plain, loop-by-loop implementation of the file format written for this test:
// first the plain one is held to the reference vectors, then the runtime is compared with it on
// shapes the vectors do not cover (gated layers, every activation, odd channel counts and kernels,
// three layer arrays, LSTMs of other sizes), which exercises both the fixed-size and the general code.
#include "NamTestSupport.h"

#include <gtest/gtest.h>

using namespace namtest;
using nlohmann::json;

namespace {

float plainFastTanh(float x)
{
    const float a = std::fabs(x), s = x * x;
    const float num =
        x * (2.45550750702956f + 2.45550750702956f * a + (0.893229853513558f + 0.821226666969744f * a) * s);
    const float den = 2.44506634652299f + (2.44506634652299f + s) * std::fabs(x + (0.814642734961073f * x) * a);
    return num / den;
}

float plainActivation(const std::string& name, float x)
{
    if (name == "Tanh" || name == "Fasttanh") return plainFastTanh(x);
    if (name == "Hardtanh") return std::min(1.0f, std::max(-1.0f, x));
    if (name == "ReLU") return std::max(0.0f, x);
    if (name == "LeakyReLU") return x > 0 ? x : 0.01f * x;
    if (name == "Sigmoid") return 1.0f / (1.0f + std::exp(-x));
    throw std::runtime_error("activation " + name);
}

class Weights {
public:
    explicit Weights(const json& w) : w_(w) {}
    float next() { return w_.at(pos_++).get<float>(); }
    std::vector<float> take(size_t n)
    {
        std::vector<float> v(n);
        for (float& x : v) x = next();
        return v;
    }

private:
    const json& w_;
    size_t pos_ = 0;
};

class PlainWaveNet {
public:
    explicit PlainWaveNet(const json& model)
    {
        Weights w(model.at("weights"));
        for (const json& a : model.at("config").at("layers")) {
            Array arr;
            arr.in = a.at("input_size");
            arr.c = a.at("channels");
            arr.h = a.at("head_size");
            arr.k = a.at("kernel_size");
            arr.gated = a.at("gated");
            arr.headBias = a.at("head_bias");
            arr.activation = a.at("activation");
            int cz = arr.gated ? 2 * arr.c : arr.c;
            arr.rechannel = w.take(size_t(arr.c) * arr.in);
            for (int d : a.at("dilations")) {
                Layer l;
                l.d = d;
                l.conv = w.take(size_t(cz) * arr.c * arr.k);
                l.bias = w.take(cz);
                l.mixin = w.take(cz);
                l.proj = w.take(size_t(arr.c) * arr.c);
                l.projBias = w.take(arr.c);
                l.past.assign(size_t(d) * (arr.k - 1) + 1, std::vector<float>(arr.c, 0.0f));
                l.now = 0;
                arr.layers.push_back(l);
                receptive_ += d * (arr.k - 1);
            }
            arr.head = w.take(size_t(arr.h) * arr.c);
            if (arr.headBias) arr.headB = w.take(arr.h);
            arrays_.push_back(arr);
        }
        scale_ = w.next();
        // Zero input for longer than the receptive field reaches the settled state.
        for (int i = 0; i <= receptive_; ++i) sample(0.0f);
    }

    float sample(float x)
    {
        std::vector<float> v{x}, acc;
        for (Array& a : arrays_) {
            std::vector<float> r(a.c, 0.0f);
            for (int o = 0; o < a.c; ++o)
                for (int i = 0; i < a.in; ++i) r[o] += a.rechannel[o * a.in + i] * v[i];
            if (acc.empty()) acc.assign(a.c, 0.0f);
            for (Layer& l : a.layers) {
                // A ring of the layer's inputs; `now` is the current one, now - j the one j samples back.
                const size_t size = l.past.size();
                l.now = (l.now + 1) % size;
                l.past[l.now] = r;
                int cz = a.gated ? 2 * a.c : a.c;
                std::vector<float> z(cz);
                for (int o = 0; o < cz; ++o) {
                    float sum = 0.0f;
                    for (int i = 0; i < a.c; ++i)
                        for (int k = 0; k < a.k; ++k)
                            sum += l.conv[(size_t(o) * a.c + i) * a.k + k] *
                                   l.past[(l.now + size - size_t(a.k - 1 - k) * l.d) % size][i];
                    z[o] = sum + l.bias[o] + l.mixin[o] * x;
                }
                std::vector<float> u(a.c);
                for (int i = 0; i < a.c; ++i) {
                    u[i] = plainActivation(a.activation, z[i]);
                    if (a.gated) u[i] *= 1.0f / (1.0f + std::exp(-z[a.c + i]));
                    acc[i] += u[i];
                }
                for (int o = 0; o < a.c; ++o) {
                    float sum = 0.0f;
                    for (int i = 0; i < a.c; ++i) sum += l.proj[o * a.c + i] * u[i];
                    r[o] += sum + l.projBias[o];
                }
            }
            std::vector<float> head(a.h, 0.0f);
            for (int o = 0; o < a.h; ++o) {
                for (int i = 0; i < a.c; ++i) head[o] += a.head[o * a.c + i] * acc[i];
                if (a.headBias) head[o] += a.headB[o];
            }
            v = r;
            acc = head;
        }
        return scale_ * acc[0];
    }

private:
    struct Layer {
        int d = 1;
        size_t now = 0;
        std::vector<float> conv, bias, mixin, proj, projBias;
        std::vector<std::vector<float>> past;
    };
    struct Array {
        int in = 1, c = 1, h = 1, k = 1;
        bool gated = false, headBias = false;
        std::string activation;
        std::vector<float> rechannel, head, headB;
        std::vector<Layer> layers;
    };
    std::vector<Array> arrays_;
    float scale_ = 0.0f;
    int receptive_ = 0;
};

class PlainLstm {
public:
    explicit PlainLstm(const json& model)
    {
        Weights w(model.at("weights"));
        h_ = model.at("config").at("hidden_size");
        int layers = model.at("config").at("num_layers");
        for (int n = 0; n < layers; ++n) {
            Layer l;
            l.in = n == 0 ? 1 : h_;
            l.w = w.take(size_t(4 * h_) * (l.in + h_));
            l.b = w.take(4 * h_);
            l.h = w.take(h_);
            l.c = w.take(h_);
            layers_.push_back(l);
        }
        head_ = w.take(h_);
        headBias_ = w.next();
        prewarm();
    }

    void prewarm()
    {
        for (int i = 0; i < 2048; ++i) sample(0.0f);
    }

    float sample(float x)
    {
        auto sig = [](float v) { return 0.5f * (plainFastTanh(0.5f * v) + 1.0f); };
        std::vector<float> v{x};
        for (Layer& l : layers_) {
            std::vector<float> in = v;
            in.insert(in.end(), l.h.begin(), l.h.end());
            std::vector<float> q(4 * h_);
            for (int row = 0; row < 4 * h_; ++row) {
                float sum = 0.0f;
                for (size_t j = 0; j < in.size(); ++j) sum += l.w[row * in.size() + j] * in[j];
                q[row] = sum + l.b[row];
            }
            for (int i = 0; i < h_; ++i) {
                l.c[i] = sig(q[h_ + i]) * l.c[i] + sig(q[i]) * plainFastTanh(q[2 * h_ + i]);
                l.h[i] = sig(q[3 * h_ + i]) * plainFastTanh(l.c[i]);
            }
            v = l.h;
        }
        float y = headBias_;
        for (int i = 0; i < h_; ++i) y += head_[i] * v[i];
        return y;
    }

private:
    struct Layer {
        int in = 1;
        std::vector<float> w, b, h, c;
    };
    int h_ = 0;
    std::vector<Layer> layers_;
    std::vector<float> head_;
    float headBias_ = 0.0f;
};

template <class Plain>
std::vector<float> runPlain(Plain& plain, const std::vector<float>& input)
{
    std::vector<float> out(input.size());
    for (size_t i = 0; i < input.size(); ++i) out[i] = plain.sample(input[i]);
    return out;
}

std::vector<float> runPlain(const std::string& text, const std::vector<float>& input)
{
    json model = json::parse(text);
    if (model.at("architecture") == "LSTM") {
        PlainLstm plain(model);
        return runPlain(plain, input);
    }
    PlainWaveNet plain(model);
    return runPlain(plain, input);
}

double peak(const std::vector<float>& s)
{
    double p = 0.0;
    for (float v : s) p = std::max(p, double(std::fabs(v)));
    return p;
}

TEST(NamReference, PlainImplementationMatchesTheVectors)
{
    const std::vector<float> input = readF32(vectorPath("input.f32"));
    for (const char* name : {"a_wavenet_small", "c_lstm_1x8", "d_lstm_2x8", "e_wavenet_nano", "f_wavenet_relu_1array",
                             "t_wavenet_tiny", "t_lstm_tiny"}) {
        std::vector<float> out = runPlain(readText(vectorPath(std::string(name) + ".nam")), input);
        EXPECT_LE(maxAbsDiff(out, readF32(vectorPath(std::string(name) + ".out.f32"))), 1e-5) << name;
    }
}

TEST(NamReference, WaveNetShapesBeyondTheVectors)
{
    struct Case {
        const char* name;
        std::vector<ArrayShape> shape;
    };
    const std::vector<int> d = {1, 2, 4, 8, 16};
    const Case cases[] = {
        {"gated tanh, 3 then 2 channels",
         {{1, 3, 2, 3, d, "Tanh", true, false}, {3, 2, 1, 3, {1, 5, 25}, "Tanh", true, true}}},
        {"gated, standard channel count", {{1, 8, 1, 3, d, "Tanh", true, true}}},
        {"fixed 8 channels, Hardtanh", {{1, 8, 1, 3, d, "Hardtanh", false, true}}},
        {"fixed 8 channels, ReLU", {{1, 8, 1, 3, d, "ReLU", false, false}}},
        {"fixed 12 channels, LeakyReLU", {{1, 12, 1, 3, d, "LeakyReLU", false, true}}},
        {"fixed 6 channels, Sigmoid", {{1, 6, 1, 3, d, "Sigmoid", false, true}}},
        {"fixed 16 then 8, Fasttanh",
         {{1, 16, 8, 3, d, "Fasttanh", false, false}, {16, 8, 1, 3, d, "Tanh", false, true}}},
        {"general 5 channels, kernel 4, three arrays",
         {{1, 5, 3, 4, {1, 3, 9}, "Tanh", false, false},
          {5, 3, 2, 4, {2, 7}, "LeakyReLU", false, true},
          {3, 2, 1, 2, {1, 40}, "Tanh", true, true}}},
        {"kernel 1 (no history)", {{1, 4, 1, 1, {1, 1, 1}, "Tanh", false, true}}},
        {"long dilation, fixed 4 channels", {{1, 4, 1, 2, {1, 300, 1000}, "Tanh", false, true}}},
    };
    const std::vector<float> input = testSignal(2500);
    uint32_t seed = 7;
    for (const Case& c : cases) {
        const std::string text = waveNetJson(c.shape, seed++);
        const std::vector<float> expected = runPlain(text, input);
        ASSERT_GT(peak(expected), 1e-3) << c.name; // a silent model would prove nothing
        for (size_t block : {16, 1, 13, 64}) {
            EXPECT_LE(maxAbsDiff(run(*create(text), input, block), expected), 1e-5 * std::max(1.0, peak(expected)))
                << c.name << " in blocks of " << block;
        }
    }
}

TEST(NamReference, LstmSizesBeyondTheVectors)
{
    struct Case {
        int layers, hidden;
    } cases[] = {{1, 3}, {3, 5}, {1, 12}, {2, 16}, {1, 20}, {1, 24}, {1, 32}, {2, 40}};
    const std::vector<float> input = testSignal(2000);
    uint32_t seed = 100;
    for (const Case& c : cases) {
        const std::string text = lstmJson(c.layers, c.hidden, seed++);
        json parsed = json::parse(text);
        PlainLstm plain(parsed);
        auto model = create(text);
        // Each further prewarm settles from the current state, as the player's extra call does.
        plain.prewarm();
        model->Prewarm();
        const std::vector<float> expected = runPlain(plain, input);
        ASSERT_GT(peak(expected), 1e-3);
        EXPECT_LE(maxAbsDiff(run(*model, input, 16), expected), 1e-5 * std::max(1.0, peak(expected)))
            << c.layers << "x" << c.hidden;
    }
}

} // namespace

namespace {

// An LSTM that almost never forgets: its cell creeps up by about 5e-4 per silent sample, so every
// prewarm moves the output and the number of prewarm samples shows to one sample.
TEST(NamReference, LstmPrewarmLengthIsExact)
{
    // One unit. Rows i, f, g, o; columns [x, h]. Gates depend on the biases only.
    json model = {{"version", "0.5.4"},
                  {"architecture", "LSTM"},
                  {"config", {{"input_size", 1}, {"hidden_size", 1}, {"num_layers", 1}}},
                  {"weights",
                   {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, // W
                    0.0, 20.0, 0.001, 2.0, // b: i = 0.5, f ~ 1, g ~ 0.001, o ~ 0.88
                    0.0, 0.0, // h0, c0
                    1.0, 0.0}}}; // head weight, head bias
    PlainLstm plain(model);
    auto runtime = create(model.dump());
    std::vector<float> silence(1, 0.0f);

    float plainFirst = runPlain(plain, silence)[0];
    float first = run(*runtime, silence, 16)[0];
    EXPECT_NEAR(first, plainFirst, 1e-6);

    plain.prewarm();
    runtime->Prewarm();
    float plainSecond = runPlain(plain, silence)[0];
    float second = run(*runtime, silence, 16)[0];
    EXPECT_NEAR(second, plainSecond, 1e-6);
    EXPECT_GT(std::fabs(second - first), 0.1); // the model really is sensitive to the count

    // One sample more or less of prewarm would show: that is what the tolerance above resolves.
    float oneMore = runPlain(plain, silence)[0];
    EXPECT_GT(std::fabs(oneMore - second), 1e-5);
}

} // namespace
