// Hostile or broken data meets the running program: uploads it cannot use, stored files cut, replaced
// or lost, and storage that cannot be written. None may silence, deafen, unlock or wipe the unit.
#include "Transfer.h"
#include "Unit.h"

#include "params/StorageId.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string nul(std::string text)
{
    return Client::withNul(std::move(text));
}

std::string stored(const std::string& key)
{
    return test_root() + "/home/storage/" + make_storage_id(key);
}

std::string floats(float value, size_t count = 2048)
{
    std::string bytes(4 * count, '\0');
    for (size_t k = 0; k < count; ++k) std::memcpy(&bytes[4 * k], &value, 4);
    return bytes;
}

std::string randomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = char(generator() | 1);
    return bytes;
}

// A 16-bit stereo WAV of a sine, as a player would pick from a folder of recordings.
std::string wav(size_t frames)
{
    std::string data;
    for (size_t i = 0; i < 2 * frames; ++i) {
        const int16_t sample = int16_t(12000 * std::sin(double(i / 2) * 0.0576));
        data.append(reinterpret_cast<const char*>(&sample), 2);
    }
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const std::string format("\x01\x00\x02\x00\x80\xbb\x00\x00\x00\xee\x02\x00\x04\x00\x10\x00", 16);
    return "RIFF" + u32(uint32_t(36 + data.size())) + "WAVEfmt " + u32(16) + format + "data" +
           u32(uint32_t(data.size())) + data;
}

std::string modelText(const char* version)
{
    std::string text = read_file(std::string(KESTRUN_TESTS_DIR) + "/data/nam/a_wavenet_small.nam");
    const size_t at = text.find("0.5.");
    return at == std::string::npos ? text : text.replace(at, 5, version);
}

// A list element's name area.
std::string nameArea(const std::string& name)
{
    return name + std::string(128 - name.size(), '\0');
}

std::string element(const std::string& content, size_t size)
{
    std::string image = content;
    image.resize(size, '\0');
    return transfer::gzip(image);
}

} // namespace

TEST(HostileData, ResponsesAndModelsTheUnitCannotUseAreRefusedWithTheReason)
{
    Unit unit;
    unit.startQuiet();
    Client client(unit.port());
    ASSERT_EQ(transfer::write(client, transfer::kIrs, 3, "Good", floats(0.001f)), "root\\ir_list:{\"index\":3,\"chunk\":-1}");
    const std::string model = element(modelText("0.5.4"), 524288);
    ASSERT_EQ(transfer::write(client, transfer::kModels, 2, "Plexi", model), "root\\nam_amp:{\"index\":2,\"chunk\":-1}");

    struct Case {
        const char* what;
        const transfer::List& list;
        int index;
        std::string data;
        std::string error;
    } cases[] = {
        {"all 3e38", transfer::kIrs, 3, floats(3e38f), "impulse response too loud: +836 dB, at most +60"},
        {"all 1e6", transfer::kIrs, 3, floats(1e6f), "impulse response too loud: +186 dB, at most +60"},
        {"all 1e20", transfer::kIrs, 3, floats(1e20f), "impulse response too loud: +466 dB, at most +60"},
        {"silence", transfer::kIrs, 3, floats(0.0f), "impulse response silent: -inf dB, at least -60"},
        {"a WAV file's first 8192 bytes", transfer::kIrs, 3, wav(4096).substr(0, 8192), "impulse response"},
        {"a text file", transfer::kModels, 2, element("Amp notes: gain 7, bass 5\n", 524288), "invalid NAM file: "},
        {"a WAV file", transfer::kModels, 2, element(wav(48000), 524288), "invalid NAM file: "},
        {"300 kB of random bytes", transfer::kModels, 2, element(randomBytes(300000, 4), 524288), "invalid NAM file: "},
        {"a version 0.6.0 model", transfer::kModels, 2, element(modelText("0.6.0"), 524288),
         "invalid NAM file: file version newer than 0.5.4"},
    };
    for (const Case& c : cases) {
        const std::string refused = std::string(c.list.path) + ":{\"index\":" + std::to_string(c.index) +
                                    ",\"chunk\":-2,\"error\":\"" + c.error;
        EXPECT_EQ(transfer::write(client, c.list, c.index, "Bad", c.data).rfind(refused, 0), 0u) << c.what;
    }
    // The stored elements are untouched.
    EXPECT_EQ(transfer::read(client, transfer::kIrs, 3), floats(0.001f));
    EXPECT_EQ(transfer::gunzip(transfer::read(client, transfer::kModels, 2)), transfer::gunzip(model));
}

