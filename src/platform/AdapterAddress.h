#pragma once
#include <cstdint>

// The Bluetooth adapter's address, most significant byte first. The device build asks adapter 0
// through a raw HCI socket; the host build takes $KESTRUN_BT_ADDR ("AA:BB:CC:DD:EE:FF"), or has none.
class AdapterAddress {
public:
    // False (and `address` all zero) when no address can be read.
    static bool read(uint8_t address[6]);
};
