#include "com/Wifi.h"
#include "TestTree.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int freePort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// A Wifi transport on a free loopback port, its server polled by a thread of its own as "comTasks"
// would, until the test ends.
struct Server {
    TestTree tree;
    int port = freePort();
    Wifi* wifi = nullptr;
    std::atomic<bool> stop{false};
    std::thread pump;

    Server()
    {
        setenv("KESTRUN_TCP_PORT", std::to_string(port).c_str(), 1);
        wifi = new Wifi(tree.root, tree.name, 8080);
        wifi->initialize();
        pump = std::thread([this] {
            while (!stop) {
                wifi->tasks();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~Server()
    {
        stop = true;
        pump.join();
    }

    int connectClient()
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto end = Clock::now() + std::chrono::seconds(2);
        while (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && Clock::now() < end) {
            close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            fd = socket(AF_INET, SOCK_STREAM, 0);
        }
        return fd;
    }
};

void sendText(int fd, const std::string& text)
{
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// One reply (up to and including its NUL), or what came before `ms` milliseconds ran out.
std::string receiveReply(int fd, int ms = 2000)
{
    std::string got;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (got.empty() || got.back() != '\0') {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        char chunk[65536];
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

std::string ask(int fd, const std::string& request)
{
    sendText(fd, withNul(request));
    return receiveReply(fd);
}

const std::string kNameFragment = "root\\sys\\_name:{\"value\":\"Quelm Device\"}";

} // namespace

TEST(WifiServer, SlotsKeepRequestsApart)
{
    Server server;
    int a = server.connectClient(), b = server.connectClient();
    // Interleaved partial requests from two clients.
    sendText(a, "read root\\sys\\_na");
    sendText(b, "read root\\sys\\ali");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    sendText(b, withNul("as"));
    sendText(a, withNul("me"));
    EXPECT_EQ(receiveReply(a), withNul(kNameFragment));
    EXPECT_EQ(receiveReply(b), withNul("root\\sys\\alias:{\"value\":\"\"}"));

    // One client's read does not swallow the change for the other.
    ask(a, "read root");
    ask(b, "read root");
    EXPECT_EQ(ask(a, "write root\\sys\\alias:{\"value\":\"z\"}"), withNul("root\\sys\\alias:{\"value\":\"z\"}\r\n"));
    EXPECT_EQ(ask(b, "read root"), withNul("root\\sys\\alias:{\"value\":\"z\"}"));
    EXPECT_EQ(ask(a, "read root"), withNul("root\\sys\\alias:{\"value\":\"z\"}"));

    // Two requests in one segment: one reply, to the first.
    sendText(a, withNul("read root\\sys\\_name") + withNul("browse root"));
    EXPECT_EQ(receiveReply(a), withNul(kNameFragment));
    EXPECT_EQ(receiveReply(a, 200), "");
    close(a);
    close(b);
}

TEST(WifiServer, LoginTokenBelongsToTheClient)
{
    Server server;
    static_cast<NodeItem*>(server.tree.sys->pathToNode("root\\sys\\pwd"))->setValue("pw");
    int a = server.connectClient(), b = server.connectClient();
    std::string tokenA = tokenOf(ask(a, "browse root\\none"));
    ASSERT_EQ(tokenA.size(), 16u);
    // b answers a's token: refused.
    std::string rb = ask(b, "token " + tokenResponse("pw", tokenA) + "\r\nwrite root\\sys\\alias:{\"value\":\"b\"}");
    EXPECT_NE(rb.find(" n\r\n"), std::string::npos);
    // b's request did not spoil a's token.
    std::string ra = ask(a, "token " + tokenResponse("pw", tokenA) + "\r\nwrite root\\sys\\alias:{\"value\":\"a\"}");
    EXPECT_NE(ra.find(" y\r\nroot\\sys\\alias:{\"value\":\"a\"}\r\n"), std::string::npos);
    EXPECT_EQ(server.tree.alias->getValue(), "a");
    close(a);
    close(b);
}

TEST(WifiServer, IdleClientIsDropped)
{
    Server server;
    int fd = server.connectClient();
    auto start = Clock::now();
    char byte;
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 8000), 1);
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0);
    auto waited = Clock::now() - start;
    // Nobody else waits: the idle time of 5 s, not the 2 s of a crowd.
    EXPECT_GT(waited, std::chrono::milliseconds(4900));
    EXPECT_LT(waited, std::chrono::milliseconds(6500));
    close(fd);
}

TEST(WifiServer, BadClientsDoNotHoldTheServer)
{
    Server server;
    server.tree.addBulk(3000, 100);
    int a = server.connectClient();

    // A client that stops reading stalls only itself.
    int c = server.connectClient();
    int small = 4096;
    setsockopt(c, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sendText(c, withNul("browse root\\app\\big"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = Clock::now();
    EXPECT_EQ(ask(a, "read root\\sys\\_name"), withNul(kNameFragment));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    close(c);

    // A request longer than the buffer is dropped through its NUL; its tail never runs.
    std::string tail = "write root\\sys\\alias:{\"value\":\"tail\"}";
    std::string longRequest(70000 - tail.size(), 'x');
    sendText(a, longRequest);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sendText(a, withNul(tail));
    EXPECT_EQ(receiveReply(a, 300), "");
    EXPECT_EQ(server.tree.alias->getValue(), "");
    EXPECT_EQ(ask(a, "read root\\sys\\_name"), withNul(kNameFragment));
    close(a);
}

// A port that another program holds: the server retries every few passes and says so once, with the
// number of failed attempts when the port is free again.
TEST(WifiServer, TakenPortIsReportedOnceAndServedWhenFree)
{
    const int port = freePort();
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    setenv("KESTRUN_TCP_PORT", std::to_string(port).c_str(), 1);
    TestTree tree;
    auto* wifi = new Wifi(tree.root, tree.name, 8080); // its join thread ends with the test
    wifi->initialize();

    StdoutCapture capture;
    for (int pass = 0; pass < 300; ++pass) wifi->tasks();
    close(holder);
    for (int pass = 0; pass < 10 && wifi->getServerState() != 2; ++pass) wifi->tasks();
    EXPECT_EQ(wifi->getServerState(), 2) << "serving";
    // The port and the reason are named; once served, the port is said.
    const std::string expected =
        "I (Wifi): Listen socket created\n"
        "ERROR (Wifi): Listen socket unable to bind: errno " +
        std::to_string(EADDRINUSE) + " (port " + std::to_string(port) +
        ": Address already in use)\n"
        "I (Wifi): previous message repeated ";
    const std::string listening = "I (Wifi): Listening on TCP port " + std::to_string(port) + " (loopback only)\n";
    // The server's lines only (the join thread announces the service meanwhile).
    std::istringstream lines(capture.text());
    std::string log;
    for (std::string line; std::getline(lines, line);)
        if (line.find(" (Wifi): ") != std::string::npos) log += line + "\n";
    EXPECT_EQ(log.rfind(expected, 0), 0u) << log;
    EXPECT_EQ(log.find('\n', expected.size()), log.size() - 1 - listening.size()) << log;
    EXPECT_EQ(log.substr(log.size() - listening.size()), listening) << log;
}

TEST(WifiServer, WaitingClientWithAWholeRequestTakesASlowSendersSlot)
{
    Server server;
    // Three clients that never finish a request hold every slot.
    std::vector<int> holders;
    for (const char* start : {"read root\\sys\\_na", "browse ro", "write root"}) {
        holders.push_back(server.connectClient());
        sendText(holders.back(), start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    auto start = Clock::now();
    int waiting = server.connectClient();
    sendText(waiting, withNul("read root\\sys\\_name"));
    EXPECT_EQ(receiveReply(waiting, 1000), withNul(kNameFragment));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    for (int fd : holders) close(fd);
    close(waiting);
}

TEST(WifiJoin, NodesServiceFileAndStateMirror)
{
    static TestTree& tree = *new TestTree; // reachable to the end, as the join thread uses it
    ShellScript::reset();
    // A device name the shell would expand if the here-document were not quoted.
    tree.name->setValue("My $HOME `id`");
    setenv("KESTRUN_TCP_PORT", "18080", 1);
    // Lives on, as in the program: its join thread never stops.
    Wifi& wifi = *new Wifi(tree.root, tree.name, 8080);
    ASSERT_TRUE(tree.root->pathToNode("root\\sys\\wifi\\ssid"));
    EXPECT_EQ(std::string(tree.root->pathToNode("root\\sys\\wifi")->getDescription()),
              ",\"item_type\":\"vfolder\",\"def\":\"\"");

    StdoutCapture capture;
    wifi.initialize();
    wifi.tasks();
    std::string log = capture.text();
    EXPECT_NE(log.find("I (Wifi MDNS): Service file write recorded in shell.log, not run\n"), std::string::npos);
    EXPECT_NE(log.find("I (Wifi MDNS): Avahi daemon restart recorded in shell.log, not run\n"), std::string::npos);
    const std::string command =
        "sudo tee /etc/avahi/services/http.service > /dev/null <<'EOF'\n"
        "<?xml version=\"1.0\" standalone='no'?>\n"
        "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n"
        "<service-group>\n"
        "  <name replace-wildcards=\"yes\">quelm00:00:00:00:00:00</name>\n"
        "  <service>\n"
        "    <type>_http._tcp</type>\n"
        "    <port>18080</port>\n"
        "    <txt-record>id=quelm</txt-record>\n"
        "    <txt-record>MAC=00:00:00:00:00:00</txt-record>\n"
        "    <txt-record>name=My $HOME `id`</txt-record>\n"
        "  </service>\n"
        "</service-group>\n"
        "EOF\n";
    std::string shell = ShellScript::log();
    EXPECT_EQ(shell.rfind(command, 0), 0u) << shell;
    EXPECT_NE(shell.find("sudo systemctl restart avahi-daemon > /dev/null\n"), std::string::npos);
}

TEST(WifiJoin, JoinCycle)
{
    TestTree tree;
    ShellScript::reset();
    Wifi wifi(tree.root, tree.name, 8080);
    auto* ssid = static_cast<NodeItem*>(tree.root->pathToNode("root\\sys\\wifi\\ssid"));
    auto* password = static_cast<NodeItem*>(tree.root->pathToNode("root\\sys\\wifi\\password"));
    auto* state = static_cast<NodeItem*>(tree.root->pathToNode("root\\sys\\wifi\\state"));
    const std::string check = "sudo nmcli -g DEVICE,STATE device | grep '^wlan0:connected' > /dev/null 2>&1";
    auto join = [](const std::string& s, const std::string& p) {
        return "{ sudo nmcli device disconnect wlan0; sudo nmcli connection delete '" + s +
               "'; sudo nmcli --wait 10 device wifi connect '" + s + "' password '" + p +
               "' ifname wlan0; } > /dev/null 2>&1";
    };
    const std::string avahi = "sudo systemctl restart avahi-daemon > /dev/null";
    auto take = [] {
        std::string log = ShellScript::log();
        ShellScript::reset();
        return log;
    };
    const int64_t s = 1000000;
    int64_t t = 1000 * s;

    // First cycle with empty settings: an attempt, then a failed check.
    ShellScript::add("sudo nmcli -g", 1, "");
    wifi.joinCycle(t);
    EXPECT_EQ(take(), join("", "") + "\n" + check + "\n");
    EXPECT_EQ(wifi.getConnectionStateValue(), Wifi::kDisconnected);

    // A network name with a quote reaches nmcli intact, within one cycle; the link comes up: one
    // Avahi restart, and the state node follows on the next server pass.
    ssid->setValue("Bob's net");
    password->setValue("p'w");
    t += 5 * s;
    wifi.joinCycle(t);
    EXPECT_EQ(take(), join("Bob'\\''s net", "p'\\''w") + "\n");
    EXPECT_EQ(wifi.getConnectionStateValue(), Wifi::kConnecting);
    ShellScript::add("sudo nmcli -g", 0, "");
    t += 11 * s;
    wifi.joinCycle(t);
    EXPECT_EQ(take(), check + "\n" + avahi + "\n");
    EXPECT_EQ(wifi.getConnectionStateValue(), Wifi::kConnected);
    wifi.tasks();
    EXPECT_EQ(state->getValue(), "CONNECTED");
    t += 11 * s;
    ShellScript::add("sudo nmcli -g", 0, "");
    wifi.joinCycle(t);
    EXPECT_EQ(take(), check + "\n");

    // While connected, only a change starts an attempt (a password change will do).
    password->setValue("new");
    t += 5 * s;
    ShellScript::add("sudo nmcli -g", 0, "");
    wifi.joinCycle(t);
    EXPECT_EQ(take(), join("Bob'\\''s net", "new") + "\n");
    EXPECT_EQ(wifi.getConnectionStateValue(), Wifi::kConnecting);
    wifi.tasks();
    EXPECT_EQ(state->getValue(), "CONNECTING");

    // Link lost: noticed at the next check; attempts resume 30 s after the previous one.
    int64_t attempt = t;
    t += 6 * s;
    ShellScript::add("sudo nmcli -g", 1, "");
    wifi.joinCycle(t);
    EXPECT_EQ(take(), check + "\n");
    EXPECT_EQ(wifi.getConnectionStateValue(), Wifi::kDisconnected);
    ShellScript::add("sudo nmcli -g", 1, "");
    t = attempt + 30 * s;
    wifi.joinCycle(t);
    EXPECT_EQ(take(), check + "\n");
    ShellScript::add("sudo nmcli -g", 1, "");
    t += 1;
    wifi.joinCycle(t);
    EXPECT_EQ(take(), join("Bob'\\''s net", "new") + "\n");
    wifi.tasks();
    EXPECT_EQ(state->getValue(), "CONNECTING");
}
