#pragma once
#include <vector>

class ComInterface;

// The registry of remote transports and the body of the "comTasks" thread, which starts every
// transport once and then polls each in registration order every 20 ms. Static, no instances.
class Com {
public:
    // Transports in registration order; only grows.
    static std::vector<ComInterface*> ifaces;
    // True once every registered transport has had initialize().
    static bool initialized;

    // Ignores null and a transport already registered.
    static void addIface(ComInterface* iface);
    // Unregisters (only for a transport that is destroyed, which the running program never does).
    static void removeIface(ComInterface* iface);
    // initialize() of every transport, once. Returns true.
    static bool initialize();
    // Body of "comTasks" (argument unused). Never returns.
    static void* com_tasks(void* arg);
    // One polling pass over every transport (what com_tasks does every 20 ms).
    static void tasksOnce();
};