TEST(HostileData, StoredFilesCutOrReplacedKeepWhatCanBeReadAndAreToldOnce)
{
    Unit unit;
    unit.startQuiet();
    std::string text(9000, 'p');
    {
        Client client(unit.port());
        client.ask("write root\\app\\preset:{\"value\":\"Lead\",\"save\":\"save\"}");
        ASSERT_TRUE(waitUntil([&] { return read_file(stored("root\\app\\preset")) == std::string("Lead", 5); }, 10000));
    }
    unit.kill();
    const std::string preset = stored("root\\presets:0");
    const std::string whole = read_file(preset);
    ASSERT_EQ(whole.substr(0, 5), std::string("Lead", 5));
    ::truncate(preset.c_str(), 1000);
    // Written by an older program that did not check them.
    write_file(stored("root\\ir_list:0"), nameArea("Old IR") + floats(1e20f));
    write_file(stored("root\\nam_amp:4"), nameArea("Old amp") + std::string("not a model") + std::string(524277, '\0'));
    ::unlink(stored("root\\sys\\alias").c_str());
    ASSERT_EQ(::mkfifo(stored("root\\sys\\alias").c_str(), 0644), 0);

    unit.startQuiet(); // a FIFO would hold a blocking open forever
    Client client(unit.port());
    EXPECT_EQ(valueOf(client, "root\\app\\preset"), "\"Lead\"");
    EXPECT_EQ(transfer::read(client, transfer::kPresets, 0).substr(0, 872), whole.substr(128, 872));
    struct stat st {};
    EXPECT_EQ((::stat(preset.c_str(), &st), st.st_size), 1000) << "left as it was until it changes";
    EXPECT_TRUE(::stat(stored("root\\sys\\alias").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    client.ask("write root\\app\\ir\\on_off:{\"value\":\"ON\"}\r\nwrite root\\app\\ir\\ir:{\"value\":\"Old IR\"}");
    EXPECT_TRUE(unit.waitLog("W (IrLoader): Impulse response \"Old IR\" passed over: impulse response too loud", 5000));
    const std::string log = unit.log();
    for (const std::string& line : {"W (Storage): " + stored("root\\sys\\alias") + ": not a regular file",
                                    std::string("ERROR (NamPlayer): Error parsing nam file: slot 4 \"Old amp\": "
                                                "invalid NAM file: "),
                                    std::string("W (IrLoader): Impulse response \"Old IR\" passed over")})
        EXPECT_EQ(log.find(line), log.rfind(line)) << line << "\n" << log;
}

TEST(HostileData, ALostOrDamagedPasswordLocksRemoteChanges)
{
    Unit unit;
    unit.startQuiet();
    unit.kill();
    const std::string pwd = stored("root\\sys\\pwd");
    struct Case {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"cut", [&] { write_file(pwd, "hunt"); }},
        {"random bytes", [&] { write_file(pwd, randomBytes(40, 5)); }},
        {"deleted", [&] { ::unlink(pwd.c_str()); }},
        {"a folder", [&] { ::mkdir(pwd.c_str(), 0755); }},
        {"a link to an empty password", [&] {
             write_file(pwd + ".x", std::string(1, '\0'));
             ::symlink((pwd + ".x").c_str(), pwd.c_str());
         }},
    };
    for (const Case& c : cases) {
        ::unlink(pwd.c_str());
        ::rmdir(pwd.c_str());
        c.damage();
        struct stat before {};
        ::lstat(pwd.c_str(), &before);
        unit.startQuiet();
        Client client(unit.port());
        std::string reply = client.ask("write root\\sys\\alias:{\"value\":\"x\"}\r\nread root\\sys\\alias");
        EXPECT_EQ(reply, nul("token " + tokenOf(reply) + " n\r\nroot\\sys\\alias:{\"value\":\"\"}")) << c.what;
        const std::string lock = "Stored password unreadable: remote changes locked until a password is set on the unit";
        EXPECT_EQ(unit.log().find(lock), unit.log().rfind(lock)) << c.what;
        EXPECT_NE(unit.log().find(lock), std::string::npos) << c.what;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        struct stat after {};
        ::lstat(pwd.c_str(), &after);
        EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode) << c.what << ": left alone";
        unit.kill();
    }
}

TEST(HostileData, StorageThatCannotBeWrittenIsToldOnceAndEchoesStillCome)
{
    Unit unit;
    unit.startQuiet();
    const std::string alias = stored("root\\sys\\alias");
    ::unlink(alias.c_str());
    ASSERT_EQ(::mkdir(alias.c_str(), 0755), 0);
    Client client(unit.port());
    for (const char* value : {"a", "b"})
        EXPECT_EQ(client.ask(std::string("write root\\sys\\alias:{\"value\":\"") + value + "\"}"),
                  nul(std::string("root\\sys\\alias:{\"value\":\"") + value + "\"}\r\n"));
    const std::string line = "ERROR (Storage): Storage error -1: rename error " + alias + ": Is a directory\n";
    ASSERT_TRUE(unit.waitLog(line, 10000));
    std::this_thread::sleep_for(std::chrono::seconds(3)); // retried every cycle meanwhile
    EXPECT_EQ(unit.log().find(line), unit.log().rfind(line)) << unit.log();
    unit.kill();

    // A root whose storage folder cannot be made: one line with the path and the cause.
    ::rmdir(alias.c_str());
    const std::string folder = test_root() + "/home/storage";
    ::rename(folder.c_str(), (folder + ".old").c_str());
    write_file(folder, "a file where the folder must be");
    unit.startQuiet();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string cause = "Failed to nvs_flash_init err = 1: mkdir error " + folder + ": Not a directory\n";
    EXPECT_NE(unit.log().find(cause), std::string::npos) << unit.log();
    EXPECT_EQ(unit.log().find("Failed to nvs_flash_init"), unit.log().rfind("Failed to nvs_flash_init"));
    EXPECT_EQ(unit.log().find("Storage error"), std::string::npos);
}
