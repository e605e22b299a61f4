#include "com/Com.h"

#include "com/ComInterface.h"
#include "porting/Task.h"

#include <algorithm>

std::vector<ComInterface*> Com::ifaces;
bool Com::initialized = false;

void Com::addIface(ComInterface* iface)
{
    if (!iface) return;
    if (std::find(ifaces.begin(), ifaces.end(), iface) != ifaces.end()) return;
    ifaces.push_back(iface);
}

void Com::removeIface(ComInterface* iface)
{
    ifaces.erase(std::remove(ifaces.begin(), ifaces.end(), iface), ifaces.end());
}

bool Com::initialize()
{
    if (initialized) return true;
    for (ComInterface* iface : ifaces) iface->initialize();
    initialized = true;
    return true;
}

void Com::tasksOnce()
{
    // By index: a transport may still register while the loop runs (it is then polled, but never
    // initialised, which only happens in the thread's first step).
    for (size_t i = 0; i < ifaces.size(); ++i) ifaces[i]->tasks();
}

void* Com::com_tasks(void*)
{
    if (!initialized) initialize();
    for (;;) {
        tasksOnce();
        vTaskDelay(20000);
    }
    return nullptr;
}
