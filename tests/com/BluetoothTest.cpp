// The Bluetooth LE transport against the scripted BlueZ on a private bus: what it registers, how a
// central's writes become requests and the replies notifications, advertising around connections,
// and the teardown on SIGINT.
#include "com/Bluetooth.h"
#include "gatt/FakeBluez.h"
#include "params/NodeItem.h"
#include "platform/model/ShellScript.h"
#include "porting/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

std::string toHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string fromHex(const std::string& text)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes += char(std::stoi(text.substr(i, 2), nullptr, 16));
    return bytes;
}

// Sends one descriptor (standard output or error) to a file that can be read while it grows.
class Redirect {
public:
    Redirect(int fd, const std::string& path) : fd_(fd), path_(path)
    {
        std::fflush(nullptr);
        int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        saved_ = ::dup(fd);
        ::dup2(file, fd);
        ::close(file);
    }
    ~Redirect()
    {
        std::fflush(nullptr);
        ::dup2(saved_, fd_);
        ::close(saved_);
    }
    std::string text()
    {
        std::fflush(nullptr);
        return read_file(path_);
    }

private:
    int fd_;
    int saved_;
    std::string path_;
};

template <typename Done>
bool eventually(Done done, std::chrono::milliseconds timeout = 3000ms)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A "write" request of exactly `length` characters and the reply it gets (its argument echoed: the
// path names no node, so no length limit of a node changes the echo).
struct Exchange {
    std::string request;
    std::string reply;
};
Exchange writeOfLength(size_t length, char fill = 'a')
{
    const std::string head = "write root\\sys\\sink:{\"value\":\"", tail = "\"}";
    std::string argument = head.substr(6) + std::string(length - head.size() - tail.size(), fill) + tail;
    return {"write " + argument, argument + "\r\n"};
}

class BluetoothTest : public ::testing::Test {
protected:
    virtual bool withBluez() { return true; }
    virtual bool withBus() { return true; }

    void SetUp() override
    {
        setenv("KESTRUN_BT_ADDR", "DC:A6:32:00:00:01", 1);
        fake = std::make_unique<FakeBluez>(withBluez());
        if (withBus()) setenv("KESTRUN_DBUS_ADDRESS", fake->address().c_str(), 1);
        else unsetenv("KESTRUN_DBUS_ADDRESS");
        out = std::make_unique<Redirect>(STDOUT_FILENO, test_root() + "/stdout.log");

        // Nodes and the transport live until the process ends, as in the program.
        root = new NodeItem(nullptr, "root", "", "", "system");
        Node* sys = new NodeItem(root, "sys", "System", "", "system");
        name = new NodeItem(sys, "_name", "Name", "Kestrun Pedal \xc3\xb6\xc3\xb6\xc3\xb6\xc3\xb6\xc3\xb6", "system");
        bluetooth = new Bluetooth(root, name);
        bluetooth->initialize();
        ASSERT_TRUE(eventually([] { return ble_started.load(); }));
        comTasks = std::thread([this] {
            while (!stopping) {
                bluetooth->tasks();
                std::this_thread::sleep_for(20ms);
            }
        });
        if (withBluez() && withBus()) {
            ASSERT_EQ(fake->waitForEvents("RegisterApplication").size(), 1u) << fake->logs();
            ASSERT_EQ(fake->waitForEvents("RegisterAdvertisement").size(), 1u) << fake->logs();
        }
    }

    void TearDown() override
    {
        stopping = true;
        if (comTasks.joinable()) comTasks.join();
        teardown();
        std::string output = out->text();
        out.reset();
        if (HasFailure()) std::printf("%s\n%s\n", output.c_str(), fake->logs().c_str());
        fake.reset();
    }

    // The GATT side's own teardown, so that its thread is done before the process ends.
    void teardown()
    {
        if (!ble_started) return;
        ::kill(::getpid(), SIGINT);
        EXPECT_TRUE(eventually([] { return !ble_started.load(); }));
        // The thread then waits briefly for BlueZ's answers and closes the bus.
        std::this_thread::sleep_for(400ms);
    }

    json write(const std::string& bytes, json extra = json::object())
    {
        json request = {{"cmd", "write"}, {"uuid", BLE_RX_UUID}, {"hex", toHex(bytes)}};
        request.update(extra);
        return fake->command(request);
    }

    // Notification payloads from event index `from` on, until `replies` of them ended with a NUL.
    std::vector<std::string> notifications(size_t from, size_t replies = 1)
    {
        std::vector<std::string> chunks;
        fake->waitFor([&](const json& events) {
            chunks.clear();
            size_t ended = 0, seen = 0;
            for (auto& event : events) {
                if (event["event"] != "notify" || seen++ < from) continue;
                chunks.push_back(fromHex(event["hex"]));
                if (!chunks.back().empty() && chunks.back().back() == '\0') ++ended;
            }
            return ended >= replies;
        });
        return chunks;
    }

    size_t notificationCount() { return fake->eventsOf("notify").size(); }

    std::unique_ptr<FakeBluez> fake;
    std::unique_ptr<Redirect> out;
    // Static, so that they stay reachable until the process ends, as in the program.
    static inline Node* root = nullptr;
    static inline Node* name = nullptr;
    static inline Bluetooth* bluetooth = nullptr;
    std::thread comTasks;
    std::atomic<bool> stopping{false};
};

TEST_F(BluetoothTest, RegistersAdapterAdvertisementAndService)
{
    // The name is cut to 19 bytes at a character boundary.
    const std::string shortName = "Kestrun Pedal \xc3\xb6\xc3\xb6";
    json sets = fake->waitForEvents("Set", 4);
    ASSERT_EQ(sets.size(), 4u);
    json expected = json::array({{{"name", "Powered"}, {"value", true}},
                                 {{"name", "Alias"}, {"value", shortName}},
                                 {{"name", "Discoverable"}, {"value", true}},
                                 {{"name", "Pairable"}, {"value", false}}});
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sets[i]["name"], expected[i]["name"]);
        EXPECT_EQ(sets[i]["value"], expected[i]["value"]);
    }

    json props = fake->eventsOf("RegisterAdvertisement")[0]["props"];
    EXPECT_EQ(props["Type"], "peripheral");
    EXPECT_EQ(props["LocalName"], shortName);
    EXPECT_EQ(props["Discoverable"], true);
    EXPECT_EQ(props["MinInterval"], 100);
    EXPECT_EQ(props["MaxInterval"], 200);
    // The adapter address with 2 added to its last byte.
    EXPECT_EQ(props["ManufacturerData"], (json{{"65535", "dca632000003"}}));

    json tree = fake->eventsOf("RegisterApplication")[0]["tree"];
    std::map<std::string, json> flags;
    std::string service;
    for (auto& [path, interfaces] : tree.items()) {
        if (interfaces.contains("org.bluez.GattService1")) service = interfaces["org.bluez.GattService1"]["UUID"];
        if (interfaces.contains("org.bluez.GattCharacteristic1"))
            flags[interfaces["org.bluez.GattCharacteristic1"]["UUID"]] =
                interfaces["org.bluez.GattCharacteristic1"]["Flags"];
    }
    EXPECT_EQ(service, BLE_SERVICE_UUID);
    ASSERT_EQ(flags.size(), 2u);
    EXPECT_EQ(flags[BLE_RX_UUID], (json{"write-without-response", "write"}));
    EXPECT_EQ(flags[BLE_TX_UUID], (json{"read", "notify"}));
    EXPECT_NE(out->text().find("I (BLE): " + shortName + "\n"), std::string::npos);
}

