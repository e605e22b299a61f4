#include "base/Update.h"

#include "platform/Paths.h"
#include "platform/Shell.h"
#include "porting/Log.h"
#include "porting/TextHelpers.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

bool Update::enabled = false;
bool Update::recovery = false;
bool Update::initialized = false;
int Update::update_bytes = 0;
int Update::received_bytes = 0;
std::unique_ptr<uint8_t[]> Update::update_handle;
int Update::batch_size = 2048;

namespace {

constexpr const char* kTag = "Update";
constexpr const char* kImage = "/home/app_run";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A pair that is not hexadecimal keeps the value of its leading hexadecimal digits (0 for none).
uint8_t hexByte(char high, char low)
{
    int h = hexDigit(high);
    if (h < 0) return 0;
    int l = hexDigit(low);
    return uint8_t(l < 0 ? h : h * 16 + l);
}

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

void Update::initialize()
{
    if (initialized) return;
    enabled = true;
    LOG_I(kTag, "initialized\n");
    if (std::getenv("APP_CALLED")) {
        LOG_I(kTag, "Started main app\n");
        initialized = true;
        return;
    }
    std::string output;
    bool ran = Shell::read("gpioget 0 40", output);
    if (!ran || output.empty()) {
        // The line cannot be read: this process is the application.
        initialized = true;
        return;
    }
    std::string line = output.substr(0, output.find('\n')).substr(0, 9);
    // A child started from here must know that it was launched.
    setenv("APP_CALLED", "1", 1);
    if (!line.empty() && line[0] == '1') Shell::system(Paths::map(kImage));
    LOG_I(kTag, "running update app\n");
    recovery = true;
    initialized = true;
}

void Update::update_abort()
{
    update_bytes = 0;
    received_bytes = 0;
    update_handle.reset();
}

std::string Update::update_start(const std::string& size)
{
    if (!initialized) initialize();
    update_abort();
    LOG_I(kTag, "start: %s\n", log_excerpt(size).c_str());
    // Decimal digits alone: a sign, an exponent or another base would read as some other size.
    const bool digits = !size.empty() && size.find_first_not_of("0123456789") == std::string::npos;
    long long announced = 0;
    for (size_t i = 0; digits && i < size.size() && announced <= kMaxImageBytes; ++i)
        announced = announced * 10 + (size[i] - '0');
    // No transfer opens, and the reply says so at once ("0": no chunk size) rather than after the
    // client has sent the whole image; no client can exhaust the unit's memory.
    if (!digits) {
        LOG_E(kTag, "not an image size: %s\n", log_excerpt(size).c_str());
        return "0";
    }
    if (announced > kMaxImageBytes) {
        LOG_E(kTag, "image too large: %s\n", log_excerpt(size).c_str());
        return "0";
    }
    if (announced > 0) {
        update_handle.reset(new (std::nothrow) uint8_t[size_t(announced)]);
        if (!update_handle) {
            LOG_E(kTag, "no memory for %lld bytes\n", announced);
            return "0";
        }
        update_bytes = int(announced);
    }
    return std::to_string(batch_size);
}

std::string Update::update_data(const std::string& hex)
{
    if (hex.size() % 2 != 0 || received_bytes >= update_bytes || !update_handle) {
        LOG_E(kTag, "failed\n");
        return std::to_string(received_bytes);
    }
    int taken = 0;
    for (size_t i = 0; i + 1 < hex.size() && taken < batch_size && received_bytes < update_bytes; i += 2, ++taken)
        update_handle[size_t(received_bytes++)] = hexByte(hex[i], hex[i + 1]);
    if (received_bytes < update_bytes) return std::to_string(received_bytes);
    if (!writeImage()) return "0";
    LOG_I(kTag, "done %d bytes\n", received_bytes);
    std::string reply = std::to_string(received_bytes);
    update_abort();
    return reply;
}

bool Update::writeImage()
{
    // Written beside the image and renamed over it, so a failure at any step keeps the old image
    // that the launcher runs.
    const std::string image = Paths::map(kImage);
    const std::string temporary = image + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (fd < 0) {
        LOG_E(kTag, "error opening file\n");
        return false;
    }
    bool written = writeAll(fd, update_handle.get(), size_t(update_bytes)) && ::fsync(fd) == 0;
    // Executable by all, writable by its owner only: anyone who could replace it would own the unit.
    bool moded = written && ::fchmod(fd, 0755) == 0;
    if (::close(fd) != 0) written = false;
    if (!written) {
        LOG_E(kTag, "error writing file\n");
        ::unlink(temporary.c_str());
        return false;
    }
    if (!moded) {
        LOG_E(kTag, "chmod error\n");
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), image.c_str()) != 0) {
        LOG_E(kTag, "error writing file\n");
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself must survive a power cut.
    std::string folder = image.substr(0, image.rfind('/'));
    int dir = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
