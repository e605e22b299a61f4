#include "platform/DeviceNodes.h"

#include "platform/UnitBoard.h"
#include "platform/model/ModelNodes.h"

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::atomic<DeviceNodes*> installed{nullptr};

#if KESTRUN_DEVICE
class SystemNodes : public DeviceNodes {
public:
    int open(const std::string& path, int flags) override { return ::open(path.c_str(), flags); }
    int ioctl(int fd, unsigned long request, void* argument) override { return ::ioctl(fd, request, argument); }
    ssize_t read(int fd, void* data, size_t length) override { return ::read(fd, data, length); }
    ssize_t write(int fd, const void* data, size_t length) override { return ::write(fd, data, length); }
    int close(int fd) override { return ::close(fd); }
};
#endif

// Off the unit the nodes at the unit's paths are not the panel's: the models answer there.
DeviceNodes& builtIn()
{
#if KESTRUN_DEVICE
    static SystemNodes system;
    if (UnitBoard::detected()) return system;
#endif
    return ModelNodes::instance();
}

} // namespace

DeviceNodes& DeviceNodes::current()
{
    DeviceNodes* nodes = installed.load(std::memory_order_acquire);
    return nodes ? *nodes : builtIn();
}

void DeviceNodes::install(DeviceNodes* nodes)
{
    installed.store(nodes, std::memory_order_release);
}

bool DeviceNodes::modelled()
{
    return installed.load(std::memory_order_acquire) || &builtIn() == &ModelNodes::instance();
}
