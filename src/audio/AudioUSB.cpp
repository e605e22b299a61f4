#include "audio/AudioUSB.h"

#include "audio/Alsa.h"
#include "base/System.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/Storage.h"
#include "platform/Paths.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kTag = "AudioUSB";
constexpr float kToWord = 2147483648.0f;
constexpr float kFromWord = 1.0f / 2147483648.0f;
constexpr float kWordLimit = 2147482624.0f;

// The device controller's state file, mapped once before the polling thread starts; never destroyed,
// as that thread outlives exit.
const std::string& statePath()
{
    static const std::string& path = *new std::string(Paths::map("/sys/class/udc/fe980000.usb/state"));
    return path;
}

} // namespace

std::atomic<bool> AudioUSB::initialized{false};
std::atomic<bool> AudioUSB::active{false};
int32_t AudioUSB::rawUsbData[2 * FRAME_SAMPLES];
std::atomic<float> AudioUSB::data_volume[2];
std::atomic<int> AudioUSB::stream_mode{0};
NodeEnum* AudioUSB::mode = nullptr;
NodeEnum* AudioUSB::conn = nullptr;
NodeFloat* AudioUSB::vol_status = nullptr;

void AudioUSB::initialize()
{
    if (initialized.load()) {
        LOG_W(kTag, "Already initialized\n");
        return;
    }
    std::memset(rawUsbData, 0, sizeof rawUsbData);
    statePath();
    xTaskCreatePinnedToCore(device_task, "AudioUSB", 4096, nullptr, 0, nullptr, 0);

    NodeItem* root = System::rootNode();
    Node* usb = root ? root->pathToNode("root\\usb") : nullptr;
    if (!usb) usb = new NodeItem(root, "usb", "Audio USB", "", ItemType::SFOLDER);
    mode = new NodeEnum(usb, "mode", "Audio Mode", {"STANDARD", "MONITOR"}, "MONITOR");
    Storage::addItem(mode);
    conn = new NodeEnum(usb, "_status", "Connection status", {"OFF", "ON", "SYNC"}, "OFF");
    vol_status = new NodeFloat(usb, "_volume", "Volume", -50.0f, 0.0f, -50.0f, "dB", 0.5f, false);

    stream_mode.store(mode->getIndex());
    active.store(false);
    data_volume[0].store(1.0f);
    data_volume[1].store(1.0f);
    initialized.store(true);
}

void AudioUSB::pollController()
{
    bool configured = false;
    if (FILE* state = std::fopen(statePath().c_str(), "r")) {
        char line[16] = {};
        if (std::fgets(line, sizeof line, state)) configured = std::strncmp(line, "configured", 10) == 0;
        std::fclose(state);
    }
    active.store(configured, std::memory_order_release);
}

void* AudioUSB::device_task(void*)
{
    for (;;) {
        pollController();
        vTaskDelay(2000000);
    }
}

void AudioUSB::read(AudioFrame)
{
    // The host's audio is taken in write, after the chain.
}

void AudioUSB::write(AudioFrame frame)
{
    // No host, the "Data" mode, or a cable without the audio card: the unit's output stays as it is.
    if (!active.load(std::memory_order_acquire) || !alsa_streams_open()) return;

    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        for (int c = 0; c < FRAME_CHANNELS; ++c) {
            const float v = frame[c][k] * kToWord;
            float clamped = v < -kWordLimit ? -kWordLimit : v;
            clamped = clamped > kWordLimit ? kWordLimit : clamped;
            rawUsbData[2 * k + c] = int32_t(v == v ? clamped : 0.0f);
        }
    }
    alsa_write(rawUsbData, FRAME_SAMPLES);

    std::memset(rawUsbData, 0, sizeof rawUsbData);
    alsa_read(rawUsbData, FRAME_SAMPLES);
    const float gain = data_volume[0].load(std::memory_order_relaxed) * kFromWord;
    const int how = stream_mode.load(std::memory_order_relaxed);
    if (how == 0) {
        for (int k = 0; k < FRAME_SAMPLES; ++k)
            for (int c = 0; c < FRAME_CHANNELS; ++c) frame[c][k] = float(rawUsbData[2 * k + c]) * gain;
    } else if (how == 1) {
        for (int k = 0; k < FRAME_SAMPLES; ++k)
            for (int c = 0; c < FRAME_CHANNELS; ++c) frame[c][k] += float(rawUsbData[2 * k + c]) * gain;
    }
}

// Only a real change is stamped: the compile thread runs this every 10 ms, and a stamp on every pass
// would hand the status to every remote poll.
static void setStatus(NodeEnum* node, const char* text)
{
    if (!node->isValue(text)) node->setValue(text);
}

void AudioUSB::compile()
{
    if (!initialized.load(std::memory_order_acquire)) return;
    if (active.load(std::memory_order_acquire)) {
        const float v = get_alsa_capture_volume();
        const float x = v * v * v * v;
        data_volume[0].store(x, std::memory_order_relaxed);
        data_volume[1].store(x, std::memory_order_relaxed);
        // Silence has no level in dB: show the bottom of the range.
        vol_status->setValue(x > 0.0f ? 20.0f * std::log10(x) : -50.0f);
        setStatus(conn, alsa_is_sync() ? "SYNC" : "ON");
    } else {
        setStatus(conn, "OFF");
        data_volume[0].store(0.0f, std::memory_order_relaxed);
        data_volume[1].store(0.0f, std::memory_order_relaxed);
    }
    update_alsa_status();
    stream_mode.store(mode->getIndex(), std::memory_order_relaxed);
}

void AudioUSB::dump_info()
{
    LOG_W(kTag, "status = %d, buffer %d %d -- %d volume = %d %d %d mute = %d %d %d\n", int(isActive()),
          int(alsa_capture_delay()), int(alsa_playback_delay()), int(alsa_streams_open()),
          int(data_volume[0].load() * 100.0f), int(data_volume[1].load() * 100.0f), stream_mode.load(), 0, 0, 0);
}
