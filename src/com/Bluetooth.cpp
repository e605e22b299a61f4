#include "com/Bluetooth.h"

#include "params/Node.h"
#include "platform/EnvSetting.h"
#include "platform/Shell.h"
#include "platform/UnitBoard.h"
#include "porting/Clock.h"
#include "porting/Log.h"
#include "porting/LogOnce.h"
#include "porting/Mac.h"
#include "porting/Task.h"

#include <gatt.h>

#include <concurrentqueue/concurrentqueue.h>
#include <glib-unix.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <utility>
#include <vector>

std::atomic<bool> ble_initialized{false};
std::atomic<bool> ble_started{false};
std::atomic<bool> ble_advertisment{false};
std::atomic<int64_t> supervisor_time{0};
std::atomic<uint32_t> ble_mtu{128};

namespace {

// Chunks are cut for at least this MTU unless the client reports a smaller one.
constexpr uint32_t kMinimumMtu = 128;
// ATT header of a notification: what BlueZ can deliver is the MTU less these bytes.
constexpr uint32_t kAttHeader = 3;
// The smallest ATT MTU of LE.
constexpr uint32_t kLeMinimumMtu = 23;
constexpr int64_t kSupervisorPeriod = 5000000;
// Connection parameters asked for when a client subscribes: 15 ms interval, no latency, 5 s time-out.
constexpr int kConnHandle = 64, kConnInterval = 12, kConnLatency = 0, kConnTimeout = 500;
// After the teardown's last D-Bus calls, time for BlueZ to answer before the bus is closed.
constexpr guint kTeardownSettleMs = 300;

char ble_device_name[20];

// The MTU that the last RX write reported (0: none), for the chunk limit that BlueZ imposes.
std::atomic<uint32_t> ble_client_mtu{0};
// Mirrors of the GLib thread's objects for "comTasks": a GATT application to send through, and an
// adapter with an advertisement to re-arm.
std::atomic<bool> applicationReady{false};
std::atomic<bool> advertisingReady{false};

// A request, or (empty text, `dropped` > 0) that many requests dropped in a row, each of which is
// answered with an empty reply (a lone NUL), in its place among the replies.
struct RxEntry {
    std::string request;
    uint32_t dropped = 0;
};
moodycamel::ConcurrentQueue<RxEntry> rxQueue(1024);
// Requests waiting beyond this are dropped: a central writing faster than the unit answers must not
// grow the queue without end. What a drop leaves is one entry per RX write at most.
constexpr int kMaxQueuedRequests = 32;
std::atomic<int> queuedRequests{0};
// "nimble_tasks" only: requests of the current write dropped so far, and whether this burst was logged.
uint32_t droppedInWrite = 0;
bool ble_receive_dropping = false;

// The reply on its way, owned by "comTasks": handed to the GLib loop a batch of notifications at a
// time, the next batch only once the loop has sent the previous one, so what waits in the loop stays
// bounded however long the reply and however slow the central.
constexpr size_t kChunksPerBatch = 16;
std::string txPending;
size_t txOffset = 0;
size_t txChunk = 120;
std::atomic<bool> txBatchQueued{false};

// Owned by "nimble_tasks" alone.
uint8_t ble_receive_packet[BLE_RECEIVE_PACKET_SIZE];
uint32_t ble_receive_packet_index = 0;
// A request overflowed the packet: its bytes are dropped up to and including its NUL.
bool ble_receive_discarding = false;
GMainContext* context = nullptr; // created by ble_start, kept for the process's life
GMainLoop* loop = nullptr;
GDBusConnection* bus = nullptr;
GattAdapter* default_adapter = nullptr;
GattAdvertisement* advertisement = nullptr;
GattApplication* app = nullptr;
GattDevice* connected_device = nullptr;
bool tornDown = false;
// Without an adapter the supervisor's error would repeat every 5 s for ever ("comTasks" only).
LogOnce supervisorLog{"Ble Supervisor"};

// The supervisor's period is an interval: monotonic, so setting the wall clock cannot stall it.
int64_t now()
{
    return monotonic_time_us();
}

// ---- GLib thread -----------------------------------------------------------------------------

void startAdvertising()
{
    binc_adapter_start_advertising(default_adapter, advertisement);
    ble_advertisment = true;
}

void stopAdvertising()
{
    binc_adapter_stop_advertising(default_adapter, advertisement);
    ble_advertisment = false;
}

void pushRequest(uint32_t length)
{
    if (queuedRequests.load() >= kMaxQueuedRequests) {
        if (!ble_receive_dropping) LOG_W("BLE", "Requests arrive faster than they are answered: dropped\n");
        ble_receive_dropping = true;
        ++droppedInWrite;
        return;
    }
    ble_receive_dropping = false;
    // The drops of this write go before the request that follows them.
    if (droppedInWrite) rxQueue.enqueue(RxEntry{{}, std::exchange(droppedInWrite, 0)});
    ++queuedRequests;
    rxQueue.enqueue(RxEntry{std::string(reinterpret_cast<const char*>(ble_receive_packet), length), 0});
}

const char* on_local_char_write(const GattApplication*, const char*, const char* service_uuid, const char* char_uuid,
                                const GByteArray* value, guint16 mtu, guint16)
{
    char* hex = g_byte_array_as_hex(value);
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "received packet <%s> %d", hex, int(value->len));
    g_free(hex);
    if (g_ascii_strcasecmp(service_uuid, BLE_SERVICE_UUID) != 0 || g_ascii_strcasecmp(char_uuid, BLE_RX_UUID) != 0)
        return nullptr;

