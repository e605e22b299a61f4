// The TCP server half of Wifi: one non-blocking step per "comTasks" pass.
#include "com/Wifi.h"

#include "params/NodeItem.h"
#include "params/Security.h"
#include "platform/TcpEndpoint.h"
#include "porting/Clock.h"
#include "porting/Log.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace {
const char* TAG = "Wifi";
// The set-up steps whose failures Wifi::setupLog tells apart (with the errno).
enum SetupStep { kSocketStep = 1, kBindStep, kListenStep };

// Every interval of the server is on the monotonic clock.
int64_t now_us()
{
    return monotonic_time_us();
}

std::string addressText(uint32_t address)
{
    char text[INET_ADDRSTRLEN] = "";
    in_addr in {address};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
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
    waiting.clear();
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
        park(slot, now_us());
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

void Wifi::park(Slot& slot, int64_t now)
{
    // A connection that never asked anything has nothing to come back to; one that did may own a
    // list transfer that it goes on with after reconnecting.
    if (!slot.adopted) return;
    // The client may come back and go on with its login and polls; an address keeps its latest few,
    // so that one client's many connections cannot push out another's.
    size_t ofAddress = 0;
    for (const Parked& p : parked) ofAddress += p.address == slot.address;
    if (ofAddress >= kParkedPerAddress) {
        auto oldest = std::find_if(parked.begin(), parked.end(), [&](const Parked& p) { return p.address == slot.address; });
        parked.erase(oldest);
    }
    parked.push_back({slot.address, now, std::move(slot.session)});
    if (parked.size() > kParked) parked.erase(parked.begin());
}

void Wifi::closeAll()
{
    if (listenSocket >= 0) close(listenSocket);
    listenSocket = -1;
    for (Slot& slot : slots) freeSlot(slot);
    while (!waiting.empty()) closeWaiting(waiting.size() - 1);
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
        std::erase_if(parked, [now](const Parked& p) { return now - p.since > kSessionKeep; });
        if (!acceptClients(now)) {
            serverState = kError;
            return;
        }
        // Connections closed by their clients first: a client that reconnects then finds its session
        // parked, whatever the order of the slots.
        for (Slot& slot : slots) {
            char byte;
            if (slot.fd >= 0 && slot.out.empty() && recv(slot.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) freeSlot(slot);
        }
        lookAtWaiting(now);
        admit(now);
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

bool Wifi::acceptClients(int64_t now)
{
    // All that is pending, so that a burst of connections never fills the kernel's queue and a new
    // client's connection is taken within a pass.
    for (int i = 0; i < kAcceptPerPass; ++i) {
        sockaddr_in peer {};
        socklen_t length = sizeof peer;
        int fd = accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return true;
            LOG_E(TAG, "Error when accepting connection\n");
            return false;
        }
        if (!setNonBlocking(fd)) {
            close(fd);
            LOG_E(TAG, "Unable to set server socket non blocking\n");
            return false;
        }
        waiting.push_back({fd, peer.sin_addr.s_addr, now});
        if (waiting.size() <= kWaiting) continue;
        // Full: the newest connection of the address with the most waiting ones goes, one without a
        // whole request first. A client that opens many connections crowds out only its own.
        size_t victim = waiting.size();
        int victimCount = 0;
        for (size_t k = 0; k < waiting.size(); ++k) {
            int count = 0;
            for (const Waiting& other : waiting) count += other.address == waiting[k].address;
            bool better = victim == waiting.size() || count > victimCount ||
                          (count == victimCount && (waiting[victim].talks > waiting[k].talks ||
                                                    (waiting[victim].talks == waiting[k].talks &&
                                                     waiting[k].since >= waiting[victim].since)));
            if (better) {
                victim = k;
                victimCount = count;
            }
        }
        closeWaiting(victim);
    }
    return true;
}

void Wifi::closeWaiting(size_t index)
{
    close(waiting[index].fd);
    waiting.erase(waiting.begin() + std::ptrdiff_t(index));
}

void Wifi::lookAtWaiting(int64_t now)
{
    char peek[kPeek];
    for (size_t i = 0; i < waiting.size();) {
        Waiting& client = waiting[i];
        ssize_t n = recv(client.fd, peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT);
        bool gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        if (gone || now - client.since > kIdleTimeout) {
            closeWaiting(i);
            continue;
        }
        // A full look counts as talking: a request that long is on its way, not trickling.
        client.talks = n > 0 && (size_t(n) == sizeof peek || memchr(peek, 0, size_t(n)));
        ++i;
    }
}

int Wifi::slotsOf(uint32_t address) const
{
    int count = 0;
    for (const Slot& slot : slots) count += slot.fd >= 0 && slot.address == address;
    return count;
}

void Wifi::admit(int64_t now)
{
    // Clients of an address without a slot first, then those with a whole request, then the longest
    // waiting; one that can get no slot yet leaves the others their chance.
    auto rank = [this](const Waiting& c) { return std::make_tuple(slotsOf(c.address) == 0, c.talks, -c.since); };
    bool letIn = true;
    while (letIn && !waiting.empty()) {
        letIn = false;
        std::vector<size_t> order(waiting.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return rank(waiting[a]) > rank(waiting[b]); });
        for (size_t index : order) {
            Slot* slot = nullptr;
            for (Slot& candidate : slots) {
                if (candidate.fd < 0) {
                    slot = &candidate;
                    break;
                }
            }
            if (!slot) slot = yieldingSlot(waiting[index], now);
            if (!slot) continue;
            freeSlot(*slot);
            slot->fd = waiting[index].fd;
            slot->address = waiting[index].address;
            slot->time = now;
            slot->accepted = now;
            waiting.erase(waiting.begin() + std::ptrdiff_t(index));
            letIn = true;
            break;
        }
    }
}

Wifi::Slot* Wifi::yieldingSlot(const Waiting& client, int64_t now)
{
    // Only a slot between requests or sending slowly (nothing of a reply on its way) yields. To a
    // client with a whole request it yields once it has had kMinHold since it was let in or last
    // answered; to any client, once it has had a turn of kYieldAfter. An address holding more slots
    // than the client's gives first; then the slot that waited longest for its request.
    const int clientSlots = slotsOf(client.address);
    Slot* chosen = nullptr;
    for (Slot& slot : slots) {
        if (!slot.out.empty()) continue;
        const bool between = slot.count == 0 && !slot.discarding;
        bool yields = (client.talks && now - slot.time >= kMinHold) || (between && now - slot.accepted >= kYieldAfter);
        if (!yields) continue;
        const int held = slotsOf(slot.address);
        // A client never takes the only slot of another address for a second one of its own.
        if (clientSlots > 0 && held <= clientSlots && slot.address != client.address) continue;
        if (!chosen || held > slotsOf(chosen->address) ||
            (held == slotsOf(chosen->address) && slot.time < chosen->time))
            chosen = &slot;
    }
    return chosen;
}

void Wifi::serveSlot(Slot& slot)
{
    // Requests and replies never overlap on one connection: the next request is read once the reply
    // is gone.
    if (!slot.out.empty()) flush(slot);
    if (slot.fd >= 0 && slot.out.empty()) receive(slot);
    // A reply on its way is allowed the idle time to be taken; otherwise a whole request is due.
    const int64_t allowed = slot.out.empty() ? kRequestTimeout : kIdleTimeout;
    if (slot.fd >= 0 && now_us() - slot.time > allowed) freeSlot(slot);
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
    // A client that has to wait before its next login gets no look at its parked tokens either.
    if (login && (first.rfind("token ", 0) != 0 || throttle.waiting(client, now_us()))) return;
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
    // The back-off of logins counts per address.
    client = addressText(slot.address);
    if (!slot.adopted) adoptSession(slot, request);
    // The slot's client is the interface this request talks to: its own token and lastRead.
    token = std::move(slot.session.token);
    lastRead = slot.session.lastRead;
    requester = slot.session.id;
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
