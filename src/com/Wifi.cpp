// The TCP server half of Wifi: one non-blocking step per "comTasks" pass.
#include "com/Wifi.h"

#include "params/NodeItem.h"
#include "params/Security.h"
#include "platform/TcpEndpoint.h"
#include "porting/Clock.h"
#include "porting/Log.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr const char* kTag = "Wifi";
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
    in_addr in{address};
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
        slot.connection = {};
        slot.state = {};
        slot.count = 0;
        std::string().swap(slot.out);
        slot.sent = 0;
    }
}

void Wifi::closeConnection(Connection& connection, uint32_t address, int64_t now)
{
    if (connection.fd < 0) return;
    // A reply the client has not taken is dropped with the connection (a reset), so that the kernel
    // does not keep sending it to a client that does not read.
    int unsent = 0;
    if (ioctl(connection.fd, SIOCOUTQ, &unsent) == 0 && unsent > 0) {
        linger abort{1, 0};
        setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(connection.fd);
    park(connection, address, now);
    connection = {};
}

void Wifi::freeSlot(Slot& slot)
{
    closeConnection(slot.connection, slot.state.address, now_us());
    slot.state = {};
    slot.count = 0;
    // A long reply's memory goes with it.
    std::string().swap(slot.out);
    slot.sent = 0;
}

void Wifi::park(Connection& connection, uint32_t address, int64_t now)
{
    // A connection that never asked anything has nothing to come back to; one that did may own a
    // list transfer that it goes on with after reconnecting.
    if (!connection.adopted) return;
    parked.push_back({address, now, std::move(connection.session)});
    // Beyond a bound, the oldest session not logged in goes first: of this address when it has too
    // many, else of the address with the most.
    auto evict = [this](uint32_t from) {
        auto victim = parked.end();
        for (auto it = parked.begin(); it != parked.end(); ++it) {
            if (it->address != from) continue;
            if (victim == parked.end() || (victim->session.loggedIn && !it->session.loggedIn)) victim = it;
        }
        parked.erase(victim);
    };
    auto ofAddress = [this](uint32_t a) {
        return size_t(std::count_if(parked.begin(), parked.end(), [a](const Parked& p) { return p.address == a; }));
    };
    if (ofAddress(address) > kParkedPerAddress) evict(address);
    if (parked.size() > kParked) {
        uint32_t most = address;
        for (const Parked& p : parked)
            if (ofAddress(p.address) > ofAddress(most)) most = p.address;
        evict(most);
    }
}

void Wifi::closeAll()
{
    if (listenSocket >= 0) close(listenSocket);
    listenSocket = -1;
    const int64_t now = now_us();
    for (Slot& slot : slots) freeSlot(slot);
    for (Waiting& client : waiting) closeConnection(client.connection, client.state.address, now);
    waiting.clear();
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
            if (setupFailed(kSocketStep, error)) LOG_E(kTag, "Unable to create listen socket: errno %d\n", error);
        } else {
            if (setupLog.state() == 0) LOG_I(kTag, "Listen socket created\n");
            serverState = kConfigure;
        }
        resetSlots();
        break;
    }
    case kConfigure: {
        int one = 1;
        setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (!setNonBlocking(listenSocket)) LOG_E(kTag, "Can not set server not blocking %d\n", errno);
        if (bind(listenSocket, reinterpret_cast<sockaddr*>(&bindAddress), sizeof bindAddress) != 0) {
            const int error = errno;
            if (setupFailed(kBindStep, error))
                LOG_E(kTag, "Listen socket unable to bind: errno %d (port %d: %s)\n", error, port,
                      std::strerror(error));
            serverState = kError;
            break;
        }
        if (listen(listenSocket, kBacklog) != 0) {
            const int error = errno;
            if (setupFailed(kListenStep, error))
                LOG_E(kTag, "Error occurred during listen: errno %d (port %d: %s)\n", error, port,
                      std::strerror(error));
            serverState = kError;
            break;
        }
        setupLog.changed(0);
        // At start and after each restart of the server (rare): the port a client must use.
        LOG_I(kTag, "Listening on TCP port %d (%s)\n", port,
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
        for (Slot& slot : slots)
            if (slot.connection.fd >= 0) serveSlot(slot);
        // Rounds while clients are let in: each holder between requests can serve the next whole
        // request in the room within the pass, as long as the pass leaves the other transports their
        // turn.
        const int64_t passStart = now;
        bool letIn = true;
        for (int round = 0; round < kRoundsPerPass && letIn && now - passStart < kPassBudget; ++round) {
            now = now_us();
            lookAtWaiting(now);
            std::vector<TcpSchedule::Slot> slotStates;
            std::vector<TcpSchedule::Waiting> waitingStates;
            for (const Slot& slot : slots) slotStates.push_back(slot.state);
            for (const Waiting& client : waiting) waitingStates.push_back(client.state);
            letIn = carryOut(schedule.decide(now, slotStates, waitingStates), now);
        }
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
    // client's connection is taken within a pass. The room is trimmed only once every connection in
    // it has been looked at, so a newcomer whose request is there already is judged by it.
    for (int i = 0; i < kAcceptPerPass; ++i) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return true;
            LOG_E(kTag, "Error when accepting connection\n");
            return false;
        }
        if (!setNonBlocking(fd)) {
            close(fd);
            LOG_E(kTag, "Unable to set server socket non blocking\n");
            return false;
        }
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
        Waiting client;
        client.connection.fd = fd;
        client.state = {peer.sin_addr.s_addr, now, now, TcpSchedule::kNothing};
        waiting.push_back(std::move(client));
    }
    return true;
}

