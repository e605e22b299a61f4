#include "audio/AudioProcessor.h"

#include "audio/AudioUSB.h"
#include "base/Debug.h"
#include "base/System.h"
#include "driver/Codec.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "porting/Clock.h"
#include "porting/CountMark.h"
#include "porting/Denormals.h"
#include "porting/Log.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kTag = "AudioProcessor";

// The fade, in single precision: 44 frames down (about 14.7 ms) to about 0.0097, held there until
// one compile pass has run, then 43 frames up to about 0.90 and a step to exactly 1.0.
constexpr float kFadeOutStep = 0.9f;
constexpr float kFadeOutEnd = 0.011111111f;
constexpr float kFadeInStep = 1.1111112f;
constexpr float kFadeInEnd = 0.80999994f;
// Where the fade-out stops.
constexpr float kFadeFloor = kFadeOutEnd * kFadeOutStep;

enum FadeState : int {
    FADE_IDLE = 0,
    FADE_OUT = 1,
    FADE_COMPILE = 2,
    FADE_IN = 3,
    // A debounce won the fade and is pausing the compile thread; the audio thread holds the gain
    // until FADE_OUT, so the resume can never overtake the suspend.
    FADE_STARTING = 4,
};

// Changes that keep coming while the quiet pass runs make it run again, this many times at most;
// after that the fade turns down once more for the rest.
constexpr int kQuietPassRepeats = 4;

// Set on "compileLoop" while it runs the quiet pass.
thread_local bool inQuietPass = false;

// Frames count as flowing when the last one ran within this time. Without frames no fade is started
// (nothing would resume the compile thread), and a fade that frames stopped is finished by
// "controlLoop".
constexpr uint64_t kFlowWindowNs = 50000000;

// A burst of silenced frames is logged once; one that begins after this many quiet "controlLoop"
// passes (1 s) is a new burst.
constexpr int kGuardBurstGap = 100;

constexpr float kMeterDecay = 0.995f;
constexpr float kClipLevel = 0.95f;

float toDb(float peak)
{
    return std::clamp(20.0f * std::log10(peak + 1e-7f), -110.0f, 0.0f);
}

void meterChannel(std::atomic<float>& peak, std::atomic<int32_t>& hold, const float* samples)
{
    // One sample per channel per frame is enough for a level display.
    float level = peak.load(std::memory_order_relaxed) * kMeterDecay;
    const float x = std::fabs(samples[0]);
    if (x > level) level = x;
    peak.store(level, std::memory_order_relaxed);
    int32_t count = hold.load(std::memory_order_relaxed);
    if (x >= kClipLevel) count = AudioProcessor::kSaturationHold;
    else if (count > 0) --count;
    hold.store(count, std::memory_order_relaxed);
}

} // namespace

constinit AudioProcessor::Engine AudioProcessor::engine;

void AudioProcessor::reset()
{
    std::destroy_at(&engine);
    std::construct_at(&engine);
}

void AudioProcessor::addBlock(AudioBlock* block, BlockExec exec, int position)
{
    if (!engine.initialized) {
        engine.blocks_start = engine.blocks_end = 0;
        engine.initialized = true;
    }
    if (!block) return;
    if (position == BLOCK_PREPEND) {
        const uint32_t start = (engine.blocks_start - 1) & (kSlots - 1);
        if (start == (engine.blocks_end & (kSlots - 1))) return; // full: one slot always stays free
        engine.blocks[start] = block;
        engine.blocks_dsp[start] = exec;
        engine.blocks_start = start;
    } else if (position == BLOCK_APPEND) {
        const uint32_t end = (engine.blocks_end + 1) & (kSlots - 1);
        if (end == (engine.blocks_start & (kSlots - 1))) return;
        engine.blocks[engine.blocks_end & (kSlots - 1)] = block;
        engine.blocks_dsp[engine.blocks_end & (kSlots - 1)] = exec;
        engine.blocks_end = end;
    }
}

bool AudioProcessor::hasBlock(AudioBlock* block)
{
    if (!block) return false;
    for (uint32_t i = firstSlot(); i != endSlot(); i = nextSlot(i))
        if (engine.blocks[i] == block) return true;
    return false;
}

void AudioProcessor::displayInfo()
{
    int position = 1;
    for (uint32_t i = firstSlot(); i != endSlot(); i = nextSlot(i))
        LOG_I(kTag, "Chain item %d: %s (%p)\n", position++, engine.blocks[i]->getName(),
              static_cast<void*>(engine.blocks[i]));
}

