#include "driver/model/HostAlsaStream.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

namespace {

struct AlsaCalls {
    decltype(&snd_pcm_open) open = nullptr;
    decltype(&snd_pcm_set_params) setParams = nullptr;
    decltype(&snd_pcm_readi) readi = nullptr;
    decltype(&snd_pcm_writei) writei = nullptr;
    decltype(&snd_pcm_recover) recover = nullptr;
    decltype(&snd_pcm_close) close = nullptr;
    decltype(&snd_strerror) strerror = nullptr;
    bool loaded = false;
};

template <typename T>
void bind(void* library, T& function, const char* symbol)
{
    function = reinterpret_cast<T>(dlsym(library, symbol));
}

const AlsaCalls& alsa()
{
    static const AlsaCalls calls = [] {
        AlsaCalls c;
        void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!library) return c;
        bind(library, c.open, "snd_pcm_open");
        bind(library, c.setParams, "snd_pcm_set_params");
        bind(library, c.readi, "snd_pcm_readi");
        bind(library, c.writei, "snd_pcm_writei");
        bind(library, c.recover, "snd_pcm_recover");
        bind(library, c.close, "snd_pcm_close");
        bind(library, c.strerror, "snd_strerror");
        c.loaded = c.open && c.setParams && c.readi && c.writei && c.recover && c.close && c.strerror;
        return c;
    }();
    return calls;
}

snd_pcm_t* handle(void* pcm)
{
    return static_cast<snd_pcm_t*>(pcm);
}

} // namespace

HostAlsaStream::~HostAlsaStream()
{
    close();
}

bool HostAlsaStream::open(const std::string& device, bool capture, std::string& error)
{
    close();
    const AlsaCalls& calls = alsa();
    if (!calls.loaded) {
        error = "libasound.so.2 cannot be loaded";
        return false;
    }
    snd_pcm_t* opened = nullptr;
    int rc = calls.open(&opened, device.c_str(), capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK, 0);
    if (rc < 0) {
        error = "cannot open ALSA device " + device + ": " + calls.strerror(rc);
        return false;
    }
    // 20 ms of latency: enough for a desktop scheduler, small enough to play along.
    rc = calls.setParams(opened, SND_PCM_FORMAT_FLOAT_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, 48000, 1, 20000);
    if (rc < 0) {
        error = "cannot configure ALSA device " + device + ": " + calls.strerror(rc);
        calls.close(opened);
        return false;
    }
    pcm = opened;
    return true;
}

void HostAlsaStream::close()
{
    if (pcm) alsa().close(handle(pcm));
    pcm = nullptr;
}

bool HostAlsaStream::read(float* interleaved, int frames)
{
    if (!pcm) return false;
    const AlsaCalls& calls = alsa();
    while (frames > 0) {
        snd_pcm_sframes_t got = calls.readi(handle(pcm), interleaved, snd_pcm_uframes_t(frames));
        if (got < 0) {
            if (calls.recover(handle(pcm), int(got), 1) < 0) return false;
            continue;
        }
        interleaved += got * 2;
        frames -= int(got);
    }
    return true;
}

bool HostAlsaStream::write(const float* interleaved, int frames)
{
    if (!pcm) return false;
    const AlsaCalls& calls = alsa();
    while (frames > 0) {
        snd_pcm_sframes_t put = calls.writei(handle(pcm), interleaved, snd_pcm_uframes_t(frames));
        if (put < 0) {
            if (calls.recover(handle(pcm), int(put), 1) < 0) return false;
            continue;
        }
        interleaved += put * 2;
        frames -= int(put);
    }
    return true;
}
