#pragma once
#include "audio/AlsaBackend.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// A USB host on the other end of the audio gadget, behind the ALSA layer's backend seam.
//
// Two rings of 256 frames stand for the gadget's capture stream (the host's playback, filled by the
// host) and playback stream (emptied by the host). The host moves one USB packet per millisecond of
// its own clock, which runs `ppm` parts per million off the unit's: 48 frames per packet scaled by
// the pitch the unit last wrote to that stream's control (1000000 = nominal). The unit's time moves
// by advanceFrames (16 samples each). A capture ring that would overflow, or a playback ring that
// runs short of a packet, puts its stream in XRUN as ALSA does. Tests may also force an XRUN, pull
// the cable (streams DISCONNECTED, card gone from the cards file) and plug it in again.
//
// Every call on a stream that was already closed is counted as a misuse. All calls are serialised,
// so the audio and compile threads may both use it.
class SimulatedUsbHost : public AlsaBackend {
public:
    static constexpr long kBufferFrames = 256;

    explicit SimulatedUsbHost(double ppm = 0.0);
    ~SimulatedUsbHost() override;

    // Test controls.
    void advanceFrames(int frames = 1);
    void plug();
    void unplug();
    void injectXrun(AlsaStream stream);
    void setFill(AlsaStream stream, long frames);

    // Observations.
    int xrunCount(AlsaStream stream);
    int openCount(AlsaStream stream);
    int openStreams();
    int misuseCount();
    long pitch(AlsaStream stream);
    int openControls();
    int openMixers();
    // The last packet of frames the host received (channel 0 of each frame).
    std::vector<int32_t> lastReceived();
    // What waits in a stream's ring (channel 0 of each frame, oldest first).
    std::vector<int32_t> queued(AlsaStream stream);

    // Faults and settings a test may set before the calls.
    AlsaHwStep failingStep = AlsaHwStep(-1);
    AlsaStream failingStream = AlsaStream::Capture;
    bool failDelay = false;
    bool failControlWrite = false;
    bool mixerHasPcm = true;
    bool mixerHasCaptureVolume = true;
    long mixerMin = 0, mixerMax = 100, mixerValue = 100;
    std::vector<std::string> openedDevices;

    int pcmOpen(AlsaPcm** pcm, const char* device, AlsaStream stream) override;
    int pcmClose(AlsaPcm* pcm) override;
    int pcmRanges(AlsaPcm* pcm, AlsaRanges& ranges) override;
    int pcmHwStep(AlsaPcm* pcm, AlsaHwStep step, AlsaHwRequest& request) override;
    int pcmDelay(AlsaPcm* pcm, long* frames) override;
    long pcmReadi(AlsaPcm* pcm, int32_t* interleaved, unsigned long frames) override;
    long pcmWritei(AlsaPcm* pcm, const int32_t* interleaved, unsigned long frames) override;
    int pcmPrepare(AlsaPcm* pcm) override;
    AlsaState pcmState(AlsaPcm* pcm) override;
    const char* strerror(int error) override;
    int ctlOpen(AlsaCtl** ctl, const char* device) override;
    int ctlWriteInteger(AlsaCtl* ctl, unsigned numid, long value) override;
    int ctlClose(AlsaCtl* ctl) override;
    int mixerOpen(AlsaMixer** mixer, const char* card) override;
    int mixerCaptureVolume(AlsaMixer* mixer, const char* name, bool& has, long& min, long& max, long& value) override;
    void mixerClose(AlsaMixer* mixer) override;

private:
    struct Pcm {
        AlsaStream stream;
        AlsaState state = AlsaState::Open;
        bool closed = false;
        std::deque<int32_t> ring; // interleaved stereo
    };
    struct Control {
        AlsaStream stream;
    };

    Pcm* live(AlsaPcm* pcm); // null (and a misuse counted) for a closed stream
    Pcm* current(AlsaStream stream);
    void writeCards();
    void hostPacket();

    std::recursive_mutex mutex;
    double ppm;
    double hostSamples = 0.0; // the host's clock, in samples at its 48 kHz
    double captureCarry = 0.0, playbackCarry = 0.0;
    int32_t hostCounter = 0;
    bool plugged = true;
    std::vector<Pcm*> pcms; // every stream ever opened; freed with the host
    std::map<AlsaStream, long> pitches;
    std::map<AlsaStream, int> xruns, opens;
    int misuses = 0, controls = 0, mixers = 0;
    std::vector<int32_t> received;
};