void AudioProcessor::audioInitialize(bool meters)
{
    if (!engine.initialized) {
        LOG_W(kTag, "No audio block loaded\n");
        return;
    }
    if (engine.compiler_handler.load() != 0) return; // the threads run once

    auto* folder =
        new NodeItem(System::systemNode(), meters ? "_meters" : "_disabled_meters", "VU Meters", "", ItemType::VFOLDER);
    engine.lin_meter = new NodeFloat(folder, "_in0", "In 1 Peak", -110.0f, 0.0f, 0.0f, "dB", 0.5f, false);
    engine.rin_meter = new NodeFloat(folder, "_in1", "In 2 Peak", -110.0f, 0.0f, 0.0f, "dB", 0.5f, false);
    engine.lout_meter = new NodeFloat(folder, "_out0", "Out 1 Peak", -110.0f, 0.0f, 0.0f, "dB", 0.5f, false);
    engine.rout_meter = new NodeFloat(folder, "_out1", "Out 2 Peak", -110.0f, 0.0f, 0.0f, "dB", 0.5f, false);

    displayInfo();

    xTaskCreatePinnedToCore(audioLoop, "audioLoop", 4096, nullptr, 59, nullptr, 1);
    xTaskCreatePinnedToCore(controlLoop, "controlLoop", 4096, nullptr, 3, nullptr, 0);
    TaskHandle_t handle = 0;
    if (xTaskCreatePinnedToCore(compileLoop, "compileLoop", 4096, nullptr, 2, &handle, 0) == 0)
        engine.compiler_handler.store(handle, std::memory_order_release);
}

float (*AudioProcessor::getInput())[FRAME_SAMPLES]
{
    return engine.input;
}

float AudioProcessor::meter(int channel, int io)
{
    if (channel < 0 || channel >= FRAME_CHANNELS) return 0.0f;
    if (io == 1) return toDb(engine.in_meter[channel].load(std::memory_order_relaxed));
    if (io == 0) return toDb(engine.out_meter[channel].load(std::memory_order_relaxed));
    return 0.0f;
}

bool AudioProcessor::channelSaturation(int channel, int io)
{
    if (channel < 0 || channel >= FRAME_CHANNELS) return false;
    if (io == 1) return engine.in_saturation[channel].load(std::memory_order_relaxed) > 0;
    if (io == 0) return engine.out_saturation[channel].load(std::memory_order_relaxed) > 0;
    return false;
}

bool AudioProcessor::saturation()
{
    for (int c = 0; c < FRAME_CHANNELS; ++c)
        if (channelSaturation(c, 0) || channelSaturation(c, 1)) return true;
    return false;
}

void AudioProcessor::compileBlocks()
{
    if (engine.lin_meter) {
        engine.lin_meter->setValue(meter(0, 1));
        engine.rin_meter->setValue(meter(1, 1));
        engine.lout_meter->setValue(meter(0, 0));
        engine.rout_meter->setValue(meter(1, 0));
    }
    AudioUSB::compile();
    for (uint32_t i = firstSlot(); i != endSlot(); i = nextSlot(i)) {
        if (engine.blocks[i]->compile()) break;
        // Between two blocks the compile thread holds nothing: a fade may pause it here.
        task_exit_point();
    }
}

void AudioProcessor::setControlTasks(void (*tasks)())
{
    engine.controlTasks.store(tasks);
}

bool AudioProcessor::framesFlowing()
{
    if (engine.frameCount.load(std::memory_order_acquire) == 0) return false;
    // The frame's time first, the clock after: read the other way round, a frame that ends in
    // between is later than "now", and the unsigned difference calls it long gone.
    const uint64_t last = engine.lastFrameNs.load(std::memory_order_acquire);
    return xthal_get_ccount() - last < kFlowWindowNs;
}

void AudioProcessor::setFadePoint(AudioBlock* block)
{
    engine.fadePoint = block;
}

void AudioProcessor::setCompilePeriod(uint32_t microseconds)
{
    engine.compilePeriod.store(microseconds);
}

