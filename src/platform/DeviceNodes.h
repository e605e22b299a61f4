#pragma once
#include <cstddef>
#include <string>
#include <sys/types.h>

// The system calls the drivers make on the unit's device nodes (spidev, i2c-dev, the framebuffer):
// open, ioctl, read, write, close, with the results and errno of the calls they stand for. The device
// build makes the real calls. A model of the hardware that answers the same requests can take their
// place: the host build uses the models (model/ModelNodes.h) from the start, and tests on either
// target install them, so that the drivers' own requests are what the models see.
class DeviceNodes {
public:
    virtual ~DeviceNodes() = default;
    // `path` is where the node really is (after Paths::map).
    virtual int open(const std::string& path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual ssize_t read(int fd, void* data, size_t length) = 0;
    virtual ssize_t write(int fd, const void* data, size_t length) = 0;
    virtual int close(int fd) = 0;

    // The calls in use: the installed ones, else the build's own.
    static DeviceNodes& current();
    // Null puts the build's own back. Set before any driver opens a node (tests, at start).
    static void install(DeviceNodes* nodes);
};
