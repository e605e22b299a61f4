#pragma once
// What the parts of the layer share; not for users of gatt.h.
#include "gatt.h"

#define BLUEZ_NAME "org.bluez"
#define ADAPTER_IFACE "org.bluez.Adapter1"
#define DEVICE_IFACE "org.bluez.Device1"
#define ADVERTISING_MANAGER_IFACE "org.bluez.LEAdvertisingManager1"
#define ADVERTISEMENT_IFACE "org.bluez.LEAdvertisement1"
#define GATT_MANAGER_IFACE "org.bluez.GattManager1"
#define GATT_SERVICE_IFACE "org.bluez.GattService1"
#define GATT_CHARACTERISTIC_IFACE "org.bluez.GattCharacteristic1"
#define PROPERTIES_IFACE "org.freedesktop.DBus.Properties"
#define OBJECT_MANAGER_IFACE "org.freedesktop.DBus.ObjectManager"

struct GattDevice {
    char* path;
    char* address;
    char* name;
    GattConnectionState state;
    guint mtu;
};

struct GattAdapter {
    GDBusConnection* connection;
    char* path;
    char* address;
    gboolean powered;
    GattPoweredStateCallback powered_cb;
    GattRemoteCentralCallback central_cb;
    // object path -> GattDevice*; devices live as long as the adapter, so a pointer handed to a
    // callback stays valid even after BlueZ forgets the device.
    GHashTable* devices;
    guint properties_subscription;
    guint added_subscription;
    guint removed_subscription;
};

struct GattAdvertisement {
    char* path;
    char* local_name;
    gboolean discoverable;
    guint32 min_interval;
    guint32 max_interval;
    guint16 manufacturer_id;
    GByteArray* manufacturer_data; // null: none
    GDBusConnection* connection; // while exported
    guint registration; // 0: not exported
};

// The adapter's device at `path`, created on first sight.
GattDevice* gatt_adapter_device(GattAdapter* adapter, const char* path);
GattDevice* gatt_device_new(const char* path);
void gatt_device_free(gpointer device);
// Applies the Device1 properties in `properties` (a{sv}); true when Connected changed.
gboolean gatt_device_update(GattDevice* device, GVariant* properties);
// Logs the failure of an asynchronous call whose user data is a static description.
void gatt_log_call_result(GObject* source, GAsyncResult* result, gpointer what);
