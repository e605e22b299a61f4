#pragma once
// The program under test, as a user meets it: started in the test's fresh root, reached over TCP on
// loopback (a port of its own) and over the serial pseudo-terminal, its log and shell log read from
// its root folder.
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class Unit {
public:
    Unit();
    ~Unit();
    void start();
    // Set in the program's environment at its next start.
    void setEnvironment(const std::string& name, const std::string& value);
    // Started with the link check failing, and once the first join cycle is over, so that nothing
    // changes under the test by itself.
    void startQuiet();
    // As a power cut. A program that had ended by itself before is a failure of the test, reported
    // with how it ended.
    void kill();
    // Sends `signal` (a stop on the host: SIGINT, SIGTERM) and waits up to `ms` for the end: the
    // exit status, or -1 when the program did not end by itself (it is killed then).
    int stop(int signal, int ms);
    // Standard input of the next start (a terminal, for the panel keys); -1: the test's own.
    void setInput(int fd) { input = fd; }
    bool running();
    // "" while the program runs; else how it ended ("exited with status 1", "killed by signal 11
    // (Segmentation fault)").
    std::string ended();
    int port() const { return tcpPort; }
    pid_t processId() const { return pid; }
    // Kilobytes: the process's resident memory now and at its peak (/proc status).
    long residentKb(const char* field = "VmRSS") const;
    // What the program printed so far.
    std::string log() const;
    // Waits until the log holds `text` (false after `ms` milliseconds, or at once, reported as a
    // failure, when the program has ended).
    bool waitLog(const std::string& text, int ms);

private:
    // Once the program has ended: a sanitizer's report in its log fails the test.
    void checkReports();
    pid_t pid = -1;
    // The wait status, once the process has been reaped.
    bool reaped = false;
    int status = 0;
    int input = -1;
    int tcpPort;
    std::string logPath; // of the latest start
    std::vector<std::pair<std::string, std::string>> environment;
};

// A TCP client of the unit.
class Client {
public:
    explicit Client(int port);
    ~Client();
    int fd() const { return socket; }
    void send(const std::string& bytes);
    // One reply, its NUL included; what arrived when `ms` milliseconds ran out otherwise.
    std::string reply(int ms = 3000);
    std::string ask(const std::string& request) { return send(withNul(request)), reply(); }
    // As ask, for a unit that may be killed meanwhile: "" when the request cannot be sent.
    std::string tryAsk(const std::string& request);
    void closeHard();
    static std::string withNul(std::string text)
    {
        text.push_back('\0');
        return text;
    }

private:
    int socket = -1;
};

// A TCP client from loopback address 127.0.0.0 + `host` that keeps its connection and connects again
// only when a request got no reply (so a request is lost when the unit closes the connection after
// it went out). Every failure is an empty answer, never a test failure, so that threads can count
// what they got.
class Peer {
public:
    explicit Peer(int port, int host = 1) : port(port), host(host) {}
    ~Peer() { drop(); }
    // One request and its reply, connecting first when needed; "" when the connection failed or
    // closed, or no whole reply came within `ms`.
    std::string ask(const std::string& request, int ms = 3000);
    void drop();

private:
    int port;
    int host;
    int fd = -1;
};

// The computer at the other end of the USB serial port.
class Computer {
public:
    Computer();
    ~Computer();
    void plug();
    void unplug();
    int fd() const { return end; }
    void send(const std::string& bytes);
    // Everything that arrives until `quietMs` milliseconds pass without a byte once bytes came, or one
    // reply when `untilNul` (its NUL included), within `ms` milliseconds at most.
    std::string receive(int ms, bool untilNul = true, int quietMs = 0);
    std::string ask(const std::string& request, int ms = 4000)
    {
        send(Client::withNul(request));
        return receive(ms);
    }
    // Asks until the program has opened the port (it tries every 2 s).
    bool waitOpen(int ms);

private:
    int end = -1;
};

int free_port();
// A TCP connection to the unit from loopback address 127.0.0.0 + `host` (-1 when refused). With
// `receiveBuffer`, the socket's receive buffer is set that small first (a slow reader).
int connectFrom(int port, int host, int receiveBuffer = 0);
// One reply on `fd`, its NUL included; "" when the connection closed or no whole reply came in `ms`.
std::string replyOn(int fd, int ms);
// One request on a new connection from 127.0.0.0 + `host`; the reply, or "" when none came in `ms`.
std::string askFrom(int port, int host, const std::string& request, int ms = 3000);
// How often `part` occurs in `text`.
size_t occurrences(const std::string& text, const std::string& part);
// Polls until `done` answers true (false after `ms` milliseconds).
bool waitUntil(const std::function<bool()>& done, int ms);
// The value member of a node's fragment as a client browses it ("" when there is no such node).
std::string valueOf(Client& client, const std::string& path);
// The token that a reply's first line carries ("" when none).
std::string tokenOf(const std::string& reply);
// `text` with its NUL, as requests and replies travel.
inline std::string nul(std::string text)
{
    return Client::withNul(std::move(text));
}
// The first line of a request that answers `token` with `password`.
std::string login(const std::string& password, const std::string& token);
// Milliseconds of the steady clock since `start`.
long msSince(std::chrono::steady_clock::time_point start);
