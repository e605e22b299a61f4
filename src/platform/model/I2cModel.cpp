#include "platform/model/I2cModel.h"

#include "platform/model/ModelNodes.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int kChipDefault = 0x48;
constexpr uint16_t kPowerUpConfig = 0x8583;

struct Model {
    bool busPresent = true;
    int chipAddress = kChipDefault;
    bool addressBusy = false;
    bool writeFailure = false;
    bool readFailure = false;
    int16_t conversion = 0;
    uint16_t config = kPowerUpConfig;
    int pointer = 0;
    int writes = 0;
    std::map<int, int> selected; // descriptor -> address
};

std::mutex mutex;
Model& model()
{
    // Never destroyed: a converter may still be read while the process exits.
    static Model* instance = new Model;
    return *instance;
}

bool isOpen(Model& m, int fd)
{
    return m.selected.count(fd) != 0;
}

} // namespace

void I2cModel::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    Model& m = model();
    std::map<int, int> keep = std::move(m.selected);
    m = Model();
    m.selected = std::move(keep);
}

void I2cModel::setBusPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex);
    model().busPresent = present;
}

void I2cModel::setChipAddress(int address)
{
    std::lock_guard<std::mutex> lock(mutex);
    model().chipAddress = address;
}

void I2cModel::setAddressBusy(bool busy)
{
    std::lock_guard<std::mutex> lock(mutex);
    model().addressBusy = busy;
}

void I2cModel::setConversion(int16_t value)
{
    std::lock_guard<std::mutex> lock(mutex);
    model().conversion = value;
}

void I2cModel::setWriteFailure(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex);
    model().writeFailure = fail;
}

void I2cModel::setReadFailure(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex);
    model().readFailure = fail;
}

uint16_t I2cModel::configuration()
{
    std::lock_guard<std::mutex> lock(mutex);
    return model().config;
}

int I2cModel::pointer()
{
    std::lock_guard<std::mutex> lock(mutex);
    return model().pointer;
}

int I2cModel::writeCount()
{
    std::lock_guard<std::mutex> lock(mutex);
    return model().writes;
}

int I2cModel::open()
{
    std::lock_guard<std::mutex> lock(mutex);
    Model& m = model();
    if (!m.busPresent) {
        errno = ENOENT;
        return -1;
    }
    // A real descriptor, so that it can never alias another open file of the program.
    int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd >= 0) m.selected[fd] = -1;
    return fd;
}

bool I2cModel::owns(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    return isOpen(model(), fd);
}

// I2C_SLAVE is the one i2c-dev request the converter's driver makes; its argument is the address.
int I2cModel::ioctl(int fd, unsigned long request, void* argument)
{
    if (request != I2C_SLAVE) {
        std::lock_guard<std::mutex> lock(mutex);
        errno = isOpen(model(), fd) ? ENOTTY : EBADF;
        return -1;
    }
    long address = static_cast<long>(reinterpret_cast<uintptr_t>(argument));
    std::lock_guard<std::mutex> lock(mutex);
    Model& m = model();
    if (!isOpen(m, fd)) {
        errno = EBADF;
        return -1;
    }
    if (address < 0 || address > 0x7F) {
        errno = EINVAL;
        return -1;
    }
    if (m.addressBusy) {
        errno = EBUSY;
        return -1;
    }
    m.selected[fd] = int(address);
    return 0;
}

ssize_t I2cModel::write(int fd, const void* data, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex);
    Model& m = model();
    if (!isOpen(m, fd)) {
        errno = EBADF;
        return -1;
    }
    if (m.selected[fd] < 0 || m.selected[fd] != m.chipAddress) {
        errno = ENXIO;
        return -1;
    }
    if (m.writeFailure) {
        errno = EREMOTEIO;
        return -1;
    }
    if (length == 0) return 0;
    auto* bytes = static_cast<const uint8_t*>(data);
    m.pointer = bytes[0] & 0x03;
    if (length >= 3 && m.pointer == 1) m.config = uint16_t(bytes[1] << 8 | bytes[2]);
    ++m.writes;
    return ssize_t(length);
}

ssize_t I2cModel::read(int fd, void* data, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex);
    Model& m = model();
    if (!isOpen(m, fd)) {
        errno = EBADF;
        return -1;
    }
    if (m.selected[fd] < 0 || m.selected[fd] != m.chipAddress) {
        errno = ENXIO;
        return -1;
    }
    if (m.readFailure) {
        errno = EREMOTEIO;
        return -1;
    }
    uint16_t reg = m.pointer == 1 ? m.config : m.pointer == 0 ? uint16_t(m.conversion) : 0;
    auto* bytes = static_cast<uint8_t*>(data);
    // The chip sends the register most significant byte first and repeats it on longer reads.
    for (size_t i = 0; i < length; ++i) bytes[i] = i % 2 == 0 ? uint8_t(reg >> 8) : uint8_t(reg & 0xFF);
    return ssize_t(length);
}

int I2cModel::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    return closeModelNode(model().selected, fd);
}
