#include "driver/SourceMidi.h"

#include "platform/Paths.h"
#include "porting/Log.h"

// The extended terminal settings (termios2) take a baud rate that is no standard speed; they come
// from the kernel's own header, which cannot be mixed with <termios.h>.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
constexpr const char* kTag = "SourceMidi";
} // namespace

SourceMidi::SourceMidi(const char* name, const char* label, const char* port, int first, int second)
    : Source(name, label), port(port ? port : ""), first(first), second(second)
{}

SourceMidi::~SourceMidi()
{
    if (fd >= 0) close(fd);
}

void SourceMidi::initialize()
{
    // Once open, the port stays open: a second set-up would leak the first descriptor.
    if (initialized) return;
    fd = open(Paths::map(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (!openFailed) LOG_E(kTag, "Error in opening %s\n", port.c_str());
        openFailed = true;
        return;
    }
    openFailed = false;

    // No modem-control handshake on the MIDI line.
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) == 0) {
        lines &= ~(TIOCM_DTR | TIOCM_RTS | TIOCM_CTS);
        ioctl(fd, TIOCMSET, &lines);
    }

    termios2 tio{};
    ioctl(fd, TCGETS2, &tio);
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cflag &= ~tcflag_t(CBAUD | CSIZE | CSTOPB | PARENB | CRTSCTS);
    tio.c_cflag |= BOTHER | CS8 | CREAD | CLOCAL;
    tio.c_ispeed = kBaudRate;
    tio.c_ospeed = kBaudRate;
    ioctl(fd, TCSETS2, &tio);
    termios2 actual{};
    ioctl(fd, TCGETS2, &actual);
    LOG_I(kTag, "Actual baud rate: %d baud\n", int(actual.c_ospeed));

    LOG_I(kTag, "%s - load complete\n", port.c_str());
    LOG_I(kTag, "Driver install done\n");
    initialized = true;
}

void SourceMidi::tasks()
{
    if (!initialized) {
        initialize();
        return;
    }
    ssize_t length = read(fd, rxBuffer, sizeof rxBuffer);
    if (length <= 0) return;
    unsigned char message[MidiParser::kMaxMessage];
    for (ssize_t i = 0; i < length; ++i)
        if (int size = parser.push(rxBuffer[i], message)) send(message, size);
    // MIDI thru: what could not be written at once is dropped rather than waited for.
    ssize_t written = 0;
    while (written < length) {
        ssize_t n = write(fd, rxBuffer + written, size_t(length - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += n;
    }
}
