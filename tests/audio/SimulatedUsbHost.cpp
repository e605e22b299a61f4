#include "SimulatedUsbHost.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

SimulatedUsbHost::SimulatedUsbHost(double ppm) : ppm(ppm)
{
    pitches[AlsaStream::Capture] = pitches[AlsaStream::Playback] = 1000000;
    writeCards();
}

SimulatedUsbHost::~SimulatedUsbHost()
{
    for (Pcm* pcm : pcms) delete pcm;
}

void SimulatedUsbHost::writeCards()
{
    std::ofstream cards(Paths::map("/proc/asound/cards"), std::ios::trunc);
    cards << " 0 [vc4hdmi0      ]: vc4-hdmi - vc4-hdmi-0\n                      vc4-hdmi-0\n";
    if (plugged) cards << " 1 [UAC2Gadget     ]: UAC2_Gadget - UAC2_Gadget\n                      UAC2_Gadget 0\n";
}

SimulatedUsbHost::Pcm* SimulatedUsbHost::live(AlsaPcm* handle)
{
    auto* pcm = reinterpret_cast<Pcm*>(handle);
    if (!pcm || pcm->closed || std::find(pcms.begin(), pcms.end(), pcm) == pcms.end()) {
        ++misuses;
        return nullptr;
    }
    return pcm;
}

SimulatedUsbHost::Pcm* SimulatedUsbHost::current(AlsaStream stream)
{
    for (auto it = pcms.rbegin(); it != pcms.rend(); ++it)
        if (!(*it)->closed && (*it)->stream == stream) return *it;
    return nullptr;
}

void SimulatedUsbHost::advanceFrames(int frames)
{
    std::lock_guard lock(mutex);
    for (int f = 0; f < frames; ++f) {
        // A packet every millisecond of the host's clock: every 48 of its samples.
        hostSamples += 16.0 * (1.0 + ppm * 1e-6);
        while (hostSamples >= 48.0) {
            hostPacket();
            hostSamples -= 48.0;
        }
    }
}

void SimulatedUsbHost::hostPacket()
{
    if (!plugged) return;
    if (Pcm* capture = current(AlsaStream::Capture); capture && capture->state == AlsaState::Running) {
        captureCarry += 48.0 * double(pitches[AlsaStream::Capture]) / 1e6;
        auto frames = long(captureCarry);
        captureCarry -= double(frames);
        if (long(capture->ring.size() / 2) + frames > kBufferFrames) {
            capture->state = AlsaState::Xrun;
            ++xruns[AlsaStream::Capture];
        } else {
            for (long i = 0; i < frames; ++i, ++hostCounter) {
                capture->ring.push_back(hostCounter * 256);
                capture->ring.push_back(-hostCounter * 256);
            }
        }
    }
    if (Pcm* playback = current(AlsaStream::Playback); playback && playback->state == AlsaState::Running) {
        playbackCarry += 48.0 * double(pitches[AlsaStream::Playback]) / 1e6;
        auto frames = long(playbackCarry);
        playbackCarry -= double(frames);
        if (long(playback->ring.size() / 2) < frames) {
            playback->state = AlsaState::Xrun;
            ++xruns[AlsaStream::Playback];
        } else {
            received.clear();
            for (long i = 0; i < frames; ++i) {
                received.push_back(playback->ring.front());
                playback->ring.pop_front();
                playback->ring.pop_front();
            }
        }
    }
}

void SimulatedUsbHost::plug()
{
    std::lock_guard lock(mutex);
    plugged = true;
    writeCards();
}

void SimulatedUsbHost::unplug()
{
    std::lock_guard lock(mutex);
    plugged = false;
    for (Pcm* pcm : pcms)
        if (!pcm->closed) pcm->state = AlsaState::Disconnected;
    writeCards();
}

void SimulatedUsbHost::injectXrun(AlsaStream stream)
{
    std::lock_guard lock(mutex);
    if (Pcm* pcm = current(stream)) {
        pcm->state = AlsaState::Xrun;
        ++xruns[stream];
    }
}

