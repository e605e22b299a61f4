#include "driver/model/HostCodec.h"
#include "driver/Codec.h"
#include "driver/model/WavReader.h"
#include "driver/model/WavWriter.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>

namespace {

void put16(std::string& out, uint16_t v)
{
    out.push_back(char(v & 0xff));
    out.push_back(char(v >> 8));
}

void put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

// A WAV file as other programs write them: format 1 (PCM) or 3 (float), optionally in the
// extensible header, with a chunk before the data that readers must skip.
std::string makeWav(int format, int bits, int channels, int rate, const std::string& samples, bool extensible = false)
{
    std::string fmt;
    put16(fmt, extensible ? 0xfffe : uint16_t(format));
    put16(fmt, uint16_t(channels));
    put32(fmt, uint32_t(rate));
    put32(fmt, uint32_t(rate * channels * bits / 8));
    put16(fmt, uint16_t(channels * bits / 8));
    put16(fmt, uint16_t(bits));
    if (extensible) {
        put16(fmt, 22);
        put16(fmt, uint16_t(bits));
        put32(fmt, 3);
        put16(fmt, uint16_t(format)); // sub-format GUID begins with the format code
        fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 14);
    }
    std::string body = "WAVE";
    body += "fmt ";
    put32(body, uint32_t(fmt.size()));
    body += fmt;
    body += "LIST";
    put32(body, 3);
    body += std::string("abc\0", 4); // odd chunk with its pad byte
    body += "data";
    put32(body, uint32_t(samples.size()));
    body += samples;
    std::string file = "RIFF";
    put32(file, uint32_t(body.size()));
    return file + body;
}

std::string pcm(int bits, std::initializer_list<int64_t> values)
{
    std::string out;
    for (int64_t v : values)
        for (int b = 0; b < bits / 8; ++b) out.push_back(char((uint64_t(v) >> (8 * b)) & 0xff));
    return out;
}

std::string floats32(std::initializer_list<float> values)
{
    std::string out;
    for (float v : values) out.append(reinterpret_cast<const char*>(&v), 4);
    return out;
}

std::string floats64(std::initializer_list<double> values)
{
    std::string out;
    for (double v : values) out.append(reinterpret_cast<const char*>(&v), 8);
    return out;
}

HostCodecConfig config(const char* in, const char* out, const char* pace = "manual", const char* loop = nullptr)
{
    HostCodecConfig c;
    std::string error;
    EXPECT_TRUE(HostCodecConfig::parse(in, out, pace, loop, c, error)) << error;
    return c;
}

} // namespace

TEST(HostCodec, ParsesTheEnvironmentTexts)
{
    const struct {
        const char *in, *out, *pace;
        bool ok;
    } cases[] = {
        {nullptr, nullptr, nullptr, true},       {"silence", "none", "realtime", true},
        {"sine", "wav:/x.wav", "fast", true},    {"sine:1000:0.25", "alsa:default", "manual", true},
        {"wav:in.wav", nullptr, nullptr, true},  {"alsa:hw:1,0", nullptr, nullptr, true},
        {"noise", nullptr, nullptr, false},      {"sine:abc", nullptr, nullptr, false},
        {"sine:30000", nullptr, nullptr, false}, {"sine:440:2", nullptr, nullptr, false},
        {"wav:", nullptr, nullptr, false},       {nullptr, "speaker", nullptr, false},
        {nullptr, nullptr, "slow", false},
    };
    for (auto c : cases) {
        SCOPED_TRACE(std::string(c.in ? c.in : "-") + " " + (c.out ? c.out : "-") + " " + (c.pace ? c.pace : "-"));
        HostCodecConfig parsed;
        std::string error;
        StdoutCapture out;
        EXPECT_EQ(HostCodecConfig::parse(c.in, c.out, c.pace, nullptr, parsed, error), c.ok);
        if (!c.ok) {
            // A warning naming the variable and the value; the default taken in its place.
            const char* value = c.in ? c.in : c.out ? c.out : c.pace;
            EXPECT_NE(out.text().find(std::string("=\"") + value + "\""), std::string::npos);
            EXPECT_TRUE(parsed.output == HostCodecConfig::Output::None &&
                        parsed.pace == HostCodecConfig::Pace::RealTime && parsed.sineHz == 440.0f &&
                        parsed.input != HostCodecConfig::Input::Wav);
        }
    }
    HostCodecConfig looped;
    std::string error;
    EXPECT_FALSE(HostCodecConfig::parse(nullptr, nullptr, nullptr, "yes", looped, error));
    EXPECT_FALSE(looped.loop);
    HostCodecConfig parsed;
    ASSERT_TRUE(HostCodecConfig::parse("sine:1000:0.25", "alsa:hw:1,0", "fast", "1", parsed, error));
    EXPECT_EQ(parsed.sineHz, 1000.0f);
    EXPECT_EQ(parsed.sineAmplitude, 0.25f);
    EXPECT_EQ(parsed.outputName, "hw:1,0");
    EXPECT_TRUE(parsed.loop);
}