TEST_F(BluetoothTest, RequestsInPiecesAreAnsweredInChunks)
{
    EXPECT_EQ(fake->command({{"cmd", "start_notify"}, {"uuid", BLE_TX_UUID}}), (json{{"ok", true}}));
    // The connection parameters follow the subscription.
    EXPECT_TRUE(eventually([] {
        return ShellScript::log().find(
                   "sudo hcitool lecup --handle=64 --min=12 --max=12 --latency=0 --timeout=500\n") != std::string::npos;
    })) << ShellScript::log();

    struct Case {
        int mtu; // reported with the writes (0: none)
        size_t replyBytes; // reply text and its NUL
        size_t chunk; // expected notification size
    } cases[] = {
        {0, 300, 120}, // no MTU reported: at least 128 less 8
        {23, 300, 20}, // what BlueZ can deliver at the LE minimum
        {100, 300, 97}, // below 128: BlueZ's limit, not 120
        {185, 400, 177}, // MTU less 8
        {517, 509, 509}, // one notification exactly
        {517, 510, 509}, // one byte more: two
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mtu " + std::to_string(c.mtu) + ", reply " + std::to_string(c.replyBytes));
        // The reply echoes the argument and adds CR LF: as long as the request's text less 4.
        Exchange exchange = writeOfLength(c.replyBytes - 1 + 4);
        ASSERT_EQ(exchange.reply.size() + 1, c.replyBytes);
        std::string bytes = exchange.request + '\0';
        json mtu = c.mtu ? json{{"mtu", c.mtu}} : json::object();
        size_t before = notificationCount();
        size_t third = bytes.size() / 3;
        for (std::string piece : {bytes.substr(0, third), bytes.substr(third, third), bytes.substr(2 * third)})
            ASSERT_EQ(write(piece, mtu), (json{{"ok", true}}));
        std::vector<std::string> chunks = notifications(before);
        std::string received;
        for (size_t i = 0; i < chunks.size(); ++i) {
            if (i + 1 < chunks.size()) EXPECT_EQ(chunks[i].size(), c.chunk) << "chunk " << i;
            else EXPECT_LE(chunks[i].size(), c.chunk);
            received += chunks[i];
        }
        EXPECT_EQ(chunks.size(), (c.replyBytes + c.chunk - 1) / c.chunk);
        EXPECT_EQ(received, exchange.reply + '\0');
        EXPECT_EQ(ble_mtu.load(), uint32_t(std::max(c.mtu, 128)));
    }
}