void SimulatedUsbHost::setFill(AlsaStream stream, long frames)
{
    std::lock_guard lock(mutex);
    if (Pcm* pcm = current(stream)) pcm->ring.assign(size_t(frames) * 2, 0);
}

int SimulatedUsbHost::xrunCount(AlsaStream stream)
{
    std::lock_guard lock(mutex);
    return xruns[stream];
}

int SimulatedUsbHost::openCount(AlsaStream stream)
{
    std::lock_guard lock(mutex);
    return opens[stream];
}

int SimulatedUsbHost::openStreams()
{
    std::lock_guard lock(mutex);
    return int(std::count_if(pcms.begin(), pcms.end(), [](Pcm* p) { return !p->closed; }));
}

int SimulatedUsbHost::misuseCount()
{
    std::lock_guard lock(mutex);
    return misuses;
}

long SimulatedUsbHost::pitch(AlsaStream stream)
{
    std::lock_guard lock(mutex);
    return pitches[stream];
}

int SimulatedUsbHost::openControls()
{
    std::lock_guard lock(mutex);
    return controls;
}

int SimulatedUsbHost::openMixers()
{
    std::lock_guard lock(mutex);
    return mixers;
}

std::vector<int32_t> SimulatedUsbHost::queued(AlsaStream stream)
{
    std::lock_guard lock(mutex);
    std::vector<int32_t> words;
    if (Pcm* pcm = current(stream))
        for (size_t i = 0; i < pcm->ring.size(); i += 2) words.push_back(pcm->ring[i]);
    return words;
}

std::vector<int32_t> SimulatedUsbHost::lastReceived()
{
    std::lock_guard lock(mutex);
    return received;
}

int SimulatedUsbHost::pcmOpen(AlsaPcm** handle, const char* device, AlsaStream stream)
{
    std::lock_guard lock(mutex);
    *handle = nullptr;
    if (!plugged) return -ENODEV;
    if (current(stream)) return -EBUSY; // the gadget's streams open once
    auto* pcm = new Pcm;
    pcm->stream = stream;
    pcms.push_back(pcm);
    ++opens[stream];
    openedDevices.push_back(device);
    *handle = reinterpret_cast<AlsaPcm*>(pcm);
    return 0;
}

int SimulatedUsbHost::pcmClose(AlsaPcm* handle)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    if (!pcm) return -EBADFD;
    pcm->closed = true;
    pcm->ring.clear();
    return 0;
}

int SimulatedUsbHost::pcmRanges(AlsaPcm* handle, AlsaRanges& ranges)
{
    std::lock_guard lock(mutex);
    if (!live(handle)) return -EBADFD;
    ranges = {48000, 48000, 2, 2, 32, 4096};
    return 0;
}

int SimulatedUsbHost::pcmHwStep(AlsaPcm* handle, AlsaHwStep step, AlsaHwRequest& request)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    if (!pcm) return -EBADFD;
    if (step == failingStep && pcm->stream == failingStream) return -EINVAL;
    switch (step) {
    case AlsaHwStep::Rate: request.rate = 48000; break;
    case AlsaHwStep::Period: request.periodFrames = 32; break;
    case AlsaHwStep::Buffer: request.bufferFrames = kBufferFrames; break;
    case AlsaHwStep::Apply: pcm->state = AlsaState::Prepared; break;
    default: break;
    }
    return 0;
}

namespace {

int stateError(AlsaState state)
{
    switch (state) {
    case AlsaState::Xrun: return -EPIPE;
    case AlsaState::Disconnected: return -ENODEV;
    case AlsaState::Suspended: return -ESTRPIPE;
    case AlsaState::Open:
    case AlsaState::Setup: return -EBADFD;
    default: return 0;
    }
}

} // namespace

int SimulatedUsbHost::pcmDelay(AlsaPcm* handle, long* frames)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    if (!pcm) return -EBADFD;
    if (failDelay) return -EIO;
    if (int error = stateError(pcm->state)) return error;
    *frames = long(pcm->ring.size() / 2);
    return 0;
}

