#pragma once
// A MIDI device on the unit's MIDI input (the pseudo-terminal at /dev/ttyS0): it plays bytes and
// keeps what the unit echoes back through its thru.
#include "platform/SerialPort.h"

#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

struct Keyboard {
    int end = SerialPort::plug("/dev/ttyS0");
    std::string thru;
    ~Keyboard() { SerialPort::unplug(end, "/dev/ttyS0"); }

    // The computer end is non-blocking: a byte the line cannot take at once is offered again.
    void play(const std::string& bytes)
    {
        size_t done = 0;
        for (int tries = 0; done < bytes.size() && tries < 100; ++tries) {
            ssize_t n = ::write(end, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += size_t(n);
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(done, bytes.size());
    }
    // Everything the unit has echoed until `quietMs` pass without a byte.
    void collect(int quietMs)
    {
        pollfd p{end, POLLIN, 0};
        char buffer[1024];
        while (::poll(&p, 1, quietMs) > 0) {
            ssize_t n = ::read(end, buffer, sizeof buffer);
            if (n <= 0) break;
            thru.append(buffer, size_t(n));
        }
    }
};
