#pragma once
#include <cstddef>
#include <mutex>
#include <vector>

class Storable;

// The registry of persisted items, stored one file each in the namespace "storage" (/home/storage).
// addItem loads an item's stored value, or writes its current value when none is stored, and
// enlists it (start-up, main thread). tasks() runs one step of the write-back cycle every 10 ms on
// "eventTasks": it visits one item per call, finds a value that differs from its file by comparing
// the two, and writes changed values back at most once every 50 calls.
//
// Items may also be enlisted after "eventTasks" has started (a transport's settings, the
// temperature unit): the registry (items, it) is guarded by `registry`, taken only around the
// list itself, never around a file operation. A value whose file is torn (empty, cut short, a text
// without its NUL) is treated as not stored: the item keeps its value and the file is rewritten.
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

    // Read or change these directly only where no other thread runs (start-up, tests).
    static std::vector<Storable*> items;
    static size_t it;
    static int delay;
    static int handle;
    static bool initialized;
    static std::mutex registry;
};
