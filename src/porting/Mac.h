#pragma once
#include <cstdint>

// The Bluetooth adapter's address, most significant byte first, with `type` added to the last byte
// (modulo 256). All zero when no adapter can be read.
void esp_read_mac(uint8_t mac[6], int type);
void esp_efuse_mac_get_default(uint8_t mac[6]);
