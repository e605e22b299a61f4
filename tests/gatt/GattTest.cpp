// The GATT layer against the scripted BlueZ on a private bus: what it sets on the adapter, what it
// advertises, the object tree it registers, and how it serves a central.
#include "gatt/FakeBluez.h"

#include "gatt.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using json = nlohmann::json;

const char* kService = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
const char* kRx = "6e400002-b5a3-f393-e0a9-e50e24dcca9e";
const char* kTx = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";

// What the callbacks saw (they take no user data).
struct Seen {
    std::vector<int> powered;
    std::vector<std::string> centrals; // "address state"
    GattDevice* lastDevice = nullptr;
    std::vector<std::string> writes; // "uuid hex mtu offset device"
    std::vector<std::string> reads;
    std::vector<std::string> notifyStarts, notifyStops, updates;
    const char* writeRefusal = nullptr;
    const char* readRefusal = nullptr;
};
Seen seen;

std::string hex(const GByteArray* bytes)
{
    char* text = g_byte_array_as_hex(bytes);
    std::string result = text;
    g_free(text);
    return result;
}

GByteArray* bytesOf(const std::string& text)
{
    GByteArray* bytes = g_byte_array_new();
    g_byte_array_append(bytes, reinterpret_cast<const guint8*>(text.data()), guint(text.size()));
    return bytes;
}

class GattTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        seen = Seen{};
        context = g_main_context_new();
        g_main_context_push_thread_default(context);
        fake = std::make_unique<FakeBluez>(startBluez());
        fake->setPump([this] {
            while (g_main_context_iteration(context, FALSE)) {}
        });
        GError* error = nullptr;
        connection =
            g_dbus_connection_new_for_address_sync(fake->address().c_str(),
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, &error);
        ASSERT_NE(connection, nullptr) << error->message;
    }

    void TearDown() override
    {
        if (HasFailure()) std::printf("%s\n", fake->logs().c_str());
        binc_application_free(application);
        binc_advertisement_free(advertisement);
        binc_adapter_free(adapter);
        if (connection) {
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        fake.reset();
        while (g_main_context_iteration(context, FALSE)) {}
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    virtual bool startBluez() { return true; }

    // Runs the test thread's loop until `done` holds (at most `timeoutMs`).
    bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            g_main_context_iteration(context, FALSE);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    void makeApplication()
    {
        application = binc_create_application(adapter);
        ASSERT_NE(application, nullptr);
        ASSERT_EQ(binc_application_add_service(application, kService), 0);
        ASSERT_EQ(binc_application_add_characteristic(application, kService, kRx,
                                                      GATT_CHR_PROP_WRITE | GATT_CHR_PROP_WRITE_WITHOUT_RESP),
                  0);
        ASSERT_EQ(
            binc_application_add_characteristic(application, kService, kTx, GATT_CHR_PROP_READ | GATT_CHR_PROP_NOTIFY),
            0);
        binc_application_set_char_write_cb(application, [](const GattApplication*, const char* device, const char*,
                                                           const char* uuid, const GByteArray* value, guint16 mtu,
                                                           guint16 offset) {
            seen.writes.push_back(std::string(uuid) + " " + hex(value) + " " + std::to_string(mtu) + " " +
                                  std::to_string(offset) + " " + device);
            return seen.writeRefusal;
        });
        binc_application_set_char_read_cb(application,
                                          [](const GattApplication*, const char*, const char*, const char* uuid) {
                                              seen.reads.push_back(uuid);
                                              return seen.readRefusal;
                                          });
        binc_application_set_char_start_notify_cb(application,
                                                  [](const GattApplication*, const char* service, const char* uuid) {
                                                      seen.notifyStarts.push_back(std::string(service) + " " + uuid);
                                                  });
        binc_application_set_char_stop_notify_cb(
            application,
            [](const GattApplication*, const char*, const char* uuid) { seen.notifyStops.push_back(uuid); });
        binc_application_set_char_updated_cb(
            application, [](const GattApplication*, const char*, const char* uuid, const GByteArray* value) {
                seen.updates.push_back(std::string(uuid) + " " + hex(value));
            });
        binc_adapter_register_application(adapter, application);
        ASSERT_EQ(fake->waitForEvents("RegisterApplication").size(), 1u);
    }

    GMainContext* context = nullptr;
    std::unique_ptr<FakeBluez> fake;
    GDBusConnection* connection = nullptr;
    GattAdapter* adapter = nullptr;
    GattAdvertisement* advertisement = nullptr;
    GattApplication* application = nullptr;
};

TEST_F(GattTest, AdapterIsFoundAndConfigured)
{
    adapter = binc_adapter_get_default(connection);
    ASSERT_NE(adapter, nullptr);
    EXPECT_STREQ(binc_adapter_get_path(adapter), "/org/bluez/hci0");
    EXPECT_FALSE(binc_adapter_get_powered_state(adapter));

    binc_adapter_set_powered_state_cb(adapter, [](GattAdapter*, gboolean on) { seen.powered.push_back(on); });
    binc_adapter_power_on(adapter);
    binc_adapter_set_alias(adapter, "Kestrun 7");
    binc_adapter_discoverable_on(adapter);
    binc_adapter_pairable_off(adapter);

    json sets = fake->waitForEvents("Set", 4);
    ASSERT_EQ(sets.size(), 4u);
    struct Expected {
        const char* name;
        json value;
    } expected[] = {{"Powered", true}, {"Alias", "Kestrun 7"}, {"Discoverable", true}, {"Pairable", false}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sets[i]["iface"], "org.bluez.Adapter1");
        EXPECT_EQ(sets[i]["name"], expected[i].name);
        EXPECT_EQ(sets[i]["value"], expected[i].value) << expected[i].name;
    }
    // BlueZ reports the power change; the callback and the cached state follow it.
    ASSERT_TRUE(spinUntil([] { return !seen.powered.empty(); }));
    EXPECT_EQ(seen.powered, std::vector<int>{1});
    EXPECT_TRUE(binc_adapter_get_powered_state(adapter));
    fake->command({{"cmd", "powered"}, {"value", false}});
    ASSERT_TRUE(spinUntil([] { return seen.powered.size() == 2; }));
    EXPECT_EQ(seen.powered[1], 0);
}

