#include "platform/SpiBus.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int SpiBus::open(const std::string& unitPath)
{
    return ::open(Paths::map(unitPath).c_str(), O_RDWR | O_CLOEXEC);
}

int SpiBus::writeMode(int fd, uint8_t mode)
{
    return ioctl(fd, SPI_IOC_WR_MODE, &mode);
}

int SpiBus::readMode(int fd, uint8_t* mode)
{
    return ioctl(fd, SPI_IOC_RD_MODE, mode);
}

int SpiBus::transfer(int fd, const spi_ioc_transfer* message)
{
    return ioctl(fd, SPI_IOC_MESSAGE(1), message);
}

void SpiBus::close(int fd)
{
    if (fd >= 0) ::close(fd);
}
