#include "platform/model/SpiChain.h"

#include "platform/model/ModelNodes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Chain {
    bool present = true;
    bool modeFailure = false;
    bool transferFailure = false;
    bool paced = true;
    uint8_t mode = 0;
    uint32_t speed = 0;
    uint64_t transfers = 0;
    std::vector<uint8_t> inputs;
    std::deque<std::vector<uint8_t>> sent;
    std::set<int> open;
    // When the wire is free again: frames follow each other without drift even when one sleep
    // overshoots, and an idle wire gives no credit.
    Clock::time_point wireFree{};
};

std::mutex mutex;
Chain& chain()
{
    // Never destroyed: the SPI thread may still be transferring while the process exits.
    static Chain* instance = new Chain;
    return *instance;
}

bool isOpen(int fd)
{
    return chain().open.count(fd) != 0;
}

} // namespace

void SpiChain::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    Chain& c = chain();
    std::set<int> keep = std::move(c.open);
    c = Chain();
    c.open = std::move(keep);
}

void SpiChain::setPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex);
    chain().present = present;
}

void SpiChain::setModeFailure(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex);
    chain().modeFailure = fail;
}

void SpiChain::setTransferFailure(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex);
    chain().transferFailure = fail;
}

void SpiChain::setPaced(bool paced)
{
    std::lock_guard<std::mutex> lock(mutex);
    chain().paced = paced;
}

void SpiChain::setInputs(const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    chain().inputs = bytes;
}

uint8_t SpiChain::mode()
{
    std::lock_guard<std::mutex> lock(mutex);
    return chain().mode;
}

uint32_t SpiChain::speed()
{
    std::lock_guard<std::mutex> lock(mutex);
    return chain().speed;
}

uint64_t SpiChain::transfers()
{
    std::lock_guard<std::mutex> lock(mutex);
    return chain().transfers;
}

std::vector<std::vector<uint8_t>> SpiChain::takeSent()
{
    std::lock_guard<std::mutex> lock(mutex);
    Chain& c = chain();
    std::vector<std::vector<uint8_t>> frames(std::make_move_iterator(c.sent.begin()),
                                             std::make_move_iterator(c.sent.end()));
    c.sent.clear();
    return frames;
}

int SpiChain::open()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!chain().present) {
        errno = ENOENT;
        return -1;
    }
    // A real descriptor, so that it can never alias another open file of the program.
    int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd >= 0) chain().open.insert(fd);
    return fd;
}

namespace {

int writeMode(int fd, uint8_t mode)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!isOpen(fd)) {
        errno = EBADF;
        return -1;
    }
    if (chain().modeFailure || mode > 3) {
        errno = EINVAL;
        return -1;
    }
    chain().mode = mode;
    return 0;
}

int readMode(int fd, uint8_t* mode)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!isOpen(fd)) {
        errno = EBADF;
        return -1;
    }
    if (chain().modeFailure || !mode) {
        errno = EINVAL;
        return -1;
    }
    *mode = chain().mode;
    return 0;
}

int transfer(int fd, const spi_ioc_transfer* message)
{
    Clock::time_point done;
    bool paced;
    int length;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Chain& c = chain();
        if (!isOpen(fd)) {
            errno = EBADF;
            return -1;
        }
        if (c.transferFailure || !message || message->len == 0) {
            errno = c.transferFailure ? EIO : EINVAL;
            return -1;
        }
        length = int(message->len);
        const auto* tx = reinterpret_cast<const uint8_t*>(uintptr_t(message->tx_buf));
        auto* rx = reinterpret_cast<uint8_t*>(uintptr_t(message->rx_buf));
        if (tx) {
            if (c.sent.size() >= SpiChain::kMaxRecorded) c.sent.pop_front();
            c.sent.emplace_back(tx, tx + length);
        }
        if (rx) {
            for (int i = 0; i < length; ++i) rx[i] = size_t(i) < c.inputs.size() ? c.inputs[size_t(i)] : 0;
        }
        c.speed = message->speed_hz;
        ++c.transfers;
        paced = c.paced && message->speed_hz > 0;
        if (paced) {
            auto wire = std::chrono::nanoseconds(int64_t(length) * 8 * 1000000000LL / message->speed_hz);
            Clock::time_point begin = std::max(Clock::now(), c.wireFree);
            done = begin + wire;
            c.wireFree = done;
        }
    }
    if (paced) std::this_thread::sleep_until(done);
    return length;
}

} // namespace

bool SpiChain::owns(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    return isOpen(fd);
}

// The requests of spidev that the chain's driver makes; anything else is not a request of this node.
int SpiChain::ioctl(int fd, unsigned long request, void* argument)
{
    if (request == SPI_IOC_WR_MODE) return writeMode(fd, argument ? *static_cast<uint8_t*>(argument) : 0xFF);
    if (request == SPI_IOC_RD_MODE) return readMode(fd, static_cast<uint8_t*>(argument));
    if (request == SPI_IOC_MESSAGE(1)) return transfer(fd, static_cast<const spi_ioc_transfer*>(argument));
    errno = ENOTTY;
    return -1;
}

int SpiChain::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    return closeModelNode(chain().open, fd);
}
