// Presets and stored list elements handled over TCP as a companion application does, and what of
// them a restart brings back.
#include "Transfer.h"
#include "Unit.h"

#include "params/StorageId.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

// The first `count` names of a list's value text (names without commas).
std::string names(Client& client, const char* list, int count)
{
    std::string reply = client.ask(std::string("browse ") + list);
    size_t from = reply.find("\"value\":[");
    if (from == std::string::npos) return "";
    std::string text = reply.substr(from + 9, reply.find(']', from) - from - 9);
    size_t end = 0;
    for (int i = 0; i < count && end != std::string::npos; ++i) end = text.find(',', i ? end + 1 : 0);
    return text.substr(0, end);
}

std::string randomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = char(generator());
    return bytes;
}

const char* kTempo = "root\\app\\output\\pst\\tmp";
const char* kPreset = "root\\app\\preset";

} // namespace

TEST(Lists, PresetsSavedLoadedRenamedMovedAndDeletedOverTcpSurviveARestart)
{
    Unit unit;
    unit.start();
    {
        Client client(unit.port());
        auto write = [&](const std::string& path, const std::string& json) {
            std::string line = path + ":{\"value\":" + json + "}";
            EXPECT_EQ(client.ask("write " + line), nul(line + "\r\n"));
        };
        write(kTempo, "150");
        write("root\\app\\reverb\\on_off", "\"ON\"");
        client.ask("write root\\app\\preset:{\"value\":\"Lead\",\"save\":\"save\"}");
        write(kTempo, "90");
        write("root\\app\\reverb\\on_off", "\"OFF\"");
        client.ask("write root\\app\\preset:{\"value\":\"Clean\",\"save\":\"save\"}");
        client.ask("write root\\app\\preset:{\"value\":\"Spare\",\"save\":\"save\"}");
        EXPECT_EQ(names(client, "root\\presets", 4), "\"Lead\",\"Clean\",\"Spare\",\"\"");

        // Load.
        write(kPreset, "\"Lead\"");
        EXPECT_EQ(valueOf(client, kTempo), "150.000000");
        EXPECT_EQ(valueOf(client, "root\\app\\reverb\\on_off"), "\"ON\"");

        // Rename the selected preset: the selection follows.
        EXPECT_EQ(transfer::rename(client, transfer::kPresets, 0, "Solo"), "root\\presets:{\"index\":0,\"chunk\":-1}");
        EXPECT_EQ(valueOf(client, kPreset), "\"Solo\"");
        // A name the list cannot keep is refused, and said to be.
        EXPECT_EQ(transfer::rename(client, transfer::kPresets, 1, "Solo"),
                  "root\\presets:{\"index\":1,\"chunk\":-2,\"error\":\"name taken\"}");
        EXPECT_EQ(transfer::write(client, transfer::kPresets, 5, std::string(39, 'x'), std::string(100, 'd')),
                  "root\\presets:{\"index\":5,\"chunk\":-2,\"error\":\"name too long\"}");

        // Move Clean behind the empty positions; delete Spare (renamed to no name).
        std::string move = "dmove root\\presets:{\"index\":1,\"index2\":3}";
        EXPECT_EQ(client.ask(move), nul(move));
        EXPECT_EQ(transfer::rename(client, transfer::kPresets, 1, ""), "root\\presets:{\"index\":1,\"chunk\":-1}");
        EXPECT_EQ(names(client, "root\\presets", 4), "\"Solo\",\"\",\"\",\"Clean\"");

        // The selection reaches its file through the storage cycle.
        const std::string selection = test_root() + "/home/storage/" + make_storage_id(kPreset);
        ASSERT_TRUE(waitUntil([&] { return read_file(selection) == std::string("Solo\0", 5); }, 10000));
    }
    unit.kill();
    unit.start();
    Client client(unit.port());
    EXPECT_EQ(names(client, "root\\presets", 4), "\"Solo\",\"\",\"\",\"Clean\"");
    EXPECT_EQ(valueOf(client, kPreset), "\"Solo\"");
    EXPECT_EQ(valueOf(client, kTempo), "150.000000") << "the renamed selection is loaded at start-up";
    EXPECT_EQ(valueOf(client, "root\\app\\reverb\\on_off"), "\"ON\"");
    client.ask("write root\\app\\preset:{\"value\":\"Clean\"}");
    EXPECT_EQ(valueOf(client, kTempo), "90.000000");
}

TEST(Lists, APresetAnImpulseResponseAndAModelTravelBothWaysOverTcp)
{
    Unit unit;
    unit.start();
    Client client(unit.port());
    const std::string preset = randomBytes(16384, 1);
    // A cabinet-like response: noise decaying over the 2048 samples.
    std::string response(8192, '\0');
    std::mt19937 generator(2);
    for (int k = 0; k < 2048; ++k) {
        const float tap = float(int(generator() % 2001) - 1000) * 1e-3f * std::exp(-k / 300.0f);
        std::memcpy(&response[4 * size_t(k)], &tap, 4);
    }
    // A model file is JSON text: it compresses, though not trivially.
    std::string content = read_file(std::string(KESTRUN_TESTS_DIR) + "/data/nam/a_wavenet_small.nam");
    ASSERT_GT(content.size(), 8000u);
    content.resize(524288, '\0');
    const std::string image = transfer::gzip(content);
    ASSERT_GT(image.size(), 2 * 1024u);

    EXPECT_EQ(transfer::write(client, transfer::kPresets, 7, "Uploaded", preset),
              "root\\presets:{\"index\":7,\"chunk\":-1}");
    EXPECT_EQ(transfer::write(client, transfer::kIrs, 3, "Room", response), "root\\ir_list:{\"index\":3,\"chunk\":-1}");
    EXPECT_EQ(transfer::write(client, transfer::kModels, 2, "Plexi", image),
              "root\\nam_amp:{\"index\":2,\"chunk\":-1}");
    // A damaged image is refused rather than stored as zeros.
    EXPECT_EQ(transfer::write(client, transfer::kModels, 2, "Broken", image.substr(0, image.size() / 2)),
              "root\\nam_amp:{\"index\":2,\"chunk\":-2,\"error\":\"image corrupt\"}");

    auto check = [&](Client& reader, const char* when) {
        EXPECT_EQ(transfer::read(reader, transfer::kPresets, 7), preset) << when;
        EXPECT_EQ(transfer::read(reader, transfer::kIrs, 3), response) << when;
        EXPECT_EQ(transfer::gunzip(transfer::read(reader, transfer::kModels, 2)), content) << when;
        EXPECT_EQ(names(reader, "root\\nam_amp", 3), "\"\",\"\",\"Plexi\"") << when;
    };
    check(client, "uploaded");
    unit.kill();
    unit.start();
    Client again(unit.port());
    check(again, "after a restart");
}
