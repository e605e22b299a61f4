// The TCP server half of Wifi: one non-blocking step per "comTasks" pass.
#include "com/Wifi.h"

#include "params/NodeItem.h"
#include "params/Security.h"
#include "platform/TcpEndpoint.h"
#include "porting/Clock.h"
#include "porting/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char* TAG = "Wifi";
// The set-up steps whose failures Wifi::setupLog tells apart (with the errno).
enum SetupStep { kSocketStep = 1, kBindStep, kListenStep };

int64_t now_us()
{
    return static_cast<int64_t>(esp_timer_get_time());
}

bool setNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

const char* stateText(int state)
{
    switch (state) {
    case Wifi::kConnecting: return "CONNECTING";
    case Wifi::kConnected: return "CONNECTED";
    default: return "DISCONNECTED";
    }
}
} // namespace

void Wifi::tasks()
{
    mirrorState();
    serverStep();
}

void Wifi::mirrorState()
{
    if (!stateNode) return;
    const char* text = stateText(connectionState.load());
    if (stateNode->getValue() != text) stateNode->setValue(text);
}

void Wifi::resetSlots()
{
    for (Slot& slot : slots) {
        slot.fd = -1;
        slot.count = 0;
        slot.time = 0;
        slot.discarding = false;
        slot.adopted = false;
        slot.session = {};
        std::string().swap(slot.out);
        slot.sent = 0;
    }
}

void Wifi::freeSlot(Slot& slot)
{
    if (slot.fd >= 0) {
        close(slot.fd);
        // The client may come back within the idle time and go on with its login and polls.
        parked.push_back({slot.address, now_us(), std::move(slot.session)});
        if (parked.size() > kParked) parked.erase(parked.begin());
    }
    slot.fd = -1;
    slot.count = 0;
    slot.discarding = false;
    slot.adopted = false;
    slot.session = {};
    // A long reply's memory goes with it.
    std::string().swap(slot.out);
    slot.sent = 0;
}

void Wifi::closeAll()
{
    if (listenSocket >= 0) close(listenSocket);
    listenSocket = -1;
    for (Slot& slot : slots) freeSlot(slot);
}

void Wifi::serverStep()
{
    if (!buffersReady) return; // initialize() has not run yet
    switch (serverState) {
    case kCreate: {
        bindAddress = {};
        bindAddress.sin_family = AF_INET;
        bindAddress.sin_port = htons(static_cast<uint16_t>(port));
        bindAddress.sin_addr.s_addr = htonl(TcpEndpoint::bindAddress());
        listenSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listenSocket < 0) {
            const int error = errno;
            if (setupFailed(kSocketStep, error)) LOG_E(TAG, "Unable to create listen socket: errno %d\n", error);
        } else {
            if (setupLog.state() == 0) LOG_I(TAG, "Listen socket created\n");
            serverState = kConfigure;
        }
        resetSlots();
        break;
    }
    case kConfigure: {
        int one = 1;
        setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (!setNonBlocking(listenSocket)) LOG_E(TAG, "Can not set server not blocking %d\n", errno);
        if (bind(listenSocket, reinterpret_cast<sockaddr*>(&bindAddress), sizeof bindAddress) != 0) {
            const int error = errno;
            if (setupFailed(kBindStep, error))
                LOG_E(TAG, "Listen socket unable to bind: errno %d (port %d: %s)\n", error, port, std::strerror(error));
            serverState = kError;
            break;
        }
        if (listen(listenSocket, kBacklog) != 0) {
            const int error = errno;
            if (setupFailed(kListenStep, error))
                LOG_E(TAG, "Error occurred during listen: errno %d (port %d: %s)\n", error, port, std::strerror(error));
            serverState = kError;
            break;
        }
        setupLog.changed(0);
        // At start and after each restart of the server (rare): the port a client must use.
        LOG_I(TAG, "Listening on TCP port %d (%s)\n", port,
              TcpEndpoint::bindAddress() == INADDR_ANY ? "every interface" : "loopback only");
        serverState = kServe;
        break;
    }
    case kServe: {
        int64_t now = now_us();
        std::erase_if(parked, [now](const Parked& p) { return now - p.since > kIdleTimeout; });
        if (!acceptClient(now)) {
            serverState = kError;
            return;
        }
        for (Slot& slot : slots)
            if (slot.fd >= 0) serveSlot(slot);
        break;
    }
    default:
        closeAll();
        serverState = kCreate;
        break;
    }
}

bool Wifi::setupFailed(int step, int error)
{
    return setupLog.changed(int64_t(step) << 32 | uint32_t(error));
}

