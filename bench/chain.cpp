// Cost of one frame through the whole chain as the application builds it (pickup simulator to output
// mixer, the frame road around it included): with every block off, once the tails of the delay and
// the reverb have died away, and with every block on in a busy setting. The amp-model players run no
// model here: their cost lies on their own cores (bench_player), the audio thread only hands over.
#include "BenchMain.h"

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>

#include "app/Kestrun.h"
#include "audio/AudioProcessor.h"
#include "base/System.h"
#include "driver/Codec.h"
#include "effects/IrLoader.h"
#include "params/Node.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"

namespace {

// Noise in (with one sample of `fault` per frame when it is not 0), output dropped.
class NoiseCodec : public CodecInterface {
public:
    NoiseCodec() : CodecInterface("Noise") {}
    bool initialize() override { return true; }
    bool audioRead(float) override
    {
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 16; ++k) Codec::data[c][k] = level(rng);
        if (fault != 0.0f) Codec::data[0][3] = fault;
        return true;
    }
    static inline float fault = 0.0f;
    bool audioWrite(float) override { return true; }
    void setInputGain(int, int) override {}

private:
    std::mt19937 rng{1};
    std::uniform_real_distribution<float> level{-0.3f, 0.3f};
};

void set(const std::string& path, const char* text)
{
    if (Node* node = System::rootNode()->pathToNode(path)) node->fromString(text);
}

void resetBelow(Node* node)
{
    for (Node* child : node->getChildren()) {
        child->reset();
        resetBelow(child);
    }
}

Kestrun& unit()
{
    static Kestrun* app = [] {
        System::initialize("ap0003");
        auto* k = new Kestrun(System::appNode(), System::rootNode());
        new NoiseCodec;
        Codec::search();
        std::vector<float> taps(IrLoader::kTaps, 0.0f);
        for (int i = 0; i < IrLoader::kTaps; ++i) taps[std::size_t(i)] = (i % 7 - 3) * 0.01f / (1.0f + i * 0.1f);
        k->irLoader->getList()->setElementAt(0, "cab", taps.data());
        // The instruction counter names the blocks of a frame's count by these lines.
        if (bench::fixedIterations() > 0) AudioProcessor::displayInfo();
        return k;
    }();
    return *app;
}

void frames(int n)
{
    for (int i = 0; i < n; ++i) AudioProcessor::processBlock();
}

void runChain(benchmark::State& state)
{
    for (auto _ : state) {
        AudioProcessor::processBlock();
        benchmark::DoNotOptimize(Codec::data[0][0]);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 16);
}

void BM_ChainAllOff(benchmark::State& state)
{
    unit();
    resetBelow(System::rootNode()->pathToNode("root\\app"));
    resetBelow(System::rootNode()->pathToNode("root\\settings\\input"));
    AudioProcessor::compileBlocks();
    frames(20000); // the delay's ring and the reverb's lines run empty
    runChain(state);
}

void allOn()
{
    unit();
    for (const char* block : {"gate", "exp", "comp", "mod_pre", "drive", "amp", "ir", "eq", "mod", "delay", "reverb"})
        set(std::string("root\\app\\") + block + "\\on_off", "\"ON\"");
    set("root\\settings\\input\\pickup\\on_off", "\"ON\"");
    set("root\\app\\exp\\vfold\\on_off", "\"ON\"");
    set("root\\app\\exp\\wfolder\\on_off", "\"ON\"");
    set("root\\app\\ir\\ir", "\"cab\"");
    set("root\\app\\ir\\ir2\\on_off", "\"ON\"");
    set("root\\app\\eq\\lo_slope", "\"24dB/oct\"");
    set("root\\app\\eq\\hi_slope", "\"24dB/oct\"");
    set("root\\app\\mod\\trfolder\\on_off", "\"ON\"");
    set("root\\app\\delay\\modfolder\\on_off", "\"ON\"");
    set("root\\app\\delay\\ddfolder\\on_off", "\"ON\"");
    set("root\\app\\reverb\\mode", "\"GALAXY\"");
    AudioProcessor::compileBlocks();
    frames(1000);
}

void BM_ChainAllOn(benchmark::State& state)
{
    allOn();
    runChain(state);
}

// What a fault costs the audio thread: every block on, and an infinite sample in every frame (a huge
// finite one the compressor would only squash), so that the output guard silences each frame and
// resets every block (delay, reverb and modulation lines included).
void BM_ChainGuardTrip(benchmark::State& state)
{
    allOn();
    NoiseCodec::fault = std::numeric_limits<float>::infinity();
    runChain(state);
    NoiseCodec::fault = 0.0f;
}

} // namespace

KESTRUN_BENCHMARK(BM_ChainAllOff);
KESTRUN_BENCHMARK(BM_ChainAllOn);
KESTRUN_BENCHMARK(BM_ChainGuardTrip);

int main(int argc, char** argv)
{
    // A root folder of its own for the unit's stored settings.
    char root[] = "/tmp/kestrun-bench.XXXXXX";
    if (!mkdtemp(root)) return 2;
    setenv("KESTRUN_ROOT", root, 1);
    const int status = bench::run(argc, argv);
    std::filesystem::remove_all(root);
    return status;
}
