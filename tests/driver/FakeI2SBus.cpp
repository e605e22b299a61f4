#include "FakeI2SBus.h"

#include <algorithm>

namespace {

class MemoryWindow : public RegisterWindow {
public:
    MemoryWindow(FakeI2SBus& bus, uint32_t base, std::map<uint32_t, uint32_t>& memory)
        : bus(bus), base(base), memory(memory)
    {}
    uint32_t read(uint32_t offset) override { return memory[offset]; }
    void write(uint32_t offset, uint32_t value) override
    {
        bus.log.push_back({'W', base, offset, value});
        memory[offset] = value;
    }

private:
    FakeI2SBus& bus;
    uint32_t base;
    std::map<uint32_t, uint32_t>& memory;
};

class PcmWindow : public RegisterWindow {
public:
    explicit PcmWindow(FakeI2SBus& bus) : bus(bus) {}
    uint32_t read(uint32_t offset) override
    {
        if (offset == CM4_I2S::kCsA) return bus.readCs();
        if (offset == CM4_I2S::kFifoA) return bus.readFifo();
        return bus.pcmRegs[offset / 4];
    }
    void write(uint32_t offset, uint32_t value) override
    {
        if (offset != CM4_I2S::kFifoA) bus.log.push_back({'W', CM4_I2S::kPcmBase, offset, value});
        if (offset == CM4_I2S::kCsA) bus.writeCs(value);
        else if (offset == CM4_I2S::kFifoA) bus.writeFifo(value);
        else bus.pcmRegs[offset / 4] = value;
    }

private:
    FakeI2SBus& bus;
};

} // namespace

RegisterWindow* FakeI2SBus::map(uint32_t base, uint32_t length)
{
    log.push_back({'M', base, 0, length});
    if (refuse[base]) return nullptr;
    if (base == CM4_I2S::kGpioBase) windows.push_back(std::make_unique<MemoryWindow>(*this, base, gpio));
    else if (base == CM4_I2S::kClockBase) windows.push_back(std::make_unique<MemoryWindow>(*this, base, clock));
    else if (base == CM4_I2S::kPcmBase) windows.push_back(std::make_unique<PcmWindow>(*this));
    else return nullptr;
    ++openWindows;
    return windows.back().get();
}

void FakeI2SBus::unmap(RegisterWindow* window)
{
    log.push_back({'U', 0, 0, 0});
    auto found = std::find_if(windows.begin(), windows.end(), [&](auto& w) { return w.get() == window; });
    if (found != windows.end()) {
        windows.erase(found);
        --openWindows;
    }
}

void FakeI2SBus::delayUs(uint32_t microseconds)
{
    log.push_back({'D', 0, 0, microseconds});
    delayRemainder += microseconds * 0.048;
    auto periods = uint64_t(delayRemainder);
    delayRemainder -= double(periods);
    advance(periods);
}

void FakeI2SBus::advance(uint64_t periods)
{
    for (uint64_t p = 0; p < periods; ++p) {
        ++samplePeriods;
        const uint32_t cs = pcmRegs[0];
        if (!(cs & kEnable)) continue;
        if (cs & kRxOn) {
            for (int w = 0; w < 2; ++w) {
                uint32_t word = lineIn();
                if (rxFifo.size() >= kFifoWords) {
                    ++rxOverruns;
                    pcmRegs[0] |= kRxErr;
                } else {
                    rxFifo.push_back(word);
                }
            }
        }
        if (cs & kTxOn) {
            for (int w = 0; w < 2; ++w) {
                if (txFifo.empty()) {
                    ++txUnderruns;
                    pcmRegs[0] |= kTxErr;
                    lineOut.push_back(0);
                } else {
                    lineOut.push_back(txFifo.front());
                    txFifo.pop_front();
                }
            }
        }
    }
}

uint32_t FakeI2SBus::readCs() const
{
    uint32_t cs = pcmRegs[0];
    const size_t tx = txFifo.size(), rx = rxFifo.size();
    static const size_t txBelow[4] = {1, kFifoWords / 4, kFifoWords * 3 / 4, kFifoWords - 1};
    static const size_t rxAtLeast[4] = {1, kFifoWords / 4, kFifoWords * 3 / 4, kFifoWords};
    if (tx < txBelow[(cs >> 5) & 3]) cs |= kTxw;
    if (rx >= rxAtLeast[(cs >> 7) & 3]) cs |= kRxr;
    if (tx < kFifoWords) cs |= kTxd;
    if (rx > 0) cs |= kRxd;
    if (tx == 0) cs |= kTxe;
    if (rx == kFifoWords) cs |= kRxf;
    return cs;
}

void FakeI2SBus::writeCs(uint32_t value)
{
    if (value & kTxClear) txFifo.clear();
    if (value & kRxClear) rxFifo.clear();
    // Error flags clear by writing 1; status flags are read-only; the clear bits do not stay set.
    uint32_t errors = pcmRegs[0] & (kTxErr | kRxErr) & ~value;
    uint32_t writable = value & ~(kTxClear | kRxClear | kTxErr | kRxErr | kTxw | kRxr | kTxd | kRxd | kTxe | kRxf);
    pcmRegs[0] = writable | errors;
}

uint32_t FakeI2SBus::readFifo()
{
    if (rxFifo.empty()) {
        ++emptyReads;
        return 0;
    }
    uint32_t word = rxFifo.front();
    rxFifo.pop_front();
    return word;
}

void FakeI2SBus::writeFifo(uint32_t value)
{
    if (txFifo.size() >= kFifoWords) {
        ++fullWrites;
        return;
    }
    txFifo.push_back(value);
}
