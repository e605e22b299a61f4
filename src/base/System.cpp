#include "base/System.h"

#include "base/Update.h"
#include "params/NodeItem.h"
#include "params/Security.h"
#include "params/Storage.h"
#include "porting/Log.h"

NodeItem* System::root = nullptr;
NodeItem* System::app = nullptr;
NodeItem* System::system = nullptr;
NodeItem* System::name = nullptr;
NodeItem* System::alias = nullptr;
NodeItem* System::arch = nullptr;
NodeItem* System::upd = nullptr;
bool System::initialized = false;

namespace {
constexpr const char* kTag = "System";
}

void System::initialize(const char*)
{
    if (initialized) return;
    Update::initialize();
    root = new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM);
    app = new NodeItem(root, "app", "Application", "", ItemType::SYSTEM);
    system = new NodeItem(root, "sys", "System", "", ItemType::SYSTEM);
    name = new NodeItem(system, "_name", "Name", "Quelm Device", ItemType::SYSTEM);
    alias = new NodeItem(system, "alias", "Alias", "", ItemType::STRING);
    arch = new NodeItem(system, "_arch", "Arch", "CM4", ItemType::SYSTEM);
    // Its presence tells a remote client that this unit accepts a program image.
    if (Update::isEnabled() && Update::isRecovery())
        upd = new NodeItem(system, "_upd", "Update", Update::getFormat(), ItemType::SYSTEM);
    Storage::addItem(alias);
    new NodeItem(system, "_author", "Author", "Quelm team", ItemType::SYSTEM);
    new NodeItem(system, "_ver", "Version", "1.0", ItemType::SYSTEM);
    new NodeItem(system, "_logo", "Logo", "", ItemType::SYSTEM);
    Security::initialize(system);
    initialized = true;
}

NodeItem* System::rootNode()
{
    if (!initialized) {
        LOG_E(kTag, "System must be initialized before using root node\n");
        return nullptr;
    }
    return root;
}

NodeItem* System::appNode()
{
    if (!initialized) {
        LOG_E(kTag, "System must be initialized before using app node\n");
        return nullptr;
    }
    return app;
}

NodeItem* System::systemNode()
{
    if (!initialized) {
        LOG_E(kTag, "System must be initialized before using system node\n");
        return nullptr;
    }
    return system;
}

std::string System::getName()
{
    if (!initialized) {
        LOG_E(kTag, "System must be initialized before getting name\n");
        return "";
    }
    return name->getText();
}
