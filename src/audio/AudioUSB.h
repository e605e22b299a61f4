#pragma once
#include "audio/AudioBlock.h"

#include <atomic>
#include <cstdint>

class NodeEnum;
class NodeFloat;

// USB gadget audio: while the USB device controller reports "configured" and the gadget's ALSA
// streams are open, every processed frame goes to the host and the host's playback comes back into
// the frame, replacing the unit's output ("STANDARD") or mixed into it ("MONITOR") at the host's
// volume to the fourth power. Otherwise the frame is left as the chain made it.
//
// Threads: write (and read) on "audioLoop"; compile on "compileLoop" (every pass, after the meter
// nodes); device_task is the thread "AudioUSB" that polls the controller every 2 s.
class AudioUSB {
public:
    // Once, by the program entry, before AudioProcessor::audioInitialize: root\usb with "mode",
    // "_status" and "_volume", and the thread "AudioUSB".
    static void initialize();
    static void* device_task(void*);
    // One poll of the device controller's state file (what device_task does every 2 s).
    static void pollController();
    static void read(AudioFrame frame);
    static void write(AudioFrame frame);
    static void compile();
    static bool isActive() { return initialized.load() && active.load(); }
    static void dump_info();

    static std::atomic<bool> initialized;
    static std::atomic<bool> active;
    static int32_t rawUsbData[2 * FRAME_SAMPLES];
    static std::atomic<float> data_volume[2];
    static std::atomic<int> stream_mode;
    static NodeEnum* mode;
    static NodeEnum* conn;
    static NodeFloat* vol_status;
};
