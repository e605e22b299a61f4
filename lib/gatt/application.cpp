#include "gatt_internal.h"

#include <atomic>
#include <cstring>

struct GattService;

struct GattCharacteristic {
    GattService* service;
    char* uuid;
    char* path;
    guint8 properties;
    GByteArray* value;
    gboolean notifying;
    guint registration;
};

struct GattService {
    GattApplication* application;
    char* uuid;
    char* path;
    GPtrArray* characteristics; // GattCharacteristic*
    guint registration;
};

struct GattApplication {
    GDBusConnection* connection;
    const GattAdapter* adapter;
    char* path;
    GPtrArray* services; // GattService*
    guint registration;
    GattCharReadCallback read_cb;
    GattCharWriteCallback write_cb;
    GattCharNotifyCallback start_notify_cb;
    GattCharNotifyCallback stop_notify_cb;
    GattCharUpdatedCallback updated_cb;
};

namespace {

const char kApplicationXml[] =
    "<node>"
    "  <interface name='" OBJECT_MANAGER_IFACE
    "'>"
    "    <method name='GetManagedObjects'>"
    "      <arg name='objects' type='a{oa{sa{sv}}}' direction='out'/>"
    "    </method>"
    "  </interface>"
    "  <interface name='" GATT_SERVICE_IFACE
    "'>"
    "    <property name='UUID' type='s' access='read'/>"
    "    <property name='Primary' type='b' access='read'/>"
    "  </interface>"
    "  <interface name='" GATT_CHARACTERISTIC_IFACE
    "'>"
    "    <method name='ReadValue'>"
    "      <arg name='options' type='a{sv}' direction='in'/>"
    "      <arg name='value' type='ay' direction='out'/>"
    "    </method>"
    "    <method name='WriteValue'>"
    "      <arg name='value' type='ay' direction='in'/>"
    "      <arg name='options' type='a{sv}' direction='in'/>"
    "    </method>"
    "    <method name='StartNotify'/>"
    "    <method name='StopNotify'/>"
    "    <property name='UUID' type='s' access='read'/>"
    "    <property name='Service' type='o' access='read'/>"
    "    <property name='Flags' type='as' access='read'/>"
    "    <property name='Value' type='ay' access='read'/>"
    "    <property name='Notifying' type='b' access='read'/>"
    "  </interface>"
    "</node>";

GDBusInterfaceInfo* interfaceInfo(int index)
{
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kApplicationXml, nullptr);
    return node->interfaces[index];
}

GDBusInterfaceInfo* objectManagerInfo()
{
    return interfaceInfo(0);
}
GDBusInterfaceInfo* serviceInfo()
{
    return interfaceInfo(1);
}
GDBusInterfaceInfo* characteristicInfo()
{
    return interfaceInfo(2);
}

// BlueZ's flag names, in property-bit order.
const char* const kFlagNames[] = {"broadcast", "read",     "write-without-response",      "write",
                                  "notify",    "indicate", "authenticated-signed-writes", "extended-properties"};

GVariant* bytesVariant(const GByteArray* bytes)
{
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes ? bytes->data : nullptr, bytes ? bytes->len : 0, 1);
}

GVariant* serviceProperty(const GattService* service, const char* name)
{
    if (std::strcmp(name, "UUID") == 0) return g_variant_new_string(service->uuid);
    if (std::strcmp(name, "Primary") == 0) return g_variant_new_boolean(TRUE);
    return nullptr;
}

GVariant* characteristicProperty(const GattCharacteristic* characteristic, const char* name)
{
    if (std::strcmp(name, "UUID") == 0) return g_variant_new_string(characteristic->uuid);
    if (std::strcmp(name, "Service") == 0) return g_variant_new_object_path(characteristic->service->path);
    if (std::strcmp(name, "Value") == 0) return bytesVariant(characteristic->value);
    if (std::strcmp(name, "Notifying") == 0) return g_variant_new_boolean(characteristic->notifying);
    if (std::strcmp(name, "Flags") == 0) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE_STRING_ARRAY);
        for (int bit = 0; bit < 8; ++bit)
            if (characteristic->properties & (1u << bit)) g_variant_builder_add(&builder, "s", kFlagNames[bit]);
        return g_variant_builder_end(&builder);
    }
    return nullptr;
}

// {interface: {property: value}} of one object, for GetManagedObjects.
GVariant* interfacesOf(GDBusInterfaceInfo* info, const void* object, GVariant* (*property)(const void*, const char*))
{
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
    for (GDBusPropertyInfo** p = info->properties; p && *p; ++p)
        if (GVariant* value = property(object, (*p)->name))
            g_variant_builder_add(&properties, "{sv}", (*p)->name, value);
    GVariantBuilder interfaces;
    g_variant_builder_init(&interfaces, G_VARIANT_TYPE("a{sa{sv}}"));
    g_variant_builder_add(&interfaces, "{sa{sv}}", info->name, &properties);
    return g_variant_builder_end(&interfaces);
}

