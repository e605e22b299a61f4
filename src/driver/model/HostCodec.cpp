#include "driver/model/HostCodec.h"

#include "driver/Codec.h"
#include "platform/EnvSetting.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>

namespace {

constexpr const char* kTag = "HostCodec";
constexpr int kSamples = Codec::kFrameSamples;

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool parseNumber(const std::string& text, float& value)
{
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(parsed)) return false;
    value = float(parsed);
    return true;
}

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

bool HostCodecConfig::fromEnvironment(HostCodecConfig& config, std::string& error)
{
    return parse(std::getenv("KESTRUN_AUDIO_IN"), std::getenv("KESTRUN_AUDIO_OUT"), std::getenv("KESTRUN_AUDIO_PACE"),
                 std::getenv("KESTRUN_AUDIO_LOOP"), config, error);
}

bool HostCodecConfig::parse(const char* in, const char* out, const char* pace, const char* loop,
                            HostCodecConfig& config, std::string& error)
{
    config = HostCodecConfig{};
    error.clear();
    // A wrong setting is reported and replaced by its default; the others still count.
    auto wrong = [&error](const char* name, const std::string& value, const char* problem, const char* instead) {
        EnvSetting::refuse(kTag, name, value.c_str(), problem, instead);
        error += std::string(name) + "=\"" + value + "\" " + problem + "\n";
    };

    std::string input = in ? in : "";
    if (input.empty() || input == "silence") {
        config.input = Input::Silence;
    } else if (input == "sine" || startsWith(input, "sine:")) {
        config.input = Input::Sine;
        std::string rest = input.size() > 5 ? input.substr(5) : "";
        std::string hz = rest.substr(0, rest.find(':'));
        std::string amplitude = rest.find(':') == std::string::npos ? "" : rest.substr(rest.find(':') + 1);
        if ((!hz.empty() && (!parseNumber(hz, config.sineHz) || config.sineHz <= 0.0f || config.sineHz >= 24000.0f)) ||
            (!amplitude.empty() && (!parseNumber(amplitude, config.sineAmplitude) || config.sineAmplitude < 0.0f ||
                                    config.sineAmplitude > 1.0f))) {
            config.sineHz = HostCodecConfig{}.sineHz;
            config.sineAmplitude = HostCodecConfig{}.sineAmplitude;
            wrong("KESTRUN_AUDIO_IN", input, "is not a sine below 24000 Hz of an amplitude from 0 to 1",
                  "a sine of 440 Hz at 0.5");
        }
    } else if (startsWith(input, "wav:") && input.size() > 4) {
        config.input = Input::Wav;
        config.inputName = input.substr(4);
    } else if (startsWith(input, "alsa:") && input.size() > 5) {
        config.input = Input::Alsa;
        config.inputName = input.substr(5);
    } else {
        wrong("KESTRUN_AUDIO_IN", input, "is not silence, sine[:HZ[:AMPLITUDE]], wav:PATH or alsa:DEVICE", "silence");
    }

    std::string output = out ? out : "";
    if (output.empty() || output == "none") {
        config.output = Output::None;
    } else if (startsWith(output, "wav:") && output.size() > 4) {
        config.output = Output::Wav;
        config.outputName = output.substr(4);
    } else if (startsWith(output, "alsa:") && output.size() > 5) {
        config.output = Output::Alsa;
        config.outputName = output.substr(5);
    } else {
        wrong("KESTRUN_AUDIO_OUT", output, "is not none, wav:PATH or alsa:DEVICE", "no output");
    }

    std::string timing = pace ? pace : "";
    if (timing.empty() || timing == "realtime") {
        config.pace = Pace::RealTime;
    } else if (timing == "fast") {
        config.pace = Pace::Fast;
    } else if (timing == "manual") {
        config.pace = Pace::Manual;
    } else {
        wrong("KESTRUN_AUDIO_PACE", timing, "is not realtime, fast or manual", "real time");
    }

    std::string again = loop ? loop : "";
    config.loop = again == "1";
    if (!again.empty() && again != "0" && again != "1")
        wrong("KESTRUN_AUDIO_LOOP", again, "is neither 1 nor 0", "a WAV input plays once");
    return error.empty();
}

HostCodec::HostCodec(const HostCodecConfig& config) : CodecInterface("HostCodec"), config(config) {}

bool HostCodec::initialize()
{
    std::string error;
    // The setting that failed, for the message.
    const char* setting = "KESTRUN_AUDIO_IN";
    bool ok = true;
    switch (config.input) {
    case HostCodecConfig::Input::Wav:
        ok = wavIn.open(config.inputName, error);
        if (ok && wavIn.sampleRate() != Codec::kSampleRate) {
            error = config.inputName + " is at " + std::to_string(wavIn.sampleRate()) + " Hz, not 48000 Hz";
            ok = false;
        }
        break;
    case HostCodecConfig::Input::Alsa: ok = alsaIn.open(config.inputName, true, error); break;
    default: break;
    }
    if (ok) setting = "KESTRUN_AUDIO_OUT";
    if (ok && config.output == HostCodecConfig::Output::Wav) ok = wavOut.open(config.outputName, error);
    if (ok && config.output == HostCodecConfig::Output::Alsa) ok = alsaOut.open(config.outputName, false, error);
    if (!ok) {
        // No stand-in input or output: a render that would silently differ from the one asked for.
        LOG_E(kTag, "%s: %s: no audio is processed\n", setting, error.c_str());
        wavIn.close();
        alsaIn.close();
        return false;
    }
    static const char* inputs[] = {"silence", "sine", "wav", "alsa"};
    static const char* outputs[] = {"none", "wav", "alsa"};
    static const char* paces[] = {"realtime", "fast", "manual"};
    LOG_I(kTag, "input %s %s, output %s %s, pace %s\n", inputs[int(config.input)], config.inputName.c_str(),
          outputs[int(config.output)], config.outputName.c_str(), paces[int(config.pace)]);
    return true;
}

