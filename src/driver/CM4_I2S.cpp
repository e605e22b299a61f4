#include "driver/CM4_I2S.h"

#include "driver/Codec.h"
#include "porting/Log.h"

namespace {

// Full scale on the wire is 2^31; the clamp keeps 1024 below it so that the added LSB (and the
// float rounding near 2^31) never wraps a word.
constexpr float kToWord = 2147483648.0f;
constexpr float kFromWord = 1.0f / 2147483648.0f;
constexpr float kWordLimit = 2147482624.0f;

} // namespace

CM4_I2S::CM4_I2S(RegisterBus& bus) : CodecInterface("CM4_I2S"), bus(bus) {}

CM4_I2S::~CM4_I2S()
{
    if (pcm) {
        pcm->write(kCsA, 0);
        bus.unmap(pcm);
    }
}

bool CM4_I2S::initialize()
{
    RegisterWindow* gpio = bus.map(kGpioBase, kGpioLength);
    if (!gpio) {
        LOG_E(name, "Failed to map GPIO\n");
        return false;
    }
    // Pins 18..21 to alternate function 0 (PCM_CLK, PCM_FS, PCM_DIN, PCM_DOUT).
    gpio->write(kGpfsel1, (gpio->read(kGpfsel1) & 0xc0ffffff) | 0x24000000);
    gpio->write(kGpfsel2, (gpio->read(kGpfsel2) & ~0x3fu) | 0x24);
    bus.unmap(gpio);
    LOG_I(name, "GPIO 18-21 configured for PCM (ALT0)\n");
    return true;
}

bool CM4_I2S::start(void (*)())
{
    RegisterWindow* clock = bus.map(kClockBase, kClockLength);
    if (!clock) return true;
    // PLLD (750 MHz) / 244.140625 = 3.072 MHz = 64 bit clocks per frame at 48 kHz.
    clock->write(kCmPcmDiv, 0x5a0f4240);
    bus.delayUs(10);
    clock->write(kCmPcmCtl, 0x5a000206); // password, MASH 1, source PLLD
    bus.delayUs(10);
    uint32_t control = clock->read(kCmPcmCtl);
    bus.delayUs(10);
    clock->write(kCmPcmCtl, control | 0x5a000010); // enable
    bus.unmap(clock);
    LOG_I("I2S-RPI", "Clock configured\n");

    RegisterWindow* block = bus.map(kPcmBase, kPcmLength);
    if (!block) return true;
    block->write(kCsA, 0);
    bus.delayUs(10);
    block->write(kCsA, block->read(kCsA) | 0x138); // clear both FIFOs, TX threshold 01, RX threshold 10
    bus.delayUs(10);
    block->write(kTxcA, 0xc018c218); // both channels, 32 bits, at bit 1 and bit 33
    block->write(kRxcA, 0xc018c218);
    block->write(kModeA, 0x0050fc20); // FS length 32, frame 64, FS and clock inverted, master
    block->write(kCsA, block->read(kCsA) | 0x02000000); // standby off
    bus.delayUs(100);
    block->write(kCsA, block->read(kCsA) | 0x1); // enable
    bus.delayUs(100);
    block->write(kCsA, block->read(kCsA) | 0x00800006); // RX sign extension, TX on, RX on
    pcm = block;
    LOG_I("I2S-RPI", "Codec configured\n");
    return false;
}

bool CM4_I2S::audioRead(float gain)
{
    if (!pcm || !(pcm->read(kCsA) & kCsRxr)) {
        bus.yield();
        return false;
    }
    uint32_t words[kWords];
    for (uint32_t& word : words) word = pcm->read(kFifoA);
    // The codec delivers inverted samples; negation wraps, so 0x80000000 stays the negative limit.
    const int pair = swapRead ? 1 : 0;
    for (int i = 0; i < kWords; ++i) raw[i ^ pair] = int32_t(0u - words[i]);
    const float scale = gain * kFromWord;
    float(*frame)[Codec::kFrameSamples] = Codec::getAudio();
    for (int k = 0; k < Codec::kFrameSamples; ++k) {
        frame[0][k] = float(raw[2 * k]) * scale;
        frame[1][k] = float(raw[2 * k + 1]) * scale;
    }
    return true;
}

bool CM4_I2S::audioWrite(float gain)
{
    if (!pcm) return false;
    while (!(pcm->read(kCsA) & kCsTxw)) bus.yield();
    const float scale = gain * kToWord;
    float(*frame)[Codec::kFrameSamples] = Codec::getAudio();
    for (int c = 0; c < Codec::kChannels; ++c) {
        for (int k = 0; k < Codec::kFrameSamples; ++k) {
            float v = frame[c][k] * scale;
            float clamped = v < -kWordLimit ? -kWordLimit : v;
            clamped = clamped > kWordLimit ? kWordLimit : clamped;
            // A NaN (a block gone unstable) must not become a full-scale word: write silence.
            raw[2 * k + c] = int32_t(v == v ? clamped : 0.0f);
        }
    }
    const int pair = swapWrite ? 1 : 0;
    for (int i = 0; i < kWords; ++i) pcm->write(kFifoA, uint32_t(raw[i ^ pair]) + 1u);
    return true;
}
