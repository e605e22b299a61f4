#include "platform/model/ModelNodes.h"

#include "platform/model/FramebufferModel.h"
#include "platform/model/I2cModel.h"
#include "platform/model/SpiChain.h"

#include <cerrno>

namespace {

bool named(const std::string& path, const char* prefix)
{
    size_t slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::traits_type::length(prefix), prefix) ==
           0;
}

} // namespace

ModelNodes& ModelNodes::instance()
{
    static ModelNodes* nodes = new ModelNodes; // still answering while the process exits
    return *nodes;
}

int ModelNodes::open(const std::string& path, int)
{
    if (named(path, "spidev")) return SpiChain::open();
    if (named(path, "i2c-")) return I2cModel::open();
    if (named(path, "fb")) return FramebufferModel::open();
    errno = ENOENT;
    return -1;
}

int ModelNodes::ioctl(int fd, unsigned long request, void* argument)
{
    if (SpiChain::owns(fd)) return SpiChain::ioctl(fd, request, argument);
    if (I2cModel::owns(fd)) return I2cModel::ioctl(fd, request, argument);
    if (FramebufferModel::owns(fd)) return FramebufferModel::ioctl(fd, request, argument);
    errno = EBADF;
    return -1;
}

ssize_t ModelNodes::read(int fd, void* data, size_t length)
{
    if (I2cModel::owns(fd)) return I2cModel::read(fd, data, length);
    errno = SpiChain::owns(fd) || FramebufferModel::owns(fd) ? EINVAL : EBADF;
    return -1;
}

ssize_t ModelNodes::write(int fd, const void* data, size_t length)
{
    if (I2cModel::owns(fd)) return I2cModel::write(fd, data, length);
    errno = SpiChain::owns(fd) || FramebufferModel::owns(fd) ? EINVAL : EBADF;
    return -1;
}

int ModelNodes::close(int fd)
{
    if (SpiChain::owns(fd)) return SpiChain::close(fd);
    if (I2cModel::owns(fd)) return I2cModel::close(fd);
    if (FramebufferModel::owns(fd)) return FramebufferModel::close(fd);
    errno = EBADF;
    return -1;
}