    supervisor_time = now();
    ble_mtu = std::max<uint32_t>(mtu, kMinimumMtu);
    ble_client_mtu = mtu;
    for (guint i = 0; i < value->len; ++i) {
        uint8_t byte = value->data[i];
        if (ble_receive_discarding) {
            if (byte == 0) ble_receive_discarding = false;
            continue;
        }
        if (ble_receive_packet_index >= sizeof ble_receive_packet) {
            // Never past the buffer: the request is dropped, and its tail must not pass for one.
            LOG_W("BLE", "Request longer than %d bytes dropped\n", BLE_RECEIVE_PACKET_SIZE - 1);
            ble_receive_packet_index = 0;
            ble_receive_discarding = byte != 0;
            continue;
        }
        ble_receive_packet[ble_receive_packet_index++] = byte;
        if (byte == 0) {
            pushRequest(ble_receive_packet_index - 1);
            ble_receive_packet_index = 0;
        }
    }
    if (droppedInWrite) rxQueue.enqueue(RxEntry{{}, std::exchange(droppedInWrite, 0)});
    return nullptr;
}

const char* on_local_char_read(const GattApplication*, const char*, const char*, const char* char_uuid)
{
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "on_local_char_read <%s>", char_uuid);
    // Replies travel only as notifications.
    return "org.bluez.Error.Rejected";
}

void on_local_char_start_notify(const GattApplication*, const char* service_uuid, const char* char_uuid)
{
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "on start notify <%s> <%s>", service_uuid, char_uuid);
    set_ble_conn_params(kConnHandle, kConnInterval, kConnInterval, kConnLatency, kConnTimeout);
}

void on_local_char_stop_notify(const GattApplication*, const char*, const char*)
{
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "on stop notify");
}

void on_local_char_updated(const GattApplication*, const char*, const char* char_uuid, const GByteArray* value)
{
    char* hex = g_byte_array_as_hex(value);
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "characteristic <%s> updated to <%s>", char_uuid, hex);
    g_free(hex);
}

void on_powered_state_changed(GattAdapter* adapter, gboolean state)
{
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "powered '%s' (%s)", state ? "on" : "off", binc_adapter_get_path(adapter));
}

void on_central_state_changed(GattAdapter*, GattDevice* device)
{
    char* text = binc_device_to_string(device);
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "%s", text);
    g_free(text);
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "remote central %s is %s", binc_device_get_address(device),
                     binc_device_get_connection_state_name(device));
    switch (binc_device_get_connection_state(device)) {
    case GATT_CONNECTED:
        connected_device = device;
        log_log_at_level(GATT_LOG_DEBUG, "BLE", "MTU = %d", int(binc_device_get_mtu(device)));
        supervisor_time = now();
        // BlueZ refuses to withdraw an advertisement that is not registered: only when it is on.
        if (ble_advertisment) stopAdvertising();
        break;
    case GATT_DISCONNECTED:
        if (!ble_advertisment) startAdvertising();
        break;
    default: break;
    }
}

