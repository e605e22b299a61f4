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
// step of a small non-blocking server: three slots serve clients, each request and reply ended by a
// NUL. Nothing in a pass waits on a client: each slot has its own receive buffer and its own output
// buffer, which is drained across passes, so a client that does not read stalls only itself.
//
// Slots go to clients that talk. Every pass accepts whatever connections are pending into a waiting
// room (kWaiting; when full, the newest connection of the address with the most waiting ones, one
// that has not sent a whole request first, is closed), and looks (without taking them) whether a
// waiting client has sent a whole request. A slot is freed when its peer closes or errors, when it
// has not sent a whole request within kRequestTimeout of being let in or of its last reply, and when
// it takes none of its reply for kIdleTimeout. A waiting client is let in to a free slot, or takes
// one from a client that is between requests or sending slowly: at once (after kMinHold) when the
// waiting client has a whole request, after a turn of kYieldAfter otherwise. Clients of an address
// that holds no slot come first, so one address holds at most one slot while others wait, however
// many connections it opens. Time is the monotonic clock, so setting the wall clock changes nothing.
//
// Addresses are the peer's IPv4 address as it is: on loopback every 127.x.y.z is a client of its
// own (tests and the attack script give their clients distinct loopback addresses).
//
// Login token and lastRead belong to the client, not to the connection: a freed slot parks them
// under the peer's address for kSessionKeep (a client that sent nothing parks nothing; at most four
// per address), and a later connection from that address takes them up with its first request:
// while a password is set, the session whose token that request answers; otherwise the address's
// latest. So a client that connects per request can log in and its polls miss nothing, while no
// client can answer another's token.
//
// initialize() (once, on "comTasks") writes the Avahi service file and starts
// "wifiConnectionsHandler", which every 5 s joins the network with nmcli when the SSID or password
// changed (or every 30 s while off the network) and checks the link every 10 s. It shares only the
// nodes and the atomic connection state with "comTasks".
class Wifi : public ComInterface {
public:
    static constexpr int kSlots = 3;
    static constexpr int kBufferSize = 65536;
    // Connections pending in the kernel: each pass takes them all, so this only has to cover a burst
    // between two passes (beyond it a client's connection is retried after a second).
    static constexpr int kBacklog = 256;
    // Connections accepted and waiting for a slot.
    static constexpr size_t kWaiting = 16;
    // Connections taken from the kernel in one pass.
    static constexpr int kAcceptPerPass = 256;
    // Bytes looked at in a waiting connection for the NUL of a whole request.
    static constexpr size_t kPeek = 1024;
    // Microseconds (monotonic clock).
    // A slot without a whole request for this long is freed.
    static constexpr int64_t kRequestTimeout = 2000000;
    // A reply of which nothing was taken for this long frees its slot; a waiting connection is
    // closed after this long.
    static constexpr int64_t kIdleTimeout = 5000000;
    // A slot yields to a waiting client with a whole request once it has had this long for its own.
    static constexpr int64_t kMinHold = 200000;
    // A slot between requests yields to any waiting client after this turn.
    static constexpr int64_t kYieldAfter = 1000000;
    // How long a freed slot's session waits for its client to come back.
    static constexpr int64_t kSessionKeep = 60000000;
    // Sessions parked at once (the oldest is forgotten beyond it), and per address.
    static constexpr size_t kParked = 64;
    static constexpr size_t kParkedPerAddress = 4;
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
        // The requester of this client's requests.
        uint64_t id = newRequester();
        std::string token;
        int64_t lastRead = 0;
    };
    struct Parked {
        uint32_t address;
        int64_t since;
        Session session;
    };
    // An accepted connection waiting for a slot.
    struct Waiting {
        int fd;
        uint32_t address;
        int64_t since;
        // A whole request (or a full peek) is waiting in it.
        bool talks = false;
    };
    struct Slot {
        int fd = -1;
        int count = 0;
        // Monotonic microseconds: let in, last complete request or last bytes of a reply taken.
        int64_t time = 0;
        // Monotonic microseconds: let in.
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
    // The server retries its set-up every few passes (a port taken by another program): each failure
    // is logged once, by the step and errno it failed with, until the server serves.
    LogOnce setupLog{"Wifi"};
    bool setupFailed(int step, int error);
    int listenSocket = -1;
    sockaddr_in bindAddress {};
    std::array<Slot, kSlots> slots;
    std::vector<Waiting> waiting;
    std::vector<Parked> parked;
    bool buffersReady = false;

    void mirrorState();
    void serverStep();
    // False when the listen socket failed (the server restarts).
    bool acceptClients(int64_t now);
    void lookAtWaiting(int64_t now);
    void closeWaiting(size_t index);
    // Lets waiting clients in, as far as slots free or yield to them.
    void admit(int64_t now);
    int slotsOf(uint32_t address) const;
    Slot* yieldingSlot(const Waiting& client, int64_t now);
    void park(Slot& slot, int64_t now);
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
