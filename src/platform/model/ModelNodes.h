#pragma once
#include "platform/DeviceNodes.h"

#include <cerrno>
#include <unistd.h>

// The models of the unit's device nodes behind one set of calls: spidev nodes reach the panel chain
// (SpiChain), i2c-dev nodes the converter's bus (I2cModel), framebuffer nodes the display memory
// (FramebufferModel); other nodes do not exist (ENOENT). The host build's nodes, and the tests' on
// either target (DeviceNodes::install).
class ModelNodes : public DeviceNodes {
public:
    static ModelNodes& instance();

    int open(const std::string& path, int flags) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    ssize_t read(int fd, void* data, size_t length) override;
    ssize_t write(int fd, const void* data, size_t length) override;
    int close(int fd) override;
};

// close() of a model node: the descriptor is the model's (`open` holds those it handed out) or EBADF.
template <class Descriptors>
int closeModelNode(Descriptors& open, int fd)
{
    if (!open.erase(fd)) {
        errno = EBADF;
        return -1;
    }
    return ::close(fd);
}