void Wifi::noteKernelProgress(Connection& connection, int64_t& active, int64_t now)
{
    if (connection.unsent == 0) return;
    int unsent = 0;
    if (ioctl(connection.fd, SIOCOUTQ, &unsent) != 0) unsent = 0;
    if (unsent < connection.unsent) active = now;
    connection.unsent = unsent;
}

void Wifi::lookAtWaiting(int64_t now)
{
    std::erase_if(waiting, [&](Waiting& client) {
        noteKernelProgress(client.connection, client.state.active, now);
        int pending = 0;
        if (ioctl(client.connection.fd, FIONREAD, &pending) != 0) pending = -1;
        if (pending <= 0) {
            // Nothing to read: still there, or gone?
            char byte;
            ssize_t n = recv(client.connection.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            bool gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            if (gone) closeConnection(client.connection, client.state.address, now);
            return gone;
        }
        // Only what came since the last look is searched for the request's NUL; a request longer
        // than a slot's buffer is one that the slot drops anyway.
        const size_t have = std::min(size_t(pending), peekBuffer.size());
        if (client.state.sent != TcpSchedule::kWhole && have > client.scanned) {
            ssize_t n = recv(client.connection.fd, peekBuffer.data(), have, MSG_PEEK | MSG_DONTWAIT);
            if (n > 0) {
                const size_t seen = size_t(n);
                const bool whole =
                    seen > client.scanned && memchr(peekBuffer.data() + client.scanned, 0, seen - client.scanned);
                client.state.sent = whole ? TcpSchedule::kWhole : TcpSchedule::kPart;
                client.scanned = seen;
            }
        }
        return false;
    });
}

bool Wifi::carryOut(const std::vector<TcpSchedule::Action>& plan, int64_t now)
{
    using Action = TcpSchedule::Action;
    std::vector<bool> leaves(waiting.size(), false);
    std::vector<Waiting> back;
    bool letIn = false;
    for (size_t k = 0; k < plan.size(); ++k) {
        const Action& action = plan[k];
        Slot* slot = action.slot >= 0 ? &slots[size_t(action.slot)] : nullptr;
        switch (action.kind) {
        case Action::kCloseSlot: {
            const bool forLetIn = k + 1 < plan.size() && plan[k + 1].kind == Action::kLetIn;
            if (forLetIn && slot->state.phase != TcpSchedule::kReplying) {
                // What arrived since the slot was served is its client's: a request it completes is
                // answered, and the slot stays with it this time.
                const uint64_t before = slot->answered;
                receive(*slot);
                if (slot->answered != before) {
                    ++k;
                    break;
                }
            }
            if (action.cut && slot->connection.fd >= 0) schedule.noteCut(slot->state.address, now);
            freeSlot(*slot);
            break;
        }
        case Action::kBackToRoom: {
            // Between requests, so the connection waits for its next one in the room, open.
            Waiting client;
            client.connection = std::move(slot->connection);
            client.state = {slot->state.address, now, slot->state.active, TcpSchedule::kNothing};
            back.push_back(std::move(client));
            slot->connection = {};
            slot->state = {};
            break;
        }
        case Action::kLetIn: {
            Waiting& client = waiting[size_t(action.waiting)];
            slot->connection = std::move(client.connection);
            slot->state = {TcpSchedule::kAwaiting, client.state.address, now, 0, client.state.active};
            slot->count = 0;
            leaves[size_t(action.waiting)] = true;
            schedule.noteLetIn(client.state.address, now);
            letIn = true;
            // Its request is usually there already.
            serveSlot(*slot);
            break;
        }
        case Action::kCloseWaiting: {
            Waiting& client = waiting[size_t(action.waiting)];
            closeConnection(client.connection, client.state.address, now);
            leaves[size_t(action.waiting)] = true;
            break;
        }
        }
    }
    size_t index = 0;
    std::erase_if(waiting, [&](const Waiting&) { return leaves[index++]; });
    for (Waiting& client : back) waiting.push_back(std::move(client));
    return letIn;
}

void Wifi::serveSlot(Slot& slot)
{
    // Requests and replies never overlap on one connection: the next request is read once the reply
    // is gone.
    if (!slot.out.empty()) flush(slot);
    if (slot.connection.fd < 0 || !slot.out.empty()) return;
    noteKernelProgress(slot.connection, slot.state.active, now_us());
    receive(slot);
}

void Wifi::receive(Slot& slot)
{
    char* base = slot.buffer.data();
    if (slot.count >= kBufferSize - 1) {
        // Full without a NUL: this request can never be taken; drop it through its end.
        slot.count = 0;
        slot.state.phase = TcpSchedule::kDiscarding;
    }
    ssize_t received = recv(slot.connection.fd, base + slot.count, kBufferSize - 1 - slot.count, 0);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINPROGRESS && errno != EINTR) freeSlot(slot);
        return;
    }
    if (received == 0) {
        // Closed by the peer: its slot is free for the next client at once.
        freeSlot(slot);
        return;
    }
    if (slot.state.phase == TcpSchedule::kDiscarding) {
        if (memchr(base, 0, static_cast<size_t>(received))) {
            // Dropped whole: the next request is due from here.
            slot.state.phase = TcpSchedule::kAwaiting;
            slot.state.turnStart = slot.state.active = now_us();
        }
        slot.count = 0;
        return;
    }
    slot.count += static_cast<int>(received);
    slot.state.phase = TcpSchedule::kReceiving;
    if (base[slot.count - 1] != 0) return;
    slot.count = 0;
    // The request ends at its first NUL; anything after it in the buffer is dropped.
    answer(slot, std::string(base));
}

