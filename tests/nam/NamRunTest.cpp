// nam-run as a user runs it: WAV files in every supported sample format in, a float WAV out that
// matches what the library gives for the same samples, the adjustments on request, and clean
// failures.
#include "NamTestSupport.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace namtest;

namespace {

void put(std::string& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(char(v >> (8 * i)));
}

// A WAV file with `channels` interleaved channels; samples are given as raw integers or float bits.
std::string wav(uint16_t format, uint16_t bits, uint16_t channels, const std::vector<uint64_t>& raw,
                bool extensible = false)
{
    std::string fmt;
    put(fmt, extensible ? 0xFFFE : format, 2);
    put(fmt, channels, 2);
    put(fmt, 48000, 4);
    put(fmt, 48000u * channels * bits / 8, 4);
    put(fmt, channels * bits / 8, 2);
    put(fmt, bits, 2);
    if (extensible) {
        put(fmt, 22, 2);
        put(fmt, bits, 2);
        put(fmt, 0, 4);
        put(fmt, format, 2); // sub-format GUID, its first two bytes name the format
        fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    std::string data;
    for (uint64_t v : raw) put(data, v, bits / 8);
    std::string out = "RIFF";
    put(out, 4 + 8 + fmt.size() + 8 + 10 + 8 + data.size(), 4);
    out += "WAVEfmt ";
    put(out, fmt.size(), 4);
    out += fmt;
    out += "LIST"; // a chunk the reader must skip
    put(out, 10, 4);
    out += std::string(10, 'x');
    out += "data";
    put(out, data.size(), 4);
    out += data;
    return out;
}

std::vector<float> readFloatWav(const std::string& path)
{
    std::string bytes = read_file(path);
    EXPECT_GE(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(uint8_t(bytes[20]), 3); // IEEE float
    EXPECT_EQ(uint8_t(bytes[22]), 1); // mono
    std::vector<float> s((bytes.size() - 44) / 4);
    std::memcpy(s.data(), bytes.data() + 44, s.size() * 4);
    return s;
}

int runTool(const std::string& args)
{
    std::string command = program_command(NAM_RUN_PATH) + " " + args + " 2>/dev/null";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(NamRun, EverySampleFormatPlaysLikeTheLibrary)
{
    const std::string dir = make_temp_dir("namrun");
    const std::string model = vectorPath("a_wavenet_small.nam");
    std::vector<float> signal = testSignal(1000);
    for (float& v : signal) v *= 0.8f; // inside full scale, so no PCM format clips it

    struct Case {
        const char* name;
        uint16_t format, bits, channels;
        bool extensible;
    } cases[] = {{"pcm16 stereo", 1, 16, 2, false}, {"pcm24 mono", 1, 24, 1, false},
                 {"pcm32 mono", 1, 32, 1, false},   {"float32 stereo", 3, 32, 2, false},
                 {"float64 mono", 3, 64, 1, false}, {"extensible pcm24", 1, 24, 1, true}};
    for (const Case& c : cases) {
        // The left channel carries the signal, the right one loud junk that must be ignored.
        std::vector<uint64_t> raw;
        std::vector<float> decoded;
        for (float v : signal) {
            for (int ch = 0; ch < c.channels; ++ch) {
                float x = ch == 0 ? v : 0.9f;
                if (c.format == 3 && c.bits == 32) {
                    uint32_t b;
                    std::memcpy(&b, &x, 4);
                    raw.push_back(b);
                    if (ch == 0) decoded.push_back(x);
                } else if (c.format == 3) {
                    double d = x;
                    uint64_t b;
                    std::memcpy(&b, &d, 8);
                    raw.push_back(b);
                    if (ch == 0) decoded.push_back(x);
                } else {
                    double full = double(1ull << (c.bits - 1));
                    int64_t q = int64_t(std::lround(double(x) * (full - 1)));
                    raw.push_back(uint64_t(q));
                    if (ch == 0) decoded.push_back(float(double(q) / full));
                }
            }
        }
        const std::string in = dir + "/in.wav", out = dir + "/out.wav";
        write_file(in, wav(c.format, c.bits, c.channels, raw, c.extensible));
        ASSERT_EQ(runTool(model + " " + in + " " + out), 0) << c.name;

        // What the player does: create, prewarm once more, blocks of 16.
        auto m = create(readText(model));
        m->Prewarm();
        EXPECT_LE(maxAbsDiff(readFloatWav(out), run(*m, decoded, 16)), 1e-6) << c.name;
    }
}

TEST(NamRun, AdjustAppliesTheRecommendedGains)
{
    const std::string dir = make_temp_dir("namrun");
    const std::string model = vectorPath("a_wavenet_small.nam"); // -6 dB in, -5.5 dB out
    std::vector<uint64_t> raw;
    std::vector<float> signal = testSignal(800);
    for (float v : signal) {
        uint32_t b;
        std::memcpy(&b, &v, 4);
        raw.push_back(b);
    }
    write_file(dir + "/in.wav", wav(3, 32, 1, raw));
    ASSERT_EQ(runTool("--adjust " + model + " " + dir + "/in.wav " + dir + "/out.wav"), 0);

    auto m = create(readText(model));
    m->Prewarm();
    for (float& v : signal) v *= std::pow(10.0f, -6.0f / 20.0f);
    std::vector<float> expected = run(*m, signal, 16);
    for (float& v : expected) v *= std::pow(10.0f, -5.5f / 20.0f);
    EXPECT_LE(maxAbsDiff(readFloatWav(dir + "/out.wav"), expected), 1e-6);
}

TEST(NamRun, FailuresAreReportedNotCrashed)
{
    const std::string dir = make_temp_dir("namrun");
    write_file(dir + "/good.wav", wav(1, 16, 1, {1, 2, 3, 4}));
    write_file(dir + "/pcm8.wav", wav(1, 8, 1, {1, 2, 3, 4}));
    write_file(dir + "/short.wav", "RIFF\x04\x00\x00\x00WAVE");
    write_file(dir + "/bad.nam", "{\"architecture\": \"WaveNet\"");
    const std::string model = vectorPath("t_lstm_tiny.nam");
    struct Case {
        const char* name;
        std::string args;
        int status;
    } cases[] = {
        {"no arguments", "", 2},
        {"unknown option", "--fast " + model + " " + dir + "/good.wav " + dir + "/o.wav", 2},
        {"broken model", dir + "/bad.nam " + dir + "/good.wav " + dir + "/o.wav", 1},
        {"missing model", dir + "/none.nam " + dir + "/good.wav " + dir + "/o.wav", 1},
        {"missing input", model + " " + dir + "/none.wav " + dir + "/o.wav", 1},
        {"8-bit input", model + " " + dir + "/pcm8.wav " + dir + "/o.wav", 1},
        {"no chunks", model + " " + dir + "/short.wav " + dir + "/o.wav", 1},
        {"unwritable output", model + " " + dir + "/good.wav " + dir + "/no/such/dir/o.wav", 1},
        {"valid", model + " " + dir + "/good.wav " + dir + "/o.wav", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(runTool(c.args), c.status) << c.name;
}

} // namespace
