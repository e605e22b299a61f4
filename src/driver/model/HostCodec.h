#pragma once
#include "driver/CodecInterface.h"
#include "driver/model/HostAlsaStream.h"
#include "driver/model/WavReader.h"
#include "driver/model/WavWriter.h"

#include <atomic>
#include <cstdint>
#include <string>

// What the host codec plays in and writes out, and how it keeps time.
struct HostCodecConfig {
    enum class Input { Silence, Sine, Wav, Alsa };
    enum class Output { None, Wav, Alsa };
    enum class Pace {
        RealTime, // one frame every 1/3 ms, by sleeping (skipped when an ALSA device keeps the time)
        Fast, // frames as fast as the engine takes them
        Manual, // no audio thread: each AudioProcessor::processBlock call moves one frame
    };

    Input input = Input::Silence;
    std::string inputName; // WAV path or ALSA device
    float sineHz = 440.0f;
    float sineAmplitude = 0.5f;
    bool loop = false; // a WAV input starts again at its end instead of stopping
    Output output = Output::None;
    std::string outputName; // WAV path or ALSA device
    Pace pace = Pace::RealTime;

    // From KESTRUN_AUDIO_IN ("silence", "sine[:HZ[:AMPLITUDE]]", "wav:PATH", "alsa:DEVICE"),
    // KESTRUN_AUDIO_OUT ("none", "wav:PATH", "alsa:DEVICE"), KESTRUN_AUDIO_PACE ("realtime",
    // "fast", "manual") and KESTRUN_AUDIO_LOOP ("1" or "0"). Unset variables take the defaults above;
    // so does a wrong one, reported in a warning line (and a line of `error`): false then.
    static bool fromEnvironment(HostCodecConfig& config, std::string& error);
    // The same from given texts (null = unset).
    static bool parse(const char* in, const char* out, const char* pace, const char* loop, HostCodecConfig& config,
                      std::string& error);
};

// The codec of the host build, in place of the I2S block: the same frame contract towards the
// engine, with input from a WAV file, a generator or an ALSA capture device and output to a WAV
// file, an ALSA playback device or nowhere.
//
// Threads: initialize on the board thread; start, audioRead and audioWrite on "audioLoop" (or on the
// test's thread through AudioProcessor::processBlock in the manual pace). A WAV input that ends
// stops the frames (the output then holds exactly the input's frames); the engine waits.
class HostCodec : public CodecInterface {
public:
    explicit HostCodec(const HostCodecConfig& config);

    bool initialize() override;
    bool start(void (*process)()) override;
    bool audioRead(float gain) override;
    bool audioWrite(float gain) override;
    void setInputGain(int, int) override {}

    const HostCodecConfig& getConfig() const { return config; }
    uint64_t framesRead() const { return readCount.load(std::memory_order_relaxed); }
    uint64_t framesWritten() const { return writeCount.load(std::memory_order_relaxed); }
    bool inputEnded() const { return ended.load(std::memory_order_acquire); }

private:
    bool fillInput();
    void waitForFrameTime();

    HostCodecConfig config;
    WavReader wavIn;
    WavWriter wavOut;
    HostAlsaStream alsaIn;
    HostAlsaStream alsaOut;
    double sinePhase = 0.0;
    size_t validFrames = 0; // frames of the current frame that came from the input
    std::atomic<bool> ended{false};
    std::atomic<uint64_t> readCount{0};
    std::atomic<uint64_t> writeCount{0};
    int64_t clockStartNs = 0;
    uint64_t clockFrames = 0;
};