TEST_F(GattTest, AdvertisementCarriesItsPropertiesAndCanBeRestarted)
{
    adapter = binc_adapter_get_default(connection);
    ASSERT_NE(adapter, nullptr);
    advertisement = binc_advertisement_create();
    binc_advertisement_set_general_discoverable(advertisement, TRUE);
    binc_advertisement_set_interval(advertisement, 100, 200);
    GByteArray* data = g_byte_array_new();
    const guint8 address[] = {0xDC, 0xA6, 0x32, 0x00, 0x00, 0x03};
    g_byte_array_append(data, address, sizeof address);
    binc_advertisement_set_manufacturer_data(advertisement, 0xFFFF, data);
    g_byte_array_unref(data);
    binc_advertisement_set_local_name(advertisement, "Kestrun 7");

    binc_adapter_start_advertising(adapter, advertisement);
    json registered = fake->waitForEvents("RegisterAdvertisement");
    ASSERT_EQ(registered.size(), 1u);
    json props = registered[0]["props"];
    EXPECT_EQ(props["Type"], "peripheral");
    EXPECT_EQ(props["LocalName"], "Kestrun 7");
    EXPECT_EQ(props["Discoverable"], true);
    EXPECT_EQ(props["MinInterval"], 100);
    EXPECT_EQ(props["MaxInterval"], 200);
    EXPECT_EQ(props["ManufacturerData"], (json{{"65535", "dca632000003"}}));

    binc_adapter_stop_advertising(adapter, advertisement);
    json unregistered = fake->waitForEvents("UnregisterAdvertisement");
    ASSERT_EQ(unregistered.size(), 1u);
    EXPECT_EQ(unregistered[0]["path"], registered[0]["path"]);
    EXPECT_FALSE(unregistered[0].contains("error"));

    // Started again after a stop: exported anew and registered without error.
    binc_adapter_start_advertising(adapter, advertisement);
    registered = fake->waitForEvents("RegisterAdvertisement", 2);
    ASSERT_EQ(registered.size(), 2u);
    EXPECT_FALSE(registered[1].contains("error")) << registered[1].dump();
    EXPECT_EQ(registered[1]["props"]["LocalName"], "Kestrun 7");
}

TEST_F(GattTest, ApplicationTreeIsRegistered)
{
    adapter = binc_adapter_get_default(connection);
    ASSERT_NE(adapter, nullptr);
    makeApplication();
    json tree = fake->eventsOf("RegisterApplication")[0]["tree"];

    std::string servicePath;
    json characteristics;
    for (auto& [path, interfaces] : tree.items()) {
        if (interfaces.contains("org.bluez.GattService1")) {
            EXPECT_EQ(interfaces["org.bluez.GattService1"]["UUID"], kService);
            EXPECT_EQ(interfaces["org.bluez.GattService1"]["Primary"], true);
            servicePath = path;
        }
        if (interfaces.contains("org.bluez.GattCharacteristic1")) {
            json& c = interfaces["org.bluez.GattCharacteristic1"];
            characteristics[c["UUID"].get<std::string>()] = c;
        }
    }
    ASSERT_FALSE(servicePath.empty());
    ASSERT_EQ(characteristics.size(), 2u);
    EXPECT_EQ(characteristics[kRx]["Flags"], (json{"write-without-response", "write"}));
    EXPECT_EQ(characteristics[kTx]["Flags"], (json{"read", "notify"}));
    for (auto& c : characteristics) {
        EXPECT_EQ(c["Service"], servicePath);
        EXPECT_EQ(c["Notifying"], false);
    }

    // Malformed or duplicate additions are refused.
    EXPECT_EQ(binc_application_add_service(application, kService), -1);
    EXPECT_EQ(binc_application_add_service(application, "not-a-uuid"), -1);
    EXPECT_EQ(binc_application_add_characteristic(application, kRx, kTx, GATT_CHR_PROP_READ), -1);
    EXPECT_EQ(binc_application_add_characteristic(application, kService, kRx, GATT_CHR_PROP_READ), -1);

    binc_adapter_unregister_application(adapter, application);
    EXPECT_EQ(fake->waitForEvents("UnregisterApplication").size(), 1u);
}

