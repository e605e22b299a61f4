// The cost of one 16-sample stereo frame through each effect block, switched on and set to its
// busiest path. A frame must finish in 1/3 ms for the whole chain on one core of the unit.
// To add a block: one KESTRUN_BENCHMARK_CAPTURE line with a function that builds it.
#include "audio/AudioBlock.h"
#include "effects/DynaComp.h"
#include "effects/Equalizer.h"
#include "effects/Expr.h"
#include "effects/Mixer.h"
#include "effects/NoiseGate.h"
#include "effects/Pickup.h"
#include "params/Node.h"
#include "params/NodeItem.h"

#include "BenchMain.h"

#include <random>
#include <string>

namespace {

struct Built {
    AudioBlock* block;
    BlockExec exec;
};

Node* folder(const char* key)
{
    static auto* root = new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM);
    return new NodeItem(root, key, key, "", ItemType::HFOLDER);
}

void set(Node* f, const std::string& path, const std::string& value)
{
    if (Node* n = f->pathToNode(f->getPath() + "\\" + path)) n->fromString(value);
}

float dry[FRAME_CHANNELS][FRAME_SAMPLES];

Built noiseGate()
{
    Node* f = folder("gate");
    auto* b = new NoiseGate(f, 3, 3, dry[0], false);
    set(f, "on_off", "\"ON\"");
    return {b, &NoiseGate::exec};
}

Built dynaComp(const char* mode)
{
    Node* f = folder("comp");
    auto* b = new DynaComp(f, nullptr);
    set(f, "on_off", "\"ON\"");
    set(f, "md", mode);
    return {b, &DynaComp::exec};
}

Built expr()
{
    Node* f = folder("expr");
    auto* b = new Expr(f);
    set(f, "on_off", "\"ON\"");
    set(f, "wfolder\\on_off", "\"ON\"");
    set(f, "vfold\\on_off", "\"ON\"");
    return {b, &Expr::exec};
}

Built pickup()
{
    Node* f = folder("pickup");
    auto* b = new Pickup(f, false);
    set(f, "on_off", "\"ON\"");
    return {b, &Pickup::exec};
}

Built equalizer()
{
    Node* f = folder("eq");
    auto* b = new Equalizer(f);
    set(f, "on_off", "\"ON\"");
    set(f, "lo_slope", "\"24dB/oct\"");
    set(f, "hi_slope", "\"24dB/oct\"");
    return {b, &Equalizer::exec};
}

Built mixer()
{
    auto* b = new Mixer(folder("mixer"), dry);
    b->setMixerValue(1, 1, 0, 0, 0, 0.5f, 0, 0.5f);
    return {b, &Mixer::exec};
}

template <class Make>
void frame(benchmark::State& state, Make make)
{
    Built b = make();
    b.block->compile();
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    float input[FRAME_CHANNELS][FRAME_SAMPLES];
    for (auto& row : input)
        for (float& x : row) x = d(rng);
    for (int c = 0; c < FRAME_CHANNELS; ++c)
        for (int i = 0; i < FRAME_SAMPLES; ++i) dry[c][i] = input[c][i];
    float data[FRAME_CHANNELS][FRAME_SAMPLES];
    for (auto _ : state) {
        for (int c = 0; c < FRAME_CHANNELS; ++c)
            for (int i = 0; i < FRAME_SAMPLES; ++i) data[c][i] = input[c][i];
        b.exec(b.block, data);
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
    }
}

KESTRUN_BENCHMARK_CAPTURE(frame, NoiseGate, noiseGate);
KESTRUN_BENCHMARK_CAPTURE(frame, DynaCompDyn, [] { return dynaComp("\"Dyn\""); });
KESTRUN_BENCHMARK_CAPTURE(frame, DynaCompStudio, [] { return dynaComp("\"Studio\""); });
KESTRUN_BENCHMARK_CAPTURE(frame, Expr, expr);
KESTRUN_BENCHMARK_CAPTURE(frame, Pickup, pickup);
KESTRUN_BENCHMARK_CAPTURE(frame, Equalizer, equalizer);
KESTRUN_BENCHMARK_CAPTURE(frame, Mixer, mixer);

} // namespace

KESTRUN_BENCHMARK_MAIN()
