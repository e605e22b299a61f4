#include "audio/Alsa.h"

#include "audio/AlsaBackend.h"
#include "audio/AlsaLibBackend.h"
#include "platform/Paths.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kTag = "Alsa";
constexpr int kChannels = 2;
// The target delay each way, and the pitch step per frame of delay error (1000000 / 48000).
constexpr int64_t kTargetDelay = 128;
constexpr float kPitchPerFrame = 20.833334f;
constexpr int64_t kSyncMin = 33, kSyncMax = 223;
constexpr int kSilenceFrames = 1024;
const int32_t silence[kSilenceFrames * kChannels] = {};

AlsaLibBackend libBackend;
AlsaBackend* backend = &libBackend;
AlsaDevices devices;

std::atomic<AlsaPcm*> capture_handle{nullptr};
std::atomic<AlsaPcm*> playback_handle{nullptr};
std::atomic<int64_t> capture_delay{kTargetDelay};
std::atomic<int64_t> playback_delay{kTargetDelay};
float capture_pitch = 1000000.0f;
float playback_pitch = 1000000.0f;
float capturePitchSmoothed = 1000000.0f;
float playbackPitchSmoothed = 1000000.0f;

// Odd while the audio thread is inside a call on a stream; moves on every entry and exit.
std::atomic<uint32_t> audioEpoch{0};
// Streams taken out of the audio thread's reach, waiting to be closed (compile thread only).
AlsaPcm* retired[2] = {nullptr, nullptr};

struct AudioSection {
    AudioSection() { audioEpoch.fetch_add(1, std::memory_order_seq_cst); }
    ~AudioSection() { audioEpoch.fetch_add(1, std::memory_order_seq_cst); }
};

void retire(std::atomic<AlsaPcm*>& slot)
{
    AlsaPcm* pcm = slot.exchange(nullptr, std::memory_order_seq_cst);
    if (!pcm) return;
    for (AlsaPcm*& place : retired) {
        if (!place) {
            place = pcm;
            return;
        }
    }
}

// Closes the retired streams once the audio thread has been seen outside ALSA. The wait is bounded
// (a frame lasts 1/3 ms); when the audio thread does not come out in time, the next pass tries again.
bool closeRetired()
{
    if (!retired[0] && !retired[1]) return true;
    uint32_t epoch = audioEpoch.load(std::memory_order_seq_cst);
    for (int waited = 0; (epoch & 1) && waited < 200; ++waited) {
        vTaskDelay(100);
        if (audioEpoch.load(std::memory_order_seq_cst) != epoch) epoch = 0;
    }
    if (epoch & 1) return false;
    for (AlsaPcm*& place : retired) {
        if (place) backend->pcmClose(place);
        place = nullptr;
    }
    return true;
}

bool cardPresent()
{
    // Mapped once (this runs every 10 ms); never destroyed, as the compile thread outlives exit.
    static const std::string& path = *new std::string(Paths::map("/proc/asound/cards"));
    FILE* cards = std::fopen(path.c_str(), "r");
    if (!cards) return false;
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, cards)) found = std::strstr(line, "UAC2Gadget") != nullptr;
    std::fclose(cards);
    return found;
}

} // namespace

void print_supported_configurations(AlsaPcm* pcm, const char* stream)
{
    AlsaRanges ranges;
    if (backend->pcmRanges(pcm, ranges) < 0) return;
    LOG_I(kTag, "%s supported configurations:\n", stream);
    LOG_I(kTag, "Sample rate: %u - %u Hz\n", ranges.rateMin, ranges.rateMax);
    LOG_I(kTag, "Channels: %u - %u\n", ranges.channelsMin, ranges.channelsMax);
    LOG_I(kTag, "Buffer size: %lu - %lu frames\n", ranges.bufferMin, ranges.bufferMax);
}

