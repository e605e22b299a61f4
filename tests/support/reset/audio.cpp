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
    static void run() { AudioProcessor::reset(); }
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
