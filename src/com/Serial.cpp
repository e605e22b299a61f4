#include "com/Serial.h"

#include "platform/Paths.h"
#include "porting/Clock.h"
#include "porting/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr const char* kTag = "Serial";

// Raw bytes both ways: no CR/LF translation, no flow control, no signals, no echo.
void applyRaw(termios& tio)
{
    tio.c_iflag &= ~(ICRNL | IXON | IXANY | IXOFF);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VMIN] = 1;
}
} // namespace

int64_t Serial::lastOpen = 0;
bool Serial::lastOpenSet = false;

void open_port(const char* path, int* fd, LogOnce* failures)
{
    *fd = open(Paths::map(path).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (*fd < 0) {
        if (!failures || failures->changed(errno)) LOG_E(kTag, "%s - error\n", path);
        return;
    }
    if (failures) failures->changed(0);
    LOG_I(kTag, "%s - making serial port raw\n", path);
    termios tio{};
    if (tcgetattr(*fd, &tio) == 0) {
        applyRaw(tio);
        tcsetattr(*fd, TCSANOW, &tio);
    }
    LOG_I(kTag, "%s - load complete\n", path);
}

int make_port_raw(int fd)
{
    termios tio{};
    int result = tcgetattr(fd, &tio);
    if (result != 0) return result;
    applyRaw(tio);
    return tcsetattr(fd, TCSANOW, &tio);
}

Serial::Serial(Node* root, const char* path, int a, int b)
    : ComInterface(root, "the serial port"), a(a), b(b), path(path), buffer(kCapacity, 0)
{}

void Serial::initialize()
{
    fd = -1;
    enabled = true;
}

void Serial::hangUp()
{
    LOG_I(kTag, "Disconnected\n");
    close(fd);
    fd = -1;
}

void Serial::tasks()
{
    if (!enabled) return;

    if (fill >= capacity) {
        // Full without a final NUL: this request can never be taken; drop it through its end.
        fill = 0;
        discarding = true;
    }

    int count = -1;
    if (fd >= 0) {
        count = static_cast<int>(read(fd, buffer.data() + fill, capacity - fill));
        if (count == 0) {
            hangUp();
        } else if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // A tty that has gone away can also answer with an error; treat it as the hang-up it is,
            // or the port would never be reopened.
            hangUp();
        }
    }

    // The reopen period is an interval: monotonic, so setting the wall clock cannot stall it.
    int64_t now = monotonic_time_us();
    if (!lastOpenSet) {
        lastOpenSet = true;
        lastOpen = now;
    }
    if (fd < 0 && now - lastOpen > kReopenPeriod) {
        lastOpen = now;
        open_port(path, &fd, &openFailures);
    }

    if (count > 0) receive(count);

    if (replyPending && fd >= 0) send();
}

void Serial::send()
{
    // As much as the port takes now; the rest goes on the next passes.
    int total = static_cast<int>(pending.size()) + 1;
    while (sent < total) {
        ssize_t written = write(fd, pending.c_str() + sent, total - sent);
        if (written <= 0) return;
        sent += static_cast<int>(written);
    }
    replyPending = false;
    std::string().swap(pending);
    sent = 0;
}

void Serial::receive(int count)
{
    if (discarding) {
        // Still inside an over-long request: everything up to its NUL goes, and what follows in
        // the same read is dropped with it, as any bytes after a request's NUL are.
        if (memchr(buffer.data(), 0, count)) discarding = false;
        fill = 0;
        return;
    }
    fill += count;
    if (buffer[fill - 1] != 0 || replyPending) return;
    std::string request(buffer.data());
    pending = processRequest(std::move(request));
    replyPending = true;
    fill = 0;
    sent = 0;
}