namespace {

// Opens and sets up one stream; publishes it for the audio thread only once it is ready.
int init_stream(AlsaStream stream, std::atomic<AlsaPcm*>& slot)
{
    const bool capture = stream == AlsaStream::Capture;
    const char* which = capture ? "capture" : "playback";
    AlsaPcm* pcm = nullptr;
    int rc = backend->pcmOpen(&pcm, capture ? devices.capture : devices.playback, stream);
    if (rc < 0) {
        LOG_E(kTag, "unable to open pcm device for %s: %s\n\n", which, backend->strerror(rc));
        return rc;
    }
    print_supported_configurations(pcm, which);
    static const struct {
        AlsaHwStep step;
        const char* failure;
    } steps[] = {
        {AlsaHwStep::Any, "cannot initialize hardware parameter structure"},
        {AlsaHwStep::Access, "cannot set access type"},
        {AlsaHwStep::Format, "cannot set sample format"},
        {AlsaHwStep::Rate, "cannot set sample rate"},
        {AlsaHwStep::Channels, "cannot set channel count"},
        {AlsaHwStep::Period, "cannot set period size"},
        {AlsaHwStep::Buffer, "cannot set buffer size"},
        {AlsaHwStep::Apply, "cannot set parameters"},
    };
    AlsaHwRequest request;
    for (const auto& s : steps) {
        rc = backend->pcmHwStep(pcm, s.step, request);
        if (rc < 0) {
            LOG_E(kTag, "%s: %s\n\n", s.failure, backend->strerror(rc));
            // Never published: no other thread can be using it.
            backend->pcmClose(pcm);
            return rc;
        }
    }
    LOG_I(kTag, "%s initialized successfully:\n", capture ? "Capture" : "Playback");
    LOG_I(kTag, "Sample rate: %d Hz\n", int(request.rate));
    LOG_I(kTag, "Channels: %d\n", int(request.channels));
    LOG_I(kTag, "Buffer size: %lu frames\n", request.bufferFrames);
    LOG_I(kTag, "Period size: %lu frames\n", request.periodFrames);
    slot.store(pcm, std::memory_order_seq_cst);
    return 0;
}

} // namespace

void alsa_set_backend(AlsaBackend* newBackend)
{
    backend = newBackend ? newBackend : &libBackend;
    // Streams and measurements of the previous backend mean nothing to this one.
    capture_handle.store(nullptr);
    playback_handle.store(nullptr);
    retired[0] = retired[1] = nullptr;
    capture_delay.store(kTargetDelay);
    playback_delay.store(kTargetDelay);
    capture_pitch = playback_pitch = capturePitchSmoothed = playbackPitchSmoothed = 1000000.0f;
}

void alsa_set_devices(const AlsaDevices& newDevices)
{
    devices = newDevices;
}

int init_alsa_capture()
{
    return init_stream(AlsaStream::Capture, capture_handle);
}

int init_alsa_playback()
{
    return init_stream(AlsaStream::Playback, playback_handle);
}

bool alsa_streams_open()
{
    return capture_handle.load(std::memory_order_acquire) && playback_handle.load(std::memory_order_acquire);
}

int64_t alsa_capture_delay()
{
    return capture_delay.load(std::memory_order_relaxed);
}

int64_t alsa_playback_delay()
{
    return playback_delay.load(std::memory_order_relaxed);
}

int alsa_write_pcm(int* buffer, int frames)
{
    AudioSection section;
    AlsaPcm* pcm = playback_handle.load(std::memory_order_seq_cst);
    if (!pcm) return 0;
    long delay = 0;
    // A failed query says nothing about the delay: keep the last one.
    if (backend->pcmDelay(pcm, &delay) == 0) playback_delay.store(delay, std::memory_order_relaxed);
    long written = backend->pcmWritei(pcm, reinterpret_cast<const int32_t*>(buffer), (unsigned long)frames);
    if (written == -EAGAIN) return 1;
    if (written >= 0) return 0;
    // Underrun or worse: start again with the stream's buffer full of silence.
    backend->pcmPrepare(pcm);
    backend->pcmWritei(pcm, silence, kSilenceFrames);
    return 1;
}

int alsa_write(int* buffer, int frames)
{
    return alsa_write_pcm(buffer, frames);
}

