#include "platform/SpiBus.h"

#include "platform/DeviceNodes.h"
#include "platform/Paths.h"

#include <fcntl.h>

int SpiBus::open(const std::string& unitPath)
{
    return DeviceNodes::current().open(Paths::map(unitPath), O_RDWR | O_CLOEXEC);
}

int SpiBus::writeMode(int fd, uint8_t mode)
{
    return DeviceNodes::current().ioctl(fd, SPI_IOC_WR_MODE, &mode);
}

int SpiBus::readMode(int fd, uint8_t* mode)
{
    return DeviceNodes::current().ioctl(fd, SPI_IOC_RD_MODE, mode);
}

int SpiBus::transfer(int fd, const spi_ioc_transfer* message)
{
    return DeviceNodes::current().ioctl(fd, SPI_IOC_MESSAGE(1), const_cast<spi_ioc_transfer*>(message));
}

void SpiBus::close(int fd)
{
    if (fd >= 0) DeviceNodes::current().close(fd);
}
