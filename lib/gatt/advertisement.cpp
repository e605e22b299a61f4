#include "gatt_internal.h"

#include <atomic>
#include <cstring>

namespace {

const char kAdvertisementXml[] =
    "<node>"
    "  <interface name='" ADVERTISEMENT_IFACE
    "'>"
    "    <method name='Release'/>"
    "    <property name='Type' type='s' access='read'/>"
    "    <property name='LocalName' type='s' access='read'/>"
    "    <property name='ManufacturerData' type='a{qv}' access='read'/>"
    "    <property name='Discoverable' type='b' access='read'/>"
    "    <property name='MinInterval' type='u' access='read'/>"
    "    <property name='MaxInterval' type='u' access='read'/>"
    "  </interface>"
    "</node>";

GDBusInterfaceInfo* advertisementInterface()
{
    static GDBusInterfaceInfo* info = [] {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kAdvertisementXml, nullptr);
        GDBusInterfaceInfo* iface = g_dbus_interface_info_ref(node->interfaces[0]);
        g_dbus_node_info_unref(node);
        return iface;
    }();
    return info;
}

void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant*,
                  GDBusMethodInvocation* invocation, gpointer)
{
    // Release: BlueZ dropped the advertisement (adapter gone); the owner re-arms it when it wants.
    log_log_at_level(GATT_LOG_DEBUG, "Advertisement", "%s", method);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

// Properties that are not set are left out (null), which GetAll skips.
GVariant* onGetProperty(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**,
                        gpointer data)
{
    GattAdvertisement* advertisement = static_cast<GattAdvertisement*>(data);
    if (std::strcmp(name, "Type") == 0) return g_variant_new_string("peripheral");
    if (std::strcmp(name, "LocalName") == 0)
        return advertisement->local_name ? g_variant_new_string(advertisement->local_name) : nullptr;
    if (std::strcmp(name, "Discoverable") == 0)
        return advertisement->discoverable ? g_variant_new_boolean(TRUE) : nullptr;
    if (std::strcmp(name, "MinInterval") == 0)
        return advertisement->min_interval ? g_variant_new_uint32(advertisement->min_interval) : nullptr;
    if (std::strcmp(name, "MaxInterval") == 0)
        return advertisement->max_interval ? g_variant_new_uint32(advertisement->max_interval) : nullptr;
    if (std::strcmp(name, "ManufacturerData") == 0) {
        if (!advertisement->manufacturer_data) return nullptr;
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{qv}"));
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, advertisement->manufacturer_data->data,
                                                    advertisement->manufacturer_data->len, 1);
        g_variant_builder_add(&builder, "{qv}", advertisement->manufacturer_id, bytes);
        return g_variant_builder_end(&builder);
    }
    return nullptr;
}

const GDBusInterfaceVTable kVtable = {onMethodCall, onGetProperty, nullptr, {}};

void unexport(GattAdvertisement* advertisement)
{
    if (!advertisement->registration) return;
    g_dbus_connection_unregister_object(advertisement->connection, advertisement->registration);
    advertisement->registration = 0;
    g_clear_object(&advertisement->connection);
}

} // namespace

GattAdvertisement* binc_advertisement_create()
{
    static std::atomic<unsigned> count{0};
    GattAdvertisement* advertisement = g_new0(GattAdvertisement, 1);
    advertisement->path = g_strdup_printf("/gatt/advertisement%u", count++);
    return advertisement;
}

void binc_advertisement_set_general_discoverable(GattAdvertisement* advertisement, gboolean discoverable)
{
    if (advertisement) advertisement->discoverable = discoverable;
}

void binc_advertisement_set_interval(GattAdvertisement* advertisement, guint32 min_ms, guint32 max_ms)
{
    if (!advertisement) return;
    advertisement->min_interval = min_ms;
    advertisement->max_interval = max_ms;
}

void binc_advertisement_set_manufacturer_data(GattAdvertisement* advertisement, guint16 manufacturer_id,
                                              const GByteArray* data)
{
    if (!advertisement) return;
    if (advertisement->manufacturer_data) g_byte_array_unref(advertisement->manufacturer_data);
    advertisement->manufacturer_data = nullptr;
    advertisement->manufacturer_id = manufacturer_id;
    if (!data) return;
    advertisement->manufacturer_data = g_byte_array_sized_new(data->len);
    g_byte_array_append(advertisement->manufacturer_data, data->data, data->len);
}

void binc_advertisement_set_local_name(GattAdvertisement* advertisement, const char* name)
{
    if (!advertisement) return;
    g_free(advertisement->local_name);
    advertisement->local_name = g_strdup(name);
}

void binc_advertisement_free(GattAdvertisement* advertisement)
{
    if (!advertisement) return;
    unexport(advertisement);
    if (advertisement->manufacturer_data) g_byte_array_unref(advertisement->manufacturer_data);
    g_free(advertisement->local_name);
    g_free(advertisement->path);
    g_free(advertisement);
}

void binc_adapter_start_advertising(GattAdapter* adapter, GattAdvertisement* advertisement)
{
    if (!adapter || !advertisement) return;
    if (!advertisement->registration) {
        GError* error = nullptr;
        // The object only reads the advertisement's fields, which live until it is withdrawn.
        advertisement->registration =
            g_dbus_connection_register_object(adapter->connection, advertisement->path, advertisementInterface(),
                                              &kVtable, advertisement, nullptr, &error);
        if (!advertisement->registration) {
            log_log_at_level(GATT_LOG_ERROR, "Advertisement", "cannot export %s: %s", advertisement->path,
                             error->message);
            g_error_free(error);
            return;
        }
        advertisement->connection = G_DBUS_CONNECTION(g_object_ref(adapter->connection));
    }
    g_dbus_connection_call(adapter->connection, BLUEZ_NAME, adapter->path, ADVERTISING_MANAGER_IFACE,
                           "RegisterAdvertisement", g_variant_new("(oa{sv})", advertisement->path, nullptr), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, gatt_log_call_result,
                           const_cast<char*>("Registering the advertisement"));
}

void binc_adapter_stop_advertising(GattAdapter* adapter, GattAdvertisement* advertisement)
{
    if (!adapter || !advertisement) return;
    g_dbus_connection_call(adapter->connection, BLUEZ_NAME, adapter->path, ADVERTISING_MANAGER_IFACE,
                           "UnregisterAdvertisement", g_variant_new("(o)", advertisement->path), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, gatt_log_call_result,
                           const_cast<char*>("Unregistering the advertisement"));
    unexport(advertisement);
}