TEST_F(GattTest, CentralWritesReadsAndGetsNotifications)
{
    adapter = binc_adapter_get_default(connection);
    ASSERT_NE(adapter, nullptr);
    makeApplication();

    // Writes: bytes, the reported MTU and the offset reach the callback; a refusal reaches the central.
    struct WriteCase {
        json request;
        const char* refusal;
        std::string seenText;
        json answer;
    } writes[] = {
        {{{"cmd", "write"}, {"uuid", kRx}, {"hex", "6869"}, {"mtu", 185}},
         nullptr,
         std::string(kRx) + " 6869 185 0",
         {{"ok", true}}},
        {{{"cmd", "write"}, {"uuid", kRx}, {"hex", "21"}, {"offset", 2}},
         nullptr,
         std::string(kRx) + " 21 0 2",
         {{"ok", true}}},
        {{{"cmd", "write"}, {"uuid", kRx}, {"hex", "00"}, {"offset", 9}},
         nullptr,
         "",
         {{"error", "org.bluez.Error.InvalidOffset"}}},
        {{{"cmd", "write"}, {"uuid", kRx}, {"hex", "ff"}},
         "org.bluez.Error.NotPermitted",
         std::string(kRx) + " ff 0 0",
         {{"error", "org.bluez.Error.NotPermitted"}}},
    };
    for (auto& c : writes) {
        seen.writes.clear();
        seen.writeRefusal = c.refusal;
        EXPECT_EQ(fake->command(c.request), c.answer) << c.request.dump();
        if (c.seenText.empty()) {
            EXPECT_TRUE(seen.writes.empty());
        } else {
            ASSERT_EQ(seen.writes.size(), 1u) << c.request.dump();
            EXPECT_EQ(seen.writes[0], c.seenText + " /org/bluez/hci0/dev_11_22_33_44_55_66");
        }
    }
    // The accepted writes built "hi!"; the refused ones left it alone.
    EXPECT_EQ(seen.updates, (std::vector<std::string>{std::string(kRx) + " 6869", std::string(kRx) + " 686921"}));
    seen.readRefusal = nullptr;
    EXPECT_EQ(fake->command({{"cmd", "read"}, {"uuid", kRx}}), (json{{"ok", true}, {"hex", "686921"}}));
    seen.readRefusal = "org.bluez.Error.Rejected";
    EXPECT_EQ(fake->command({{"cmd", "read"}, {"uuid", kTx}}), (json{{"error", "org.bluez.Error.Rejected"}}));
    EXPECT_EQ(seen.reads, (std::vector<std::string>{kRx, kTx}));

    // Notifications: nothing goes out until the central subscribes, and nothing after it leaves.
    GByteArray* first = bytesOf("first");
    EXPECT_EQ(binc_application_notify(application, kService, kTx, first), -2);
    EXPECT_EQ(binc_application_notify(application, kService, "6e400009-b5a3-f393-e0a9-e50e24dcca9e", first), -1);
    EXPECT_EQ(fake->command({{"cmd", "start_notify"}, {"uuid", kRx}}),
              (json{{"error", "org.bluez.Error.NotSupported"}}));
    EXPECT_EQ(fake->command({{"cmd", "start_notify"}, {"uuid", kTx}}), (json{{"ok", true}}));
    EXPECT_EQ(seen.notifyStarts, std::vector<std::string>{std::string(kService) + " " + kTx});
    GByteArray* second = bytesOf("second");
    EXPECT_EQ(binc_application_notify(application, kService, kTx, second), 0);
    EXPECT_EQ(binc_application_notify(application, kService, kTx, first), 0);
    json notes = fake->waitForEvents("notify", 2);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0]["hex"], "7365636f6e64");
    EXPECT_EQ(notes[1]["hex"], "6669727374");
    EXPECT_EQ(fake->command({{"cmd", "stop_notify"}, {"uuid", kTx}}), (json{{"ok", true}}));
    EXPECT_EQ(seen.notifyStops, std::vector<std::string>{kTx});
    EXPECT_EQ(binc_application_notify(application, kService, kTx, second), -2);
    g_byte_array_unref(first);
    g_byte_array_unref(second);
    json notifying = fake->waitForEvents("notifying", 2);
    ASSERT_EQ(notifying.size(), 2u);
    EXPECT_EQ(notifying[0]["value"], true);
    EXPECT_EQ(notifying[1]["value"], false);
    EXPECT_EQ(fake->eventsOf("notify").size(), 2u);
}

