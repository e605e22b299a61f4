#pragma once
#include "com/ComInterface.h"
#include "porting/LogOnce.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

class NodeItem;

// The remote protocol over TCP (port 8080), plus joining the user's Wi-Fi network and announcing the
// service by mDNS.
//
// tasks() (every 20 ms on "comTasks") mirrors the join state into root\sys\wifi\state and runs one
// step of a small non-blocking server: up to three clients, each request and reply ended by a NUL.
// Each client slot has its own receive buffer, login token and lastRead, so clients neither corrupt
// each other's requests nor swallow each other's changes or logins. A client idle for 5 s is dropped;
// so is one that does not take a reply within 5 s.
//
// initialize() (once, on "comTasks") writes the Avahi service file and starts
// "wifiConnectionsHandler", which every 5 s joins the network with nmcli when the SSID or password
// changed (or every 30 s while off the network) and checks the link every 10 s. It shares only the
// nodes and the atomic connection state with "comTasks".
class Wifi : public ComInterface {
public:
    static constexpr int kSlots = 3;
    static constexpr int kBufferSize = 65536;
    // Microseconds.
    static constexpr int64_t kIdleTimeout = 5000000;
    static constexpr int64_t kSendTimeout = 5000000;
    static constexpr int64_t kJoinPeriod = 5000000;
    static constexpr int64_t kRetryPeriod = 30000000;
    static constexpr int64_t kCheckPeriod = 10000000;

    enum ConnectionState { kDisconnected = 0, kConnecting = 1, kConnected = 2 };
    enum ServerState { kCreate = 0, kConfigure = 1, kServe = 2, kError = 3 };

    Wifi(Node* root, Node* name, int port);

    void initialize() override;
    void tasks() override;

    // Body of "wifiConnectionsHandler".
    static void* connectionsHandler(void* wifi);
    // One join cycle at time `now` (microseconds), without the sleep that ends it.
    void joinCycle(int64_t now);
    static void launchConnectCommand(Wifi* wifi);
    static void getConnectionState(Wifi* wifi);

    int getPort() const { return port; }
    int getConnectionStateValue() const { return connectionState.load(); }
    int getServerState() const { return serverState; }
    // The Avahi service file, twelve lines each ended by a line feed.
    std::string serviceFile() const;

private:
    struct Slot {
        int fd = -1;
        int count = 0;
        int64_t time = 0;
        // Set while an over-long request is dropped up to its NUL.
        bool discarding = false;
        std::string token;
        int64_t lastRead = 0;
        std::vector<char> buffer;
    };

    // Join fields.
    std::string lastSsid;
    std::string lastPassword;
    std::atomic<int> connectionState {kDisconnected};
    int64_t lastAttempt = 0;
    int64_t lastCheck = 0;
    Node* nameNode;
    NodeItem* ssidNode = nullptr;
    NodeItem* passwordNode = nullptr;
    NodeItem* stateNode = nullptr;

    // Server fields.
    int port;
    int serverState = kCreate;
    // The server retries its set-up every few passes (a port taken by another program): each failure
    // is logged once, by the step and errno it failed with, until the server serves.
    LogOnce setupLog{"Wifi"};
    bool setupFailed(int step, int error);
    int listenSocket = -1;
    sockaddr_in bindAddress {};
    std::array<Slot, kSlots> slots;
    bool buffersReady = false;

    void mirrorState();
    void serverStep();
    void serveSlot(Slot& slot, int64_t now);
    void answer(Slot& slot, const char* request);
    bool sendAll(Slot& slot, const std::string& text);
    void freeSlot(Slot& slot);
    void resetSlots();
    void closeAll();
};

// Restarts the Avahi daemon so that the service is announced again (and logs it).
void restartMDNS();
// Nothing to do: Avahi publishes the service file itself.
void setup_mdns_service();