TEST(HostCodec, ReadsEveryWavSampleFormat)
{
    const std::string dir = make_temp_dir("wav");
    const struct {
        const char* name;
        std::string file;
        float left[2], right[2];
    } cases[] = {
        {"pcm16",
         makeWav(1, 16, 2, 48000, pcm(16, {16384, -32768, -16384, 32767})),
         {0.5f, -0.5f},
         {-1.0f, 32767 / 32768.0f}},
        {"pcm24 mono",
         makeWav(1, 24, 1, 48000, pcm(24, {-4194304, 8388607})),
         {-0.5f, 8388607 / 8388608.0f},
         {-0.5f, 8388607 / 8388608.0f}},
        {"pcm32",
         makeWav(1, 32, 2, 48000, pcm(32, {1073741824, -2147483648LL, 0, 536870912})),
         {0.5f, 0.0f},
         {-1.0f, 0.25f}},
        {"float32", makeWav(3, 32, 2, 48000, floats32({0.125f, -0.75f, 1.5f, 0.0f})), {0.125f, 1.5f}, {-0.75f, 0.0f}},
        {"float64 mono", makeWav(3, 64, 1, 48000, floats64({0.375, -0.625})), {0.375f, -0.625f}, {0.375f, -0.625f}},
        {"extensible pcm24",
         makeWav(1, 24, 2, 48000, pcm(24, {4194304, 0, 0, -4194304}), true),
         {0.5f, 0.0f},
         {0.0f, -0.5f}},
        {"four channels",
         makeWav(1, 16, 4, 48000, pcm(16, {8192, -8192, 1, 1, 0, 16384, 1, 1})),
         {0.25f, 0.0f},
         {-0.25f, 0.5f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "/in.wav";
        write_file(path, c.file);
        WavReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(path, error)) << error;
        EXPECT_EQ(reader.frames(), 2u);
        float left[16], right[16];
        ASSERT_EQ(reader.read(left, right, 16), 2u);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(left[i], c.left[i]);
            EXPECT_EQ(right[i], c.right[i]);
        }
        EXPECT_EQ(reader.read(left, right, 16), 0u);
    }
}

