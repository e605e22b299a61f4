#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The host build's SPI bus: an in-memory model of the panel's shift-register chain that tests (and
// host tools) set and watch. Every bus path opens the same chain. Each transfer shifts the frame's
// bytes out (recorded, the latest kMaxRecorded frames) and shifts in the input bytes set here
// (zeros beyond them). A paced chain takes each transfer as long as the wire would (bytes x 8 / speed
// seconds, back to back without drift), so the program sees the unit's frame rate; an unpaced chain
// answers at once. Callable from any thread.
class SpiChain {
public:
    static constexpr size_t kMaxRecorded = 1 << 16;

    // Bus present, paced, inputs zero, nothing recorded, no faults, mode 0.
    static void reset();
    // Opening the bus fails with ENOENT when absent.
    static void setPresent(bool present);
    // The mode requests fail with EINVAL.
    static void setModeFailure(bool fail);
    // Transfers fail with EIO.
    static void setTransferFailure(bool fail);
    static void setPaced(bool paced);
    // The bytes the chain shifts in from now on (input byte 0 first).
    static void setInputs(const std::vector<uint8_t>& bytes);

    // The mode last written.
    static uint8_t mode();
    // The clock rate of the latest transfer, Hz.
    static uint32_t speed();
    // Transfers done since the start (failed ones not counted).
    static uint64_t transfers();
    // The frames shifted out since the last take, oldest first (at most kMaxRecorded).
    static std::vector<std::vector<uint8_t>> takeSent();
};
