#pragma once
#include "com/ComInterface.h"

#include <atomic>
#include <cstdint>
#include <string>

class Node;

// The remote protocol over Bluetooth LE: a GATT server with one serial-like service. The client
// writes request bytes to the RX characteristic and gets the reply as notifications of the TX
// characteristic; a NUL ends a request and ends a reply.
//
// Threads: "nimble_tasks" runs a GLib main loop that owns every BlueZ object (adapter,
// advertisement, GATT application) and every D-Bus call; it reassembles requests and queues them.
// "comTasks" (initialize, tasks) takes one request per pass, answers it and hands the reply, cut
// into notification-sized chunks, back to the GLib loop, which sends them: a batch at a time, so the
// loop never holds more than one batch and a long reply goes out over several passes. Advertising is
// started and stopped on the GLib loop only. At most 32 requests wait to be answered; a request that
// arrives beyond them is not served but answered, in its turn, with an empty reply (a lone NUL), so
// a client never waits for a reply that will not come and knows what to send again. SIGINT tears
// the GATT side down on the GLib loop; the process keeps running, and later SIGINTs are ignored. (A
// host program without a bus blocks SIGINT for its own stop, HostStop, so there it never reaches
// this side.)
//
// The host build talks to the D-Bus bus at $KESTRUN_DBUS_ADDRESS (a test's private bus with a
// stand-in of BlueZ) and to no bus when it is unset, so that it never reconfigures the machine's own
// adapter; the device build talks to the system bus.
class Bluetooth : public ComInterface {
public:
    // `name`: the node whose text is the advertised device name.
    Bluetooth(Node* root, Node* name);

    // Starts the GATT server with the name node's text.
    void initialize() override;
    // Advertising supervisor, then at most one request answered.
    void tasks() override;

    // Whether this process talks to a BlueZ at all: on the unit, or given $KESTRUN_DBUS_ADDRESS.
    // Only then is SIGINT the Bluetooth side's (teardown, the program keeps running).
    static bool hasBus();

private:
    Node* name;
};

inline constexpr const char* BLE_SERVICE_UUID = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* BLE_RX_UUID = "6e400002-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* BLE_TX_UUID = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";
// Requests up to this many bytes, NUL included, are taken; longer ones are dropped whole.
inline constexpr int BLE_RECEIVE_PACKET_SIZE = 10000;

// Starts "nimble_tasks" with the device name (at most 19 bytes are kept). Once per process: a second
// call, or a null name, only logs "Already initialized". Returns 0.
int ble_start(const char* name);
// Takes the oldest waiting entry ("comTasks"): a complete request (`dropped` 0), or a count of
// requests dropped because too many were waiting, each owed an empty reply. False when none waits.
bool ble_take_rx(std::string& request, uint32_t& dropped);
// Sends the reply and its NUL as notifications of the TX characteristic; dropped when there is no
// GATT application ("comTasks"). The first batch goes at once, the rest with ble_flush_tx.
void ble_set_tx(std::string reply);
// Every pass of "comTasks": hands the next batch of the reply on its way to the GLib loop once the
// previous batch has been sent. True while part of a reply has still to be handed over.
bool ble_flush_tx();
// Every pass of "comTasks": re-arms advertising 5 s after the last connection, RX write or
// supervisor action.
void ble_supervisor();
// Runs "sudo hcitool lecup" with the connection handle, intervals (1.25 ms units), latency and
// supervision time-out (10 ms units).
void set_ble_conn_params(int handle, int minInterval, int maxInterval, int latency, int timeout);

// State shared by the two threads.
extern std::atomic<bool> ble_initialized; // ble_start has run
extern std::atomic<bool> ble_started; // the GLib main loop is running
extern std::atomic<bool> ble_advertisment; // advertising is believed to be on
// Microseconds of the monotonic clock: last connection, RX write, teardown or supervisor action.
extern std::atomic<int64_t> supervisor_time;
// The MTU of the last RX write, never below 128.
extern std::atomic<uint32_t> ble_mtu;
