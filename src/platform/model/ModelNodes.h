#pragma once
#include "platform/DeviceNodes.h"

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
