#include "platform/I2cBus.h"

#include "platform/DeviceNodes.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>

int I2cBus::open(const std::string& unitPath)
{
    return DeviceNodes::current().open(Paths::map(unitPath), O_RDWR | O_CLOEXEC);
}

int I2cBus::selectAddress(int fd, int address)
{
    // I2C_SLAVE takes the address itself as the argument, not a pointer to it.
    return DeviceNodes::current().ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(static_cast<uintptr_t>(address)));
}

ssize_t I2cBus::write(int fd, const void* data, size_t length)
{
    return DeviceNodes::current().write(fd, data, length);
}

ssize_t I2cBus::read(int fd, void* data, size_t length)
{
    return DeviceNodes::current().read(fd, data, length);
}

void I2cBus::close(int fd)
{
    if (fd >= 0) DeviceNodes::current().close(fd);
}