GVariant* managedObjects(const GattApplication* application)
{
    GVariantBuilder objects;
    g_variant_builder_init(&objects, G_VARIANT_TYPE("a{oa{sa{sv}}}"));
    for (guint s = 0; s < application->services->len; ++s) {
        auto* service = static_cast<const GattService*>(g_ptr_array_index(application->services, s));
        g_variant_builder_add(&objects, "{o@a{sa{sv}}}", service->path,
                              interfacesOf(serviceInfo(), service, [](const void* object, const char* name) {
                                  return serviceProperty(static_cast<const GattService*>(object), name);
                              }));
        for (guint c = 0; c < service->characteristics->len; ++c) {
            auto* characteristic =
                static_cast<const GattCharacteristic*>(g_ptr_array_index(service->characteristics, c));
            g_variant_builder_add(
                &objects, "{o@a{sa{sv}}}", characteristic->path,
                interfacesOf(characteristicInfo(), characteristic, [](const void* object, const char* name) {
                    return characteristicProperty(static_cast<const GattCharacteristic*>(object), name);
                }));
        }
    }
    return g_variant_new("(@a{oa{sa{sv}}})", g_variant_builder_end(&objects));
}

void emitPropertyChanged(const GattCharacteristic* characteristic, const char* name, GVariant* value)
{
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&changed, "{sv}", name, value);
    GError* error = nullptr;
    const GattApplication* application = characteristic->service->application;
    if (!g_dbus_connection_emit_signal(
            application->connection, nullptr, characteristic->path, PROPERTIES_IFACE, "PropertiesChanged",
            g_variant_new("(sa{sv}as)", GATT_CHARACTERISTIC_IFACE, &changed, nullptr), &error)) {
        log_log_at_level(GATT_LOG_ERROR, "Application", "PropertiesChanged of %s failed: %s", characteristic->path,
                         error->message);
        g_error_free(error);
    }
}

// The central's MTU, remembered on the device so that binc_device_get_mtu can tell it.
void noteDeviceMtu(const GattApplication* application, const char* device, guint16 mtu)
{
    if (!mtu || !*device || !application->adapter) return;
    GattDevice* known = static_cast<GattDevice*>(g_hash_table_lookup(application->adapter->devices, device));
    if (known) known->mtu = mtu;
}

void readOptions(GVariant* options, const char** device, guint16* mtu, guint16* offset)
{
    *device = "";
    *mtu = 0;
    *offset = 0;
    g_variant_lookup(options, "device", "&o", device);
    g_variant_lookup(options, "mtu", "q", mtu);
    g_variant_lookup(options, "offset", "q", offset);
}

void replyValue(GDBusMethodInvocation* invocation, const GByteArray* value, guint16 offset)
{
    guint length = value ? value->len : 0;
    if (offset > length) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.InvalidOffset", "Invalid offset");
        return;
    }
    GVariant* bytes =
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, value ? value->data + offset : nullptr, length - offset, 1);
    g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&bytes, 1));
}

void setValue(GattCharacteristic* characteristic, const guint8* data, guint length, guint offset)
{
    g_byte_array_set_size(characteristic->value, offset);
    g_byte_array_append(characteristic->value, data, length);
    const GattApplication* application = characteristic->service->application;
    if (application->updated_cb)
        application->updated_cb(application, characteristic->service->uuid, characteristic->uuid,
                                characteristic->value);
}

void onCharacteristicCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data)
{
    GattCharacteristic* characteristic = static_cast<GattCharacteristic*>(data);
    GattApplication* application = characteristic->service->application;
    const char* serviceUuid = characteristic->service->uuid;
    if (std::strcmp(method, "ReadValue") == 0) {
        GVariant* options = g_variant_get_child_value(parameters, 0);
        const char* device;
        guint16 mtu, offset;
        readOptions(options, &device, &mtu, &offset);
        const char* refusal = application->read_cb
                                  ? application->read_cb(application, device, serviceUuid, characteristic->uuid)
                                  : nullptr;
        if (refusal) g_dbus_method_invocation_return_dbus_error(invocation, refusal, "Read refused");
        else replyValue(invocation, characteristic->value, offset);
        g_variant_unref(options);
    } else if (std::strcmp(method, "WriteValue") == 0) {
        GVariant* bytes = g_variant_get_child_value(parameters, 0);
        GVariant* options = g_variant_get_child_value(parameters, 1);
        gsize length = 0;
        auto* data = static_cast<const guint8*>(g_variant_get_fixed_array(bytes, &length, 1));
        const char* device;
        guint16 mtu, offset;
        readOptions(options, &device, &mtu, &offset);
        noteDeviceMtu(application, device, mtu);
        GByteArray* value = g_byte_array_sized_new(guint(length));
        g_byte_array_append(value, data, guint(length));
        const char* refusal = nullptr;
        if (offset > characteristic->value->len) refusal = "org.bluez.Error.InvalidOffset";
        else if (application->write_cb)
            refusal = application->write_cb(application, device, serviceUuid, characteristic->uuid, value, mtu, offset);
        if (refusal) {
            g_dbus_method_invocation_return_dbus_error(invocation, refusal, "Write refused");
        } else {
            setValue(characteristic, value->data, value->len, offset);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
        g_byte_array_unref(value);
        g_variant_unref(options);
        g_variant_unref(bytes);
    } else if (std::strcmp(method, "StartNotify") == 0 || std::strcmp(method, "StopNotify") == 0) {
        gboolean start = std::strcmp(method, "StartNotify") == 0;
        if (!(characteristic->properties & (GATT_CHR_PROP_NOTIFY | GATT_CHR_PROP_INDICATE))) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotSupported",
                                                       "Notifications not supported");
            return;
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (characteristic->notifying == start) return;
        characteristic->notifying = start;
        emitPropertyChanged(characteristic, "Notifying", g_variant_new_boolean(start));
        GattCharNotifyCallback callback = start ? application->start_notify_cb : application->stop_notify_cb;
        if (callback) callback(application, serviceUuid, characteristic->uuid);
    } else {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotSupported", "Unknown method");
    }
}

GVariant* onCharacteristicProperty(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**,
                                   gpointer data)
{
    return characteristicProperty(static_cast<GattCharacteristic*>(data), name);
}

GVariant* onServiceProperty(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**,
                            gpointer data)
{
    return serviceProperty(static_cast<GattService*>(data), name);
}

void onObjectManagerCall(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
                         GDBusMethodInvocation* invocation, gpointer data)
{
    g_dbus_method_invocation_return_value(invocation, managedObjects(static_cast<GattApplication*>(data)));
}

const GDBusInterfaceVTable kObjectManagerVtable = {onObjectManagerCall, nullptr, nullptr, {}};
const GDBusInterfaceVTable kServiceVtable = {nullptr, onServiceProperty, nullptr, {}};
const GDBusInterfaceVTable kCharacteristicVtable = {onCharacteristicCall, onCharacteristicProperty, nullptr, {}};

guint exportObject(GDBusConnection* connection, const char* path, GDBusInterfaceInfo* info,
                   const GDBusInterfaceVTable* vtable, gpointer data)
{
    GError* error = nullptr;
    guint id = g_dbus_connection_register_object(connection, path, info, vtable, data, nullptr, &error);
    if (!id) {
        log_log_at_level(GATT_LOG_ERROR, "Application", "cannot export %s: %s", path, error->message);
        g_error_free(error);
    }
    return id;
}

// Full 128-bit form: 8-4-4-4-12 hexadecimal digits.
bool validUuid(const char* uuid)
{
    return uuid && g_uuid_string_is_valid(uuid);
}

GattService* findService(const GattApplication* application, const char* uuid)
{
    for (guint s = 0; s < application->services->len; ++s) {
        auto* service = static_cast<GattService*>(g_ptr_array_index(application->services, s));
        if (g_ascii_strcasecmp(service->uuid, uuid) == 0) return service;
    }
    return nullptr;
}

GattCharacteristic* findCharacteristic(const GattApplication* application, const char* serviceUuid,
                                       const char* charUuid)
{
    GattService* service = serviceUuid && charUuid ? findService(application, serviceUuid) : nullptr;
    if (!service) return nullptr;
    for (guint c = 0; c < service->characteristics->len; ++c) {
        auto* characteristic = static_cast<GattCharacteristic*>(g_ptr_array_index(service->characteristics, c));
        if (g_ascii_strcasecmp(characteristic->uuid, charUuid) == 0) return characteristic;
    }
    return nullptr;
}

void freeCharacteristic(gpointer data)
{
    auto* characteristic = static_cast<GattCharacteristic*>(data);
    GDBusConnection* connection = characteristic->service->application->connection;
    if (characteristic->registration) g_dbus_connection_unregister_object(connection, characteristic->registration);
    g_byte_array_unref(characteristic->value);
    g_free(characteristic->uuid);
    g_free(characteristic->path);
    g_free(characteristic);
}

void freeService(gpointer data)
{
    auto* service = static_cast<GattService*>(data);
    g_ptr_array_unref(service->characteristics);
    if (service->registration)
        g_dbus_connection_unregister_object(service->application->connection, service->registration);
    g_free(service->uuid);
    g_free(service->path);
    g_free(service);
}

} // namespace

