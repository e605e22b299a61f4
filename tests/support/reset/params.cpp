// The parameter layer as a fresh process finds it: no persisted items, the store closed (its folder
// is emptied between tests), no unit selector or password node. Sources leave the registry themselves.
#include "params/NodeTemp.h"
#include "params/Security.h"
#include "params/Storage.h"
#include "support/ResetHooks.h"

static ResetHook paramsReset([] {
    Storage::items.clear();
    Storage::it = 0;
    Storage::delay = 0;
    Storage::handle = 0;
    Storage::initialized = false;
    NodeTemp::temp_unit.store(nullptr);
    Security::password = nullptr;
    Security::initilized = false;
    Security::default_pwd.set("");
});
