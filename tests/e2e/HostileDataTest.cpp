// Hostile or broken data meets the running program: uploads it cannot use, stored files cut, replaced
// or lost, and storage that cannot be written. None may silence, deafen, unlock or wipe the unit.
#include "Transfer.h"
#include "Unit.h"

#include "params/StorageId.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string stored(const std::string& key)
{
    return test_root() + "/home/storage/" + make_storage_id(key);
}

std::string floats(float value)
{
    std::string bytes(8192, '\0');
    for (size_t k = 0; k < bytes.size(); k += 4) std::memcpy(&bytes[k], &value, 4);
    return bytes;
}

// The start of a 16-bit stereo WAV recording of a sine.
std::string wav(size_t size)
{
    std::string w("RIFF\xff\xff\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xbb\0\0\0\xee\x02\0\x04\0\x10\0data\xdb\xff\0\0",
                  44);
    for (int i = 0; w.size() < size; ++i) {
        const int16_t sample = int16_t(12000 * std::sin(i / 2 * 0.03));
        w.append(reinterpret_cast<const char*>(&sample), 2);
    }
    return w;
}

// A model list element's gzip image.
std::string model(std::string text)
{
    text.resize(524288, '\0');
    return transfer::gzip(text);
}

bool once(const std::string& log, const std::string& line)
{
    return log.find(line) != std::string::npos && log.find(line) == log.rfind(line);
}

} // namespace

TEST(HostileData, ResponsesAndModelsTheUnitCannotUseAreRefusedWithTheReason)
{
    Unit unit;
    unit.startQuiet();
    Client client(unit.port());
    const std::string amp = read_file(std::string(KESTRUN_TESTS_DIR) + "/data/nam/a_wavenet_small.nam");
    std::string newer = amp, noise(300000, '\0');
    newer.replace(newer.find("0.5."), 5, "0.6.0");
    std::mt19937 generator(4);
    for (char& c : noise) c = char(generator());
    ASSERT_EQ(transfer::write(client, transfer::kIrs, 3, "Good", floats(0.001f)),
              "root\\ir_list:{\"index\":3,\"chunk\":-1}");
    ASSERT_EQ(transfer::write(client, transfer::kModels, 2, "Plexi", model(amp)),
              "root\\nam_amp:{\"index\":2,\"chunk\":-1}");
    const struct {
        const transfer::List& list;
        std::string data, error;
    } cases[] = {
        {transfer::kIrs, floats(3e38f), "impulse response too loud: +836 dB, at most +60"},
        {transfer::kIrs, floats(1e6f), "impulse response too loud: +186 dB, at most +60"},
        {transfer::kIrs, floats(1e20f), "impulse response too loud: +466 dB, at most +60"},
        {transfer::kIrs, wav(8192), "impulse response "},
        {transfer::kModels, model("Amp notes: gain 7, bass 5\n"), "invalid NAM file: "},
        {transfer::kModels, model(wav(300000)), "invalid NAM file: "},
        {transfer::kModels, model(noise), "invalid NAM file: "},
        {transfer::kModels, model(newer), "invalid NAM file: file version newer than 0.5.4\"}"},
    };
    for (const auto& c : cases) {
        const int at = c.list.gzip ? 2 : 3;
        const std::string reply = transfer::write(client, c.list, at, "Bad", c.data);
        EXPECT_EQ(reply.rfind(std::string(c.list.path) + ":{\"index\":" + std::to_string(at) +
                                  ",\"chunk\":-2,\"error\":\"" + c.error,
                              0),
                  0u)
            << reply;
    }
    EXPECT_EQ(transfer::read(client, transfer::kIrs, 3), floats(0.001f)) << "the stored elements are untouched";
    EXPECT_EQ(transfer::gunzip(transfer::read(client, transfer::kModels, 2)).substr(0, amp.size()), amp);
}

TEST(HostileData, StoredFilesCutOrReplacedKeepWhatCanBeReadAndAreToldOnce)
{
    Unit unit;
    unit.startQuiet();
    Client(unit.port()).ask("write root\\app\\preset:{\"value\":\"Lead\",\"save\":\"save\"}");
    ASSERT_TRUE(waitUntil([&] { return read_file(stored("root\\app\\preset")) == std::string("Lead", 5); }, 10000));
    unit.kill();
    const std::string preset = stored("root\\presets:0"), whole = read_file(preset), alias = stored("root\\sys\\alias");
    ASSERT_EQ(::truncate(preset.c_str(), 1000), 0);
    // Written by an older program that did not check them.
    write_file(stored("root\\ir_list:0"), std::string("Old IR").append(122, '\0') + floats(1e20f));
    write_file(stored("root\\nam_amp:4"),
               std::string("Old amp").append(121, '\0').append("not a model").append(524277, '\0'));
    ASSERT_EQ(::unlink(alias.c_str()) + ::mkfifo(alias.c_str(), 0644), 0);

    unit.startQuiet(); // a FIFO opened for reading would hold the start for ever
    Client client(unit.port());
    EXPECT_EQ(valueOf(client, "root\\app\\preset"), "\"Lead\"");
    EXPECT_EQ(transfer::read(client, transfer::kPresets, 0).substr(0, 872), whole.substr(128, 872));
    EXPECT_EQ(read_file(preset).size(), 1000u) << "left as it was until it changes";
    client.ask("write root\\app\\ir\\on_off:{\"value\":\"ON\"}\r\nwrite root\\app\\ir\\ir:{\"value\":\"Old IR\"}");
    EXPECT_TRUE(unit.waitLog("W (IrLoader): Impulse response \"Old IR\" passed over: impulse response too loud", 5000));
    for (const std::string& line :
         {"W (Storage): " + alias + ": not a regular file, left as it is",
          std::string("ERROR (NamPlayer): Error parsing nam file: slot 4 \"Old amp\": invalid")})
        EXPECT_TRUE(once(unit.log(), line)) << line << "\n" << unit.log();
}

