// The upload tools of scripts/, run as a user runs them against the running program: what they
// store is read back over the protocol by the test's own client.
#include "Transfer.h"
#include "Unit.h"

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <vector>

namespace {

// Runs a tool of scripts/ on the unit's port: its exit status, and what it printed.
int tool(const Unit& unit, const std::string& arguments, std::string& output)
{
    const std::string command = "KESTRUN_TCP_PORT=" + std::to_string(unit.port()) +
                                " python3 " KESTRUN_TESTS_DIR "/../scripts/" + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A WAV file of `bits`-bit PCM frames (on this little-endian host), and the element the cabinet must
// get from channel `pick`: floats of full scale 1.0, cut or padded to 2048.
std::string wav(int rate, int channels, int bits, const std::vector<double>& values, int pick, std::string& element)
{
    auto bytes = [](uint32_t v, int n) { return std::string(reinterpret_cast<const char*>(&v), size_t(n)); };
    const double full = double(1 << (bits - 1));
    std::string data;
    element.assign(2048 * 4, '\0');
    for (size_t i = 0; i < values.size(); ++i) {
        const long sample = std::lround(values[i] * (full - 1));
        data += bytes(uint32_t(sample), bits / 8);
        const float f = float(double(sample) / full);
        if (int(i) % channels == pick && i / size_t(channels) < 2048)
            std::memcpy(&element[i / size_t(channels) * 4], &f, 4);
    }
    const int align = channels * bits / 8;
    const std::string body = "WAVEfmt " + bytes(16, 4) + bytes(1, 2) + bytes(uint32_t(channels), 2) +
                             bytes(uint32_t(rate), 4) + bytes(uint32_t(rate * align), 4) + bytes(uint32_t(align), 2) +
                             bytes(uint32_t(bits), 2) + "data" + bytes(uint32_t(data.size()), 4) + data;
    return "RIFF" + bytes(uint32_t(body.size()), 4) + body;
}

TEST(UploadTools, ModelsAndImpulseResponsesReachTheirSlotsAndRefusalsSayWhy)
{
    Unit unit;
    unit.startQuiet();
    const std::string dir = test_root(), nano = KESTRUN_TESTS_DIR "/data/nam/e_wavenet_nano.nam";
    const std::string model = read_file(nano);
    write_file(dir + "/zipped.nam.gz", transfer::gzip(model));
    write_file(dir + "/broken.nam", "{\"architecture\": ");
    write_file(dir + "/configless.nam", "{\"architecture\": \"WaveNet\", \"weights\": []}");
    // A decaying stereo response of 3000 frames (its right channel, cut), a short mono one (padded).
    std::vector<double> stereo, mono;
    for (int i = 0; i < 6000; ++i) stereo.push_back((i % 2 ? -0.5 : 0.9) * std::exp(-i / 300.0));
    for (int i = 0; i < 500; ++i) mono.push_back(i % 7 == 0 ? 0.25 : -0.125);
    std::string right, padded, unused;
    write_file(dir + "/stereo.wav", wav(48000, 2, 24, stereo, 1, right));
    write_file(dir + "/short.wav", wav(48000, 1, 16, mono, 0, padded));
    write_file(dir + "/cd.wav", wav(44100, 1, 16, mono, 0, unused));

    const struct {
        std::string arguments;
        int status;
        const char* said;
        const transfer::List* list; // where the element is read back (null: not read)
        int position;
        const std::string& element;
    } cases[] = {
        {"upload.py amp 01B " + nano, 0, "stored and read back", &transfer::kModels, 1, model},
        {"upload.py drive 02A " + dir + "/zipped.nam.gz --name Nano", 0, "stored and read back", nullptr, 0, model},
        {"upload.py ir 01C " + dir + "/stereo.wav --channel right", 0, "cut to the first 2048", &transfer::kIrs, 2,
         right},
        {"upload.py ir 5 " + dir + "/short.wav", 0, "padded with silence", &transfer::kIrs, 5, padded},
        {"upload.py ir 01A " + dir + "/cd.wav", 1, "is at 44100 Hz", nullptr, 0, unused},
        {"upload.py ir 01A " + dir + "/short.wav --name " + std::string(32, 'n'), 1, "refused: name too long", nullptr,
         0, unused},
        {"upload.py amp 01A " + dir + "/broken.nam", 1, "not a model file", nullptr, 0, unused},
        {"upload.py amp 01A " + dir + "/configless.nam", 1, "refused: invalid NAM file: missing \"config\"", nullptr, 0,
         unused},
        {"upload.py ir 18A " + dir + "/short.wav", 1, "outside the list", nullptr, 0, unused},
        {"upload_image.py " + nano, 0, "written to /home/app_run", nullptr, 0, unused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::string output;
        EXPECT_EQ(tool(unit, c.arguments, output), c.status) << output;
        EXPECT_NE(output.find(c.said), std::string::npos) << output;
        if (!c.list) continue;
        Client client(unit.port()); // a tool may take longer than the unit keeps an idle connection
        std::string data = transfer::read(client, *c.list, c.position);
        if (c.list->gzip) data = transfer::gunzip(data);
        EXPECT_EQ(data, c.element + std::string(data.size() - std::min(data.size(), c.element.size()), '\0'));
    }
    // Names: the file's without its extension, or the one given; nothing in the refused slots.
    Client client(unit.port());
    EXPECT_NE(client.ask("browse root\\nam_drive").find("[\"\",\"\",\"\",\"Nano\",\"\","), std::string::npos);
    EXPECT_NE(client.ask("browse root\\ir_list").find("[\"\",\"\",\"stereo\",\"\",\"\",\"short\",\"\","),
              std::string::npos);
    EXPECT_NE(client.ask("browse root\\nam_amp").find("[\"\",\"e_wavenet_nano\",\"\","), std::string::npos);
    EXPECT_EQ(read_file(dir + "/home/app_run"), model);

    // Behind a password the tools log in with the one given, and say what is wrong otherwise.
    client.ask("write root\\sys\\pwd:{\"value\":\"4711\"}");
    const struct {
        const char* password;
        int status;
        const char* said;
    } logins[] = {{"", 1, "give it with --password"},
                  {"--password 0000", 1, "refused the password"},
                  {"--password 4711", 0, "padded with silence"}};
    for (const auto& c : logins) {
        std::string output;
        EXPECT_EQ(tool(unit, "upload.py ir 7 " + dir + "/short.wav --name locked " + c.password, output), c.status)
            << output;
        EXPECT_NE(output.find(c.said), std::string::npos) << output;
    }
}

} // namespace
