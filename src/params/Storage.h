#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class Storable;

// The registry of persisted items, stored one file each in the namespace "storage" (/home/storage).
// addItem loads an item's stored value, or writes its current value when none is stored, and
// enlists it (start-up, main thread). tasks() runs one step of the write-back cycle every 10 ms on
// "eventTasks": it visits one item per call, finds a value that differs from its file by comparing
// the two, and writes changed values back at most once every 50 calls. The spacing is counted in
// calls, which "eventTasks" makes 10 ms apart by relative sleeps on the monotonic clock: a step of the
// wall clock cannot hold the writes back or hurry them.
//
// Items may also be enlisted after "eventTasks" has started (a transport's settings, the
// temperature unit): the registry (items, it) is guarded by `registry`, taken only around the
// list itself, never around a file operation. What a file that cannot be read whole does is
// Storable's to say.
//
// Failures are told once: the first of a kind (the failing step and the system's error) logs one line
// naming the path and the reason; repeats are counted, and the count is logged when writes succeed
// again. Each logged failure also becomes a notice (failureNotice) that the screens show the player,
// since a value that was not stored is lost at the next start.
class Storage {
public:
    static void initliaze();
    static bool addItem(Storable* item);
    static void tasks();
    // Writes at once every enlisted value that differs from its file (a stop of the program); the
    // number written. Any thread; the write-back cycle may run meanwhile.
    static int writePending();

    static constexpr int kWriteSpacing = 50;
    // A stored text is read back through a buffer of this many bytes, its NUL included: no text
    // item may hold more than kMaxText - 1 bytes.
    static constexpr size_t kMaxText = 4096;

    // Opens the store when it is not open yet (every operation calls it).
    static void open();
    // A copy of the registry, for readers on any thread.
    static std::vector<Storable*> enlisted();
    // Whether the store held any file when this process opened it: a unit that has run once keeps
    // one for every stored item.
    static bool populated();

    // Any thread: a write (or the opening of the store) failed with `err`; what failed is taken from
    // the key-value layer. `message` is the line's start ("Storage error -1").
    static void reportFailure(const std::string& message);
    // Any thread: a write succeeded.
    static void reportSuccess();
    // The latest failure told: a number that grows with each one told (0: none yet), and the
    // system's reason.
    struct Notice {
        uint64_t sequence = 0;
        std::string reason;
    };
    static Notice failureNotice();
    // Nothing told yet, as at start (tests).
    static void resetFailures();

    // Read or change these directly only where no other thread runs (start-up, tests).
    static std::vector<Storable*> items;
    static size_t it;
    static int delay;
    static int handle;
    static bool initialized;
    static std::mutex registry;
};
