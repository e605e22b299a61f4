#pragma once
#include <string>
#include <sys/types.h>

// One program per folder: a process claims a folder by a POSIX record lock on the file ".lock" in it
// (names beginning with a dot are no stored value). The kernel drops the lock when the process ends,
// however it ends, so a killed program never leaves the folder claimed; the lock is not inherited by
// child processes, and its descriptor is closed in the programs they start.
//
// Main thread, at start-up: the lock is held for the life of the process.
class FolderLock {
public:
    struct Claim {
        // 0: claimed (or claimed already by this process). EAGAIN: another process holds it, `holder`
        // (0 when it let go meanwhile and cannot be named). Any other errno: the lock file cannot be
        // made or locked there (no folder, no room, no rights), nothing is claimed.
        int error = 0;
        pid_t holder = 0;
    };
    // Creates the folder (not its parents) when it is missing.
    static Claim claim(const std::string& folder);
    // The short command name of a running process ("" when it cannot be read).
    static std::string processName(pid_t pid);
};
