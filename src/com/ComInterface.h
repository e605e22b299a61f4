#pragma once
#include "com/LoginThrottle.h"

#include <atomic>
#include <cstdint>
#include <string>

class Node;

// Base of every remote transport (Bluetooth LE, USB serial, Wi-Fi TCP). A transport registers itself
// in Com from this constructor; "comTasks" then calls initialize() once and tasks() every 20 ms.
// processRequest() turns one request text (the bytes before a NUL) into one reply text; the
// transport sends that reply followed by one NUL. Each transport keeps its own login token and its
// own lastRead, so "read" on one transport is not disturbed by another.
//
// Login answers are throttled per client of this transport (LoginThrottle): `client` names the
// client that the request comes from; a throttled answer gets " n" without being checked.
//
// A reply never exceeds kMaxReply bytes: once a line's output would not fit, that line and every
// later line of the request are skipped (with a warning), so a request of thousands of lines costs
// bounded memory and time. A full "browse root" is about 45 kB, so a dozen of them still fit.
//
// Threads: initialize(), tasks() and processRequest() run on "comTasks" only, so the fields need
// no lock.
class ComInterface {
public:
    // `client`: how the transport's one client is named (Wifi sets it per request).
    explicit ComInterface(Node* root, std::string client = "remote");
    // One-time start of the transport, on "comTasks" before its first tasks().
    virtual void initialize() {}
    // One polling pass: receive, answer, send.
    virtual void tasks() {}
    virtual ~ComInterface();

    ComInterface(const ComInterface&) = delete;
    ComInterface& operator=(const ComInterface&) = delete;

    // Bytes, the reply's NUL not counted.
    static constexpr size_t kMaxReply = 512 * 1024;

    // One request in, one reply out ("\r\n" when nothing else is to be said).
    std::string processRequest(std::string request);

    // A client name never handed out before in this process (never 0).
    static uint64_t newRequester()
    {
        static std::atomic<uint64_t> next{1};
        return next.fetch_add(1, std::memory_order_relaxed);
    }

protected:
    Node* root;
    // Last login token issued by this transport; the client must answer this one.
    std::string token;
    // Microseconds (change_stamp_us): time of the last successful "browse" or "read" on this
    // transport.
    int64_t lastRead = 0;
    // The last request answered its token (a password is set and the answer fitted).
    bool loggedIn = false;
    // The client of the request being answered, for the login back-off and its log line: the
    // transport's name, or a TCP peer's address.
    std::string client;
    // The client the request being answered is served for, as what belongs to one client across
    // requests (a list transfer) knows it: this transport's own by default; a transport that serves
    // several clients sets it before each processRequest.
    uint64_t requester = newRequester();
    LoginThrottle throttle;

private:
    // Room kept for what a changing verb adds besides its own text ("dwrite ", a status, a count).
    static constexpr size_t kStatusReserve = 256;

    // Appends what one line adds; false when that would pass kMaxReply (nothing is done then).
    bool serveLine(const std::string& line, bool authorised, std::string& reply);
};
