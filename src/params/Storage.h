#pragma once
#include <cstddef>
#include <vector>

class Storable;

// The registry of persisted items, stored one file each in the namespace "storage" (/home/storage).
// addItem loads an item's stored value, or writes its current value when none is stored, and
// enlists it (start-up, main thread). tasks() runs one step of the write-back cycle every 10 ms on
// "eventTasks": it visits one item per call, finds a value that differs from its file by comparing
// the two, and writes changed values back at most once every 50 calls.
class Storage {
public:
    static void initliaze();
    static bool addItem(Storable* item);
    static void tasks();

    static constexpr int kWriteSpacing = 50;
    // A stored text is read back through a buffer of this many bytes, its NUL included: no text
    // item may hold more than kMaxText - 1 bytes.
    static constexpr size_t kMaxText = 4096;

    // Opens the store when it is not open yet (every operation calls it).
    static void open();

    static std::vector<Storable*> items;
    static size_t it;
    static int delay;
    static int handle;
    static bool initialized;
};
