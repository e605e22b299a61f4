#pragma once
#include <string>

// Where the unit's absolute paths (/home/storage, /home/app_run, /dev/ttyGS0, /etc/..., /proc/...)
// live. On the unit they stand as they are. Everywhere else (the host build, the device build off the
// unit, see UnitBoard) they lie below a root folder, $KESTRUN_ROOT or ~/.local/state/kestrun, so that
// nothing outside it is ever written; the root and the parent folders of a mapped path are created
// on demand, as they exist on the unit. $KESTRUN_ROOT also takes effect on the unit (tests).
class Paths {
public:
    // The root folder ("" on the unit).
    static const std::string& root();
    // The real location of one of the unit's absolute paths.
    static std::string map(const std::string& unitPath);
};
