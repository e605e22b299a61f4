#include "platform/SerialPort.h"

#include "platform/Paths.h"

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <termios.h>
#include <unistd.h>

namespace {

// Each computer end keeps one device-end descriptor open, so that the line stays up (no EIO on the
// computer's reads) while the program has its own end closed, as a plugged cable does.
std::mutex holdsMutex;
std::map<int, int> holds;

} // namespace

int SerialPort::plug(const std::string& unitPath)
{
    // Close-on-exec: a program the test starts must not hold the computer's end (nor the held device
    // end), or closing it would never hang the line up.
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        close(master);
        return -1;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        return -1;
    }
    // Raw from the start: before the program sets its end raw, a cooked line discipline would echo
    // and translate the computer's bytes.
    termios tio{};
    if (tcgetattr(master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    int hold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (hold >= 0 && tcgetattr(hold, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(hold, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    std::string link = Paths::map(unitPath);
    unlink(link.c_str());
    if (symlink(name, link.c_str()) != 0) {
        if (hold >= 0) close(hold);
        close(master);
        return -1;
    }
    std::lock_guard<std::mutex> lock(holdsMutex);
    holds[master] = hold;
    return master;
}

void SerialPort::unplug(int computerEnd, const std::string& unitPath)
{
    unlink(Paths::map(unitPath).c_str());
    if (computerEnd < 0) return;
    int hold = -1;
    {
        std::lock_guard<std::mutex> lock(holdsMutex);
        auto it = holds.find(computerEnd);
        if (it != holds.end()) {
            hold = it->second;
            holds.erase(it);
        }
    }
    close(computerEnd);
    if (hold >= 0) close(hold);
}