TEST_F(BluetoothTest, SeveralRequestsInOneWriteAndOverlongRequests)
{
    ASSERT_EQ(fake->command({{"cmd", "start_notify"}, {"uuid", BLE_TX_UUID}}), (json{{"ok", true}}));
    // Two requests in one write: two replies, in order (one per pass).
    Exchange a = writeOfLength(40, 'a'), b = writeOfLength(50, 'b');
    ASSERT_EQ(write(a.request + '\0' + b.request + '\0', {{"mtu", 517}}), (json{{"ok", true}}));
    std::vector<std::string> chunks = notifications(0, 2);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], a.reply + '\0');
    EXPECT_EQ(chunks[1], b.reply + '\0');

    // 9999 characters fit the buffer with their NUL; 10000 do not, and that request is dropped up
    // to its NUL while the next one is still served.
    Exchange longest = writeOfLength(9999, 'c'), tooLong = writeOfLength(10000, 'd'), after = writeOfLength(60, 'e');
    std::string stream = longest.request + '\0' + tooLong.request + '\0' + after.request + '\0';
    size_t before = notificationCount();
    for (size_t at = 0; at < stream.size(); at += 500)
        ASSERT_EQ(write(stream.substr(at, 500), {{"mtu", 517}}), (json{{"ok", true}}));
    chunks = notifications(before, 2);
    std::string received;
    for (auto& chunk : chunks) received += chunk;
    EXPECT_EQ(received, longest.reply + '\0' + after.reply + '\0');
    EXPECT_NE(out->text().find("W (BLE): Request longer than 9999 bytes dropped\n"), std::string::npos);
}

