// The audio engine as a fresh process finds it: no block in the chain, no meters, threads not
// started (they ended with the test), no fade, the ALSA layer on libasound with its default devices
// and no stream, USB audio not initialised.
#include "audio/Alsa.h"
#include "audio/AudioProcessor.h"
#include "audio/AudioUSB.h"
#include "support/ResetAccess.h"
#include "support/ResetHooks.h"

template <>
struct TestReset<AudioProcessor> {
    static void run()
    {
        AudioProcessor::blocks_start = AudioProcessor::blocks_end = 0;
        AudioProcessor::initialized = false;
        for (int c = 0; c < FRAME_CHANNELS; ++c) {
            AudioProcessor::in_meter[c].store(0.0f);
            AudioProcessor::out_meter[c].store(0.0f);
            AudioProcessor::in_saturation[c].store(0);
            AudioProcessor::out_saturation[c].store(0);
        }
        AudioProcessor::lin_meter = AudioProcessor::rin_meter = nullptr;
        AudioProcessor::lout_meter = AudioProcessor::rout_meter = nullptr;
        AudioProcessor::debounceVolume.store(1.0f);
        AudioProcessor::fadeStart.store(1.0f);
        AudioProcessor::fadeRequests.store(0);
        AudioProcessor::compilePeriod.store(10000);
        AudioProcessor::fadePoint = nullptr;
        AudioProcessor::compiler_status.store(0);
        AudioProcessor::compiler_handler.store(0);
        AudioProcessor::compilePasses.store(0);
        AudioProcessor::frameCount.store(0);
        AudioProcessor::lastFrameNs.store(0);
        AudioProcessor::controlTasks.store(nullptr);
    }
};

static ResetHook audioReset([] {
    TestReset<AudioProcessor>::run();
    alsa_set_backend(nullptr);
    alsa_set_devices(AlsaDevices{});
    AudioUSB::initialized.store(false);
    AudioUSB::active.store(false);
    AudioUSB::stream_mode.store(0);
    AudioUSB::mode = AudioUSB::conn = nullptr;
    AudioUSB::vol_status = nullptr;
});