GattApplication* binc_create_application(const GattAdapter* adapter)
{
    if (!adapter) return nullptr;
    static std::atomic<unsigned> count{0};
    GattApplication* application = g_new0(GattApplication, 1);
    application->connection = G_DBUS_CONNECTION(g_object_ref(adapter->connection));
    application->adapter = adapter;
    application->path = g_strdup_printf("/gatt/application%u", count++);
    application->services = g_ptr_array_new_with_free_func(freeService);
    application->registration = exportObject(application->connection, application->path, objectManagerInfo(),
                                             &kObjectManagerVtable, application);
    return application;
}

int binc_application_add_service(GattApplication* application, const char* service_uuid)
{
    if (!application || !validUuid(service_uuid) || findService(application, service_uuid)) return -1;
    GattService* service = g_new0(GattService, 1);
    service->application = application;
    service->uuid = g_ascii_strdown(service_uuid, -1);
    service->path = g_strdup_printf("%s/service%u", application->path, application->services->len);
    service->characteristics = g_ptr_array_new_with_free_func(freeCharacteristic);
    service->registration =
        exportObject(application->connection, service->path, serviceInfo(), &kServiceVtable, service);
    g_ptr_array_add(application->services, service);
    return 0;
}

int binc_application_add_characteristic(GattApplication* application, const char* service_uuid, const char* char_uuid,
                                        guint8 permissions)
{
    if (!application || !validUuid(char_uuid)) return -1;
    GattService* service = service_uuid ? findService(application, service_uuid) : nullptr;
    if (!service || findCharacteristic(application, service_uuid, char_uuid)) return -1;
    GattCharacteristic* characteristic = g_new0(GattCharacteristic, 1);
    characteristic->service = service;
    characteristic->uuid = g_ascii_strdown(char_uuid, -1);
    characteristic->path = g_strdup_printf("%s/char%u", service->path, service->characteristics->len);
    characteristic->properties = permissions;
    characteristic->value = g_byte_array_new();
    characteristic->registration = exportObject(application->connection, characteristic->path, characteristicInfo(),
                                                &kCharacteristicVtable, characteristic);
    g_ptr_array_add(service->characteristics, characteristic);
    return 0;
}

void binc_application_set_char_read_cb(GattApplication* application, GattCharReadCallback callback)
{
    if (application) application->read_cb = callback;
}

void binc_application_set_char_write_cb(GattApplication* application, GattCharWriteCallback callback)
{
    if (application) application->write_cb = callback;
}

void binc_application_set_char_start_notify_cb(GattApplication* application, GattCharNotifyCallback callback)
{
    if (application) application->start_notify_cb = callback;
}

void binc_application_set_char_stop_notify_cb(GattApplication* application, GattCharNotifyCallback callback)
{
    if (application) application->stop_notify_cb = callback;
}

void binc_application_set_char_updated_cb(GattApplication* application, GattCharUpdatedCallback callback)
{
    if (application) application->updated_cb = callback;
}

int binc_application_notify(GattApplication* application, const char* service_uuid, const char* char_uuid,
                            const GByteArray* value)
{
    if (!application) return -1;
    GattCharacteristic* characteristic = findCharacteristic(application, service_uuid, char_uuid);
    if (!characteristic) return -1;
    setValue(characteristic, value ? value->data : nullptr, value ? value->len : 0, 0);
    if (!characteristic->notifying) return -2;
    emitPropertyChanged(characteristic, "Value", bytesVariant(characteristic->value));
    return 0;
}

void binc_adapter_register_application(GattAdapter* adapter, GattApplication* application)
{
    if (!adapter || !application) return;
    g_dbus_connection_call(adapter->connection, BLUEZ_NAME, adapter->path, GATT_MANAGER_IFACE, "RegisterApplication",
                           g_variant_new("(oa{sv})", application->path, nullptr), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, gatt_log_call_result, const_cast<char*>("Registering the GATT application"));
}

void binc_adapter_unregister_application(GattAdapter* adapter, GattApplication* application)
{
    if (!adapter || !application) return;
    g_dbus_connection_call(adapter->connection, BLUEZ_NAME, adapter->path, GATT_MANAGER_IFACE, "UnregisterApplication",
                           g_variant_new("(o)", application->path), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           gatt_log_call_result, const_cast<char*>("Unregistering the GATT application"));
}

void binc_application_free(GattApplication* application)
{
    if (!application) return;
    // Withdrawn from the context that exported them, so no method of ours runs on freed data.
    g_ptr_array_unref(application->services);
    if (application->registration)
        g_dbus_connection_unregister_object(application->connection, application->registration);
    g_object_unref(application->connection);
    g_free(application->path);
    g_free(application);
}
