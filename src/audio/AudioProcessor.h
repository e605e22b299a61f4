#pragma once
#include "audio/AudioBlock.h"
#include "porting/Task.h"

#include <atomic>
#include <cstdint>

class Node;
class NodeFloat;

// The engine: the chain of effect blocks (a ring of 32 slots, at most 31 blocks, filled during
// start-up by the blocks' constructors), its three threads and the fade that hides structural changes.
//
// Threads, created by audioInitialize:
//   "audioLoop" (SCHED_FIFO 59, CPU 3): one pass of the frame road per codec frame: dry copy, input
//       meters, the chain in place, one fade step, the USB exchange, output meters, the codec;
//   "compileLoop" (nice -2): every 10 ms the meter nodes, AudioUSB::compile and each block's compile;
//   "controlLoop" (nice -3): every 10 ms the control sources.
//
// The fade: debounce (the change callback of structural nodes, any thread) pauses the compile thread
// and starts the fade-out; the audio thread multiplies the fade gain by 0.9 per frame and, once it is
// below 0.011111111, resumes the compile thread, which recompiles every block once (the quiet pass);
// the gain then grows by 1.1111112 per frame back to 1.0. The pause is cooperative: the compile thread
// stops only at the top of its loop or between two blocks, where it holds nothing, and the audio
// thread only releases it, never waits for it.
//
// The fade is applied once, by the engine, to the frame the chain has made (moving in a straight line
// across each frame): after the last block, or as it reaches the fade point (the output mixer, whose
// auxiliary input passes beside the chain). The quiet point is then quiet for the whole chain,
// repeats and tails included.
// Blocks that record their input (delay lines, reverb, chorus) multiply what they write by the same
// ramp (getFadeRamp), so that nothing they replay later holds a change heard at full level.
//
// The output guard: where the chain's signal leaves (after the last block and the fade, before USB
// and the codec), a frame holding a sample that is not finite or beyond kGuardLimit goes out silent and
// every block's resetState clears what it recorded of the signal, so that a fault (a broken impulse
// response or model, an overflow) is one silent frame instead of NaN until restart. The audio thread
// only counts; "controlLoop" logs the first frame of each burst.
//
// Structural settings (switches, modes, selections) reach the audio only in the quiet pass: a
// block's compile keeps the ones the audio has and takes new ones only when mayRestructure() says
// so; otherwise mayRestructure asks for a fade itself. A pass that a change overtook therefore never
// hands it over early, and a change that arrives while a fade comes back up turns it down again.
class AudioProcessor {
public:
    static constexpr int kSlots = 32;
    // Peak hold of a clip, in frames (about 133 ms).
    static constexpr int kSaturationHold = 400;
    // The output guard's bound, +580 dBFS. A full-scale input through every block at the ends of its
    // knobs comes out at +512 dBFS at most, adding each block's largest steady gain in dB: input gain
    // and trim 17.5, pickup response 21.2, expression boost and wah 48.8, compressor voicing, tone
    // and make-up 40.1, each modulation 20 (a feedback of 0.9 against a dry/wet kept at one power),
    // each amp-model player without a model 53 (gain 20, tone 15, level 18; a model's output is held
    // to +20 dBFS, +26 once centred by the DC cut, and its adjustment to +50 dB, so with one it gives
    // 109 whatever comes in), cabinet
    // 86 (two responses of at most +60 dB, each at +20 dB), equaliser 22.8, delay 66 (feedback 0.999
    // around two lines, both panned to one side), reverb 43.7 (a 30-s decay) and output level 20.
    // The 68 dB above that cover a transient's overshoot of those steady gains; the bound stays 190
    // dB below where a float overflows, so that no block behind a frame that passed can overflow.
    static constexpr float kGuardLimit = 1e29f;

    static void addBlock(AudioBlock* block, BlockExec exec, int position);
    // Once, after every block exists: meter nodes (under root\sys "_meters", or "_disabled_meters"
    // when `meters` is false), the chain log and the three threads.
    static void audioInitialize(bool meters);
    static void compileBlocks();
    static void* audioLoop(void*);
    static void* controlLoop(void*);
    static void* compileLoop(void*);
    // For a codec that drives the engine by callback: one frame when the codec has one.
    static void processBlock();

    // The dry copy of the current input frame.
    static float (*getInput())[FRAME_SAMPLES];
    static float getDebounceVolume() { return engine.debounceVolume.load(std::memory_order_relaxed); }
    // Audio thread: the fade gain across the current frame, sample k (0..15) getting
    // start + increment * (k + 1): from the gain of the frame before to getDebounceVolume().
    static void getFadeRamp(float& start, float& increment)
    {
        start = engine.fadeStart.load(std::memory_order_relaxed);
        increment = (engine.debounceVolume.load(std::memory_order_relaxed) - start) * (1.0f / FRAME_SAMPLES);
    }
    // Peak in dB (-110..0) of channel 0/1, io 1 = input, 0 = output; 0 for another channel or io.
    static float meter(int channel, int io);
    static bool channelSaturation(int channel, int io);
    static bool saturation();
    static bool isInitialized() { return engine.initialized; }
    static bool hasBlock(AudioBlock* block);
    static void displayInfo();

