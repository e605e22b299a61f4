#pragma once
#include "driver/CodecInterface.h"

#include <atomic>
#include <vector>

// The registry of audio devices and the frame they share with the engine.
//
// Codec::initialize runs once at board start ("eventTasks"): it registers the board's codec (the
// I2S block on the unit, the host codec in the host build) and probes. "audioLoop" polls
// getActiveCodec until a device is active, then moves one frame per audioRead/audioWrite.
class Codec {
public:
    static constexpr int kChannels = 2;
    static constexpr int kFrameSamples = 16;
    static constexpr int kSampleRate = 48000;

    // Registers the board's codec unless already registered, then search().
    static void initialize();
    // Appends a device unless it is null or already registered.
    static void addInterface(CodecInterface* iface);
    // Called by a device's destructor; the board's codec lives for the whole process.
    static void removeInterface(CodecInterface* iface);
    // Probes the registered devices in order; the first whose initialize() succeeds becomes active.
    static void search();

    static CodecInterface* getActiveCodec() { return active_codec.load(std::memory_order_acquire); }
    // The frame: channel 0 samples 0..15, then channel 1, full scale +-1.0.
    static float (*getAudio())[kFrameSamples] { return data; }

    // Forward to the active device; false while none is active.
    static bool audioRead(float gain);
    static bool audioWrite(float gain);

    static float data[kChannels][kFrameSamples];

private:
    // Test programs put the registry back between tests.
    template <class>
    friend struct TestReset;

    // The board's own codec, created once: the I2S block on the unit, the host codec elsewhere.
    static CodecInterface* createBoardCodec();

    static CodecInterface* board;
    static std::vector<CodecInterface*> ifaces;
    static std::atomic<CodecInterface*> active_codec;
};