TEST(HostCodec, RefusesWhatItCannotPlay)
{
    const std::string dir = make_temp_dir("bad");
    const struct {
        const char* name;
        std::string file;
        const char* words;
    } cases[] = {
        {"rate", makeWav(1, 16, 2, 44100, pcm(16, {0, 0})), "not 48000 Hz"},
        {"8 bit", makeWav(1, 8, 2, 48000, std::string(4, '\0')), "unsupported sample format"},
        {"not riff", std::string("OggS and more bytes"), "is not a WAV file"},
        {"no data", makeWav(1, 16, 2, 48000, "").substr(0, 36), "no audio data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "/" + c.name + ".wav";
        write_file(path, c.file);
        HostCodec codec(config(("wav:" + path).c_str(), nullptr));
        StdoutCapture out;
        EXPECT_FALSE(codec.initialize());
        std::string text = out.text();
        EXPECT_EQ(text.rfind("ERROR (HostCodec): ", 0), 0u) << text;
        EXPECT_NE(text.find(c.words), std::string::npos) << text;
    }
    HostCodec missing(config("wav:/nonexistent/kestrun.wav", nullptr));
    EXPECT_FALSE(missing.initialize());
}

TEST(HostCodec, WavOutputIsAValidFileAtEveryMoment)
{
    const std::string path = make_temp_dir("out") + "/out.wav";
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(path, error)) << error;
    float left[16], right[16];
    for (int block = 0; block < 3; ++block) {
        for (int k = 0; k < 16; ++k) {
            left[k] = float(block * 16 + k) / 64.0f;
            right[k] = -left[k];
        }
        ASSERT_TRUE(writer.write(left, right, block == 2 ? 5 : 16));
        // Another reader, while the writer goes on.
        WavReader reader;
        ASSERT_TRUE(reader.open(path, error)) << error;
        EXPECT_EQ(reader.frames(), uint64_t(block * 16 + (block == 2 ? 5 : 16)));
        EXPECT_EQ(reader.sampleRate(), 48000);
        EXPECT_EQ(reader.channels(), 2);
    }
    WavReader reader;
    ASSERT_TRUE(reader.open(path, error));
    float l[16], r[16];
    reader.read(l, r, 16);
    reader.read(l, r, 16);
    ASSERT_EQ(reader.read(l, r, 16), 5u);
    EXPECT_EQ(l[4], 36.0f / 64.0f);
    EXPECT_EQ(r[4], -36.0f / 64.0f);
}

TEST(HostCodec, ManualPaceMovesExactlyTheInputFramesThenStops)
{
    const std::string dir = make_temp_dir("manual");
    std::string samples;
    for (int i = 0; i < 37; ++i) samples += floats32({float(i) / 64.0f, -float(i) / 64.0f});
    write_file(dir + "/in.wav", makeWav(3, 32, 2, 48000, samples));
    HostCodec codec(config(("wav:" + dir + "/in.wav").c_str(), ("wav:" + dir + "/out.wav").c_str()));
    ASSERT_TRUE(codec.initialize());
    Codec::addInterface(&codec);
    EXPECT_TRUE(codec.start(nullptr)); // the test moves the frames, no audio thread
    int frames = 0;
    while (codec.audioRead(0.5f)) {
        EXPECT_EQ(Codec::data[0][0], float(frames * 16) / 128.0f);
        ASSERT_TRUE(codec.audioWrite(2.0f));
        ++frames;
    }
    EXPECT_EQ(frames, 3);
    EXPECT_TRUE(codec.inputEnded());
    EXPECT_FALSE(codec.audioRead(1.0f));
    // Read at half and written at double: the input comes back as it was, 37 frames and no padding.
    EXPECT_EQ(read_file(dir + "/out.wav").substr(44), samples);
}

TEST(HostCodec, LoopedInputStartsAgain)
{
    const std::string dir = make_temp_dir("loop");
    write_file(dir + "/in.wav", makeWav(1, 16, 1, 48000, pcm(16, {16384, 8192, 4096})));
    HostCodec codec(config(("wav:" + dir + "/in.wav").c_str(), nullptr, "manual", "1"));
    ASSERT_TRUE(codec.initialize());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(codec.audioRead(1.0f));
        EXPECT_EQ(Codec::data[0][0], 0.5f);
        EXPECT_EQ(Codec::data[1][2], 0.125f);
        EXPECT_EQ(Codec::data[1][3], 0.0f); // the short file's frame is padded with silence
    }
}

