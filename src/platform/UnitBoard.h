#pragma once
#include <string>

// Whether this process runs on the unit itself. The device build asks the device tree: the unit's
// board reports its compute module in /proc/device-tree/model ("Raspberry Pi Compute Module 4 ...");
// a build machine, an emulator on one, or another board does not. The unit's image is not ours to
// mark, so the board's own description decides. The host build is never on the unit.
//
// Off the unit the device build keeps to what the host build does: shell commands are recorded and
// never run, physical memory is not mapped, files live below a root folder and the remote port
// listens on loopback only.
class UnitBoard {
public:
    static bool detected();
    // The decision on the text of the model file.
    static bool isUnitModel(const std::string& model);
};
