#include "gatt_internal.h"

namespace {

// The LE minimum, until the central reports more with a write.
constexpr guint kDefaultMtu = 23;

const char* stateName(GattConnectionState state)
{
    switch (state) {
    case GATT_CONNECTED: return "CONNECTED";
    case GATT_CONNECTING: return "CONNECTING";
    case GATT_DISCONNECTING: return "DISCONNECTING";
    default: return "DISCONNECTED";
    }
}

} // namespace

GattDevice* gatt_device_new(const char* path)
{
    GattDevice* device = g_new0(GattDevice, 1);
    device->path = g_strdup(path);
    device->address = g_strdup("");
    device->name = g_strdup("");
    device->state = GATT_DISCONNECTED;
    device->mtu = kDefaultMtu;
    return device;
}

void gatt_device_free(gpointer data)
{
    GattDevice* device = static_cast<GattDevice*>(data);
    if (!device) return;
    g_free(device->path);
    g_free(device->address);
    g_free(device->name);
    g_free(device);
}

gboolean gatt_device_update(GattDevice* device, GVariant* properties)
{
    gboolean changed = FALSE;
    const char* text = nullptr;
    if (g_variant_lookup(properties, "Address", "&s", &text)) {
        g_free(device->address);
        device->address = g_strdup(text);
    }
    if (g_variant_lookup(properties, "Name", "&s", &text)) {
        g_free(device->name);
        device->name = g_strdup(text);
    }
    gboolean connected = FALSE;
    if (g_variant_lookup(properties, "Connected", "b", &connected)) {
        GattConnectionState state = connected ? GATT_CONNECTED : GATT_DISCONNECTED;
        changed = state != device->state;
        device->state = state;
    }
    return changed;
}

char* binc_device_to_string(const GattDevice* device)
{
    if (!device) return g_strdup("Device{null}");
    return g_strdup_printf("Device{name='%s', address='%s', state=%s, mtu=%u, path='%s'}", device->name,
                           device->address, stateName(device->state), device->mtu, device->path);
}

const char* binc_device_get_address(const GattDevice* device)
{
    return device ? device->address : "";
}

GattConnectionState binc_device_get_connection_state(const GattDevice* device)
{
    return device ? device->state : GATT_DISCONNECTED;
}

const char* binc_device_get_connection_state_name(const GattDevice* device)
{
    return stateName(binc_device_get_connection_state(device));
}

guint binc_device_get_mtu(const GattDevice* device)
{
    return device ? device->mtu : kDefaultMtu;
}