TEST_F(BluetoothTest, RequestsBeyondTheQueueGetEmptyReplies)
{
    ASSERT_EQ(fake->command({{"cmd", "start_notify"}, {"uuid", BLE_TX_UUID}}), (json{{"ok", true}}));
    // 40 requests in one write: at most 32 wait, and each one beyond gets an empty reply in its turn.
    std::string stream;
    std::vector<std::string> echoes;
    for (int i = 0; i < 40; ++i) {
        Exchange e = writeOfLength(40 + i);
        stream += e.request + '\0';
        echoes.push_back(e.reply);
    }
    ASSERT_EQ(write(stream, {{"mtu", 517}}), (json{{"ok", true}}));
    std::string received;
    fake->waitFor([&](const json& events) {
        received.clear();
        for (auto& event : events)
            if (event["event"] == "notify") received += fromHex(event["hex"]);
        return std::count(received.begin(), received.end(), '\0') >= 40;
    });
    std::vector<std::string> replies;
    for (size_t at = 0, end; (end = received.find('\0', at)) != std::string::npos; at = end + 1)
        replies.push_back(received.substr(at, end - at));
    ASSERT_EQ(replies.size(), 40u) << out->text();
    size_t served = 0;
    while (served < replies.size() && !replies[served].empty()) {
        EXPECT_EQ(replies[served], echoes[served]);
        ++served;
    }
    EXPECT_GE(served, 32u);
    for (size_t i = served; i < replies.size(); ++i) EXPECT_EQ(replies[i], "") << i;
    EXPECT_NE(out->text().find("W (BLE): Requests arrive faster than they are answered: dropped\n"), std::string::npos);
}

TEST_F(BluetoothTest, ReadsAreRejectedAndOtherCharacteristicsIgnored)
{
    ASSERT_EQ(fake->command({{"cmd", "start_notify"}, {"uuid", BLE_TX_UUID}}), (json{{"ok", true}}));
    EXPECT_EQ(fake->command({{"cmd", "read"}, {"uuid", BLE_TX_UUID}}), (json{{"error", "org.bluez.Error.Rejected"}}));
    // A request written to TX is no request.
    Exchange ignored = writeOfLength(50, 'x'), served = writeOfLength(50, 'y');
    ASSERT_EQ(fake->command({{"cmd", "write"}, {"uuid", BLE_TX_UUID}, {"hex", toHex(ignored.request + '\0')}}),
              (json{{"ok", true}}));
    ASSERT_EQ(write(served.request + '\0'), (json{{"ok", true}}));
    std::vector<std::string> chunks = notifications(0);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], served.reply + '\0');
    EXPECT_EQ(notificationCount(), 1u);
}

