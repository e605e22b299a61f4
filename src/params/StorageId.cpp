#include "params/StorageId.h"

#include <cstdio>
#include <cstring>

uint64_t murmur_hash_64(const void* data, size_t length, uint64_t seed)
{
    constexpr uint64_t m = 0xc6a4a7935bd1e995ull;
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint64_t h = seed ^ (uint64_t(length) * m);
    size_t whole = length & ~size_t(7);
    for (size_t i = 0; i < whole; i += 8) {
        uint64_t k = 0;
        for (int b = 7; b >= 0; --b) k = (k << 8) | bytes[i + size_t(b)];
        k *= m;
        k ^= k >> 47;
        k *= m;
        h ^= k;
        h *= m;
    }
    if (length & 7) {
        uint64_t k = 0;
        for (size_t i = length; i > whole; --i) k = (k << 8) | bytes[i - 1];
        h ^= k;
        h *= m;
    }
    h ^= h >> 47;
    h *= m;
    h ^= h >> 47;
    return h;
}

void make_storage_id(const std::string& key, char* out)
{
    uint32_t low = uint32_t(murmur_hash_64(key.data(), key.size()));
    std::snprintf(out, 9, "%ux", low);
}

std::string make_storage_id(const std::string& key)
{
    char id[9];
    make_storage_id(key, id);
    return id;
}