// A file that cannot be read is left as it is only until its value changes, even when the program
// stops before the storage cycle has seen the change.
TEST(HostileData, AChangeToAValueWhoseFileWasUnreadableIsKeptByAStop)
{
    Unit unit;
    unit.startQuiet();
    unit.kill();
    const std::string alias = stored("root\\sys\\alias"), line = "root\\sys\\alias:{\"value\":\"Stage left\"}";
    const std::function<void()> damages[] = {[&] { ASSERT_EQ(::mkfifo(alias.c_str(), 0644), 0); },
                                             [&] { write_file(alias, "Stage"); }};
    for (const auto& damage : damages) {
        ::unlink(alias.c_str());
        damage();
        unit.startQuiet();
        ASSERT_TRUE(unit.waitLog(alias + ": ", 5000)) << "left as it is";
        EXPECT_EQ(Client(unit.port()).ask("write " + line), nul(line + "\r\n"));
        EXPECT_EQ(unit.stop(SIGTERM, 20000), 0);
        struct stat file {};
        ::lstat(alias.c_str(), &file);
        // A FIFO still in place would hold the reading test for ever.
        EXPECT_TRUE(S_ISREG(file.st_mode) && read_file(alias) == std::string("Stage left", 11));
        unit.startQuiet();
        Client client(unit.port());
        EXPECT_EQ(valueOf(client, "root\\sys\\alias"), "\"Stage left\"");
        unit.kill();
    }
}

TEST(HostileData, ALostOrDamagedPasswordLocksRemoteChanges)
{
    Unit unit;
    unit.startQuiet();
    unit.kill();
    const std::string pwd = stored("root\\sys\\pwd");
    const std::function<void()> damages[] = {
        [&] { write_file(pwd, "hunt"); }, // cut
        [&] { write_file(pwd, std::string("\x93\x11\0\xfe\x7f\x80\x01\x42\x01", 9)); },
        [&] { ::unlink(pwd.c_str()); },
        [&] { ::mkdir(pwd.c_str(), 0755); },
        [&] {
            write_file(pwd + ".x", std::string(1, '\0'));
            ASSERT_EQ(::symlink((pwd + ".x").c_str(), pwd.c_str()), 0);
        },
    };
    for (const auto& damage : damages) {
        if (::unlink(pwd.c_str()) != 0) ::rmdir(pwd.c_str());
        damage();
        struct stat before {
        }, after{};
        ::lstat(pwd.c_str(), &before);
        unit.startQuiet();
        Client client(unit.port());
        std::string reply = client.ask("write root\\sys\\alias:{\"value\":\"x\"}\r\nread root\\sys\\alias");
        EXPECT_EQ(reply, Client::withNul("token " + tokenOf(reply) + " n\r\nroot\\sys\\alias:{\"value\":\"\"}"));
        EXPECT_TRUE(once(unit.log(),
                         "Stored password unreadable: remote changes locked until a password is set "
                         "on the unit"))
            << unit.log();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ::lstat(pwd.c_str(), &after);
        EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode) << "left alone";
        unit.kill();
    }
}

TEST(HostileData, StorageThatCannotBeWrittenIsToldOnceAndEchoesStillCome)
{
    Unit unit;
    unit.startQuiet();
    const std::string alias = stored("root\\sys\\alias"), folder = test_root() + "/home/storage";
    ASSERT_EQ(::unlink(alias.c_str()) + ::mkdir(alias.c_str(), 0755), 0);
    Client client(unit.port());
    for (const char* value : {"a", "b"}) {
        const std::string line = std::string("root\\sys\\alias:{\"value\":\"") + value + "\"}";
        EXPECT_EQ(client.ask("write " + line), Client::withNul(line + "\r\n"));
    }
    std::this_thread::sleep_for(std::chrono::seconds(4)); // retried every cycle meanwhile
    EXPECT_TRUE(once(unit.log(), "ERROR (Storage): Storage error -1: rename error " + alias + ": Is a directory\n"));
    ASSERT_EQ(::rmdir(alias.c_str()), 0);
    EXPECT_TRUE(unit.waitLog("I (Storage): previous message repeated", 10000)) << "the repeats were counted";
    unit.kill();

    // A store folder that cannot be made: one line with the path and the cause.
    ASSERT_EQ(::rename(folder.c_str(), (folder + ".old").c_str()), 0);
    write_file(folder, "a file where the folder must be");
    unit.startQuiet();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(once(unit.log(), "Failed to nvs_flash_init")) << unit.log();
    EXPECT_TRUE(once(unit.log(), "err = 1: mkdir error " + folder + ": Not a directory\n"));
}
