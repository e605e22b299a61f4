#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Reads the samples of a WAV file as floats (full scale +-1.0): PCM of 16, 24 or 32 bits, or IEEE
// float of 32 or 64 bits, plain or in the extensible header. A mono file gives the same samples to
// both channels; of more channels the first two are taken. Reads go straight to the file at an
// offset (no stdio buffer, no allocation after open), so the audio thread may call read().
class WavReader {
public:
    static constexpr int kMaxChannels = 16;
    static constexpr size_t kMaxFrames = 16;

    ~WavReader();
    // False, with `error` set, when the file cannot be read or its format is not one of the above.
    bool open(const std::string& path, std::string& error);
    void close();

    int sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    uint64_t frames() const { return totalFrames; }

    // Reads up to `count` (at most kMaxFrames) frames from the current position into the two
    // channels; returns how many were read (0 at the end).
    size_t read(float* left, float* right, size_t count);
    void rewind() { position = 0; }

private:
    int fd = -1;
    int rate = 0;
    int channelCount = 0;
    int bytesPerSample = 0;
    bool isFloat = false;
    uint64_t dataOffset = 0;
    uint64_t totalFrames = 0;
    uint64_t position = 0;
    uint8_t buffer[kMaxFrames * kMaxChannels * 8];
};
