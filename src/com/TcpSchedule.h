#pragma once
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

// Who holds the TCP server's three slots: one decision over a snapshot of the slots and of the
// connections waiting in the room, which the server then carries out. It knows nothing of sockets,
// so every rule below is a table test over made-up addresses and times.
//
// A slot serves one connection: it reads its request, answers it and sends the reply. Between
// requests a connection needs no slot: the kernel keeps what its client sends, and the room looks at
// it without taking it. So a holder that is between requests gives its slot to a waiting connection
// that has a whole request at once, and goes back to the room itself, still open: nothing it sends is
// lost, and its next whole request is let in again. A holder in the middle of a request or of a reply
// longer than the kernel takes keeps its slot kHold against a whole request, and is then cut.
// Connections that have sent part of a request or nothing take only free slots.
//
// The protocol's promise holds for everyone, competition or not: a connection is closed after
// kIdleTimeout without activity (from being accepted, from its last reply handed over, or from the
// last bytes of a reply its client took), whether it waits in the room or holds a slot.
//
// Waiting connections are let in in one order (and the room, when full, closes from its end):
//   1. what it has sent: a whole request, then part of one, then nothing;
//   2. its address's connections (slots and room): fewer first, so that one address opening many
//      connections crowds out only its own;
//   3. an address cut in the middle of a request or a reply within kSlowMemory comes after those that
//      were not: a slow sender or reader waits behind clients that are served quickly;
//   4. the address let in longest ago first: addresses take turns, however many there are;
//   5. within one address: one that has sent something, the longer it waited the better; one that
//      has sent nothing, the newer the better (an idle connection had its chance).
// A slot for a whole request is taken, in this order, from a holder between requests, from a holder
// whose address holds the most slots, from an address cut lately, from the holder of the oldest
// turn; never from an address holding no more slots than the taker's, for a second one of its own.
//
// Times are microseconds of the monotonic clock. Used on "comTasks" only.
class TcpSchedule {
public:
    static constexpr int64_t kIdleTimeout = 5000000;
    static constexpr int64_t kHold = 500000;
    static constexpr int64_t kSlowMemory = 60000000;
    // Connections in the room: one per address for this many addresses.
    static constexpr size_t kWaiting = 128;
    // Addresses whose turns and cuts are remembered (the longest unseen is forgotten beyond it).
    static constexpr size_t kAddresses = 1024;

    enum Phase : uint8_t {
        kFree,
        // Let in or answered; nothing of the next request read.
        kAwaiting,
        // Part of a request read, no NUL yet.
        kReceiving,
        // An over-long request dropped up to its NUL.
        kDiscarding,
        // A reply is being sent that the kernel could not take at once.
        kReplying,
    };
    struct Slot {
        Phase phase = kFree;
        uint32_t address = 0;
        // Let in, or its last reply handed over: its request is due from here.
        int64_t turnStart = 0;
        int64_t replyStart = 0;
        // Where the idle time counts from: let in, a reply handed over, or bytes of it taken.
        int64_t active = 0;
    };
    enum Sent : uint8_t { kNothing, kPart, kWhole };
    struct Waiting {
        uint32_t address = 0;
        // Entered the room.
        int64_t since = 0;
        int64_t active = 0;
        Sent sent = kNothing;
    };

    struct Action {
        enum Kind : uint8_t {
            // Close `slot`: its time ran out (cut: in the middle of a request or a reply), or it is cut
            // for the let in that follows.
            kCloseSlot,
            // `slot`'s holder, between requests, goes back to the room for the let in that follows.
            kBackToRoom,
            // Room connection `waiting` takes `slot`.
            kLetIn,
            // Close room connection `waiting`: idle too long, or the room is full.
            kCloseWaiting,
        };
        Kind kind;
        int slot = -1;
        int waiting = -1;
        bool cut = false;
        bool operator==(const Action&) const = default;
    };

    // What to do now. A kBackToRoom or a cutting kCloseSlot for a let in is followed by that let in.
    std::vector<Action> decide(int64_t now, std::span<const Slot> slots, std::span<const Waiting> waiting) const;

    // What the server did, for later decisions.
    void noteLetIn(uint32_t address, int64_t now);
    void noteCut(uint32_t address, int64_t now);

private:
    struct Record {
        int64_t lastLetIn = INT64_MIN;
        int64_t cutAt = INT64_MIN;
    };
    std::unordered_map<uint32_t, Record> records;

    Record& record(uint32_t address);
};
