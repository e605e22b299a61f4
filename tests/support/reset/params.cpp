// The parameter layer as a fresh process finds it: no persisted items, the store closed (its folder
// is emptied between tests), no unit selector or password node, no action queued and the action
// thread to be started again (it ended with the test), no control source.
#include "params/Control.h"
#include "params/NodeAction.h"
#include "params/NodeTemp.h"
#include "params/Security.h"
#include "params/Storage.h"
#include "support/ResetHooks.h"

static ResetHook paramsReset([] {
    Control::sources.clear();
    Storage::items.clear();
    Storage::it = 0;
    Storage::delay = 0;
    Storage::handle = 0;
    Storage::initialized = false;
    Storage::resetFailures();
    NodeTemp::temp_unit.store(nullptr);
    Security::password = nullptr;
    Security::initilized = false;
    Security::default_pwd.set("");
    NodeAction::action_queue.clear();
    NodeAction::actionInitialized.store(false);
});
