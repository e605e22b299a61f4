// Cost of the amp-model runtime per model size, in 16-sample frames as the player calls it: ns per
// sample and the share of one 1/3-ms frame (the unit's whole budget per frame; each player has a
// core of its own). Models are synthesised in the trainer's shapes with random weights, since the
// cost does not depend on the values.
//
// The first lines printed compare the runtime with a plain implementation of the same standard
// WaveNet (run-time-sized matrices, one sample at a time), measured in the same run: the fixed-size,
// block-wise runtime has to be at least 1.5 times faster.
#include "BenchMain.h"
#include "NeuralAudio/NeuralModel.h"

#include <Eigen/Core>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kFrame = 16;
constexpr double kFrameSeconds = 1.0 / 3000.0;

struct ArrayShape {
    int inputSize, channels, headSize;
    std::vector<int> dilations;
    bool headBias;
};

std::vector<int> powers(int from, int to)
{
    std::vector<int> d;
    for (int v = from; v <= to; v *= 2) d.push_back(v);
    return d;
}

std::vector<ArrayShape> waveNetShape(const std::string& name)
{
    auto concat = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    int c = name == "standard" ? 16 : name == "lite" ? 12 : name == "feather" ? 8 : 4;
    if (name == "standard") return {{1, 16, 8, powers(1, 512), false}, {16, 8, 1, powers(1, 512), true}};
    return {{1, c, c / 2, powers(1, 64), false}, {c, c / 2, 1, concat(powers(128, 512), powers(1, 512)), true}};
}

class Random {
public:
    explicit Random(uint32_t seed) : x_(seed) {}
    float next(float scale)
    {
        x_ ^= x_ << 13;
        x_ ^= x_ >> 17;
        x_ ^= x_ << 5;
        return scale * (float(x_) / 2147483648.0f - 1.0f);
    }

private:
    uint32_t x_;
};

// Weights in file order for a kernel-3, non-gated Tanh WaveNet.
std::vector<float> waveNetWeights(const std::vector<ArrayShape>& shape)
{
    Random rnd(1234);
    std::vector<float> w;
    auto fill = [&](size_t count, float scale) {
        for (size_t i = 0; i < count; ++i) w.push_back(rnd.next(scale));
    };
    for (const ArrayShape& a : shape) {
        size_t c = size_t(a.channels);
        fill(c * a.inputSize, 1.0f);
        for (size_t l = 0; l < a.dilations.size(); ++l) {
            fill(c * c * 3, 1.0f / std::sqrt(3.0f * float(c)));
            fill(c, 0.1f);
            fill(c, 0.5f);
            fill(c * c, 1.0f / std::sqrt(float(c)));
            fill(c, 0.05f);
        }
        fill(size_t(a.headSize) * c, 1.0f / std::sqrt(float(c)));
        if (a.headBias) fill(size_t(a.headSize), 0.05f);
    }
    w.push_back(0.02f);
    return w;
}

std::string waveNetText(const std::vector<ArrayShape>& shape)
{
    nlohmann::json layers = nlohmann::json::array();
    for (const ArrayShape& a : shape)
        layers.push_back({{"input_size", a.inputSize},
                          {"condition_size", 1},
                          {"head_size", a.headSize},
                          {"channels", a.channels},
                          {"kernel_size", 3},
                          {"dilations", a.dilations},
                          {"activation", "Tanh"},
                          {"gated", false},
                          {"head_bias", a.headBias}});
    nlohmann::json model = {{"version", "0.5.4"},
                            {"architecture", "WaveNet"},
                            {"config", {{"layers", layers}, {"head", nullptr}, {"head_scale", 0.02}}},
                            {"weights", waveNetWeights(shape)}};
    return model.dump();
}

std::string lstmText(int layers, int hidden)
{
    Random rnd(99);
    std::vector<float> w;
    for (int n = 0; n < layers; ++n) {
        int in = n == 0 ? 1 : hidden;
        for (int i = 0; i < 4 * hidden * (in + hidden); ++i) w.push_back(rnd.next(1.0f / std::sqrt(float(hidden))));
        for (int i = 0; i < 4 * hidden + 2 * hidden; ++i) w.push_back(rnd.next(0.2f));
    }
    for (int i = 0; i < hidden + 1; ++i) w.push_back(rnd.next(0.3f));
    nlohmann::json model = {{"version", "0.5.4"},
                            {"architecture", "LSTM"},
                            {"config", {{"input_size", 1}, {"hidden_size", hidden}, {"num_layers", layers}}},
                            {"weights", w}};
    return model.dump();
}

