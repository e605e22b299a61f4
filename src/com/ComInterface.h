#pragma once
#include <cstdint>
#include <string>

class Node;

// Base of every remote transport (Bluetooth LE, USB serial, Wi-Fi TCP). A transport registers itself
// in Com from this constructor; "comTasks" then calls initialize() once and tasks() every 20 ms.
// processRequest() turns one request text (the bytes before a NUL) into one reply text; the
// transport sends that reply followed by one NUL. Each transport keeps its own login token and its
// own lastRead, so "read" on one transport is not disturbed by another.
//
// Threads: initialize(), tasks() and processRequest() run on "comTasks" only, so the fields need
// no lock.
class ComInterface {
public:
    explicit ComInterface(Node* root);
    // One-time start of the transport, on "comTasks" before its first tasks().
    virtual void initialize() {}
    // One polling pass: receive, answer, send.
    virtual void tasks() {}
    virtual ~ComInterface();

    ComInterface(const ComInterface&) = delete;
    ComInterface& operator=(const ComInterface&) = delete;

    // One request in, one reply out ("\r\n" when nothing else is to be said).
    std::string processRequest(std::string request);

protected:
    Node* root;
    // Last login token issued by this transport; the client must answer this one.
    std::string token;
    // Microseconds: time of the last successful "browse" or "read" on this transport.
    int64_t lastRead = 0;
};
