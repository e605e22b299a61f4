// Cost of one 16-sample stereo frame through the modulation, delay, cabinet and reverb blocks in
// their busiest settings, and of 16 samples of the pitch shifter. A whole chain must finish a frame
// in 1/3 ms on one core of the unit.
#include "BenchMain.h"

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "effects/DelayEngine.h"
#include "effects/IrLoader.h"
#include "effects/ModulationsEngine.h"
#include "effects/PolyPhasePitchShifter.h"
#include "effects/ReverbFDN.h"
#include "effects/ReverbFDN8.h"
#include "effects/SpringVerb.h"
#include "effects/Tempo.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"

namespace {

// A block folder of its own per benchmark (node keys are not copied: they must stay put).
Node* folder()
{
    static Node* root = new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM);
    static int n = 0;
    char* key = new char[16];
    std::snprintf(key, 16, "b%d", n++ % 100000);
    return new NodeItem(root, key, "bench", "", ItemType::HFOLDER);
}

void set(Node* f, const char* path, const char* text)
{
    if (Node* node = f->pathToNode(f->getPath() + "\\" + path)) node->fromString(text);
}

void runFrames(benchmark::State& st, AudioBlock* block, BlockExec exec)
{
    block->compile();
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    for (auto _ : st) {
        for (int c = 0; c < FRAME_CHANNELS; ++c)
            for (int i = 0; i < FRAME_SAMPLES; ++i) frame[c][i] = d(rng);
        exec(block, frame);
        benchmark::DoNotOptimize(frame);
        benchmark::ClobberMemory();
    }
}

void BM_Modulation(benchmark::State& st)
{
    static const char* modes[] = {"\"Chorus\"", "\"Flanger\"", "\"Phaser\""};
    Node* f = folder();
    auto* m = new ModulationsEngine(f, nullptr, true);
    set(f, "on_off", "\"ON\"");
    set(f, "mode", modes[st.range(0)]);
    set(f, "trfolder\\on_off", "\"ON\"");
    st.SetLabel(modes[st.range(0)]);
    runFrames(st, m, &ModulationsEngine::exec);
}
KESTRUN_BENCHMARK(BM_Modulation)->DenseRange(0, 2);

void BM_Delay(benchmark::State& st)
{
    Node* f = folder();
    auto* d = new DelayEngine(f, nullptr);
    set(f, "on_off", "\"ON\"");
    set(f, "modfolder\\on_off", "\"ON\"");
    set(f, "ddfolder\\on_off", "\"ON\"");
    set(f, "tcfolder\\tape", "50");
    set(f, "tcfolder\\analog", "50");
    runFrames(st, d, &DelayEngine::exec);
}
KESTRUN_BENCHMARK(BM_Delay);

void BM_CabinetStereo(benchmark::State& st)
{
    Node* f = folder();
    auto* cab = new IrLoader(f, f, "ir_list");
    std::vector<float> ir(IrLoader::kTaps);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> d(-0.1f, 0.1f);
    for (auto& x : ir) x = d(rng);
    cab->getList()->setElementAt(0, "a", ir.data());
    cab->getList()->setElementAt(1, "b", ir.data());
    set(f, "on_off", "\"ON\"");
    set(f, "ir", "\"a\"");
    set(f, "ir2\\on_off", "\"ON\"");
    set(f, "ir2\\ir", "\"b\"");
    runFrames(st, cab, &IrLoader::exec);
}
KESTRUN_BENCHMARK(BM_CabinetStereo);

void BM_ReverbFDN8(benchmark::State& st)
{
    static const char* modes[] = {"\"ROOM\"", "\"HALL\"", "\"GALAXY\"", "\"SPRING\""};
    Node* f = folder();
    auto* r = new ReverbFDN8(f);
    set(f, "on_off", "\"ON\"");
    set(f, "mode", modes[st.range(0)]);
    st.SetLabel(modes[st.range(0)]);
    runFrames(st, r, &ReverbFDN8::exec);
}
KESTRUN_BENCHMARK(BM_ReverbFDN8)->DenseRange(0, 3);

void BM_ReverbFDN(benchmark::State& st)
{
    Node* f = folder();
    auto* r = new ReverbFDN(f);
    set(f, "on_off", "\"ON\"");
    runFrames(st, r, &ReverbFDN::exec);
}
KESTRUN_BENCHMARK(BM_ReverbFDN);

void BM_SpringVerb(benchmark::State& st)
{
    Node* f = folder();
    auto* r = new SpringVerb(f);
    set(f, "on_off", "\"ON\"");
    runFrames(st, r, &SpringVerb::exec);
}
KESTRUN_BENCHMARK(BM_SpringVerb);

void BM_PitchShifter(benchmark::State& st)
{
    auto p = std::make_unique<PolyPhasePitchShifter>(4096, unsigned(st.range(0)));
    p->setSemitonesUp(7.0f);
    std::vector<float> in(FRAME_SAMPLES, 0.25f), out(FRAME_SAMPLES);
    for (auto _ : st) {
        p->exec(in.data(), out.data(), FRAME_SAMPLES);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
KESTRUN_BENCHMARK(BM_PitchShifter)->Arg(2)->Arg(4);

} // namespace

KESTRUN_BENCHMARK_MAIN()
