#include "platform/model/FramebufferModel.h"

#include "platform/model/ModelNodes.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

struct Framebuffer {
    bool present = false;
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    std::set<int> open;
};

std::mutex mutex;
Framebuffer& framebuffer()
{
    static Framebuffer* instance = new Framebuffer;
    return *instance;
}

std::string memoryFile()
{
    return Paths::root() + "/framebuffer.model";
}

} // namespace

void FramebufferModel::set(const fb_var_screeninfo& var, uint32_t lineLength)
{
    std::lock_guard<std::mutex> lock(mutex);
    Framebuffer& fb = framebuffer();
    fb.present = true;
    fb.var = var;
    fb.fix = fb_fix_screeninfo{};
    std::strncpy(fb.fix.id, "model", sizeof fb.fix.id - 1);
    fb.fix.line_length = lineLength;
    fb.fix.smem_len = lineLength * var.yres_virtual;
    fb.fix.type = FB_TYPE_PACKED_PIXELS;
    fb.fix.visual = FB_VISUAL_TRUECOLOR;
    std::ofstream out(memoryFile(), std::ios::binary | std::ios::trunc);
    std::vector<char> zeros(fb.fix.smem_len, 0);
    out.write(zeros.data(), std::streamsize(zeros.size()));
}

void FramebufferModel::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    framebuffer().present = false;
    ::unlink(memoryFile().c_str());
}

std::vector<uint8_t> FramebufferModel::memory()
{
    std::ifstream in(memoryFile(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int FramebufferModel::open()
{
    std::lock_guard<std::mutex> lock(mutex);
    Framebuffer& fb = framebuffer();
    if (!fb.present) {
        errno = ENOENT;
        return -1;
    }
    int fd = ::open(memoryFile().c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) fb.open.insert(fd);
    return fd;
}

bool FramebufferModel::owns(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    return framebuffer().open.count(fd) != 0;
}

int FramebufferModel::ioctl(int fd, unsigned long request, void* argument)
{
    std::lock_guard<std::mutex> lock(mutex);
    Framebuffer& fb = framebuffer();
    if (!fb.open.count(fd)) {
        errno = EBADF;
        return -1;
    }
    if (request == FBIOGET_VSCREENINFO && argument) {
        std::memcpy(argument, &fb.var, sizeof fb.var);
        return 0;
    }
    if (request == FBIOGET_FSCREENINFO && argument) {
        std::memcpy(argument, &fb.fix, sizeof fb.fix);
        return 0;
    }
    errno = argument ? ENOTTY : EFAULT;
    return -1;
}

int FramebufferModel::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    return closeModelNode(framebuffer().open, fd);
}