TEST(HostCodec, SineHasItsFrequencyAndAmplitude)
{
    HostCodec codec(config("sine:1000:0.25", nullptr));
    ASSERT_TRUE(codec.initialize());
    int crossings = 0;
    float peak = 0.0f, previous = 0.0f;
    for (int frame = 0; frame < 3000; ++frame) { // one second
        ASSERT_TRUE(codec.audioRead(1.0f));
        for (int k = 0; k < 16; ++k) {
            float x = Codec::data[0][k];
            EXPECT_EQ(x, Codec::data[1][k]);
            if (previous < 0.0f && x >= 0.0f) ++crossings;
            peak = std::max(peak, std::fabs(x));
            previous = x;
        }
    }
    EXPECT_NEAR(crossings, 1000, 1);
    EXPECT_NEAR(peak, 0.25f, 0.001f);
}

TEST(HostCodec, RealTimePaceSleepsBetweenFrames)
{
    HostCodec codec(config("silence", nullptr, "realtime"));
    ASSERT_TRUE(codec.initialize());
    timespec cpuStart{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuStart);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(codec.start(nullptr)); // the codec's clock starts here
    for (int frame = 0; frame < 300; ++frame) ASSERT_TRUE(codec.audioRead(1.0f)); // 100 ms of audio
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timespec cpuEnd{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuEnd);
    double cpu = double(cpuEnd.tv_sec - cpuStart.tv_sec) + double(cpuEnd.tv_nsec - cpuStart.tv_nsec) * 1e-9;
    EXPECT_GE(wall, 0.0996); // the 300th frame is due 299 frame times after start()
    EXPECT_LT(wall, 2.0);
    EXPECT_LT(cpu, wall / 2); // sleeping, not spinning
}

// The fast pace never sleeps: an audio thread at a real-time priority (KESTRUN_REALTIME=1) would hold
// its CPU for good, so start() puts it back to normal scheduling.
TEST(HostCodec, FastPaceRunsTheAudioThreadAtNormalPriority)
{
    struct Probe {
        HostCodec codec{config("silence", nullptr, "fast")};
        int policyBefore = -1, policyAfter = -1;
    } probe;
    ASSERT_TRUE(probe.codec.initialize());
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    sched_param param{};
    param.sched_priority = 59;
    pthread_attr_setschedparam(&attr, &param);
    pthread_t thread;
    auto body = [](void* data) -> void* {
        auto* p = static_cast<Probe*>(data);
        sched_param current{};
        pthread_getschedparam(pthread_self(), &p->policyBefore, &current);
        p->codec.start(nullptr);
        pthread_getschedparam(pthread_self(), &p->policyAfter, &current);
        return nullptr;
    };
    const int rc = pthread_create(&thread, &attr, body, &probe);
    pthread_attr_destroy(&attr);
    if (rc == EPERM) GTEST_SKIP() << "no real-time rights here";
    ASSERT_EQ(rc, 0);
    pthread_join(thread, nullptr);
    EXPECT_EQ(probe.policyBefore, SCHED_FIFO);
    EXPECT_EQ(probe.policyAfter, SCHED_OTHER);
}

TEST(HostCodec, BoardCodecOfTheHostBuildComesFromTheEnvironment)
{
    setenv("KESTRUN_AUDIO_IN", "sine:440", 1);
    setenv("KESTRUN_AUDIO_PACE", "manual", 1);
    StdoutCapture out;
    Codec::initialize();
    std::string text = out.text();
    auto* codec = dynamic_cast<HostCodec*>(Codec::getActiveCodec());
    ASSERT_NE(codec, nullptr) << text;
    EXPECT_NE(text.find("I (Codec): HostCodec installed (fs=48000)\n"), std::string::npos);
    EXPECT_EQ(codec->getConfig().input, HostCodecConfig::Input::Sine);
    Codec::initialize(); // a second call registers nothing new
    EXPECT_EQ(Codec::getActiveCodec(), codec);
}
