#pragma once
#include "com/ComInterface.h"
#include "com/TcpSchedule.h"
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
// A pass: every pending connection is accepted into a waiting room, where what it has sent is looked
// at without taking it; every slot takes what arrived and answers a whole request; then, in rounds,
// TcpSchedule decides which slot is freed (its time ran out, or it is handed to a waiting client) and
// who is let in, and the pass carries that out, serving each client let in at once. Before a slot
// is taken from a client in the middle of a request, what arrived meanwhile is taken, and a request
// it completes is answered: the slot then stays with it. A reply goes to the kernel whole when it
// fits the connection's send buffer (kSendBuffer), so a client that reads slowly holds no slot.
//
// Addresses are the peer's IPv4 address as it is: on loopback every 127.x.y.z is a client of its
// own (tests and the attack script give their clients distinct loopback addresses).
//
// Login token and lastRead belong to the client, not to the connection: they go with a connection
// between the room and the slots, and a closed connection parks them under the peer's address for
// kSessionKeep (a client that sent nothing parks nothing), and a later
// connection from that address takes them up with its first request: while a password is set, the
// session whose token that request answers; otherwise the address's latest. So a client that
// connects per request can log in and its polls miss nothing, while no client can answer another's
// token. An address keeps its latest kParkedPerAddress sessions; when kParked are parked, the oldest
// session not logged in of the address with the most goes first, so that guessers from many
// addresses cannot push out a logged-in client's session.
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
    // Connections taken from the kernel in one pass.
    static constexpr int kAcceptPerPass = 256;
    // Bytes asked of the kernel for each connection's replies (it doubles them): a full "browse root"
    // fits, so slow readers wait for it in the kernel, not in a slot.
    static constexpr int kSendBuffer = 64 * 1024;
    // Decision rounds in one pass: each round can serve three requests waiting in the room.
    static constexpr int kRoundsPerPass = 16;
    // Microseconds of a pass after which no new round begins.
    static constexpr int64_t kPassBudget = 20000;
    // Microseconds (monotonic clock): how long a freed slot's session waits for its client.
    static constexpr int64_t kSessionKeep = 60000000;
    // Sessions parked at once, and per address.
    static constexpr size_t kParked = 256;
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
        // Its last request answered its token.
        bool loggedIn = false;
    };
    struct Parked {
        uint32_t address;
        int64_t since;
        Session session;
    };
    // A connection and what its client keeps while it is open.
    struct Connection {
        int fd = -1;
        Session session;
        // The first request has looked for a parked session.
        bool adopted = false;
        // Bytes of a reply still in the kernel, as last seen.
        int unsent = 0;
    };
    // A connection in the room.
    struct Waiting {
        Connection connection;
        TcpSchedule::Waiting state;
        // Bytes already looked through for a NUL.
        size_t scanned = 0;
    };
    struct Slot {
        Connection connection;
        TcpSchedule::Slot state;
        // Bytes of the request received so far.
        int count = 0;
        // Requests answered in this slot.
        uint64_t answered = 0;
        // The reply and its NUL; `sent` bytes of it are gone.
        std::string out;
        size_t sent = 0;
        std::vector<char> buffer;
    };

    // Join fields.
    std::string lastSsid;
    std::string lastPassword;
    std::atomic<int> connectionState{kDisconnected};
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
    sockaddr_in bindAddress{};
    std::array<Slot, kSlots> slots;
    std::vector<Waiting> waiting;
    std::vector<Parked> parked;
    TcpSchedule schedule;
    // Where waiting connections are looked at.
    std::vector<char> peekBuffer;
    bool buffersReady = false;

    void mirrorState();
    void serverStep();
    // False when the listen socket failed (the server restarts).
    bool acceptClients(int64_t now);
    // What each connection in the room has sent; closes those whose client has gone.
    void lookAtWaiting(int64_t now);
    // True when a client was let in.
    bool carryOut(const std::vector<TcpSchedule::Action>& plan, int64_t now);
    // Bytes of replies taken from the kernel since the last look count as activity.
    static void noteKernelProgress(Connection& connection, int64_t& active, int64_t now);
    void closeConnection(Connection& connection, uint32_t address, int64_t now);
    void park(Connection& connection, uint32_t address, int64_t now);
    // Sends what is due, takes what arrived, answers a whole request.
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
