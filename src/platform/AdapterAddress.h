#pragma once
#include <cstdint>

// The Bluetooth adapter's address, most significant byte first. On the unit, adapter 0 through a raw
// HCI socket; anywhere else (see UnitBoard) $KESTRUN_BT_ADDR ("AA:BB:CC:DD:EE:FF"), or none.
class AdapterAddress {
public:
    // False (and `address` all zero) when no address can be read.
    static bool read(uint8_t address[6]);
};