TEST_F(GattTest, RemoteCentralConnectionIsReported)
{
    adapter = binc_adapter_get_default(connection);
    ASSERT_NE(adapter, nullptr);
    binc_adapter_set_remote_central_cb(adapter, [](GattAdapter*, GattDevice* device) {
        seen.lastDevice = device;
        seen.centrals.push_back(std::string(binc_device_get_address(device)) + " " +
                                binc_device_get_connection_state_name(device));
    });
    makeApplication();

    fake->command({{"cmd", "connect"}, {"address", "11:22:33:44:55:66"}});
    ASSERT_TRUE(spinUntil([] { return seen.centrals.size() == 1; }));
    EXPECT_EQ(seen.centrals[0], "11:22:33:44:55:66 CONNECTED");
    EXPECT_EQ(binc_device_get_connection_state(seen.lastDevice), GATT_CONNECTED);
    EXPECT_EQ(binc_device_get_mtu(seen.lastDevice), 23u);
    char* text = binc_device_to_string(seen.lastDevice);
    EXPECT_NE(std::string(text).find("11:22:33:44:55:66"), std::string::npos) << text;
    g_free(text);

    // The MTU that the central reports with a write is remembered on its device.
    fake->command({{"cmd", "write"}, {"uuid", kRx}, {"hex", "00"}, {"mtu", 247}});
    EXPECT_EQ(binc_device_get_mtu(seen.lastDevice), 247u);

    fake->command({{"cmd", "disconnect"}});
    ASSERT_TRUE(spinUntil([] { return seen.centrals.size() == 2; }));
    EXPECT_EQ(seen.centrals[1], "11:22:33:44:55:66 DISCONNECTED");
    // A second connection of the same device reports the same device again.
    GattDevice* first = seen.lastDevice;
    fake->command({{"cmd", "connect"}, {"address", "11:22:33:44:55:66"}});
    ASSERT_TRUE(spinUntil([] { return seen.centrals.size() == 3; }));
    EXPECT_EQ(seen.lastDevice, first);
    EXPECT_EQ(seen.centrals[2], "11:22:33:44:55:66 CONNECTED");
}

class GattWithoutBluezTest : public GattTest {
protected:
    bool startBluez() override { return false; }
};

TEST_F(GattWithoutBluezTest, NoAdapterWithoutBluez)
{
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(binc_adapter_get_default(connection), nullptr);
    EXPECT_EQ(binc_adapter_get_default(nullptr), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // Every call tolerates the missing objects.
    binc_adapter_power_on(nullptr);
    binc_adapter_start_advertising(nullptr, nullptr);
    EXPECT_EQ(binc_create_application(nullptr), nullptr);
    EXPECT_EQ(binc_application_notify(nullptr, kService, kTx, nullptr), -1);
}

TEST(GattLog, LevelsAndHex)
{
    struct Case {
        GattLogLevel shown;
        GattLogLevel level;
        const char* expected;
    } cases[] = {
        {GATT_LOG_INFO, GATT_LOG_DEBUG, ""},
        {GATT_LOG_INFO, GATT_LOG_INFO, "I (T): n=5\n"},
        {GATT_LOG_INFO, GATT_LOG_ERROR, "ERROR (T): n=5\n"},
        {GATT_LOG_DEBUG, GATT_LOG_DEBUG, "D (T): n=5\n"},
        {GATT_LOG_ERROR, GATT_LOG_WARN, ""},
    };
    for (auto& c : cases) {
        log_set_level(c.shown);
        StdoutCapture capture;
        log_log_at_level(c.level, "T", "n=%d", 5);
        EXPECT_EQ(capture.text(), c.expected) << c.shown << " " << c.level;
    }
    log_set_level(GATT_LOG_INFO);

    GByteArray* bytes = g_byte_array_new();
    const guint8 data[] = {0x00, 0x0f, 0xa5, 0xff};
    g_byte_array_append(bytes, data, sizeof data);
    EXPECT_EQ(hex(bytes), "000fa5ff");
    g_byte_array_set_size(bytes, 0);
    EXPECT_EQ(hex(bytes), "");
    EXPECT_EQ(hex(nullptr), "");
    g_byte_array_unref(bytes);
}

} // namespace