bool HostCodec::start(void (*)())
{
    clockStartNs = monotonicNs();
    clockFrames = 0;
    if (config.pace == HostCodecConfig::Pace::Fast) {
        // This thread now never sleeps: at a real-time priority it would take its CPU from
        // everything else, so it runs as fast as normal scheduling lets it.
        sched_param normal{};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    }
    // In the manual pace the test moves the frames: no audio thread.
    return config.pace == HostCodecConfig::Pace::Manual;
}

void HostCodec::waitForFrameTime()
{
    if (config.pace != HostCodecConfig::Pace::RealTime) return;
    // An ALSA device blocks at its own clock; a second clock would make it run over or under.
    if (config.input == HostCodecConfig::Input::Alsa || config.output == HostCodecConfig::Output::Alsa) return;
    if (clockStartNs == 0) clockStartNs = monotonicNs();
    // 16 samples at 48 kHz: 1/3 ms per frame, counted from the start so that rounding never drifts.
    int64_t deadline = clockStartNs + int64_t(clockFrames * 1000000 / 3);
    int64_t now = monotonicNs();
    if (now > deadline + 100000000) { // stalled for over 100 ms: start counting again, no burst
        clockStartNs = now;
        clockFrames = 0;
        deadline = now;
    }
    ++clockFrames;
    if (deadline > now) {
        timespec until{};
        until.tv_sec = deadline / 1000000000;
        until.tv_nsec = deadline % 1000000000;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {}
    }
}

bool HostCodec::fillInput()
{
    float(*frame)[kSamples] = Codec::getAudio();
    switch (config.input) {
    case HostCodecConfig::Input::Silence:
        std::memset(frame, 0, sizeof(float) * 2 * kSamples);
        validFrames = kSamples;
        return true;
    case HostCodecConfig::Input::Sine: {
        const double step = 2.0 * M_PI * config.sineHz / Codec::kSampleRate;
        for (int k = 0; k < kSamples; ++k) {
            frame[0][k] = frame[1][k] = float(config.sineAmplitude * std::sin(sinePhase));
            sinePhase += step;
            if (sinePhase >= 2.0 * M_PI) sinePhase -= 2.0 * M_PI;
        }
        validFrames = kSamples;
        return true;
    }
    case HostCodecConfig::Input::Wav: {
        size_t got = wavIn.read(frame[0], frame[1], kSamples);
        if (got == 0 && config.loop && wavIn.frames() > 0) {
            wavIn.rewind();
            got = wavIn.read(frame[0], frame[1], kSamples);
        }
        if (got == 0) return false;
        for (size_t k = got; k < size_t(kSamples); ++k) frame[0][k] = frame[1][k] = 0.0f;
        validFrames = got;
        return true;
    }
    case HostCodecConfig::Input::Alsa: {
        float interleaved[2 * kSamples];
        if (!alsaIn.read(interleaved, kSamples)) return false;
        for (int k = 0; k < kSamples; ++k) {
            frame[0][k] = interleaved[2 * k];
            frame[1][k] = interleaved[2 * k + 1];
        }
        validFrames = kSamples;
        return true;
    }
    }
    return false;
}

bool HostCodec::audioRead(float gain)
{
    if (ended.load(std::memory_order_relaxed)) {
        // Nothing will come: wait without spinning (a test moving frames by hand gets no wait).
        if (config.pace != HostCodecConfig::Pace::Manual) vTaskDelay(10000);
        return false;
    }
    waitForFrameTime();
    task_exit_point(); // this loop may never delay otherwise
    if (!fillInput()) {
        ended.store(true, std::memory_order_release); // nothing printed: this is the audio thread
        return false;
    }
    if (gain != 1.0f) {
        float(*frame)[kSamples] = Codec::getAudio();
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < kSamples; ++k) frame[c][k] *= gain;
    }
    readCount.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool HostCodec::audioWrite(float gain)
{
    float(*frame)[kSamples] = Codec::getAudio();
    float left[kSamples], right[kSamples];
    for (int k = 0; k < kSamples; ++k) {
        left[k] = frame[0][k] * gain;
        right[k] = frame[1][k] * gain;
    }
    bool ok = true;
    if (config.output == HostCodecConfig::Output::Wav) {
        ok = wavOut.write(left, right, validFrames);
    } else if (config.output == HostCodecConfig::Output::Alsa) {
        float interleaved[2 * kSamples];
        for (int k = 0; k < kSamples; ++k) {
            interleaved[2 * k] = left[k];
            interleaved[2 * k + 1] = right[k];
        }
        ok = alsaOut.write(interleaved, kSamples);
    }
    writeCount.fetch_add(1, std::memory_order_relaxed);
    return ok;
}
