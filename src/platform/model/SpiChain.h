#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// A model of the panel's shift-register chain on its spidev node, which tests (and host tools) set
// and watch: the host build's SPI bus, and the tests' on either target (see ModelNodes). Every spidev
// path opens the same chain. It answers the spidev requests the driver makes (the mode requests and
// one-transfer full-duplex messages) with the kernel's results and errno values. Each transfer shifts the frame's
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

    // The node's calls (ModelNodes). open() gives a real descriptor that aliases no other file.
    static int open();
    static bool owns(int fd);
    static int ioctl(int fd, unsigned long request, void* argument);
    static int close(int fd);
};