TEST_F(BluetoothTest, AdvertisingStopsWhileConnected)
{
    auto count = [this](const char* kind) { return fake->eventsOf(kind).size(); };
    ASSERT_TRUE(ble_advertisment);

    fake->command({{"cmd", "connect"}});
    ASSERT_EQ(fake->waitForEvents("UnregisterAdvertisement", 1).size(), 1u);
    ASSERT_TRUE(eventually([] { return !ble_advertisment.load(); }));

    fake->command({{"cmd", "disconnect"}});
    ASSERT_EQ(fake->waitForEvents("RegisterAdvertisement", 2).size(), 2u);
    EXPECT_TRUE(ble_advertisment);

    // Connected again: the supervisor re-arms advertising once 5 s pass without writes (the clock is
    // moved rather than waited for).
    fake->command({{"cmd", "connect"}});
    ASSERT_EQ(fake->waitForEvents("UnregisterAdvertisement", 2).size(), 2u);
    ASSERT_TRUE(eventually([] { return !ble_advertisment.load(); }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(count("RegisterAdvertisement"), 2u);
    supervisor_time = monotonic_time_us() - 5100000;
    json registered = fake->waitForEvents("RegisterAdvertisement", 3);
    ASSERT_EQ(registered.size(), 3u);
    for (auto& event : registered) EXPECT_FALSE(event.contains("error")) << event.dump();
    EXPECT_TRUE(eventually(
        [this] { return out->text().find("W (Ble Supervisor): Started advertising\n") != std::string::npos; }));
    // While advertising, the supervisor only moves its clock.
    supervisor_time = monotonic_time_us() - 5100000;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(count("RegisterAdvertisement"), 3u);
}

TEST_F(BluetoothTest, SigintTearsTheGattSideDown)
{
    ::kill(::getpid(), SIGINT);
    ASSERT_TRUE(eventually([] { return !ble_started.load(); }));
    EXPECT_EQ(fake->waitForEvents("UnregisterApplication").size(), 1u);
    json unregistered = fake->waitForEvents("UnregisterAdvertisement");
    ASSERT_EQ(unregistered.size(), 1u);
    EXPECT_FALSE(unregistered[0].contains("error"));
    EXPECT_FALSE(ble_advertisment);
    std::this_thread::sleep_for(400ms);
    std::string text = out->text();
    EXPECT_NE(text.find("ERROR (BLE): received SIGINT\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ERROR (BLE): Terminated\n"), std::string::npos) << text;
    // The process goes on; replies find no application, and the transport stays stopped.
    ble_set_tx("late reply");
    ble_supervisor();
    EXPECT_EQ(ble_start("again"), 0);
    EXPECT_NE(out->text().find("ERROR (BLE): Already initialized\n"), std::string::npos);
}

class BluetoothWithoutAdapterTest : public BluetoothTest {
protected:
    bool withBluez() override { return false; }
};

class BluetoothWithoutBusTest : public BluetoothTest {
protected:
    bool withBus() override { return false; }
};

// Without BlueZ, or without any bus, the loop still runs, replies are dropped and the supervisor
// complains every 5 s.
void expectRunsWithoutAdapter(Redirect& out)
{
    EXPECT_TRUE(ble_started);
    ble_set_tx("dropped");
    supervisor_time = monotonic_time_us() - 5100000;
    EXPECT_TRUE(eventually([&] {
        return out.text().find("ERROR (Ble Supervisor): Error in adapter or advertisment\n") != std::string::npos;
    }));
}

TEST_F(BluetoothWithoutAdapterTest, RunsWithoutBluez)
{
    expectRunsWithoutAdapter(*out);
}

TEST_F(BluetoothWithoutBusTest, RunsWithoutBus)
{
    expectRunsWithoutAdapter(*out);
    EXPECT_NE(out->text().find("W (BLE): No D-Bus bus: KESTRUN_DBUS_ADDRESS is not set\n"), std::string::npos);
}

TEST(BluetoothStart, RefusedWithoutNameAndConnParamsReportFailure)
{
    {
        StdoutCapture capture;
        EXPECT_EQ(ble_start(nullptr), 0);
        EXPECT_EQ(capture.text(), "ERROR (BLE): Already initialized\n");
    }
    EXPECT_FALSE(ble_initialized);
    EXPECT_FALSE(ble_started);

    struct Case {
        int exitCode;
        const char* error;
    } cases[] = {{0, ""}, {1, "hcitool lecup failed with code 1\n"}};
    for (const Case& c : cases) {
        ShellScript::reset();
        ShellScript::add("sudo hcitool lecup", c.exitCode, "");
        std::string errors;
        {
            Redirect err(STDERR_FILENO, test_root() + "/stderr.log");
            set_ble_conn_params(65, 24, 40, 1, 400);
            errors = err.text();
        }
        EXPECT_EQ(errors, c.error);
        EXPECT_EQ(ShellScript::log(), "sudo hcitool lecup --handle=65 --min=24 --max=40 --latency=1 --timeout=400\n");
    }
}

} // namespace
