// The remote side as a fresh process finds it: no transport registered or started, Bluetooth not
// started (its GLib thread ends with the test's SIGINT teardown or with the test's threads).
#include "com/Com.h"
#include "com/Bluetooth.h"
#include "support/ResetHooks.h"

static ResetHook comReset([] {
    Com::ifaces.clear();
    Com::initialized = false;
    ble_initialized.store(false);
    ble_started.store(false);
    ble_advertisment.store(false);
    supervisor_time.store(0);
    ble_mtu.store(128);
});
