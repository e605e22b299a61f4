#include "driver/model/WavWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint32_t kHeaderBytes = 44;
// The size fields are 32 bits: stop before they would wrap (about 3 hours of audio).
constexpr uint64_t kMaxDataBytes = 0xffffffffull - kHeaderBytes;

void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

} // namespace

WavWriter::~WavWriter()
{
    close();
}

void WavWriter::close()
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool WavWriter::open(const std::string& path, std::string& error)
{
    close();
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t header[kHeaderBytes] = {};
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, kHeaderBytes - 8);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 3); // IEEE float
    put16(header + 22, 2);
    put32(header + 24, 48000);
    put32(header + 28, 48000 * 8);
    put16(header + 32, 8);
    put16(header + 34, 32);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, 0);
    dataBytes = 0;
    if (::pwrite(fd, header, kHeaderBytes, 0) != ssize_t(kHeaderBytes)) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

bool WavWriter::write(const float* left, const float* right, size_t count)
{
    if (fd < 0 || count == 0) return fd >= 0;
    if (count > 16) count = 16;
    if (dataBytes + count * 8 > kMaxDataBytes) return false;
    float interleaved[32];
    for (size_t i = 0; i < count; ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    // Samples first, sizes after: a reader never sees a size that covers unwritten samples.
    if (::pwrite(fd, interleaved, count * 8, off_t(kHeaderBytes + dataBytes)) != ssize_t(count * 8)) return false;
    dataBytes += count * 8;
    uint8_t size[4];
    put32(size, uint32_t(dataBytes + kHeaderBytes - 8));
    bool ok = ::pwrite(fd, size, 4, 4) == 4;
    put32(size, uint32_t(dataBytes));
    ok = ::pwrite(fd, size, 4, 40) == 4 && ok;
    return ok;
}
