#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Writes a stereo 48 kHz WAV file of 32-bit floats. The header is brought up to date after every
// write, so the file is a valid WAV of everything written so far at any moment (another process
// may read it while the program runs, or after it was killed). Writes are plain system calls at an
// offset: no stdio lock, no allocation after open.
class WavWriter {
public:
    ~WavWriter();
    bool open(const std::string& path, std::string& error);
    void close();
    bool isOpen() const { return fd >= 0; }
    // Writes `count` frames (at most 16) of the two channels.
    bool write(const float* left, const float* right, size_t count);
    uint64_t frames() const { return dataBytes / 8; }

private:
    int fd = -1;
    uint64_t dataBytes = 0;
};