void AudioProcessor::debounce(Node*)
{
    const TaskHandle_t compiler = engine.compiler_handler.load(std::memory_order_acquire);
    // Before the engine runs nothing is heard. From inside a compile pass the blocks find their own
    // changed structure and ask for the fade themselves (mayRestructure).
    if (compiler == 0 || pthread_equal(compiler, pthread_self())) return;
    // Without frames nothing would end the fade: the normal compile pass applies the change.
    if (!framesFlowing()) return;
    // Counted so that the quiet pass knows a change came while it ran.
    engine.fadeRequests.fetch_add(1, std::memory_order_acq_rel);
    for (;;) {
        int state = engine.compiler_status.load(std::memory_order_acquire);
        // Fading out or at the quiet point: the quiet pass (or its repeat) takes this change.
        if (state != FADE_IDLE && state != FADE_IN) return;
        // Idle, or coming back up: (again) down, with the compile thread paused until the floor.
        if (!engine.compiler_status.compare_exchange_weak(state, FADE_STARTING)) continue;
        // Paused at its next pause point (the top of its loop, or between two blocks), never where
        // it stands: it may hold the allocator's lock, which this thread or the audio thread needs.
        vTaskSuspend(compiler);
        engine.compiler_status.store(FADE_OUT, std::memory_order_release);
        return;
    }
}

void AudioProcessor::requestFade()
{
    for (;;) {
        int state = engine.compiler_status.load(std::memory_order_acquire);
        if (state != FADE_IDLE && state != FADE_IN) return;
        if (engine.compiler_status.compare_exchange_weak(state, FADE_OUT)) return;
    }
}

bool AudioProcessor::mayRestructure()
{
    if (inQuietPass || engine.compiler_handler.load(std::memory_order_acquire) == 0 || !framesFlowing()) return true;
    requestFade();
    return false;
}

void AudioProcessor::resumeStalledFade()
{
    if (engine.compiler_status.load(std::memory_order_acquire) != FADE_OUT || framesFlowing()) return;
    int expected = FADE_OUT;
    if (!engine.compiler_status.compare_exchange_strong(expected, FADE_COMPILE)) return;
    // Nothing is heard without frames, so the gain may drop to the floor at once: the quiet pass is
    // then quiet, and frames that come back start low and come up with the fade.
    engine.debounceVolume.store(kFadeFloor, std::memory_order_relaxed);
    engine.fadeStart.store(kFadeFloor, std::memory_order_relaxed);
    vTaskResume(engine.compiler_handler.load());
}

void AudioProcessor::fadeStep()
{
    const float old = engine.debounceVolume.load(std::memory_order_relaxed);
    engine.fadeStart.store(old, std::memory_order_relaxed);
    switch (engine.compiler_status.load(std::memory_order_acquire)) {
    case FADE_OUT:
        engine.debounceVolume.store(old * kFadeOutStep, std::memory_order_relaxed);
        if (old < kFadeOutEnd) {
            int expected = FADE_OUT;
            if (engine.compiler_status.compare_exchange_strong(expected, FADE_COMPILE))
                vTaskResume(engine.compiler_handler.load());
        }
        break;
    case FADE_IN:
        // Never above 1: a fade that "controlLoop" finished while frames had stopped comes back up
        // from where the gain was then.
        engine.debounceVolume.store(std::min(old * kFadeInStep, 1.0f), std::memory_order_relaxed);
        if (old > kFadeInEnd) engine.compiler_status.store(FADE_IDLE, std::memory_order_release);
        break;
    case FADE_IDLE: engine.debounceVolume.store(1.0f, std::memory_order_relaxed); break;
    default: break; // held: at the quiet point, or while a debounce pauses the compile thread
    }
}

void AudioProcessor::applyFade(AudioFrame frame)
{
    float start, increment;
    getFadeRamp(start, increment);
    if (start == 1.0f && increment == 0.0f) return;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float g = start + increment * float(k + 1);
        frame[0][k] *= g;
        frame[1][k] *= g;
    }
}

bool AudioProcessor::outOfBounds(AudioFrame frame)
{
    // One integer maximum over the frame: with the sign masked, a float's bits order as its
    // magnitude does, and infinity and every NaN rank above the largest finite value.
    uint32_t largest = 0;
    for (int c = 0; c < FRAME_CHANNELS; ++c)
        for (int k = 0; k < FRAME_SAMPLES; ++k)
            largest = std::max(largest, std::bit_cast<uint32_t>(frame[c][k]) & 0x7fffffffu);
    return largest > std::bit_cast<uint32_t>(kGuardLimit);
}

void AudioProcessor::silenceAndReset(AudioFrame frame)
{
    std::memset(frame, 0, sizeof(float) * FRAME_CHANNELS * FRAME_SAMPLES);
    for (uint32_t i = firstSlot(); i != endSlot(); i = nextSlot(i)) engine.blocks[i]->resetState();
    engine.guardTrips.fetch_add(1, std::memory_order_relaxed);
}

