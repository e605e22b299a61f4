#pragma once
#include <cstdint>
#include <map>
#include <string>

// Back-off of login attempts, one per transport, keyed by the client (a TCP peer's address; the one
// client of the serial port or of Bluetooth). The first kFreeFailures wrong answers cost nothing;
// after them each attempt must wait, from the last failure, 1 s doubling up to kMaxWait. An attempt
// made while its client waits is refused without looking at it (the caller answers " n"), does not
// lengthen the wait, and blocks nothing: other clients and the same client's other requests are
// served as usual. The first refused attempt of a burst is logged once. A client quiet for kForget
// is forgotten; a right answer forgets it at once. With a wait of a minute a 4-digit password takes
// about a week to try in full (half of that on average).
//
// At most kClients clients are remembered: beyond it, new clients share one entry, so that changing
// addresses cannot push a waiting client out of the table.
//
// Times are microseconds of the monotonic clock, given by the caller. "comTasks" only.
class LoginThrottle {
public:
    static constexpr int kFreeFailures = 3;
    static constexpr int64_t kFirstWait = 1000000;
    static constexpr int64_t kMaxWait = 60000000;
    static constexpr int64_t kForget = 600000000;
    static constexpr size_t kClients = 1024;

    // May this client's answer be checked at `now`? False while it has to wait; `label` names the
    // client in the log line.
    bool allow(const std::string& client, int64_t now, const char* label);
    // As allow, without counting or logging anything.
    bool waiting(const std::string& client, int64_t now) const;
    void failed(const std::string& client, int64_t now);
    void succeeded(const std::string& client);
    // Microseconds that the client still has to wait (0: none).
    int64_t waitLeft(const std::string& client, int64_t now) const;

private:
    struct Entry {
        int failures = 0;
        int64_t lastFailure = 0;
        // A refused attempt of the current wait was logged.
        bool logged = false;
    };
    std::map<std::string, Entry> clients;

    // The key that stands for `client` (the shared one once the table is full).
    std::string keyOf(const std::string& client) const;
    static int64_t waitAfter(int failures);
    void forgetQuiet(int64_t now);
};
