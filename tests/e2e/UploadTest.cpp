// The upload tools of scripts/, run as a user runs them against the running program: what they
// store is read back over the protocol by the test's own client.
#include "Transfer.h"
#include "Unit.h"

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string output;
};

// Runs a tool of scripts/ with the unit's port; its status and everything it printed.
ToolRun tool(const Unit& unit, const std::string& arguments)
{
    const std::string command = "KESTRUN_TCP_PORT=" + std::to_string(unit.port()) + " python3 " KESTRUN_TESTS_DIR
                                "/../scripts/" + arguments + " 2>&1";
    ToolRun run{-1, ""};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A WAV file of PCM (16 or 24 bits) or 32-bit float frames; `channels` values per frame.
std::string wav(int rate, int channels, int bits, bool floats, const std::vector<double>& values)
{
    std::string data;
    for (double v : values) {
        if (floats) {
            float f = float(v);
            data.append(reinterpret_cast<const char*>(&f), 4);
        } else {
            int32_t s = int32_t(std::lround(v * double((1 << (bits - 1)) - 1)));
            data.append(reinterpret_cast<const char*>(&s), size_t(bits / 8)); // little-endian host
        }
    }
    auto u16 = [](int v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)}; };
    auto u32 = [&](uint32_t v) { return u16(int(v & 0xFFFF)) + u16(int(v >> 16)); };
    const int align = channels * bits / 8;
    std::string fmt = u16(floats ? 3 : 1) + u16(channels) + u32(uint32_t(rate)) + u32(uint32_t(rate * align)) +
                      u16(align) + u16(bits);
    std::string body = "WAVEfmt " + u32(uint32_t(fmt.size())) + fmt + "data" + u32(uint32_t(data.size())) + data;
    return "RIFF" + u32(uint32_t(body.size())) + body;
}

// What the stored element must hold: the PCM samples as floats (full scale 1.0), cut or padded to 2048.
std::string irElement(const std::vector<double>& samples, int bits)
{
    const double full = double(1 << (bits - 1));
    std::string bytes(2048 * 4, '\0');
    for (size_t i = 0; i < samples.size() && i < 2048; ++i) {
        float f = float(double(std::lround(samples[i] * (full - 1))) / full);
        std::memcpy(&bytes[i * 4], &f, 4);
    }
    return bytes;
}

TEST(UploadTools, ModelsAndImpulseResponsesReachTheirSlotsAndRefusalsSayWhy)
{
    Unit unit;
    unit.startQuiet();
    Client client(unit.port());
    const std::string dir = test_root();
    const std::string model = read_file(KESTRUN_TESTS_DIR "/data/nam/e_wavenet_nano.nam");
    ASSERT_FALSE(model.empty());
    write_file(dir + "/zipped.nam.gz", transfer::gzip(model));
    write_file(dir + "/broken.nam", "{\"architecture\": ");

    // A decaying stereo response of 3000 frames: the right channel, cut to 2048.
    std::vector<double> stereo, right, mono;
    for (int i = 0; i < 3000; ++i) {
        stereo.push_back(0.9 * std::exp(-i / 300.0));
        stereo.push_back(-0.5 * std::exp(-i / 100.0));
        right.push_back(-0.5 * std::exp(-i / 100.0));
    }
    for (int i = 0; i < 500; ++i) mono.push_back(i % 7 == 0 ? 0.25 : -0.125);
    write_file(dir + "/stereo.wav", wav(48000, 2, 24, false, stereo));
    write_file(dir + "/short.wav", wav(48000, 1, 16, false, mono));
    write_file(dir + "/cd.wav", wav(44100, 1, 16, false, mono));

    const struct {
        const char* what;
        std::string arguments;
        int status;
        const char* said;                  // in the output
        const transfer::List* list;        // null: nothing stored
        int position;
        std::string element;               // the data the list must hold there
    } cases[] = {
        {"a model, gzipped on the way", "upload.py amp 01B " KESTRUN_TESTS_DIR "/data/nam/e_wavenet_nano.nam", 0,
         "stored and read back", &transfer::kModels, 1, model},
        {"a gzipped model file", "upload.py drive 02A " + dir + "/zipped.nam.gz --name Nano", 0, "stored and read back",
         nullptr, 3, ""},
        {"a stereo response's right channel, cut", "upload.py ir 01C " + dir + "/stereo.wav --channel right", 0,
         "cut to the first 2048", &transfer::kIrs, 2, irElement(right, 24)},
        {"a short mono response, padded", "upload.py ir 5 " + dir + "/short.wav", 0, "padded with silence",
         &transfer::kIrs, 5, irElement(mono, 16)},
        {"another sample rate", "upload.py ir 01A " + dir + "/cd.wav", 1, "is at 44100 Hz", nullptr, 0, ""},
        {"a name the unit refuses", "upload.py ir 01A " + dir + "/short.wav --name " + std::string(32, 'n'), 1,
         "refused: name too long", nullptr, 0, ""},
        {"not a model", "upload.py amp 01A " + dir + "/broken.nam", 1, "not a model file", nullptr, 0, ""},
        {"no such slot", "upload.py ir 18A " + dir + "/short.wav", 1, "outside the list", nullptr, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ToolRun run = tool(unit, c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        if (!c.list) continue;
        std::string data = transfer::read(client, *c.list, c.position);
        if (c.list->gzip) data = transfer::gunzip(data);
        ASSERT_GE(data.size(), c.element.size());
        EXPECT_TRUE(data.compare(0, c.element.size(), c.element) == 0);
        EXPECT_EQ(data.find_first_not_of('\0', c.element.size()), std::string::npos) << "zero after the element";
    }
    // Names: the file's without its extension, or the one given; nothing in the refused slots.
    EXPECT_NE(client.ask("browse root\\nam_drive").find("\"value\":[\"\",\"\",\"\",\"Nano\",\"\","), std::string::npos);
    EXPECT_NE(client.ask("browse root\\ir_list").find("\"value\":[\"\",\"\",\"stereo\",\"\",\"\",\"short\",\"\","),
              std::string::npos);
    EXPECT_NE(client.ask("browse root\\nam_amp").find("\"value\":[\"\",\"e_wavenet_nano\",\"\","), std::string::npos);

    // A program image: it becomes home/app_run.
    std::string image(5000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = char(i * 7 + 3);
    write_file(dir + "/image", image);
    const ToolRun run = tool(unit, "upload_image.py " + dir + "/image");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(read_file(dir + "/home/app_run"), image);
}

} // namespace
