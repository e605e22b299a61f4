// The MIDI input over the host's pseudo-terminal: opening and setting up the port, messages, thru.
#include "driver/SourceMidi.h"
#include "params/Control.h"
#include "platform/Paths.h"
#include "platform/SerialPort.h"
#include "support/TempRoot.h"

#include "ControlRecorder.h"

#include <asm/termbits.h>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kPort = "/dev/ttyS0";
using Bytes = std::vector<unsigned char>;

// The MIDI device's end of the line.
struct Device {
    int end = SerialPort::plug(kPort);
    ~Device() { SerialPort::unplug(end, kPort); }

    void write(const Bytes& bytes) const { ASSERT_EQ(::write(end, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Polls the source until everything written has come back through thru (at most 2 s).
    Bytes pollUntilEchoed(SourceMidi& source, size_t count) const
    {
        Bytes echo;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (echo.size() < count && std::chrono::steady_clock::now() < deadline) {
            source.tasks();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            unsigned char buffer[512];
            ssize_t n = read(end, buffer, sizeof buffer);
            if (n > 0) echo.insert(echo.end(), buffer, buffer + n);
        }
        return echo;
    }
};

} // namespace

TEST(SourceMidi, OpensPortWhenItAppearsAndSetsItUp)
{
    SourceMidi source("midi", "MIDI", kPort, 0, 0);
    EXPECT_EQ(Control::getSource("midi"), &source);
    {
        StdoutCapture out;
        for (int i = 0; i < 5; ++i) source.tasks();
        // Retried on every pass, reported once.
        EXPECT_EQ(out.text(), "ERROR (SourceMidi): Error in opening /dev/ttyS0\n");
        EXPECT_FALSE(source.isInitialized());
    }
    Device device;
    ASSERT_GE(device.end, 0);
    // The emulator of the cross build (qemu-user 7.2) does not carry the termios2 requests that set
    // a custom speed; a Linux kernel always does on a pseudo-terminal.
    termios2 probe{};
    if (ioctl(device.end, TCGETS2, &probe) != 0) GTEST_SKIP() << "no termios2 requests here: " << std::strerror(errno);
    StdoutCapture out;
    source.tasks();
    EXPECT_EQ(out.text(),
              "I (SourceMidi): Actual baud rate: 31250 baud\n"
              "I (SourceMidi): /dev/ttyS0 - load complete\n"
              "I (SourceMidi): Driver install done\n");
    ASSERT_TRUE(source.isInitialized());
    {
        StdoutCapture again;
        source.initialize(); // already open: nothing to do
        EXPECT_EQ(again.text(), "");
    }

    // The line is raw, 8 bits, no modem control, at the custom speed.
    int line = open(Paths::map(kPort).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    termios2 tio{};
    ASSERT_EQ(ioctl(line, TCGETS2, &tio), 0);
    close(line);
    EXPECT_EQ(tio.c_ospeed, 31250u);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_FALSE(tio.c_cflag & (CSTOPB | PARENB | CRTSCTS));
    EXPECT_EQ(tio.c_lflag, 0u);
    EXPECT_EQ(tio.c_iflag, 0u);
}

TEST(SourceMidi, ParsesControlAndProgramChangesAndClockAndEchoesEverything)
{
    Device device;
    ASSERT_GE(device.end, 0);
    struct Case {
        const char* what;
        Bytes in;
        std::vector<Bytes> passed;
    } cases[] = {
        {"control change", {0xB0, 0x07, 0x64}, {{0xB0, 0x07, 0x64}}},
        {"running status", {0xB0, 0x07, 0x64, 0x08, 0x70}, {{0xB0, 0x07, 0x64}, {0xB0, 0x08, 0x70}}},
        {"program change", {0xC2, 0x05}, {{0xC2, 0x05}}},
        {"clock, then the rest of the read", {0xF8, 0xB0, 0x07, 0x64}, {{0xF8}, {0xB0, 0x07, 0x64}}},
        {"real-time bytes inside messages",
         {0xB3, 0x01, 0xF8, 0x02, 0xC0, 0xFE, 0x04},
         {{0xF8}, {0xB3, 0x01, 0x02}, {0xC0, 0x04}}},
        {"system exclusive", {0xF0, 0x7E, 0x01, 0xF7, 0xC0, 0x02}, {{0xC0, 0x02}}},
    };
    for (const Case& c : cases) {
        // A fresh parser each time; an unnamed source is not registered.
        SourceMidi source(nullptr, "MIDI", kPort, 0, 0);
        ControlRecorder recorder;
        source.addController(&recorder);
        source.initialize();
        ASSERT_TRUE(source.isInitialized()) << c.what;
        device.write(c.in);
        Bytes echo = device.pollUntilEchoed(source, c.in.size());
        EXPECT_EQ(echo, c.in) << c.what;
        EXPECT_EQ(recorder.messages, c.passed) << c.what;
    }
}

TEST(SourceMidi, MessagesSplitAcrossReadsAndManyReadsInARow)
{
    Device device;
    ASSERT_GE(device.end, 0);
    SourceMidi source("midi", "MIDI", kPort, 0, 0);
    ControlRecorder recorder;
    Control::linkSource("midi", &recorder);
    source.initialize();
    device.write({0xB0, 0x07});
    EXPECT_EQ(device.pollUntilEchoed(source, 2).size(), 2u);
    EXPECT_TRUE(recorder.messages.empty());
    device.write({0x10});
    EXPECT_EQ(device.pollUntilEchoed(source, 1).size(), 1u);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0], (Bytes{0xB0, 0x07, 0x10}));

    // More than one read's worth: every message passes, every byte comes back.
    Bytes burst;
    for (int i = 0; i < 200; ++i) {
        burst.insert(burst.end(), {0xB1, 0x0B, static_cast<unsigned char>(i & 0x7F)});
        if (i % 7 == 0) burst.push_back(0xF8);
    }
    recorder.messages.clear();
    device.write(burst);
    EXPECT_EQ(device.pollUntilEchoed(source, burst.size()), burst);
    ASSERT_EQ(recorder.messages.size(), 200u + 29u);
    int controls = 0;
    for (const Bytes& m : recorder.messages)
        if (m.size() == 3) {
            EXPECT_EQ(m[2], controls++ & 0x7F);
        }
    EXPECT_EQ(controls, 200);
}