void Wifi::adoptSession(Slot& slot, const std::string& request)
{
    slot.connection.adopted = true;
    // With a login, a session is taken up only by answering its token: the session of another
    // client at the same address stays its own. Without one, the latest session of the address.
    const bool login = Security::hasPassword();
    std::string first = request.substr(0, request.find("\r\n"));
    // A client that has to wait before its next login gets no look at its parked tokens either.
    if (login && (first.rfind("token ", 0) != 0 || throttle.waiting(client, now_us()))) return;
    for (auto it = parked.rbegin(); it != parked.rend(); ++it) {
        if (it->address != slot.state.address) continue;
        if (login && !Security::checkToken(it->session.token, first.substr(6))) continue;
        slot.connection.session = std::move(it->session);
        parked.erase(std::prev(it.base()));
        return;
    }
}

void Wifi::answer(Slot& slot, const std::string& request)
{
    Connection& connection = slot.connection;
    // The back-off of logins counts per address.
    client = addressText(slot.state.address);
    if (!connection.adopted) adoptSession(slot, request);
    // The slot's client is the interface this request talks to: its own token and lastRead.
    token = std::move(connection.session.token);
    lastRead = connection.session.lastRead;
    requester = connection.session.id;
    slot.out = processRequest(request);
    connection.session.token = std::move(token);
    connection.session.lastRead = lastRead;
    connection.session.loggedIn = loggedIn;
    token.clear();
    slot.out.push_back('\0');
    slot.sent = 0;
    ++slot.answered;
    slot.state.phase = TcpSchedule::kReplying;
    slot.state.replyStart = slot.state.active = now_us();
    flush(slot);
}

void Wifi::flush(Slot& slot)
{
    while (slot.sent < slot.out.size()) {
        // MSG_NOSIGNAL: a client gone mid-reply must not kill the program with SIGPIPE.
        ssize_t sentBytes = send(slot.connection.fd, slot.out.data() + slot.sent, slot.out.size() - slot.sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sentBytes > 0) {
            slot.sent += static_cast<size_t>(sentBytes);
            slot.state.active = now_us();
            continue;
        }
        if (sentBytes < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        freeSlot(slot);
        return;
    }
    std::string().swap(slot.out);
    slot.sent = 0;
    // The reply is the kernel's now: the next request is due from here, and what the client takes of
    // it keeps the connection active.
    const int64_t now = now_us();
    slot.state.phase = TcpSchedule::kAwaiting;
    slot.state.turnStart = slot.state.active = now;
    if (ioctl(slot.connection.fd, SIOCOUTQ, &slot.connection.unsent) != 0) slot.connection.unsent = 0;
}