std::unique_ptr<NeuralAudio::NeuralModel> create(const std::string& text)
{
    std::istringstream stream(text);
    return std::unique_ptr<NeuralAudio::NeuralModel>(NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam"));
}

std::vector<float> signal(size_t count)
{
    std::vector<float> s(count);
    for (size_t i = 0; i < count; ++i) s[i] = 0.5f * std::sin(0.0576f * float(i));
    return s;
}

float fastTanh(float x)
{
    float a = std::fabs(x), s = x * x;
    float num = x * (2.45550750702956f + 2.45550750702956f * a + (0.893229853513558f + 0.821226666969744f * a) * s);
    float den = 2.44506634652299f + (2.44506634652299f + s) * std::fabs(x + (0.814642734961073f * x) * a);
    return num / den;
}

// The plain way: run-time-sized matrices, every layer for every sample, a history ring per layer.
class PlainWaveNet {
public:
    PlainWaveNet(const std::vector<ArrayShape>& shape, const std::vector<float>& weights)
    {
        size_t at = 0;
        auto rows = [&](int r, int c) {
            Eigen::MatrixXf m(r, c);
            for (int i = 0; i < r; ++i)
                for (int j = 0; j < c; ++j) m(i, j) = weights[at++];
            return m;
        };
        auto vec = [&](int n) {
            Eigen::VectorXf v(n);
            for (int i = 0; i < n; ++i) v(i) = weights[at++];
            return v;
        };
        for (const ArrayShape& s : shape) {
            Array a;
            int c = s.channels;
            a.rechannel = rows(c, s.inputSize);
            for (int d : s.dilations) {
                Layer l;
                l.dilation = d;
                l.taps.assign(3, Eigen::MatrixXf(c, c));
                for (int o = 0; o < c; ++o)
                    for (int i = 0; i < c; ++i)
                        for (int k = 0; k < 3; ++k) l.taps[k](o, i) = weights[at++];
                l.bias = vec(c);
                l.mixin = vec(c);
                l.proj = rows(c, c);
                l.projBias = vec(c);
                l.history = Eigen::MatrixXf::Zero(c, 2 * d + 1);
                a.layers.push_back(l);
            }
            a.head = rows(s.headSize, c);
            a.headBias = s.headBias ? vec(s.headSize) : Eigen::VectorXf::Zero(s.headSize);
            a.r.resize(c);
            a.z.resize(c);
            a.acc.resize(c);
            a.out.resize(s.headSize);
            arrays_.push_back(a);
        }
        headScale_ = weights[at];
        for (int i = 0; i < 5000; ++i) sample(0.0f); // longer than the receptive field: settled
    }

    float sample(float x)
    {
        Eigen::VectorXf in = Eigen::VectorXf::Constant(1, x);
        const Eigen::VectorXf* v = &in;
        const Eigen::VectorXf* accIn = nullptr;
        for (Array& a : arrays_) {
            a.r.noalias() = a.rechannel * *v;
            if (accIn) a.acc = *accIn;
            else a.acc.setZero();
            for (Layer& l : a.layers) {
                int size = int(l.history.cols());
                l.history.col(l.pos) = a.r;
                a.z = l.bias + l.mixin * x;
                for (int k = 0; k < 3; ++k) {
                    int col = l.pos - l.dilation * (2 - k);
                    if (col < 0) col += size;
                    a.z.noalias() += l.taps[k] * l.history.col(col);
                }
                l.pos = (l.pos + 1) % size;
                for (int i = 0; i < a.z.size(); ++i) a.z(i) = fastTanh(a.z(i));
                a.acc += a.z;
                a.r.noalias() += l.proj * a.z;
                a.r += l.projBias;
            }
            a.out.noalias() = a.head * a.acc;
            a.out += a.headBias;
            v = &a.r;
            accIn = &a.out;
        }
        return headScale_ * (*accIn)(0);
    }

private:
    struct Layer {
        int dilation = 1, pos = 0;
        std::vector<Eigen::MatrixXf> taps;
        Eigen::VectorXf bias, mixin, projBias;
        Eigen::MatrixXf proj, history;
    };
    struct Array {
        Eigen::MatrixXf rechannel, head;
        Eigen::VectorXf headBias, r, z, acc, out;
        std::vector<Layer> layers;
    };
    std::vector<Array> arrays_;
    float headScale_ = 0.0f;
};

struct Named {
    const char* name;
    std::string text;
};

const std::vector<Named>& models()
{
    static const std::vector<Named> all = {
        {"wavenet_standard", waveNetText(waveNetShape("standard"))},
        {"wavenet_lite", waveNetText(waveNetShape("lite"))},
        {"wavenet_feather", waveNetText(waveNetShape("feather"))},
        {"wavenet_nano", waveNetText(waveNetShape("nano"))},
        {"lstm_1x16", lstmText(1, 16)},
        {"lstm_2x8", lstmText(2, 8)},
    };
    return all;
}

using Clock = std::chrono::steady_clock;

// Plain numbers rather than rate counters, which the library would print as inverted seconds.
void setCounters(benchmark::State& state, Clock::time_point start)
{
    double perFrame = std::chrono::duration<double>(Clock::now() - start).count() / double(state.iterations());
    state.counters["ns_per_sample"] = perFrame / kFrame * 1e9;
    state.counters["frame_%"] = perFrame / kFrameSeconds * 100.0;
}

void BM_Model(benchmark::State& state, const std::string& text)
{
    auto model = create(text);
    model->Prewarm();
    std::vector<float> in = signal(4800), out(kFrame);
    size_t at = 0;
    auto start = Clock::now();
    for (auto _ : state) {
        model->Process(in.data() + at, out.data(), kFrame);
        benchmark::DoNotOptimize(out.data());
        at = (at + kFrame) % in.size();
    }
    setCounters(state, start);
}

void BM_PlainStandardWaveNet(benchmark::State& state)
{
    auto shape = waveNetShape("standard");
    PlainWaveNet plain(shape, waveNetWeights(shape));
    std::vector<float> in = signal(4800), out(kFrame);
    size_t at = 0;
    auto start = Clock::now();
    for (auto _ : state) {
        for (int i = 0; i < kFrame; ++i) out[i] = plain.sample(in[at + i]);
        benchmark::DoNotOptimize(out.data());
        at = (at + kFrame) % in.size();
    }
    setCounters(state, start);
}

// Times both ways over the same second of audio (best of three) and checks that they agree.
int compareWithPlain()
{
    auto shape = waveNetShape("standard");
    std::vector<float> weights = waveNetWeights(shape);
    auto model = create(waveNetText(shape));
    PlainWaveNet plain(shape, weights);
    std::vector<float> in = signal(48000), fast(in.size()), slow(in.size());
    double fastBest = 1e9, slowBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto t0 = Clock::now();
        for (size_t at = 0; at < in.size(); at += kFrame) model->Process(in.data() + at, fast.data() + at, kFrame);
        auto t1 = Clock::now();
        for (size_t i = 0; i < in.size(); ++i) slow[i] = plain.sample(in[i]);
        auto t2 = Clock::now();
        fastBest = std::min(fastBest, std::chrono::duration<double>(t1 - t0).count());
        slowBest = std::min(slowBest, std::chrono::duration<double>(t2 - t1).count());
    }
    // Both models ran the same three seconds from the same settled state, so the outputs must agree.
    double worst = 0.0;
    for (size_t i = 0; i < in.size(); ++i) worst = std::max(worst, double(std::fabs(fast[i] - slow[i])));
    double speedup = slowBest / fastBest;
    std::printf(
        "standard WaveNet: runtime %.1f ns/sample, plain %.1f ns/sample, speed-up %.2fx (need 1.5x), "
        "largest difference %.2g\n",
        fastBest / double(in.size()) * 1e9, slowBest / double(in.size()) * 1e9, speedup, worst);
    if (worst > 1e-4) {
        std::printf("FAIL: the runtime and the plain implementation disagree\n");
        return 1;
    }
    if (speedup < 1.5) {
        std::printf("FAIL: speed-up below 1.5x\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    flush_denormals();
    // The instruction counter wants the models alone.
    int status = bench::fixedIterations() > 0 ? 0 : compareWithPlain();
    for (const Named& m : models()) benchmark::RegisterBenchmark(m.name, BM_Model, m.text)->Apply(bench::countable);
    benchmark::RegisterBenchmark("plain_wavenet_standard", BM_PlainStandardWaveNet)->Apply(bench::countable);
    return bench::run(argc, argv) != 0 ? 1 : status;
}
