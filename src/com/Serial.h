#pragma once
#include "com/ComInterface.h"

#include <cstdint>
#include <string>
#include <vector>

// The remote protocol over the USB gadget's serial function ("/dev/ttyGS0"). Polled without blocking
// from "comTasks": each pass reads what has arrived, answers a request once its NUL is there, and
// writes as much of the reply (and its NUL) as the port takes without waiting, so a long reply goes
// out over several passes and a computer that does not read stalls only this port. The tty exists
// only while a computer is plugged in: a read of 0 is a hang-up, after which the port is reopened
// every 2 s; a reply still pending is delivered once the port is back.
class Serial : public ComInterface {
public:
    static constexpr int kCapacity = 10000;
    // Microseconds between open attempts while the port is closed.
    static constexpr int64_t kReopenPeriod = 2000000;

    // `a` and `b` are kept for the callers' sake and not used.
    Serial(Node* root, const char* path, int a, int b);

    void initialize() override;
    void tasks() override;

private:
    int a;
    int b;
    const char* path;
    int fd = -1;
    std::vector<char> buffer;
    int capacity = kCapacity;
    int fill = 0;
    // Bytes of the pending reply (its NUL included) already written.
    int sent = 0;
    bool enabled = false;
    bool replyPending = false;
    std::string pending;
    // A request longer than the buffer is being dropped up to its NUL, so that its tail is never
    // taken for a request of its own.
    bool discarding = false;

    // Time of the last open attempt (microseconds); set on the first pass.
    static int64_t lastOpen;
    static bool lastOpenSet;

    void receive(int count);
    void send();
    void hangUp();
};

// Opens the tty without blocking and makes it raw; stores the descriptor (negative on failure).
void open_port(const char* path, int* fd);
// The terminal settings of open_port for an open descriptor: tcgetattr's result when it fails, else
// tcsetattr's.
int make_port_raw(int fd);
