#pragma once
#include "audio/AlsaBackend.h"

// The ALSA layer's calls on libasound itself (the unit's USB gadget sound card).
class AlsaLibBackend : public AlsaBackend {
public:
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
};