void AudioProcessor::reportGuard()
{
    const uint32_t trips = engine.guardTrips.load(std::memory_order_relaxed);
    if (trips == engine.guardLogged) {
        if (engine.guardQuietPasses < kGuardBurstGap) ++engine.guardQuietPasses;
        return;
    }
    if (engine.guardLogged == 0 || engine.guardQuietPasses >= kGuardBurstGap)
        LOG_E(kTag, "Output not finite or beyond %+.0f dBFS: frame silenced, every block reset (%u frames so far)\n",
              20.0 * std::log10(double(kGuardLimit)), unsigned(trips));
    engine.guardLogged = trips;
    engine.guardQuietPasses = 0;
}

void AudioProcessor::processFrame()
{
    Debug::cycle_start();
    count_mark_frame();
    AudioFrame frame = Codec::getAudio();
    std::memcpy(engine.input, frame, sizeof engine.input);
    AudioUSB::read(frame);
    meterChannel(engine.in_meter[0], engine.in_saturation[0], frame[0]);
    meterChannel(engine.in_meter[1], engine.in_saturation[1], frame[1]);

    bool faded = false;
    for (uint32_t i = firstSlot(); i != endSlot();) {
        if (engine.blocks[i] == engine.fadePoint) {
            applyFade(frame);
            faded = true;
        }
        count_mark_block();
        const bool stop = engine.blocks_dsp[i](engine.blocks[i], frame);
        count_mark_road();
        i = nextSlot(i);
        if (stop) break;
    }
    if (!faded) applyFade(frame);
    if (outOfBounds(frame)) silenceAndReset(frame);
    fadeStep();
    AudioUSB::write(frame);
    meterChannel(engine.out_meter[0], engine.out_saturation[0], frame[0]);
    meterChannel(engine.out_meter[1], engine.out_saturation[1], frame[1]);
    Debug::cycle_measure();
    Codec::audioWrite(1.0f);
    engine.lastFrameNs.store(xthal_get_ccount(), std::memory_order_release);
    engine.frameCount.fetch_add(1, std::memory_order_release);
}

void AudioProcessor::processBlock()
{
    if (Codec::audioRead(1.0f)) processFrame();
}

void* AudioProcessor::audioLoop(void*)
{
    for (int c = 0; c < FRAME_CHANNELS; ++c) {
        engine.in_meter[c].store(0.0f);
        engine.out_meter[c].store(0.0f);
        engine.in_saturation[c].store(0);
        engine.out_saturation[c].store(0);
    }
    while (!Codec::getActiveCodec()) vTaskDelay(10000);
    flush_denormals();
    if (Codec::getActiveCodec()->start(processBlock)) return nullptr; // the codec drives the engine
    // The codec gives the processor away while its FIFO is not ready: this loop never sleeps.
    for (;;) processBlock();
}

void* AudioProcessor::controlLoop(void*)
{
    for (;;) {
        if (void (*tasks)() = engine.controlTasks.load()) tasks();
        resumeStalledFade();
        reportGuard();
        vTaskDelay(10000);
    }
}

void AudioProcessor::quietPass()
{
    // A change that comes while the pass runs may have been read by one block and not by another:
    // the pass runs again while the gain is still held at the floor.
    uint32_t seen;
    int runs = 0;
    inQuietPass = true;
    do {
        seen = engine.fadeRequests.load(std::memory_order_acquire);
        compileBlocks();
        engine.compilePasses.fetch_add(1, std::memory_order_release);
    } while (engine.fadeRequests.load(std::memory_order_acquire) != seen && ++runs < kQuietPassRepeats);
    inQuietPass = false;
    int expected = FADE_COMPILE;
    // One more, after the fade-in has begun: down again, so that the next quiet pass takes it.
    if (engine.compiler_status.compare_exchange_strong(expected, FADE_IN) &&
        engine.fadeRequests.load(std::memory_order_acquire) != seen)
        requestFade();
}

void* AudioProcessor::compileLoop(void*)
{
    for (;;) {
        const int state = engine.compiler_status.load(std::memory_order_acquire);
        if (state == FADE_COMPILE) {
            quietPass();
        } else if (state != FADE_OUT && state != FADE_STARTING) {
            // Fading out toward a quiet pass, nothing is handed over before it: this thread is
            // paused there (its delay is a pause point), unless a block of its own asked for the fade.
            compileBlocks();
            engine.compilePasses.fetch_add(1, std::memory_order_release);
        }
        vTaskDelay(engine.compilePeriod.load(std::memory_order_relaxed));
    }
}
