#pragma once
// Our BlueZ peripheral layer over GIO's D-Bus API: the default adapter and its properties, an LE
// advertisement, a GATT application (services and characteristics) registered with BlueZ,
// notifications, remote centrals connecting, a leveled logger and a hex helper.
//
// Threads: every call except log_set_level, log_log_at_level and g_byte_array_as_hex must be made
// on the thread that runs the GMainContext which was that thread's default context when
// binc_adapter_get_default and binc_create_application were called; every callback runs there too.
// Calls that talk to BlueZ (properties, advertising, registration) are asynchronous: BlueZ calls
// back into our exported objects before it answers, so a blocking call would deadlock the loop.
// Their failures are logged at error level.
#include <gio/gio.h>

struct GattAdapter;
struct GattAdvertisement;
struct GattApplication;
struct GattDevice;

// ---- Logger ----------------------------------------------------------------------------------

enum GattLogLevel { GATT_LOG_DEBUG = 0, GATT_LOG_INFO = 1, GATT_LOG_WARN = 2, GATT_LOG_ERROR = 3 };

// Lines below `level` are not printed. Information (1) at start.
void log_set_level(GattLogLevel level);
// Prints "<D|I|W|ERROR> (tag): message" and a line feed on standard output when `level` is shown.
void log_log_at_level(GattLogLevel level, const char* tag, const char* format, ...) G_GNUC_PRINTF(3, 4);

// Lower-case hexadecimal text of the bytes, no separators ("" for null). Free with g_free.
char* g_byte_array_as_hex(const GByteArray* bytes);

// ---- Remote devices --------------------------------------------------------------------------

enum GattConnectionState {
    GATT_DISCONNECTED = 0,
    GATT_CONNECTED = 1,
    GATT_CONNECTING = 2,
    GATT_DISCONNECTING = 3,
};

// A readable description of the device. Free with g_free.
char* binc_device_to_string(const GattDevice* device);
// "AA:BB:CC:DD:EE:FF".
const char* binc_device_get_address(const GattDevice* device);
GattConnectionState binc_device_get_connection_state(const GattDevice* device);
// "DISCONNECTED", "CONNECTED", "CONNECTING" or "DISCONNECTING".
const char* binc_device_get_connection_state_name(const GattDevice* device);
// The ATT MTU that the device last reported with a write to our application; 23 (the LE minimum)
// until it does.
guint binc_device_get_mtu(const GattDevice* device);

// ---- Adapter ---------------------------------------------------------------------------------

typedef void (*GattPoweredStateCallback)(GattAdapter* adapter, gboolean powered);
// A device under the adapter changed its connection state. The device belongs to the adapter and
// stays valid until binc_adapter_free.
typedef void (*GattRemoteCentralCallback)(GattAdapter* adapter, GattDevice* device);

// The first adapter (lowest object path) that BlueZ's object manager lists, or null when BlueZ is
// not on the bus or has no adapter. Blocks for at most a few seconds.
GattAdapter* binc_adapter_get_default(GDBusConnection* connection);
const char* binc_adapter_get_path(const GattAdapter* adapter);
void binc_adapter_set_powered_state_cb(GattAdapter* adapter, GattPoweredStateCallback callback);
// As last reported by BlueZ.
gboolean binc_adapter_get_powered_state(const GattAdapter* adapter);
void binc_adapter_power_on(GattAdapter* adapter);
void binc_adapter_set_alias(GattAdapter* adapter, const char* alias);
void binc_adapter_discoverable_on(GattAdapter* adapter);
void binc_adapter_pairable_off(GattAdapter* adapter);
void binc_adapter_set_remote_central_cb(GattAdapter* adapter, GattRemoteCentralCallback callback);
// Exports the advertisement and registers it with the adapter's LE advertising manager.
void binc_adapter_start_advertising(GattAdapter* adapter, GattAdvertisement* advertisement);
// Unregisters the advertisement and withdraws its object.
void binc_adapter_stop_advertising(GattAdapter* adapter, GattAdvertisement* advertisement);
// Registers the application's object tree with the adapter's GATT manager.
void binc_adapter_register_application(GattAdapter* adapter, GattApplication* application);
void binc_adapter_unregister_application(GattAdapter* adapter, GattApplication* application);
// Releases the adapter, its signal subscriptions and its devices (null is accepted).
void binc_adapter_free(GattAdapter* adapter);

