#include "driver/model/WavReader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool readAt(int fd, void* out, size_t length, uint64_t offset)
{
    return ::pread(fd, out, length, off_t(offset)) == ssize_t(length);
}

float sampleAt(const uint8_t* p, int bytes, bool isFloat)
{
    if (isFloat) {
        if (bytes == 4) {
            uint32_t bits = le32(p);
            float value;
            std::memcpy(&value, &bits, 4);
            return value;
        }
        uint64_t bits = uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
        double value;
        std::memcpy(&value, &bits, 8);
        return float(value);
    }
    switch (bytes) {
    case 2: return float(int16_t(le16(p))) * (1.0f / 32768.0f);
    case 3:
        return float(int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8) *
               (1.0f / 8388608.0f);
    default: return float(int32_t(le32(p))) * (1.0f / 2147483648.0f);
    }
}

} // namespace

WavReader::~WavReader()
{
    close();
}

void WavReader::close()
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool WavReader::open(const std::string& path, std::string& error)
{
    close();
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    fstat(fd, &info);
    const uint64_t fileSize = uint64_t(info.st_size);
    uint8_t header[12];
    if (!readAt(fd, header, 12, 0) || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        close();
        return false;
    }
    bool haveFormat = false;
    int format = 0, bits = 0, blockAlign = 0;
    uint64_t offset = 12;
    uint8_t chunk[8];
    while (readAt(fd, chunk, 8, offset)) {
        uint64_t size = le32(chunk + 4);
        uint64_t body = offset + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            if (size < 16 || !readAt(fd, fmt, size < 40 ? size : 40, body)) break;
            format = le16(fmt);
            channelCount = le16(fmt + 2);
            rate = int(le32(fmt + 4));
            blockAlign = le16(fmt + 12);
            bits = le16(fmt + 14);
            if (format == 0xfffe && size >= 26) format = le16(fmt + 24); // extensible: sub-format code
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            // Streaming writers leave the size open: the data then runs to the end of the file.
            if (size == 0 || size == 0xffffffff || body + size > fileSize) size = fileSize - body;
            dataOffset = body;
            isFloat = format == 3;
            bytesPerSample = bits / 8;
            bool pcmOk = format == 1 && (bits == 16 || bits == 24 || bits == 32);
            bool floatOk = format == 3 && (bits == 32 || bits == 64);
            if (!pcmOk && !floatOk) {
                error = path + ": unsupported sample format " + std::to_string(format) + " with " +
                        std::to_string(bits) + " bits";
                break;
            }
            if (channelCount < 1 || channelCount > kMaxChannels || blockAlign != channelCount * bytesPerSample) {
                error = path + ": unsupported channel layout";
                break;
            }
            totalFrames = size / uint64_t(blockAlign);
            position = 0;
            return true;
        }
        offset = body + size + (size & 1);
    }
    if (error.empty()) error = path + ": no audio data";
    close();
    return false;
}

size_t WavReader::read(float* left, float* right, size_t count)
{
    if (fd < 0 || position >= totalFrames) return 0;
    if (count > kMaxFrames) count = kMaxFrames;
    if (count > totalFrames - position) count = size_t(totalFrames - position);
    const size_t frameBytes = size_t(channelCount * bytesPerSample);
    ssize_t got = ::pread(fd, buffer, count * frameBytes, off_t(dataOffset + position * frameBytes));
    if (got <= 0) return 0;
    count = size_t(got) / frameBytes;
    const int second = channelCount > 1 ? bytesPerSample : 0; // mono feeds both channels
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = buffer + i * frameBytes;
        left[i] = sampleAt(p, bytesPerSample, isFloat);
        right[i] = sampleAt(p + second, bytesPerSample, isFloat);
    }
    position += count;
    return count;
}
