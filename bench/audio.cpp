// The frame road of the engine with an empty chain: codec in, dry copy, meters, fade step, USB
// exchange (inactive), meters, codec out. Once through the host codec, once through the I2S driver
// with registers that are always ready (the cost of its FIFO conversions).
#include "audio/AudioProcessor.h"
#include "driver/CM4_I2S.h"
#include "driver/Codec.h"
#include "driver/model/HostCodec.h"

#include "BenchMain.h"

#include <cstdint>
#include <memory>

namespace {

// PCM registers of a block whose FIFOs are always ready: reads give a changing word.
class ReadyWindow : public RegisterWindow {
public:
    uint32_t read(uint32_t offset) override
    {
        if (offset == CM4_I2S::kCsA) return CM4_I2S::kCsRxr | CM4_I2S::kCsTxw;
        return counter += 0x01000193u;
    }
    void write(uint32_t, uint32_t value) override { benchmark::DoNotOptimize(value); }

private:
    uint32_t counter = 0;
};

class ReadyBus : public RegisterBus {
public:
    RegisterWindow* map(uint32_t, uint32_t) override { return &window; }
    void unmap(RegisterWindow*) override {}
    void delayUs(uint32_t) override {}
    void yield() override {}

private:
    ReadyWindow window;
};

// The engine's codec: forwards to the device under measurement.
class Through : public CodecInterface {
public:
    Through() : CodecInterface("Through") {}
    bool initialize() override { return true; }
    bool audioRead(float gain) override { return target->audioRead(gain); }
    bool audioWrite(float gain) override { return target->audioWrite(gain); }
    void setInputGain(int, int) override {}
    CodecInterface* target = nullptr;
};

Through& through()
{
    static Through* codec = [] {
        auto* c = new Through;
        Codec::search();
        return c;
    }();
    return *codec;
}

void runFrames(benchmark::State& state, CodecInterface* device)
{
    through().target = device;
    for (auto _ : state) {
        AudioProcessor::processBlock();
        benchmark::DoNotOptimize(Codec::data[0][0]);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 16);
}

void BM_FrameRoadHostCodec(benchmark::State& state)
{
    through();
    static HostCodec* codec = [] {
        HostCodecConfig config;
        config.input = HostCodecConfig::Input::Sine;
        config.pace = HostCodecConfig::Pace::Manual;
        auto* c = new HostCodec(config);
        c->initialize();
        return c;
    }();
    runFrames(state, codec);
}

void BM_FrameRoadI2S(benchmark::State& state)
{
    through();
    static ReadyBus bus;
    static CM4_I2S* codec = [] {
        auto* c = new CM4_I2S(bus);
        c->start(nullptr);
        return c;
    }();
    runFrames(state, codec);
}

} // namespace

KESTRUN_BENCHMARK(BM_FrameRoadHostCodec);
KESTRUN_BENCHMARK(BM_FrameRoadI2S);
KESTRUN_BENCHMARK_MAIN()
