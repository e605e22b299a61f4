#pragma once
#include "driver/CM4_I2S.h"
#include "driver/RegisterBus.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// A model of the BCM2711 PCM block, its clock manager and GPIO function registers, for the I2S
// driver's tests. The PCM block has the block's two 64-word FIFOs, its threshold flags (TXW, RXR),
// the self-clearing FIFO-clear bits and the error flags; time passes only when the driver waits
// (yield: one sample period, delayUs: that many microseconds at 48 kHz), and each sample period the
// line moves one stereo pair into the RX FIFO and one out of the TX FIFO once the block runs.
class FakeI2SBus : public RegisterBus {
public:
    struct Access {
        char kind; // 'W' write, 'D' delay, 'M' map, 'U' unmap
        uint32_t base;
        uint32_t offset;
        uint32_t value;
        bool operator==(const Access&) const = default;
    };

    static constexpr uint32_t kEnable = 1u << 0, kRxOn = 1u << 1, kTxOn = 1u << 2;
    static constexpr uint32_t kTxClear = 1u << 3, kRxClear = 1u << 4;
    static constexpr uint32_t kTxErr = 1u << 15, kRxErr = 1u << 16;
    static constexpr uint32_t kTxw = 1u << 17, kRxr = 1u << 18, kTxd = 1u << 19, kRxd = 1u << 20;
    static constexpr uint32_t kTxe = 1u << 21, kRxf = 1u << 22;
    static constexpr size_t kFifoWords = 64;

    std::vector<Access> log;
    std::map<uint32_t, bool> refuse; // base -> map() fails
    std::map<uint32_t, uint32_t> gpio; // offset -> value
    std::map<uint32_t, uint32_t> clock; // offset -> value
    uint32_t pcmRegs[6] = {};
    std::deque<uint32_t> rxFifo, txFifo;
    // The line: words that arrive (in order: first word of each pair, then the second) and words sent.
    std::function<uint32_t()> lineIn = [] { return 0u; };
    std::vector<uint32_t> lineOut;
    uint64_t samplePeriods = 0;
    int rxOverruns = 0, txUnderruns = 0, emptyReads = 0, fullWrites = 0;
    int openWindows = 0;

    RegisterWindow* map(uint32_t base, uint32_t length) override;
    void unmap(RegisterWindow* window) override;
    void delayUs(uint32_t microseconds) override;
    void yield() override { advance(1); }

    void advance(uint64_t periods);
    uint32_t readCs() const;
    void writeCs(uint32_t value);
    uint32_t readFifo();
    void writeFifo(uint32_t value);

private:
    std::vector<std::unique_ptr<RegisterWindow>> windows;
    double delayRemainder = 0.0;
};
