#include "platform/FolderLock.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A claim whose holder let go between the failed lock and the question who held it is tried again.
constexpr int kTries = 3;
} // namespace

FolderLock::Claim FolderLock::claim(const std::string& folder)
{
    // Kept open for the life of the process: closing any descriptor of the file would drop the lock.
    static int fd = -1;
    Claim result;
    if (fd >= 0) return result;
    ::mkdir(folder.c_str(), 0755);
    // No link followed and nothing blocking opened: the folder may hold anything.
    const int file = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (file < 0) {
        result.error = errno;
        return result;
    }
    for (int tries = 0; tries < kTries; ++tries) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(file, F_SETLK, &lock) == 0) {
            fd = file;
            return result;
        }
        if (errno != EAGAIN && errno != EACCES) {
            result.error = errno;
            break;
        }
        result.error = EAGAIN;
        if (::fcntl(file, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
            result.holder = lock.l_pid;
            break;
        }
    }
    ::close(file);
    return result;
}

std::string FolderLock::processName(pid_t pid)
{
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
    return name;
}
