#pragma once
#include <cstdint>

// Opaque handles of the ALSA layer: each backend casts them to its own objects.
struct AlsaPcm;
struct AlsaCtl;
struct AlsaMixer;

enum class AlsaStream { Capture, Playback };
enum class AlsaState { Open, Setup, Prepared, Running, Xrun, Draining, Paused, Suspended, Disconnected };

// What a stream can do, for the log of its supported configurations.
struct AlsaRanges {
    unsigned rateMin = 0, rateMax = 0;
    unsigned channelsMin = 0, channelsMax = 0;
    unsigned long bufferMin = 0, bufferMax = 0;
};

// The hardware set-up, asked for and granted (the "near" steps write back what the stream took).
struct AlsaHwRequest {
    unsigned rate = 48000;
    unsigned channels = 2;
    unsigned long periodFrames = 32;
    unsigned long bufferFrames = 256;
};

// The set-up steps, in the order the layer takes them; each may fail on its own.
enum class AlsaHwStep { Any, Access, Format, Rate, Channels, Period, Buffer, Apply };

// The calls the ALSA layer makes, one for one those of libasound (AlsaLibBackend). Tests put a
// simulated USB host behind it. Results are 0 or a frame count, or a negative errno as libasound
// gives them (-EAGAIN: a non-blocking stream cannot move data now; -EPIPE: over- or underrun;
// -ENODEV: the device is gone).
//
// Threads: pcmDelay, pcmReadi and pcmWritei (and pcmPrepare after a write error) run on
// "audioLoop"; everything else on "compileLoop". The layer never closes a stream while the audio
// thread may be inside a call on it.
class AlsaBackend {
public:
    virtual ~AlsaBackend() = default;

    // Opens a stream non-blocking.
    virtual int pcmOpen(AlsaPcm** pcm, const char* device, AlsaStream stream) = 0;
    virtual int pcmClose(AlsaPcm* pcm) = 0;
    virtual int pcmRanges(AlsaPcm* pcm, AlsaRanges& ranges) = 0;
    // Access is interleaved read/write, format signed 32-bit little-endian.
    virtual int pcmHwStep(AlsaPcm* pcm, AlsaHwStep step, AlsaHwRequest& request) = 0;
    virtual int pcmDelay(AlsaPcm* pcm, long* frames) = 0;
    virtual long pcmReadi(AlsaPcm* pcm, int32_t* interleaved, unsigned long frames) = 0;
    virtual long pcmWritei(AlsaPcm* pcm, const int32_t* interleaved, unsigned long frames) = 0;
    virtual int pcmPrepare(AlsaPcm* pcm) = 0;
    virtual AlsaState pcmState(AlsaPcm* pcm) = 0;
    virtual const char* strerror(int error) = 0;

    // Control elements of a card's control device, opened non-blocking.
    virtual int ctlOpen(AlsaCtl** ctl, const char* device) = 0;
    virtual int ctlWriteInteger(AlsaCtl* ctl, unsigned numid, long value) = 0;
    virtual int ctlClose(AlsaCtl* ctl) = 0;

    // A simple mixer on a card: opened, attached, registered and loaded in one (closed again on
    // failure).
    virtual int mixerOpen(AlsaMixer** mixer, const char* card) = 0;
    // The capture volume of the simple element `name`, index 0, channel 0: -ENOENT when there is no
    // such element; `has` false when it has no capture volume.
    virtual int mixerCaptureVolume(AlsaMixer* mixer, const char* name, bool& has, long& min, long& max,
                                   long& value) = 0;
    virtual void mixerClose(AlsaMixer* mixer) = 0;
};
