#include "audio/AlsaLibBackend.h"

#include <alsa/asoundlib.h>

namespace {

// A stream and the hardware parameter set that its set-up steps fill.
struct LibPcm {
    snd_pcm_t* pcm = nullptr;
    snd_pcm_hw_params_t* hw = nullptr;
};

LibPcm* lib(AlsaPcm* pcm)
{
    return reinterpret_cast<LibPcm*>(pcm);
}

snd_ctl_t* lib(AlsaCtl* ctl)
{
    return reinterpret_cast<snd_ctl_t*>(ctl);
}

snd_mixer_t* lib(AlsaMixer* mixer)
{
    return reinterpret_cast<snd_mixer_t*>(mixer);
}

} // namespace

int AlsaLibBackend::pcmOpen(AlsaPcm** pcm, const char* device, AlsaStream stream)
{
    *pcm = nullptr;
    snd_pcm_t* handle = nullptr;
    int rc =
        snd_pcm_open(&handle, device, stream == AlsaStream::Capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                     SND_PCM_NONBLOCK);
    if (rc < 0) return rc;
    auto* opened = new LibPcm{handle, nullptr};
    rc = snd_pcm_hw_params_malloc(&opened->hw);
    if (rc < 0) {
        snd_pcm_close(handle);
        delete opened;
        return rc;
    }
    *pcm = reinterpret_cast<AlsaPcm*>(opened);
    return 0;
}

int AlsaLibBackend::pcmClose(AlsaPcm* pcm)
{
    LibPcm* p = lib(pcm);
    if (!p) return 0;
    int rc = snd_pcm_close(p->pcm);
    snd_pcm_hw_params_free(p->hw);
    delete p;
    return rc;
}

int AlsaLibBackend::pcmRanges(AlsaPcm* pcm, AlsaRanges& ranges)
{
    snd_pcm_hw_params_t* fresh = nullptr;
    int rc = snd_pcm_hw_params_malloc(&fresh);
    if (rc < 0) return rc;
    rc = snd_pcm_hw_params_any(lib(pcm)->pcm, fresh);
    if (rc >= 0) {
        int dir = 0;
        snd_pcm_hw_params_get_rate_min(fresh, &ranges.rateMin, &dir);
        snd_pcm_hw_params_get_rate_max(fresh, &ranges.rateMax, &dir);
        snd_pcm_hw_params_get_channels_min(fresh, &ranges.channelsMin);
        snd_pcm_hw_params_get_channels_max(fresh, &ranges.channelsMax);
        snd_pcm_uframes_t low = 0, high = 0;
        snd_pcm_hw_params_get_buffer_size_min(fresh, &low);
        snd_pcm_hw_params_get_buffer_size_max(fresh, &high);
        ranges.bufferMin = low;
        ranges.bufferMax = high;
    }
    snd_pcm_hw_params_free(fresh);
    return rc < 0 ? rc : 0;
}