// ---- Advertisement ---------------------------------------------------------------------------

// A general peripheral advertisement, exported on the adapter's bus when advertising starts.
GattAdvertisement* binc_advertisement_create();
void binc_advertisement_set_general_discoverable(GattAdvertisement* advertisement, gboolean discoverable);
// Milliseconds.
void binc_advertisement_set_interval(GattAdvertisement* advertisement, guint32 min_ms, guint32 max_ms);
// One manufacturer entry (company identifier and its bytes); a later call replaces it.
void binc_advertisement_set_manufacturer_data(GattAdvertisement* advertisement, guint16 manufacturer_id,
                                              const GByteArray* data);
void binc_advertisement_set_local_name(GattAdvertisement* advertisement, const char* name);
// Withdraws the object if it is still exported and releases it (null is accepted).
void binc_advertisement_free(GattAdvertisement* advertisement);

// ---- GATT application ------------------------------------------------------------------------

// Characteristic property bits, as in the GATT characteristic declaration.
enum : guint8 {
    GATT_CHR_PROP_BROADCAST = 0x01,
    GATT_CHR_PROP_READ = 0x02,
    GATT_CHR_PROP_WRITE_WITHOUT_RESP = 0x04,
    GATT_CHR_PROP_WRITE = 0x08,
    GATT_CHR_PROP_NOTIFY = 0x10,
    GATT_CHR_PROP_INDICATE = 0x20,
    GATT_CHR_PROP_AUTH = 0x40,
    GATT_CHR_PROP_EXT_PROPS = 0x80,
};

// A read or write callback returns null to accept, or a D-Bus error name ("org.bluez.Error.Rejected")
// that is sent back to the central. `device` is the central's object path ("" when BlueZ gave none).
typedef const char* (*GattCharReadCallback)(const GattApplication* application, const char* device,
                                            const char* service_uuid, const char* char_uuid);
// `mtu` is the ATT MTU that BlueZ reported with the write (0 when it reported none); `offset` is
// where the bytes go in the value.
typedef const char* (*GattCharWriteCallback)(const GattApplication* application, const char* device,
                                             const char* service_uuid, const char* char_uuid, const GByteArray* value,
                                             guint16 mtu, guint16 offset);
typedef void (*GattCharNotifyCallback)(const GattApplication* application, const char* service_uuid,
                                       const char* char_uuid);
// The stored value changed (accepted write or notification).
typedef void (*GattCharUpdatedCallback)(const GattApplication* application, const char* service_uuid,
                                        const char* char_uuid, const GByteArray* value);

// An empty application on the adapter's bus; its object manager is exported at once.
GattApplication* binc_create_application(const GattAdapter* adapter);
// 0, or -1 when the UUID is invalid or already there.
int binc_application_add_service(GattApplication* application, const char* service_uuid);
// `permissions`: GATT_CHR_PROP_* bits. 0, or -1 when the service is unknown, the UUID invalid or
// already there.
int binc_application_add_characteristic(GattApplication* application, const char* service_uuid, const char* char_uuid,
                                        guint8 permissions);
void binc_application_set_char_read_cb(GattApplication* application, GattCharReadCallback callback);
void binc_application_set_char_write_cb(GattApplication* application, GattCharWriteCallback callback);
void binc_application_set_char_start_notify_cb(GattApplication* application, GattCharNotifyCallback callback);
void binc_application_set_char_stop_notify_cb(GattApplication* application, GattCharNotifyCallback callback);
void binc_application_set_char_updated_cb(GattApplication* application, GattCharUpdatedCallback callback);
// Sets the characteristic's value and, while a central has notifications on, emits it. 0 when
// emitted; -1 for an unknown characteristic; -2 when no central listens (the value is still set).
int binc_application_notify(GattApplication* application, const char* service_uuid, const char* char_uuid,
                            const GByteArray* value);
// Withdraws every object of the application and releases it (null is accepted).
void binc_application_free(GattApplication* application);
