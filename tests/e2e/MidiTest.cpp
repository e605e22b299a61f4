// A MIDI keyboard on the unit's MIDI input (the pseudo-terminal at /dev/ttyS0): control changes,
// program changes and the clock, with real-time bytes between and inside the messages.
#include "Keyboard.h"
#include "Unit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Bytes = std::string;

// Waits until the node shows `expected` (the control thread applies messages every 10 ms).
bool shows(Client& client, const std::string& path, const std::string& expected)
{
    return waitUntil([&] { return valueOf(client, path) == expected; }, 3000);
}

const char* kReverb = "root\\app\\reverb\\on_off";
const char* kTempo = "root\\app\\output\\pst\\tmp";

} // namespace

TEST(Midi, ControlAndProgramChangesWithClockAndRealTimeBytesInterleaved)
{
    Keyboard keyboard;
    ASSERT_GE(keyboard.end, 0);
    Unit unit;
    unit.start();
    ASSERT_TRUE(unit.waitLog("I (SourceMidi): Driver install done", 20000)) << unit.log();
    Client client(unit.port());
    // Two presets for the program changes (programs 0 and 1 select positions 0 and 1).
    client.ask("write root\\app\\output\\pst\\tmp:{\"value\":150}");
    client.ask("write root\\app\\preset:{\"value\":\"Lead\",\"save\":\"save\"}");
    client.ask("write root\\app\\output\\pst\\tmp:{\"value\":90}");
    client.ask("write root\\app\\preset:{\"value\":\"Clean\",\"save\":\"save\"}");
    ASSERT_EQ(valueOf(client, "root\\app\\preset"), "\"Clean\"");

    Bytes played;
    auto play = [&](const Bytes& bytes) {
        keyboard.play(bytes);
        played += bytes;
    };
    // A clock at 120 BPM (24 per beat, about every 21 ms) runs under everything.
    std::thread clock([&] {
        for (int i = 0; i < 48; ++i) {
            keyboard.play("\xF8");
            std::this_thread::sleep_for(std::chrono::microseconds(20833));
        }
    });

    // CC 5 switches the reverb: active sensing inside the message.
    play("\xB0\x05\xFE\x7F");
    EXPECT_TRUE(shows(client, kReverb, "\"ON\"")) << valueOf(client, kReverb);
    // Running status, with clock bytes between status-less data bytes.
    play(Bytes("\x05\xF8\x00", 3));
    EXPECT_TRUE(shows(client, kReverb, "\"OFF\"")) << valueOf(client, kReverb);
    // A program change with a stop inside; then running status selects the next program.
    play(Bytes("\xC0\xFC\x00", 3));
    EXPECT_TRUE(shows(client, kTempo, "150.000000"));
    EXPECT_EQ(valueOf(client, "root\\app\\preset"), "\"Lead\"");
    play("\xFE\x01");
    EXPECT_TRUE(shows(client, kTempo, "90.000000"));
    // System exclusive between messages is skipped and cancels running status.
    play(Bytes("\xF0\x7E\x00\x06\x01\xF7\x00\xB0\x05\x40", 10));
    EXPECT_TRUE(shows(client, kReverb, "\"ON\""));
    EXPECT_EQ(valueOf(client, "root\\app\\preset"), "\"Clean\"");
    clock.join();

    // Thru: every byte, clock included, comes back out in order (a loaded machine may pause the
    // control thread for longer than one quiet period).
    for (int i = 0; i < 100 && keyboard.thru.size() < played.size() + 48; ++i) keyboard.collect(300);
    auto withoutClock = [](const Bytes& bytes) {
        Bytes rest;
        for (char c : bytes)
            if (c != '\xF8') rest += c;
        return rest;
    };
    EXPECT_EQ(withoutClock(keyboard.thru), withoutClock(played));
    EXPECT_EQ(keyboard.thru.size(), played.size() + 48);
}