int alsa_read(int* buffer, int frames)
{
    AudioSection section;
    AlsaPcm* pcm = capture_handle.load(std::memory_order_seq_cst);
    if (!pcm) return 1;
    long delay = 0;
    if (backend->pcmDelay(pcm, &delay) == 0) capture_delay.store(delay, std::memory_order_relaxed);
    long got = backend->pcmReadi(pcm, reinterpret_cast<int32_t*>(buffer), (unsigned long)frames);
    if (got == frames) return 0;
    std::memset(buffer, 0, sizeof(int) * size_t(frames) * kChannels);
    // A short block is dropped; an error shows in the stream's state, which the compile pass reads.
    return got >= 0 ? 0 : 1;
}

bool alsa_is_sync()
{
    const int64_t playback = playback_delay.load(std::memory_order_relaxed);
    const int64_t capture = capture_delay.load(std::memory_order_relaxed);
    return playback >= kSyncMin && playback <= kSyncMax && capture >= kSyncMin && capture <= kSyncMax;
}

void update_alsa_status()
{
    if (!closeRetired()) return;
    AlsaPcm* capture = capture_handle.load();
    // The capture stream's state alone decides: prepared or running, it is steered; in any other
    // state (over-run, set-up, suspended, gone), with or without an error the audio thread has met,
    // both streams are opened again.
    const AlsaState state = capture ? backend->pcmState(capture) : AlsaState::Disconnected;
    if (capture && playback_handle.load() && (state == AlsaState::Prepared || state == AlsaState::Running)) {
        // More playback delay: the host takes too little, speed its side up; more capture delay: the
        // host brings too much, slow its side down.
        playback_pitch = float(playback_delay.load() + (48000 - kTargetDelay)) * kPitchPerFrame;
        capture_pitch = float((48000 + kTargetDelay) - capture_delay.load()) * kPitchPerFrame;
        playbackPitchSmoothed = 0.9f * playbackPitchSmoothed + 0.1f * playback_pitch;
        capturePitchSmoothed = 0.9f * capturePitchSmoothed + 0.1f * capture_pitch;
        alsa_set_speed(true, int(playbackPitchSmoothed));
        alsa_set_speed(false, int(capturePitchSmoothed));
        return;
    }
    retire(capture_handle);
    retire(playback_handle);
    if (!closeRetired()) return;
    if (!cardPresent()) return;
    if (init_alsa_capture() < 0) {
        LOG_E(kTag, "Failed to initialize capture\n\n");
        retire(capture_handle);
        closeRetired();
        return;
    }
    if (init_alsa_playback() < 0) {
        LOG_E(kTag, "Failed to initialize playback\n\n");
        retire(capture_handle);
        retire(playback_handle);
        closeRetired();
        return;
    }
}

int alsa_set_speed(bool playback, int value)
{
    AlsaCtl* ctl = nullptr;
    if (backend->ctlOpen(&ctl, playback ? devices.playbackControl : devices.captureControl) < 0) return 1;
    if (backend->ctlWriteInteger(ctl, 1, value) < 0) {
        LOG_E(kTag, "Set PCM speed not found\n");
        backend->ctlClose(ctl);
        return 1;
    }
    backend->ctlClose(ctl);
    return 0;
}

float get_alsa_capture_volume()
{
    if (!cardPresent()) return 0.0f;
    AlsaMixer* mixer = nullptr;
    if (backend->mixerOpen(&mixer, devices.mixer) < 0) return 0.0f;
    bool has = false;
    long min = 0, max = 0, value = 0;
    int rc = backend->mixerCaptureVolume(mixer, "PCM", has, min, max, value);
    backend->mixerClose(mixer);
    if (rc < 0) {
        LOG_E("Alsa USB", "Controllo mixer '%s' non trovato\n\n", "PCM");
        return 0.0f;
    }
    if (!has || max == min) return 0.0f;
    long percent = 100 * (value - min) / (max - min);
    return float(percent) * 0.01f;
}