long SimulatedUsbHost::pcmReadi(AlsaPcm* handle, int32_t* interleaved, unsigned long frames)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    if (!pcm) return -EBADFD;
    if (pcm->stream != AlsaStream::Capture) return -EINVAL;
    if (int error = stateError(pcm->state)) return error;
    if (pcm->state == AlsaState::Prepared) pcm->state = AlsaState::Running; // a read starts capture
    const unsigned long available = pcm->ring.size() / 2;
    if (available == 0) return -EAGAIN;
    const unsigned long n = std::min(available, frames);
    for (unsigned long i = 0; i < 2 * n; ++i) {
        interleaved[i] = pcm->ring.front();
        pcm->ring.pop_front();
    }
    return long(n);
}

long SimulatedUsbHost::pcmWritei(AlsaPcm* handle, const int32_t* interleaved, unsigned long frames)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    if (!pcm) return -EBADFD;
    if (pcm->stream != AlsaStream::Playback) return -EINVAL;
    if (int error = stateError(pcm->state)) return error;
    const unsigned long space = (unsigned long)kBufferFrames - pcm->ring.size() / 2;
    if (space == 0) return -EAGAIN;
    const unsigned long n = std::min(space, frames);
    pcm->ring.insert(pcm->ring.end(), interleaved, interleaved + 2 * n);
    if (pcm->state == AlsaState::Prepared) pcm->state = AlsaState::Running;
    return long(n);
}

int SimulatedUsbHost::pcmPrepare(AlsaPcm* handle)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    if (!pcm) return -EBADFD;
    if (pcm->state == AlsaState::Disconnected) return -ENODEV;
    pcm->state = AlsaState::Prepared;
    pcm->ring.clear();
    return 0;
}

AlsaState SimulatedUsbHost::pcmState(AlsaPcm* handle)
{
    std::lock_guard lock(mutex);
    Pcm* pcm = live(handle);
    return pcm ? pcm->state : AlsaState::Disconnected;
}

const char* SimulatedUsbHost::strerror(int error)
{
    return std::strerror(-error);
}

int SimulatedUsbHost::ctlOpen(AlsaCtl** handle, const char* device)
{
    std::lock_guard lock(mutex);
    *handle = nullptr;
    if (!plugged) return -ENODEV;
    AlsaStream stream;
    if (std::strcmp(device, "hw:0") == 0) stream = AlsaStream::Capture;
    else if (std::strcmp(device, "hw:1") == 0) stream = AlsaStream::Playback;
    else return -ENOENT;
    ++controls;
    *handle = reinterpret_cast<AlsaCtl*>(new Control{stream});
    return 0;
}

int SimulatedUsbHost::ctlWriteInteger(AlsaCtl* handle, unsigned numid, long value)
{
    std::lock_guard lock(mutex);
    if (failControlWrite || numid != 1) return -ENOENT;
    // The gadget accepts pitches within +-2.5 %.
    pitches[reinterpret_cast<Control*>(handle)->stream] = std::clamp(value, 975000L, 1025000L);
    return 0;
}

int SimulatedUsbHost::ctlClose(AlsaCtl* handle)
{
    std::lock_guard lock(mutex);
    delete reinterpret_cast<Control*>(handle);
    --controls;
    return 0;
}

int SimulatedUsbHost::mixerOpen(AlsaMixer** handle, const char*)
{
    std::lock_guard lock(mutex);
    *handle = nullptr;
    if (!plugged) return -ENODEV;
    ++mixers;
    *handle = reinterpret_cast<AlsaMixer*>(new int(0));
    return 0;
}

int SimulatedUsbHost::mixerCaptureVolume(AlsaMixer*, const char* name, bool& has, long& min, long& max, long& value)
{
    std::lock_guard lock(mutex);
    if (!mixerHasPcm || std::strcmp(name, "PCM") != 0) return -ENOENT;
    has = mixerHasCaptureVolume;
    if (!has) return 0;
    min = mixerMin;
    max = mixerMax;
    value = mixerValue;
    return 0;
}

void SimulatedUsbHost::mixerClose(AlsaMixer* handle)
{
    std::lock_guard lock(mutex);
    delete reinterpret_cast<int*>(handle);
    --mixers;
}