gboolean sendReply(gpointer data)
{
    auto* chunks = static_cast<std::vector<std::string>*>(data);
    if (!app) return G_SOURCE_REMOVE;
    for (const std::string& chunk : *chunks) {
        GByteArray* bytes = g_byte_array_sized_new(guint(chunk.size()));
        g_byte_array_append(bytes, reinterpret_cast<const guint8*>(chunk.data()), guint(chunk.size()));
        binc_application_notify(app, BLE_SERVICE_UUID, BLE_TX_UUID, bytes);
        g_byte_array_unref(bytes);
    }
    return G_SOURCE_REMOVE;
}

void deleteReply(gpointer data)
{
    delete static_cast<std::vector<std::string>*>(data);
    txBatchQueued = false;
}

gboolean supervisorStart(gpointer)
{
    if (!default_adapter || !advertisement || ble_advertisment) return G_SOURCE_REMOVE;
    startAdvertising();
    LOG_W("Ble Supervisor", "Started advertising\n");
    return G_SOURCE_REMOVE;
}

gboolean onSigint(gpointer)
{
    log_log_at_level(GATT_LOG_ERROR, "BLE", "received SIGINT");
    if (tornDown) return G_SOURCE_CONTINUE;
    tornDown = true;
    log_log_at_level(GATT_LOG_DEBUG, "BLE", "callback");
    // "comTasks" stops handing over before anything is freed; what it still queued finds nothing.
    applicationReady = false;
    advertisingReady = false;
    if (app) {
        binc_adapter_unregister_application(default_adapter, app);
        binc_application_free(app);
        app = nullptr;
    }
    if (advertisement) {
        if (ble_advertisment) stopAdvertising();
        binc_advertisement_free(advertisement);
        advertisement = nullptr;
    }
    supervisor_time = now();
    ble_advertisment = false;
    connected_device = nullptr;
    if (default_adapter) binc_adapter_free(default_adapter);
    default_adapter = nullptr;
    g_main_loop_quit(loop);
    // The source stays: removing it would give SIGINT back its default action, and a second SIGINT
    // would end the whole unit. Once the loop has stopped, further ones are caught and ignored.
    return G_SOURCE_CONTINUE;
}

GDBusConnection* openBus()
{
    GError* error = nullptr;
    GDBusConnection* connection = nullptr;
    // Off the unit the system bus's BlueZ drives this machine's own adapter: only a bus named for
    // the purpose is used.
    if (UnitBoard::detected()) {
        connection = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    } else {
        const char* address = EnvSetting::text("KESTRUN_DBUS_ADDRESS");
        if (!address) {
            LOG_W("BLE", "No D-Bus bus: KESTRUN_DBUS_ADDRESS is not set\n");
            return nullptr;
        }
        connection =
            g_dbus_connection_new_for_address_sync(address,
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, &error);
        if (!connection) {
            EnvSetting::refuse("BLE", "KESTRUN_DBUS_ADDRESS", address,
                               std::string("cannot be reached (") + error->message + ")",
                               "Bluetooth stays off (Ctrl-C still only tears it down)");
            g_error_free(error);
            return nullptr;
        }
    }
    if (!connection) {
        LOG_E("BLE", "Cannot connect to D-Bus: %s\n", error->message);
        g_error_free(error);
        return nullptr;
    }
    // Losing the bus must not end the whole unit.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return connection;
}