bool Wifi::acceptClient(int64_t now)
{
    Slot* slot = nullptr;
    for (Slot& candidate : slots) {
        if (candidate.fd < 0) {
            slot = &candidate;
            break;
        }
    }
    if (!slot) {
        // All busy: only a client waiting in the backlog makes one yield.
        pollfd waiting {listenSocket, POLLIN, 0};
        if (poll(&waiting, 1, 0) != 1 || !(waiting.revents & POLLIN)) return true;
        slot = yieldingSlot(now);
        if (!slot) return true;
        freeSlot(*slot);
    }
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    int fd = accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return true;
        LOG_E(TAG, "Error when accepting connection\n");
        return false;
    }
    slot->fd = fd;
    slot->time = now;
    slot->accepted = now;
    slot->address = peer.sin_addr.s_addr;
    if (!setNonBlocking(fd)) {
        LOG_E(TAG, "Unable to set server socket non blocking\n");
        return false;
    }
    return true;
}

Wifi::Slot* Wifi::yieldingSlot(int64_t now)
{
    // A slot between requests (nothing half received, no reply on its way) that has had its turn:
    // the one idle longest. Failing that, one held for a whole idle period whatever it is doing, so
    // that no client, however it reads or writes, keeps a waiting one out for longer.
    Slot* chosen = nullptr;
    for (Slot& slot : slots) {
        bool between = slot.count == 0 && !slot.discarding && slot.out.empty();
        if (!between || now - slot.accepted < kYieldAfter) continue;
        if (!chosen || slot.time < chosen->time) chosen = &slot;
    }
    if (chosen) return chosen;
    for (Slot& slot : slots) {
        if (now - slot.accepted <= kIdleTimeout) continue;
        if (!chosen || slot.accepted < chosen->accepted) chosen = &slot;
    }
    return chosen;
}

void Wifi::serveSlot(Slot& slot)
{
    // Requests and replies never overlap on one connection: the next request is read once the reply
    // is gone.
    if (!slot.out.empty()) flush(slot);
    if (slot.fd >= 0 && slot.out.empty()) receive(slot);
    if (slot.fd >= 0 && now_us() - slot.time > kIdleTimeout) freeSlot(slot);
}

void Wifi::receive(Slot& slot)
{
    char* base = slot.buffer.data();
    if (slot.count >= kBufferSize - 1) {
        // Full without a NUL: this request can never be taken; drop it through its end.
        slot.count = 0;
        slot.discarding = true;
    }
    ssize_t received = recv(slot.fd, base + slot.count, kBufferSize - 1 - slot.count, 0);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINPROGRESS && errno != EINTR) freeSlot(slot);
        return;
    }
    if (received == 0) {
        // Closed by the peer: its slot is free for the next client at once.
        freeSlot(slot);
        return;
    }
    if (slot.discarding) {
        if (memchr(base, 0, static_cast<size_t>(received))) slot.discarding = false;
        slot.count = 0;
        return;
    }
    slot.count += static_cast<int>(received);
    if (base[slot.count - 1] != 0) return;
    slot.time = now_us();
    slot.count = 0;
    // The request ends at its first NUL; anything after it in the buffer is dropped.
    answer(slot, std::string(base));
}

void Wifi::adoptSession(Slot& slot, const std::string& request)
{
    slot.adopted = true;
    // With a login, a session is taken up only by answering its token: the session of another
    // client at the same address stays its own. Without one, the latest session of the address.
    const bool login = Security::hasPassword();
    std::string first = request.substr(0, request.find("\r\n"));
    if (login && first.rfind("token ", 0) != 0) return;
    for (auto it = parked.rbegin(); it != parked.rend(); ++it) {
        if (it->address != slot.address) continue;
        if (login && !Security::checkToken(it->session.token, first.substr(6))) continue;
        slot.session = std::move(it->session);
        parked.erase(std::prev(it.base()));
        return;
    }
}

void Wifi::answer(Slot& slot, const std::string& request)
{
    if (!slot.adopted) adoptSession(slot, request);
    // The slot's client is the interface this request talks to: its own token and lastRead.
    token = std::move(slot.session.token);
    lastRead = slot.session.lastRead;
    slot.out = processRequest(request);
    slot.session.token = std::move(token);
    slot.session.lastRead = lastRead;
    token.clear();
    slot.out.push_back('\0');
    slot.sent = 0;
    flush(slot);
}

void Wifi::flush(Slot& slot)
{
    while (slot.sent < slot.out.size()) {
        // MSG_NOSIGNAL: a client gone mid-reply must not kill the program with SIGPIPE.
        ssize_t sentBytes = send(slot.fd, slot.out.data() + slot.sent, slot.out.size() - slot.sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sentBytes > 0) {
            slot.sent += static_cast<size_t>(sentBytes);
            // A client taking a long reply is not idle.
            slot.time = now_us();
            continue;
        }
        if (sentBytes < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        freeSlot(slot);
        return;
    }
    std::string().swap(slot.out);
    slot.sent = 0;
}