int AlsaLibBackend::pcmHwStep(AlsaPcm* pcm, AlsaHwStep step, AlsaHwRequest& request)
{
    snd_pcm_t* handle = lib(pcm)->pcm;
    snd_pcm_hw_params_t* hw = lib(pcm)->hw;
    int dir = 0;
    switch (step) {
    case AlsaHwStep::Any: return snd_pcm_hw_params_any(handle, hw);
    case AlsaHwStep::Access: return snd_pcm_hw_params_set_access(handle, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    case AlsaHwStep::Format: return snd_pcm_hw_params_set_format(handle, hw, SND_PCM_FORMAT_S32_LE);
    case AlsaHwStep::Rate: return snd_pcm_hw_params_set_rate_near(handle, hw, &request.rate, &dir);
    case AlsaHwStep::Channels: return snd_pcm_hw_params_set_channels(handle, hw, request.channels);
    case AlsaHwStep::Period: {
        snd_pcm_uframes_t frames = request.periodFrames;
        int rc = snd_pcm_hw_params_set_period_size_near(handle, hw, &frames, &dir);
        request.periodFrames = frames;
        return rc;
    }
    case AlsaHwStep::Buffer: {
        snd_pcm_uframes_t frames = request.bufferFrames;
        int rc = snd_pcm_hw_params_set_buffer_size_near(handle, hw, &frames);
        request.bufferFrames = frames;
        return rc;
    }
    case AlsaHwStep::Apply: {
        int rc = snd_pcm_hw_params(handle, hw);
        if (rc < 0) return rc;
        // What the stream finally took.
        snd_pcm_hw_params_get_rate(hw, &request.rate, &dir);
        snd_pcm_hw_params_get_channels(hw, &request.channels);
        snd_pcm_uframes_t frames = 0;
        snd_pcm_hw_params_get_buffer_size(hw, &frames);
        request.bufferFrames = frames;
        snd_pcm_hw_params_get_period_size(hw, &frames, &dir);
        request.periodFrames = frames;
        return 0;
    }
    }
    return -EINVAL;
}

int AlsaLibBackend::pcmDelay(AlsaPcm* pcm, long* frames)
{
    snd_pcm_sframes_t delay = 0;
    int rc = snd_pcm_delay(lib(pcm)->pcm, &delay);
    if (rc == 0) *frames = long(delay);
    return rc;
}

long AlsaLibBackend::pcmReadi(AlsaPcm* pcm, int32_t* interleaved, unsigned long frames)
{
    return long(snd_pcm_readi(lib(pcm)->pcm, interleaved, frames));
}

long AlsaLibBackend::pcmWritei(AlsaPcm* pcm, const int32_t* interleaved, unsigned long frames)
{
    return long(snd_pcm_writei(lib(pcm)->pcm, interleaved, frames));
}

int AlsaLibBackend::pcmPrepare(AlsaPcm* pcm)
{
    return snd_pcm_prepare(lib(pcm)->pcm);
}

AlsaState AlsaLibBackend::pcmState(AlsaPcm* pcm)
{
    switch (snd_pcm_state(lib(pcm)->pcm)) {
    case SND_PCM_STATE_OPEN: return AlsaState::Open;
    case SND_PCM_STATE_SETUP: return AlsaState::Setup;
    case SND_PCM_STATE_PREPARED: return AlsaState::Prepared;
    case SND_PCM_STATE_RUNNING: return AlsaState::Running;
    case SND_PCM_STATE_XRUN: return AlsaState::Xrun;
    case SND_PCM_STATE_DRAINING: return AlsaState::Draining;
    case SND_PCM_STATE_PAUSED: return AlsaState::Paused;
    case SND_PCM_STATE_SUSPENDED: return AlsaState::Suspended;
    default: return AlsaState::Disconnected;
    }
}

const char* AlsaLibBackend::strerror(int error)
{
    return snd_strerror(error);
}

int AlsaLibBackend::ctlOpen(AlsaCtl** ctl, const char* device)
{
    snd_ctl_t* handle = nullptr;
    int rc = snd_ctl_open(&handle, device, SND_CTL_NONBLOCK);
    *ctl = rc < 0 ? nullptr : reinterpret_cast<AlsaCtl*>(handle);
    return rc;
}

int AlsaLibBackend::ctlWriteInteger(AlsaCtl* ctl, unsigned numid, long value)
{
    snd_ctl_elem_value_t* element = nullptr;
    int rc = snd_ctl_elem_value_malloc(&element);
    if (rc < 0) return rc;
    snd_ctl_elem_value_set_numid(element, numid);
    snd_ctl_elem_value_set_integer(element, 0, value);
    rc = snd_ctl_elem_write(lib(ctl), element);
    snd_ctl_elem_value_free(element);
    return rc;
}

int AlsaLibBackend::ctlClose(AlsaCtl* ctl)
{
    return snd_ctl_close(lib(ctl));
}

int AlsaLibBackend::mixerOpen(AlsaMixer** mixer, const char* card)
{
    *mixer = nullptr;
    snd_mixer_t* handle = nullptr;
    int rc = snd_mixer_open(&handle, 0);
    if (rc < 0) return rc;
    if ((rc = snd_mixer_attach(handle, card)) < 0 || (rc = snd_mixer_selem_register(handle, nullptr, nullptr)) < 0 ||
        (rc = snd_mixer_load(handle)) < 0) {
        snd_mixer_close(handle);
        return rc;
    }
    *mixer = reinterpret_cast<AlsaMixer*>(handle);
    return 0;
}

int AlsaLibBackend::mixerCaptureVolume(AlsaMixer* mixer, const char* name, bool& has, long& min, long& max, long& value)
{
    snd_mixer_selem_id_t* id = nullptr;
    int rc = snd_mixer_selem_id_malloc(&id);
    if (rc < 0) return rc;
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_elem_t* element = snd_mixer_find_selem(lib(mixer), id);
    snd_mixer_selem_id_free(id);
    if (!element) return -ENOENT;
    has = snd_mixer_selem_has_capture_volume(element);
    if (!has) return 0;
    snd_mixer_selem_get_capture_volume_range(element, &min, &max);
    snd_mixer_selem_get_capture_volume(element, SND_MIXER_SCHN_FRONT_LEFT, &value);
    return 0;
}

void AlsaLibBackend::mixerClose(AlsaMixer* mixer)
{
    if (mixer) snd_mixer_close(lib(mixer));
}