    // The change callback of structural nodes (the node is not looked at).
    static void debounce(Node* node);
    // Compile thread, from a block's compile: may a structural setting that differs from what the
    // audio has be handed over now? True in the quiet pass, and whenever no audio could hear it (the
    // engine not started, no frames flowing). Otherwise it asks for a fade and answers false: the
    // block keeps its old setting and takes the new one in the quiet pass.
    static bool mayRestructure();
    static int getCompilerStatus() { return engine.compiler_status.load(std::memory_order_acquire); }
    // Completed compile passes, and frames run, since the start.
    static uint32_t getCompilePasses() { return engine.compilePasses.load(std::memory_order_acquire); }
    static uint32_t getFrameCount() { return engine.frameCount.load(std::memory_order_acquire); }
    // Frames the output guard has silenced since the start.
    static uint32_t getGuardTrips() { return engine.guardTrips.load(std::memory_order_relaxed); }

    // What "controlLoop" runs every 10 ms (the control sources' tasks).
    static void setControlTasks(void (*tasks)());
    // Start-up: the block before which the fade is applied (null: after the last block).
    static void setFadePoint(AudioBlock* block);
    // The sleep of "compileLoop" between passes (10 ms). Tests that drive frames faster than real
    // time shorten it, to keep the unit's ratio of frames to compile passes.
    static void setCompilePeriod(uint32_t microseconds);

private:
    // Test programs put the engine back between tests once its threads have ended.
    template <class>
    friend struct TestReset;

    static void processFrame();
    static void fadeStep();
    static void applyFade(AudioFrame frame);
    static bool framesFlowing();
    static void resumeStalledFade();
    // Starts a fade-out (or turns a fade-in back down) without pausing the compile thread.
    static void requestFade();
    static void quietPass();
    // The output guard (audio thread), and its log line ("controlLoop").
    static bool outOfBounds(AudioFrame frame);
    static void silenceAndReset(AudioFrame frame);
    static void reportGuard();

    // Everything the engine keeps, with the values a fresh process starts from.
    struct Engine {
        AudioBlock* blocks[kSlots] = {};
        BlockExec blocks_dsp[kSlots] = {};
        uint32_t blocks_start = 0;
        uint32_t blocks_end = 0;
        bool initialized = false;
        float input[FRAME_CHANNELS][FRAME_SAMPLES] = {};
        std::atomic<float> in_meter[FRAME_CHANNELS] = {};
        std::atomic<float> out_meter[FRAME_CHANNELS] = {};
        std::atomic<int32_t> in_saturation[FRAME_CHANNELS] = {};
        std::atomic<int32_t> out_saturation[FRAME_CHANNELS] = {};
        NodeFloat* lin_meter = nullptr;
        NodeFloat* rin_meter = nullptr;
        NodeFloat* lout_meter = nullptr;
        NodeFloat* rout_meter = nullptr;
        std::atomic<float> debounceVolume{1.0f};
        std::atomic<float> fadeStart{1.0f}; // the gain of the frame before
        std::atomic<uint32_t> fadeRequests{0}; // debounce calls that may start a fade
        std::atomic<uint32_t> compilePeriod{10000};
        AudioBlock* fadePoint = nullptr;
        std::atomic<int> compiler_status{0};
        std::atomic<TaskHandle_t> compiler_handler{0};
        std::atomic<uint32_t> compilePasses{0};
        std::atomic<uint32_t> frameCount{0};
        std::atomic<uint64_t> lastFrameNs{0};
        std::atomic<void (*)()> controlTasks{nullptr};
        std::atomic<uint32_t> guardTrips{0};
        uint32_t guardLogged = 0; // "controlLoop": the trips it has seen
        int guardQuietPasses = 0; // "controlLoop": its passes since the last trip
    };
    static Engine engine;
    // The chain's slots in ring order: from firstSlot() up to, not including, endSlot().
    static uint32_t firstSlot() { return engine.blocks_start & (kSlots - 1); }
    static uint32_t endSlot() { return engine.blocks_end & (kSlots - 1); }
    static uint32_t nextSlot(uint32_t i) { return (i + 1) & (kSlots - 1); }
    // Back to a fresh process's engine; only once its threads have ended (test programs, between tests).
    static void reset();
};
