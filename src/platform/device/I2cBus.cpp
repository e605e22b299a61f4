#include "platform/I2cBus.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

int I2cBus::open(const std::string& unitPath)
{
    return ::open(Paths::map(unitPath).c_str(), O_RDWR | O_CLOEXEC);
}

int I2cBus::selectAddress(int fd, int address)
{
    return ioctl(fd, I2C_SLAVE, address);
}

ssize_t I2cBus::write(int fd, const void* data, size_t length)
{
    return ::write(fd, data, length);
}

ssize_t I2cBus::read(int fd, void* data, size_t length)
{
    return ::read(fd, data, length);
}

void I2cBus::close(int fd)
{
    if (fd >= 0) ::close(fd);
}
