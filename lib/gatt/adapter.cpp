#include "gatt_internal.h"

#include <cstring>

namespace {

// GetManagedObjects of BlueZ answers at once; a bus without BlueZ answers at once too. The bound
// only matters for a daemon that hangs.
constexpr int kDiscoveryTimeoutMs = 5000;

bool isDevicePath(const GattAdapter* adapter, const char* path)
{
    size_t length = std::strlen(adapter->path);
    return std::strncmp(path, adapter->path, length) == 0 && path[length] == '/' &&
           std::strchr(path + length + 1, '/') == nullptr;
}

void reportCentral(GattAdapter* adapter, GattDevice* device)
{
    if (adapter->central_cb) adapter->central_cb(adapter, device);
}

void onPropertiesChanged(GDBusConnection*, const char*, const char* path, const char*, const char*,
                         GVariant* parameters, gpointer data)
{
    GattAdapter* adapter = static_cast<GattAdapter*>(data);
    const char* iface = nullptr;
    GVariant* changed = nullptr;
    g_variant_get(parameters, "(&s@a{sv}@as)", &iface, &changed, nullptr);
    if (std::strcmp(iface, ADAPTER_IFACE) == 0 && std::strcmp(path, adapter->path) == 0) {
        gboolean powered = FALSE;
        if (g_variant_lookup(changed, "Powered", "b", &powered)) {
            adapter->powered = powered;
            if (adapter->powered_cb) adapter->powered_cb(adapter, powered);
        }
    } else if (std::strcmp(iface, DEVICE_IFACE) == 0 && isDevicePath(adapter, path)) {
        GattDevice* device = gatt_adapter_device(adapter, path);
        if (gatt_device_update(device, changed)) reportCentral(adapter, device);
    }
    g_variant_unref(changed);
}

// A device object that appears already connected is a central that has just connected.
void addObject(GattAdapter* adapter, const char* path, GVariant* interfaces, bool report)
{
    if (!isDevicePath(adapter, path)) return;
    GVariant* properties = g_variant_lookup_value(interfaces, DEVICE_IFACE, G_VARIANT_TYPE_VARDICT);
    if (!properties) return;
    GattDevice* device = gatt_adapter_device(adapter, path);
    if (gatt_device_update(device, properties) && report) reportCentral(adapter, device);
    g_variant_unref(properties);
}

void onInterfacesAdded(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                       gpointer data)
{
    const char* path = nullptr;
    GVariant* interfaces = nullptr;
    g_variant_get(parameters, "(&o@a{sa{sv}})", &path, &interfaces);
    addObject(static_cast<GattAdapter*>(data), path, interfaces, true);
    g_variant_unref(interfaces);
}

// BlueZ forgetting a connected device means it is gone.
void onInterfacesRemoved(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                         gpointer data)
{
    GattAdapter* adapter = static_cast<GattAdapter*>(data);
    const char* path = nullptr;
    GVariant* interfaces = nullptr;
    g_variant_get(parameters, "(&o@as)", &path, &interfaces);
    GattDevice* device = static_cast<GattDevice*>(g_hash_table_lookup(adapter->devices, path));
    bool deviceGone = false;
    GVariantIter iter;
    const char* iface = nullptr;
    g_variant_iter_init(&iter, interfaces);
    while (g_variant_iter_next(&iter, "&s", &iface))
        if (std::strcmp(iface, DEVICE_IFACE) == 0) deviceGone = true;
    if (device && deviceGone && device->state != GATT_DISCONNECTED) {
        device->state = GATT_DISCONNECTED;
        reportCentral(adapter, device);
    }
    g_variant_unref(interfaces);
}

void setProperty(GattAdapter* adapter, const char* name, GVariant* value, const char* what)
{
    g_dbus_connection_call(adapter->connection, BLUEZ_NAME, adapter->path, PROPERTIES_IFACE, "Set",
                           g_variant_new("(ssv)", ADAPTER_IFACE, name, value), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, gatt_log_call_result, const_cast<char*>(what));
}

} // namespace

GattDevice* gatt_adapter_device(GattAdapter* adapter, const char* path)
{
    GattDevice* device = static_cast<GattDevice*>(g_hash_table_lookup(adapter->devices, path));
    if (!device) {
        device = gatt_device_new(path);
        g_hash_table_insert(adapter->devices, g_strdup(path), device);
    }
    return device;
}