void setUpAdapter()
{
    binc_adapter_set_powered_state_cb(default_adapter, on_powered_state_changed);
    if (!binc_adapter_get_powered_state(default_adapter)) binc_adapter_power_on(default_adapter);
    binc_adapter_set_alias(default_adapter, ble_device_name);
    binc_adapter_discoverable_on(default_adapter);
    binc_adapter_pairable_off(default_adapter);
    binc_adapter_set_remote_central_cb(default_adapter, on_central_state_changed);

    uint8_t address[6];
    esp_read_mac(address, 2);
    GByteArray* data = g_byte_array_sized_new(sizeof address);
    g_byte_array_append(data, address, sizeof address);
    advertisement = binc_advertisement_create();
    binc_advertisement_set_general_discoverable(advertisement, TRUE);
    binc_advertisement_set_interval(advertisement, 100, 200);
    binc_advertisement_set_manufacturer_data(advertisement, 0xFFFF, data);
    binc_advertisement_set_local_name(advertisement, ble_device_name);
    g_byte_array_unref(data);
    startAdvertising();
    advertisingReady = true;

    app = binc_create_application(default_adapter);
    binc_application_add_service(app, BLE_SERVICE_UUID);
    binc_application_add_characteristic(app, BLE_SERVICE_UUID, BLE_RX_UUID,
                                        GATT_CHR_PROP_WRITE | GATT_CHR_PROP_WRITE_WITHOUT_RESP);
    binc_application_add_characteristic(app, BLE_SERVICE_UUID, BLE_TX_UUID, GATT_CHR_PROP_READ | GATT_CHR_PROP_NOTIFY);
    binc_application_set_char_read_cb(app, on_local_char_read);
    binc_application_set_char_write_cb(app, on_local_char_write);
    binc_application_set_char_start_notify_cb(app, on_local_char_start_notify);
    binc_application_set_char_stop_notify_cb(app, on_local_char_stop_notify);
    binc_application_set_char_updated_cb(app, on_local_char_updated);
    binc_adapter_register_application(default_adapter, app);
    applicationReady = true;
}

void* nimble_tasks(void*)
{
    log_set_level(GATT_LOG_INFO);
    // Every object, signal subscription and call reply of the GATT side is bound to this context.
    g_main_context_push_thread_default(context);
    // Through the loop rather than an asynchronous handler, so the teardown may free and call D-Bus.
    // A host program without a bus keeps SIGINT blocked in every thread (HostStop): it never
    // arrives here, and stops the program instead.
    GSource* sigint = g_unix_signal_source_new(SIGINT);
    if (!sigint) {
        log_log_at_level(GATT_LOG_ERROR, "BLE", "can't catch SIGINT");
    } else {
        g_source_set_callback(sigint, onSigint, nullptr, nullptr);
        g_source_attach(sigint, context);
        g_source_unref(sigint);
    }
    bus = openBus();
    loop = g_main_loop_new(context, FALSE);

    default_adapter = binc_adapter_get_default(bus);
    if (!default_adapter) log_log_at_level(GATT_LOG_DEBUG, "MAIN", "No default_adapter found");
    else setUpAdapter();

    ble_started = true;
    g_main_loop_run(loop);
    ble_started = false;
    LOG_E("BLE", "Terminated\n");

    if (bus) {
        // Let BlueZ answer the teardown's unregistrations before the bus goes.
        GSource* settle = g_timeout_source_new(kTeardownSettleMs);
        g_source_set_callback(
            settle,
            [](gpointer) -> gboolean {
                g_main_loop_quit(loop);
                return G_SOURCE_REMOVE;
            },
            nullptr, nullptr);
        g_source_attach(settle, context);
        g_source_unref(settle);
        g_main_loop_run(loop);
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
        bus = nullptr;
    }
    while (g_main_context_iteration(context, FALSE)) {}
    g_main_loop_unref(loop);
    loop = nullptr;
    g_main_context_pop_thread_default(context);
    return nullptr;
}

} // namespace

// ---- "comTasks" ------------------------------------------------------------------------------

Bluetooth::Bluetooth(Node* root, Node* name) : ComInterface(root, "Bluetooth"), name(name) {}

void Bluetooth::initialize()
{
    if (!name) {
        ble_start(nullptr);
        return;
    }
    std::string text = name->toString();
    ble_start(text.c_str());
}

bool Bluetooth::hasBus()
{
    return UnitBoard::detected() || EnvSetting::text("KESTRUN_DBUS_ADDRESS") != nullptr;
}

