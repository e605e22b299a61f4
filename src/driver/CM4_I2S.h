#pragma once
#include "driver/CodecInterface.h"
#include "driver/RegisterBus.h"

#include <cstdint>

// The BCM2711's PCM/I2S block as clock and frame master at 48000 Hz, two 32-bit slots per frame.
// A frame is one fill of the FIFOs: 32 words (16 stereo pairs) each way.
//
// initialize (board start) routes GPIO 18-21 to the block; start ("audioLoop") programs the clock
// manager and the block; audioRead/audioWrite ("audioLoop") poll the FIFO flags, giving the
// processor away between polls so that the SCHED_FIFO audio thread never sleeps.
class CM4_I2S : public CodecInterface {
public:
    // Physical bases and offsets (bytes).
    static constexpr uint32_t kGpioBase = 0xfe200000, kGpioLength = 256;
    static constexpr uint32_t kGpfsel1 = 0x04, kGpfsel2 = 0x08;
    static constexpr uint32_t kClockBase = 0xfe101000, kClockLength = 512;
    static constexpr uint32_t kCmPcmCtl = 0x98, kCmPcmDiv = 0x9c;
    static constexpr uint32_t kPcmBase = 0xfe203000, kPcmLength = 24;
    static constexpr uint32_t kCsA = 0x00, kFifoA = 0x04, kModeA = 0x08, kRxcA = 0x0c, kTxcA = 0x10;
    // CS_A status bits.
    static constexpr uint32_t kCsTxw = 0x20000; // TX FIFO needs writing
    static constexpr uint32_t kCsRxr = 0x40000; // RX FIFO needs reading
    static constexpr int kWords = 32;

    explicit CM4_I2S(RegisterBus& bus);
    ~CM4_I2S() override;

    bool initialize() override;
    bool configure_i2s_pins() { return initialize(); }
    bool start(void (*process)()) override;
    bool audioRead(float gain) override;
    bool audioWrite(float gain) override;
    void setInputGain(int, int) override {}

    // The codec hands the first word of each received pair to the second channel.
    bool swapRead = true;
    bool swapWrite = false;
    int32_t raw[kWords] = {};

private:
    RegisterBus& bus;
    RegisterWindow* pcm = nullptr;
};