GattAdapter* binc_adapter_get_default(GDBusConnection* connection)
{
    if (!connection) return nullptr;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, BLUEZ_NAME, "/", OBJECT_MANAGER_IFACE,
                                                  "GetManagedObjects", nullptr, G_VARIANT_TYPE("(a{oa{sa{sv}}})"),
                                                  G_DBUS_CALL_FLAGS_NONE, kDiscoveryTimeoutMs, nullptr, &error);
    if (!reply) {
        log_log_at_level(GATT_LOG_DEBUG, "Adapter", "no object manager: %s", error->message);
        g_error_free(error);
        return nullptr;
    }
    GVariant* objects = g_variant_get_child_value(reply, 0);

    // The default adapter is the one with the lowest path (hci0 before hci1).
    const char* chosen = nullptr;
    GVariant* chosenProperties = nullptr;
    GVariantIter iter;
    const char* path = nullptr;
    GVariant* interfaces = nullptr;
    g_variant_iter_init(&iter, objects);
    while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
        GVariant* properties = g_variant_lookup_value(interfaces, ADAPTER_IFACE, G_VARIANT_TYPE_VARDICT);
        if (properties && (!chosen || std::strcmp(path, chosen) < 0)) {
            if (chosenProperties) g_variant_unref(chosenProperties);
            chosen = path;
            chosenProperties = properties;
        } else if (properties) {
            g_variant_unref(properties);
        }
        g_variant_unref(interfaces);
    }
    if (!chosen) {
        g_variant_unref(objects);
        g_variant_unref(reply);
        return nullptr;
    }

    GattAdapter* adapter = g_new0(GattAdapter, 1);
    adapter->connection = G_DBUS_CONNECTION(g_object_ref(connection));
    adapter->path = g_strdup(chosen);
    const char* address = "";
    g_variant_lookup(chosenProperties, "Address", "&s", &address);
    adapter->address = g_strdup(address);
    g_variant_lookup(chosenProperties, "Powered", "b", &adapter->powered);
    g_variant_unref(chosenProperties);
    adapter->devices = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, gatt_device_free);

    // Devices already known: their state, without reporting (nothing changed).
    g_variant_iter_init(&iter, objects);
    while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
        addObject(adapter, path, interfaces, false);
        g_variant_unref(interfaces);
    }
    g_variant_unref(objects);
    g_variant_unref(reply);

    adapter->properties_subscription =
        g_dbus_connection_signal_subscribe(connection, BLUEZ_NAME, PROPERTIES_IFACE, "PropertiesChanged", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onPropertiesChanged, adapter, nullptr);
    adapter->added_subscription =
        g_dbus_connection_signal_subscribe(connection, BLUEZ_NAME, OBJECT_MANAGER_IFACE, "InterfacesAdded", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onInterfacesAdded, adapter, nullptr);
    adapter->removed_subscription =
        g_dbus_connection_signal_subscribe(connection, BLUEZ_NAME, OBJECT_MANAGER_IFACE, "InterfacesRemoved", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onInterfacesRemoved, adapter, nullptr);
    return adapter;
}

const char* binc_adapter_get_path(const GattAdapter* adapter)
{
    return adapter ? adapter->path : "";
}

void binc_adapter_set_powered_state_cb(GattAdapter* adapter, GattPoweredStateCallback callback)
{
    if (adapter) adapter->powered_cb = callback;
}

gboolean binc_adapter_get_powered_state(const GattAdapter* adapter)
{
    return adapter ? adapter->powered : FALSE;
}

void binc_adapter_power_on(GattAdapter* adapter)
{
    if (adapter) setProperty(adapter, "Powered", g_variant_new_boolean(TRUE), "Powering the adapter on");
}

void binc_adapter_set_alias(GattAdapter* adapter, const char* alias)
{
    if (adapter && alias) setProperty(adapter, "Alias", g_variant_new_string(alias), "Setting the adapter alias");
}

void binc_adapter_discoverable_on(GattAdapter* adapter)
{
    if (adapter) setProperty(adapter, "Discoverable", g_variant_new_boolean(TRUE), "Making the adapter discoverable");
}

void binc_adapter_pairable_off(GattAdapter* adapter)
{
    if (adapter) setProperty(adapter, "Pairable", g_variant_new_boolean(FALSE), "Making the adapter not pairable");
}

void binc_adapter_set_remote_central_cb(GattAdapter* adapter, GattRemoteCentralCallback callback)
{
    if (adapter) adapter->central_cb = callback;
}

void binc_adapter_free(GattAdapter* adapter)
{
    if (!adapter) return;
    // After unsubscribing from the context that subscribed, no callback of ours runs again.
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->properties_subscription);
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->added_subscription);
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->removed_subscription);
    g_hash_table_destroy(adapter->devices);
    g_object_unref(adapter->connection);
    g_free(adapter->path);
    g_free(adapter->address);
    g_free(adapter);
}
