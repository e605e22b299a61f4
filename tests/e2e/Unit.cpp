#include "Unit.h"

#include "params/Security.h"
#include "platform/SerialPort.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
const char* kTty = "/dev/ttyGS0";

int msLeft(Clock::time_point end)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
} // namespace

int free_port()
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

Unit::Unit() : tcpPort(free_port()) {}

Unit::~Unit()
{
    kill();
}

void Unit::start()
{
    // Numbered across every unit of the test: a second unit must not read the first one's log.
    static int starts = 0;
    logPath = test_root() + "/kestrun." + std::to_string(++starts) + ".log";
    std::string port = std::to_string(tcpPort);
    pid = fork();
    if (pid == 0) {
        int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        if (input >= 0) dup2(input, STDIN_FILENO);
        setenv("KESTRUN_TCP_PORT", port.c_str(), 1);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        // KESTRUN_ROOT is the test's own fresh root already.
        std::string command = "exec " + program_command(KESTRUN_PROGRAM);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Seconds here; a loaded machine, or the ThreadSanitizer build beside other tests, takes far longer.
    ASSERT_TRUE(waitLog("I (Wifi): Listen socket created", 60000)) << log();
}

void Unit::startQuiet()
{
    const char* linkCheck = "sudo nmcli -g DEVICE,STATE device | grep '^wlan0:connected' > /dev/null 2>&1";
    ShellScript::add("sudo nmcli -g", 1, "");
    start();
    auto end = Clock::now() + std::chrono::seconds(5);
    while (ShellScript::log().find(linkCheck) == std::string::npos && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void Unit::setEnvironment(const std::string& name, const std::string& value)
{
    environment.emplace_back(name, value);
}

long Unit::residentKb(const char* field) const
{
    std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find(std::string(field) + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(field) + 1);
}

void Unit::kill()
{
    if (pid <= 0) return;
    if (running()) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    } else {
        ADD_FAILURE() << "the program " << ended() << " before the test ended it\n" << log();
    }
    pid = -1;
    reaped = false;
    checkReports();
}

int Unit::stop(int signal, int ms)
{
    if (pid <= 0) return -1;
    if (!running()) {
        kill(); // reports how it had ended
        return -1;
    }
    ::kill(pid, signal);
    if (!waitUntil([&] { return !running(); }, ms)) {
        kill();
        return -1;
    }
    const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid = -1;
    reaped = false;
    checkReports();
    return exit;
}

void Unit::checkReports()
{
    // In the sanitizer builds the program is instrumented too; its reports land in its log.
    std::string text = log();
    for (const char* report : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "runtime error:"})
        EXPECT_EQ(text.find(report), std::string::npos) << text;
}

bool Unit::running()
{
    if (pid <= 0) return false;
    if (!reaped && waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    return !reaped;
}

std::string Unit::ended()
{
    if (pid <= 0 || running()) return "";
    if (WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

std::string Unit::log() const
{
    return logPath.empty() ? "" : read_file(logPath);
}

bool Unit::waitLog(const std::string& text, int ms)
{
    bool found = false;
    // A program that has ended prints nothing more: no reason to wait for it.
    waitUntil([&] { return (found = log().find(text) != std::string::npos) || !running(); }, ms);
    if (!found && !running())
        ADD_FAILURE() << "the program " << ended() << " while the test waited for \"" << text << "\"";
    return found;
}

Client::Client(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto end = Clock::now() + std::chrono::seconds(3);
    do {
        if (socket >= 0) ::close(socket);
        // Not inherited by a program started later: its end would outlive the test's.
        socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < end);
    ADD_FAILURE() << "cannot connect to port " << port;
}

Client::~Client()
{
    if (socket >= 0) ::close(socket);
}

void Client::send(const std::string& bytes)
{
    ASSERT_EQ(::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

std::string Client::tryAsk(const std::string& request)
{
    std::string bytes = withNul(request);
    if (::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) return "";
    return reply();
}

std::string Client::reply(int ms)
{
    std::string got;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (got.empty() || got.back() != '\0') {
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, msLeft(end)) <= 0) break;
        char chunk[65536];
        ssize_t n = ::recv(socket, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

void Client::closeHard()
{
    linger hard{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(socket);
    socket = -1;
}

std::string tokenOf(const std::string& reply)
{
    if (reply.rfind("token ", 0) != 0) return "";
    return reply.substr(6, reply.find(' ', 6) - 6);
}

Computer::Computer()
{
    plug();
}

Computer::~Computer()
{
    unplug();
}

void Computer::plug()
{
    end = SerialPort::plug(kTty);
    ASSERT_GE(end, 0);
}

void Computer::unplug()
{
    if (end < 0) return;
    SerialPort::unplug(end, kTty);
    end = -1;
}

void Computer::send(const std::string& bytes)
{
    ASSERT_EQ(::write(end, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::string Computer::receive(int ms, bool untilNul, int quietMs)
{
    std::string got;
    auto end_ = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (untilNul && !got.empty() && got.back() == '\0') break;
        int wait = msLeft(end_);
        // The quiet time counts once the answer has begun: a loaded machine may take longer to start.
        if (quietMs > 0 && !got.empty() && wait > quietMs) wait = quietMs;
        pollfd p{end, POLLIN, 0};
        if (wait == 0 || ::poll(&p, 1, wait) <= 0) break;
        char chunk[65536];
        ssize_t n = ::read(end, chunk, sizeof chunk);
        if (n <= 0) break;
        got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

bool Computer::waitOpen(int ms)
{
    auto stop = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < stop) {
        // Bytes sent while the port is closed wait in the line; the first request taken answers.
        if (ask("browse root\\nothing", 300) == Client::withNul("\r\n")) {
            // Drain answers to any earlier probe that was still queued.
            receive(100, false, 100);
            return true;
        }
    }
    return false;
}

std::string valueOf(Client& client, const std::string& path)
{
    std::string reply = client.ask("browse " + path);
    size_t at = reply.find("\"value\":");
    if (at == std::string::npos) return "";
    return reply.substr(at + 8, reply.find(",\"", at + 8) - at - 8);
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int connectFrom(int port, int host, int receiveBuffer)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + uint32_t(host));
    sockaddr_in unit = self;
    unit.sin_port = htons(uint16_t(port));
    unit.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&unit), sizeof unit) == 0)
        return fd;
    ::close(fd);
    return -1;
}

std::string replyOn(int fd, int ms)
{
    std::string got;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (got.empty() || got.back() != '\0') {
        pollfd p{fd, POLLIN, 0};
        char chunk[65536];
        ssize_t n = ::poll(&p, 1, msLeft(end)) > 0 ? ::recv(fd, chunk, sizeof chunk, 0) : 0;
        if (n <= 0) return "";
        got.append(chunk, size_t(n));
    }
    return got;
}

std::string askFrom(int port, int host, const std::string& request, int ms)
{
    int fd = connectFrom(port, host);
    if (fd < 0) return "";
    std::string bytes = nul(request);
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string got = replyOn(fd, ms);
    ::close(fd);
    return got;
}

std::string Peer::ask(const std::string& request, int ms)
{
    if (fd < 0) fd = connectFrom(port, host);
    if (fd < 0) return "";
    std::string bytes = nul(request);
    std::string reply =
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()) ? replyOn(fd, ms) : "";
    if (reply.empty()) drop();
    return reply;
}

void Peer::drop()
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string login(const std::string& password, const std::string& token)
{
    return "token " + Security::generateHash(password + token) + "\r\n";
}

long msSince(std::chrono::steady_clock::time_point start)
{
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}
