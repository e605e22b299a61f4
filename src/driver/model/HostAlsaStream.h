#pragma once
#include <string>

// A blocking ALSA stream of interleaved stereo floats at 48 kHz for the host codec (a capture
// device as input, a playback device as output). libasound is loaded at run time, so the driver
// layer needs it only when a device is asked for.
class HostAlsaStream {
public:
    ~HostAlsaStream();
    bool open(const std::string& device, bool capture, std::string& error);
    void close();
    // Moves `frames` interleaved stereo frames, blocking; recovers from an over- or underrun.
    // False when the stream failed for good.
    bool read(float* interleaved, int frames);
    bool write(const float* interleaved, int frames);

private:
    void* pcm = nullptr;
};
