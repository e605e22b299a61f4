#pragma once
#include "com/ComInterface.h"

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
// Nothing in a pass waits on a client: each slot has its own receive buffer and its own output
// buffer, which is drained across passes, so a client that does not read stalls only itself.
// A slot is freed as soon as its peer closes or errors, and after 5 s without a request or without
// taking any of its reply. When all slots are busy and another client waits, the slot idle longest
// among those held for at least a second yields to it (any slot held for 5 s, if none is idle), so
// more than three clients take turns and a waiting client is served within 5 s.
//
// Login token and lastRead belong to the client, not to the connection: a freed slot parks them
// under the peer's address for the idle time, and a later connection from that address takes them up
// with its first request: while a password is set, the session whose token that request answers;
// otherwise the address's latest. So a client that connects per request can log in and its polls
// miss nothing, while no client can answer another's token.
//
// initialize() (once, on "comTasks") writes the Avahi service file and starts
// "wifiConnectionsHandler", which every 5 s joins the network with nmcli when the SSID or password
// changed (or every 30 s while off the network) and checks the link every 10 s. It shares only the
// nodes and the atomic connection state with "comTasks".
class Wifi : public ComInterface {
public:
    static constexpr int kSlots = 3;
    static constexpr int kBufferSize = 65536;
    // Clients waiting to be accepted: those beyond it retry their connection after a second or more.
    static constexpr int kBacklog = 8;
    // Microseconds.
    static constexpr int64_t kIdleTimeout = 5000000;
    // A slot held this long may be made to yield to a waiting client.
    static constexpr int64_t kYieldAfter = 1000000;
    // Sessions parked at once; beyond it the oldest is forgotten.
    static constexpr size_t kParked = 8;
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
    // What a client keeps between its connections.
    struct Session {
        std::string token;
        int64_t lastRead = 0;
    };
    struct Parked {
        uint32_t address;
        int64_t since;
        Session session;
    };
    struct Slot {
        int fd = -1;
        int count = 0;
        // Microseconds: accept, last complete request or last bytes of a reply taken (idle rule).
        int64_t time = 0;
        int64_t accepted = 0;
        // Set while an over-long request is dropped up to its NUL.
        bool discarding = false;
        // The first request has looked for a parked session.
        bool adopted = false;
        // The peer's IPv4 address, network byte order.
        uint32_t address = 0;
        Session session;
        // The reply and its NUL; `sent` bytes of it are gone.
        std::string out;
        size_t sent = 0;
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
    int listenSocket = -1;
    sockaddr_in bindAddress {};
    std::array<Slot, kSlots> slots;
    std::vector<Parked> parked;
    bool buffersReady = false;

    void mirrorState();
    void serverStep();
    // False when the listen socket failed (the server restarts).
    bool acceptClient(int64_t now);
    Slot* yieldingSlot(int64_t now);
    void serveSlot(Slot& slot);
    void receive(Slot& slot);
    void answer(Slot& slot, const std::string& request);
    void adoptSession(Slot& slot, const std::string& request);
    void flush(Slot& slot);
    void freeSlot(Slot& slot);
    void resetSlots();
    void closeAll();
};

// Restarts the Avahi daemon so that the service is announced again (and logs it).
void restartMDNS();
// Nothing to do: Avahi publishes the service file itself.
void setup_mdns_service();
