#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The names of the stored files. A key text (a node's path, a list element's id text) is hashed with
// the 64-bit MurmurHash2 form that the standard library uses for strings (seed 0xc70f6907); the low
// 32 bits are printed as "%ux" into 9 bytes, so at most 8 characters remain. Stored files on units in
// the field carry these names: the hash must stay bit for bit what it is.
uint64_t murmur_hash_64(const void* data, size_t length, uint64_t seed = 0xc70f6907u);

// Writes the id of `key` into `out` (at least 9 bytes).
void make_storage_id(const std::string& key, char* out);
std::string make_storage_id(const std::string& key);
