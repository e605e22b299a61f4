#pragma once
#include <cstddef>
#include <string>
#include <sys/types.h>

// The system calls the drivers make on the unit's device nodes (spidev, i2c-dev, the framebuffer):
// open, ioctl, read, write, close, with the results and errno of the calls they stand for. The device
// build on the unit makes the real calls. Models of the hardware that answer the same requests
// (model/ModelNodes.h) take their place everywhere else (see UnitBoard), and tests install them on
// either target, so that the drivers' own requests are what the models see.
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
    // Whether models answer in place of the hardware: anywhere but on the unit, or once installed.
    static bool modelled();
};
