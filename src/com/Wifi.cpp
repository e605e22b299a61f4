// The TCP server half of Wifi: one non-blocking step per "comTasks" pass.
#include "com/Wifi.h"

#include "params/NodeItem.h"
#include "platform/TcpEndpoint.h"
#include "porting/Clock.h"
#include "porting/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    }
}

void Wifi::freeSlot(Slot& slot)
{
    if (slot.fd >= 0) close(slot.fd);
    slot.fd = -1;
    slot.count = 0;
    slot.discarding = false;
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
            if (setupFailed(kBindStep, error)) LOG_E(TAG, "Listen socket unable to bind: errno %d\n", error);
            serverState = kError;
            break;
        }
        if (listen(listenSocket, 1) != 0) {
            const int error = errno;
            if (setupFailed(kListenStep, error)) LOG_E(TAG, "Error occurred during listen: errno %d\n", error);
            serverState = kError;
            break;
        }
        setupLog.changed(0);
        serverState = kServe;
        break;
    }
    case kServe: {
        for (Slot& slot : slots) {
            if (slot.fd != -1) continue;
            int fd = accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                slot.fd = fd;
                slot.time = now_us();
                slot.count = 0;
                slot.discarding = false;
                // A new client starts as a new interface would: no token, nothing read yet.
                slot.token.clear();
                slot.lastRead = 0;
                if (!setNonBlocking(fd)) {
                    LOG_E(TAG, "Unable to set server socket non blocking\n");
                    serverState = kError;
                    return;
                }
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                LOG_E(TAG, "Error when accepting connection\n");
                serverState = kError;
                return;
            }
            break; // one accept per pass, into the first free slot
        }
        for (Slot& slot : slots) {
            if (slot.fd < 0) continue;
            int64_t now = now_us();
            serveSlot(slot, now);
            if (slot.fd >= 0 && now_us() - slot.time > kIdleTimeout) freeSlot(slot);
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

void Wifi::serveSlot(Slot& slot, int64_t now)
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
    if (received == 0) return; // closed by the peer: the idle rule frees the slot
    if (slot.discarding) {
        if (memchr(base, 0, static_cast<size_t>(received))) slot.discarding = false;
        slot.count = 0;
        return;
    }
    slot.count += static_cast<int>(received);
    if (base[slot.count - 1] != 0) return;
    slot.time = now;
    slot.count = 0;
    // The request ends at its first NUL; anything after it in the buffer is dropped.
    answer(slot, base);
}

void Wifi::answer(Slot& slot, const char* request)
{
    // This slot is the interface the client talks to: its own token and lastRead.
    token = std::move(slot.token);
    lastRead = slot.lastRead;
    std::string reply = processRequest(std::string(request));
    slot.token = std::move(token);
    slot.lastRead = lastRead;
    token.clear();
    if (!sendAll(slot, reply)) {
        freeSlot(slot);
        return;
    }
    // Time spent pushing a long reply out is not the client's idle time.
    slot.time = now_us();
}

bool Wifi::sendAll(Slot& slot, const std::string& text)
{
    const char* data = text.c_str();
    size_t left = text.size() + 1; // the NUL too
    int64_t deadline = now_us() + kSendTimeout;
    while (left > 0) {
        // MSG_NOSIGNAL: a client gone mid-reply must not kill the program with SIGPIPE.
        ssize_t sentBytes = send(slot.fd, data, left, MSG_NOSIGNAL);
        if (sentBytes > 0) {
            data += sentBytes;
            left -= static_cast<size_t>(sentBytes);
            continue;
        }
        if (sentBytes < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINPROGRESS && errno != EINTR)
            return false;
        // A client that stops reading would otherwise hold "comTasks", and every transport, forever.
        int64_t remaining = deadline - now_us();
        if (remaining <= 0) return false;
        pollfd p {slot.fd, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(remaining / 1000) + 1);
    }
    return true;
}
