#pragma once
#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "base/System.h"
#include "driver/Codec.h"
#include "params/NodeItem.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

// The top of the tree as System builds it, without the launcher decision.
inline void makeSystemTree()
{
    System::root = new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM);
    System::app = new NodeItem(System::root, "app", "App", "", ItemType::SYSTEM);
    System::system = new NodeItem(System::root, "sys", "System", "", ItemType::SYSTEM);
    System::initialized = true;
}

// A codec moved by the test: each AudioProcessor::processBlock takes `in` as the next frame and
// leaves the processed frame in `out`. Its start tells "audioLoop" to end, as a callback codec does.
class ManualCodec : public CodecInterface {
public:
    ManualCodec() : CodecInterface("Manual") {}
    bool initialize() override { return true; }
    bool start(void (*)()) override
    {
        started = true;
        return true;
    }
    bool audioRead(float gain) override
    {
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 16; ++k) Codec::data[c][k] = in[c][k] * gain;
        return true;
    }
    bool audioWrite(float gain) override
    {
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 16; ++k) out[c][k] = Codec::data[c][k] * gain;
        ++written;
        return true;
    }
    void setInputGain(int, int) override {}
    void fill(float left, float right)
    {
        for (int k = 0; k < 16; ++k) {
            in[0][k] = left;
            in[1][k] = right;
        }
    }

    float in[2][16] = {};
    float out[2][16] = {};
    std::atomic<bool> started{false};
    int written = 0;
};

// A block that notes what it does: its processing multiplies by `gain` (the engine applies the fade
// after the chain) and stops the chain when asked; its compile counts passes.
class TraceBlock : public AudioBlock {
public:
    TraceBlock(const char* name, int position, float gain = 1.0f)
        : AudioBlock(name, nullptr, &TraceBlock::exec, position), gain(gain)
    {}
    bool compile() override
    {
        compiles.fetch_add(1);
        if (onCompile) onCompile();
        if (recordOrder) trace().push_back(std::string("c:") + name);
        return stopCompile;
    }
    static bool exec(AudioBlock* block, AudioFrame frame)
    {
        auto* self = static_cast<TraceBlock*>(block);
        const float g = self->gain;
        for (int c = 0; c < FRAME_CHANNELS; ++c)
            for (int k = 0; k < FRAME_SAMPLES; ++k) frame[c][k] *= g;
        self->processed++;
        if (self->recordOrder) trace().push_back(std::string("x:") + self->name);
        return self->stopChain;
    }
    void resetState() override { resets.fetch_add(1); }
    static std::vector<std::string>& trace()
    {
        static auto* log = new std::vector<std::string>; // the engine's threads outlive exit
        return *log;
    }

    float gain;
    bool stopChain = false;
    bool stopCompile = false;
    bool recordOrder = true;
    void (*onCompile)() = nullptr;
    std::atomic<int> compiles{0};
    std::atomic<int> resets{0};
    int processed = 0;
};
