#pragma once
// A private D-Bus bus in the test's root folder and the scripted stand-in of BlueZ (fake_bluez.py)
// on it. Both are children of the test process: they are stopped by the destructor, killed by the
// kernel if the test process dies, and the stand-in quits on its own after two minutes.
//
// Header only, so that the transport's tests can use it too.
#include "support/TempRoot.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class FakeBluez {
public:
    using json = nlohmann::json;

    // Starts the bus and, when `withBluez`, the stand-in with an adapter of the given address.
    explicit FakeBluez(bool withBluez = true, const std::string& adapterAddress = "DC:A6:32:00:00:01")
    {
        std::string root = test_root();
        std::string socket = root + "/bus.sock";
        address_ = "unix:path=" + socket;
        write_file(root + "/bus.conf",
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>session</type>\n"
                   "  <listen>" +
                       address_ +
                       "</listen>\n"
                       "  <auth>EXTERNAL</auth>\n"
                       "  <policy context=\"default\">\n"
                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "    <allow eavesdrop=\"true\"/>\n"
                       "    <allow own=\"*\"/>\n"
                       "  </policy>\n"
                       "</busconfig>\n");
        daemon_ = spawn({"dbus-daemon", "--config-file=" + root + "/bus.conf", "--nofork", "--nopidfile"}, -1, -1,
                        root + "/dbus.log");
        // The socket file appears before the daemon listens: wait until a connection is taken.
        auto deadline = clock::now() + std::chrono::seconds(5);
        while (!accepts(socket)) {
            if (clock::now() > deadline) throw std::runtime_error("dbus-daemon did not start: " + logs());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!withBluez) return;

        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        std::string python = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        bluez_ = spawn({python, scriptPath(), "--address", address_, "--adapter-address", adapterAddress}, toChild[0],
                       fromChild[1], root + "/fake_bluez.log");
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
        json ready = readLine(10000);
        if (!ready.value("ready", false)) throw std::runtime_error("fake BlueZ did not start: " + logs());
    }

    ~FakeBluez()
    {
        if (in_ >= 0) ::close(in_); // the stand-in quits when its input closes
        if (out_ >= 0) ::close(out_);
        stop(bluez_, 1000);
        stop(daemon_, 0);
    }

    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    const std::string& address() const { return address_; }

    // Called while waiting for the stand-in, e.g. to run the test thread's GLib context.
    void setPump(std::function<void()> pump) { pump_ = std::move(pump); }

    // One command, one answer; throws when no answer comes in time.
    json command(const json& request, int timeoutMs = 8000)
    {
        std::string line = request.dump() + "\n";
        if (::write(in_, line.data(), line.size()) != ssize_t(line.size()))
            throw std::runtime_error("cannot write to fake BlueZ");
        return readLine(timeoutMs);
    }

    json events() { return command({{"cmd", "events"}})["events"]; }

    // Events of one kind, in order.
    json eventsOf(const std::string& kind)
    {
        json all = events(), chosen = json::array();
        for (auto& event : all)
            if (event["event"] == kind) chosen.push_back(event);
        return chosen;
    }

    // Polls the events until `done(events)` holds; false when the time runs out.
    bool waitFor(const std::function<bool(const json&)>& done, int timeoutMs = 5000)
    {
        auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (done(events())) return true;
            if (clock::now() > deadline) return false;
            pumpFor(std::chrono::milliseconds(10));
        }
    }

    // Waits for at least `count` events of one kind and returns those.
    json waitForEvents(const std::string& kind, size_t count = 1, int timeoutMs = 5000)
    {
        json chosen;
        waitFor(
            [&](const json& all) {
                chosen = json::array();
                for (auto& event : all)
                    if (event["event"] == kind) chosen.push_back(event);
                return chosen.size() >= count;
            },
            timeoutMs);
        return chosen;
    }

    // What the bus daemon and the stand-in wrote on their error output.
    std::string logs() const
    {
        return "--- dbus.log\n" + read_file(test_root() + "/dbus.log") + "--- fake_bluez.log\n" +
               read_file(test_root() + "/fake_bluez.log");
    }

private:
    using clock = std::chrono::steady_clock;

    static bool accepts(const std::string& socketPath)
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    static std::string scriptPath() { return KESTRUN_TESTS_DIR "/gatt/fake_bluez.py"; }

    static pid_t spawn(const std::vector<std::string>& args, int stdinFd, int stdoutFd, const std::string& errorLog)
    {
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        int errorFd = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            ::dup2(stdinFd >= 0 ? stdinFd : ::open("/dev/null", O_RDONLY), 0);
            if (stdoutFd >= 0) ::dup2(stdoutFd, 1);
            else if (errorFd >= 0) ::dup2(errorFd, 1);
            if (errorFd >= 0) ::dup2(errorFd, 2);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        if (errorFd >= 0) ::close(errorFd);
        return pid;
    }

    // Waits `graceMs` for the child to leave on its own, then terminates it, then kills it.
    static void stop(pid_t& pid, int graceMs)
    {
        if (pid <= 0) return;
        auto start = clock::now();
        bool terminated = false;
        for (;;) {
            int status;
            pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid || (done < 0 && errno != EINTR)) break;
            auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count();
            if (!terminated && waited >= graceMs) {
                ::kill(pid, SIGTERM);
                terminated = true;
            } else if (waited >= graceMs + 1000) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid = -1;
    }

    void pumpFor(std::chrono::milliseconds span)
    {
        auto until = clock::now() + span;
        do {
            if (pump_) pump_();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (clock::now() < until);
    }

    json readLine(int timeoutMs)
    {
        auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return json::parse(line);
            }
            if (clock::now() > deadline) throw std::runtime_error("no answer from fake BlueZ\n" + logs());
            if (pump_) pump_();
            pollfd fd{out_, POLLIN, 0};
            if (::poll(&fd, 1, pump_ ? 1 : 10) > 0) {
                char chunk[65536];
                ssize_t n = ::read(out_, chunk, sizeof chunk);
                if (n <= 0) throw std::runtime_error("fake BlueZ ended\n" + logs());
                buffer_.append(chunk, size_t(n));
            }
        }
    }

    std::string address_;
    pid_t daemon_ = -1;
    pid_t bluez_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
    std::function<void()> pump_;
};