void Bluetooth::tasks()
{
    ble_supervisor();
    // One reply at a time: the next request waits until this one is handed over whole.
    if (ble_flush_tx()) return;
    std::string request;
    uint32_t dropped = 0;
    // Dropped requests cost nothing to answer: all those before the next request go in this pass.
    while (ble_take_rx(request, dropped)) {
        if (!dropped) {
            ble_set_tx(processRequest(std::move(request)));
            return;
        }
        ble_set_tx(std::string(dropped - 1, '\0'));
    }
}

int ble_start(const char* name)
{
    if (!name || ble_initialized) {
        LOG_E("BLE", "Already initialized\n");
        return 0;
    }
    // At most 19 bytes, cut at a character boundary: D-Bus carries the name as UTF-8 text and
    // refuses a broken sequence.
    g_strlcpy(ble_device_name, name, sizeof ble_device_name);
    const char* end = nullptr;
    if (!g_utf8_validate(ble_device_name, -1, &end)) ble_device_name[end - ble_device_name] = '\0';
    LOG_I("BLE", "%s\n", ble_device_name);
    supervisorLog = LogOnce("Ble Supervisor");
    tornDown = false;
    context = g_main_context_new();
    xTaskCreatePinnedToCore(nimble_tasks, "nimble_tasks", 4096, nullptr, 0, nullptr, 0);
    ble_initialized = true;
    return 0;
}

bool ble_take_rx(std::string& request, uint32_t& dropped)
{
    RxEntry entry;
    if (!rxQueue.try_dequeue(entry)) return false;
    if (!entry.dropped) --queuedRequests;
    request = std::move(entry.request);
    dropped = entry.dropped;
    return true;
}

void ble_set_tx(std::string reply)
{
    if (!applicationReady) return;
    uint32_t mtu = ble_mtu;
    if (mtu < kMinimumMtu) {
        mtu = kMinimumMtu;
        ble_mtu = mtu;
    }
    size_t chunk = mtu - 8;
    // BlueZ cannot deliver more than the client's MTU less the ATT header in one notification.
    if (uint32_t client = ble_client_mtu) chunk = std::min<size_t>(chunk, std::max(client, kLeMinimumMtu) - kAttHeader);

    reply.push_back('\0');
    if (txOffset >= txPending.size()) {
        txPending = std::move(reply);
        txOffset = 0;
        txChunk = chunk;
    } else {
        txPending += reply; // after the one still on its way, cut alike
    }
    ble_flush_tx();
}

bool ble_flush_tx()
{
    if (txOffset >= txPending.size()) return false;
    if (!applicationReady) {
        // Torn down: nothing will be sent any more.
        std::string().swap(txPending);
        txOffset = 0;
        return false;
    }
    if (txBatchQueued) return true;
    auto* chunks = new std::vector<std::string>;
    while (chunks->size() < kChunksPerBatch && txOffset < txPending.size()) {
        chunks->push_back(txPending.substr(txOffset, txChunk));
        txOffset += chunks->back().size();
    }
    if (txOffset >= txPending.size()) {
        std::string().swap(txPending);
        txOffset = 0;
    }
    txBatchQueued = true;
    // Sent by the GLib thread, which alone may touch the application (and frees it on SIGINT).
    g_main_context_invoke_full(context, G_PRIORITY_DEFAULT, sendReply, chunks, deleteReply);
    return txOffset < txPending.size();
}

void ble_supervisor()
{
    if (!ble_started) return;
    int64_t time = now();
    if (time - supervisor_time <= kSupervisorPeriod) return;
    supervisor_time = time;
    const bool failing = !ble_advertisment && !advertisingReady;
    if (supervisorLog.changed(failing) && failing) LOG_E("Ble Supervisor", "Error in adapter or advertisment\n");
    if (ble_advertisment || failing) return;
    g_main_context_invoke(context, supervisorStart, nullptr);
}

void set_ble_conn_params(int handle, int minInterval, int maxInterval, int latency, int timeout)
{
    char command[160];
    std::snprintf(command, sizeof command, "sudo hcitool lecup --handle=%d --min=%d --max=%d --latency=%d --timeout=%d",
                  handle, minInterval, maxInterval, latency, timeout);
    int status = Shell::system(command);
    if (status != 0) {
        int code = status > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : status;
        std::fprintf(stderr, "hcitool lecup failed with code %d\n", code);
    }
}
