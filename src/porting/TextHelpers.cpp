#include "porting/TextHelpers.h"

#include <climits>
#include <cstdio>
#include <cstring>

int tryParseInt(const char* text, int* out, char terminator)
{
    if (!text || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return 0;
    int length = 1;
    while (text[length] >= '0' && text[length] <= '9') ++length;
    if (text[length] != terminator) return 0;
    bool negative = text[0] == '-';
    if (negative && length == 1) return 0;
    long long value = 0;
    for (int i = negative ? 1 : 0; i < length; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > (long long)INT_MAX + 1) return 0;
    }
    if (negative) value = -value;
    if (value < INT_MIN || value > INT_MAX) return 0;
    *out = int(value);
    return length;
}

std::string ReplaceString(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty()) return text;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

int count(const std::string& text, char c)
{
    int n = 0;
    for (char x : text) n += x == c;
    return n;
}

std::string escape_sh(const std::string& text)
{
    return ReplaceString(text, "'", "'\\''");
}

bool valid_float(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7f800000u) != 0x7f800000u;
}

std::string log_excerpt(const std::string& text)
{
    std::string excerpt;
    for (size_t i = 0; i < text.size() && i < kLogExcerpt; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7F) {
            excerpt += char(c);
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\x%02x", unsigned(c));
        excerpt += code;
    }
    if (text.size() > kLogExcerpt) {
        excerpt += "... (";
        excerpt += std::to_string(text.size());
        excerpt += " bytes)";
    }
    return excerpt;
}

namespace {

constexpr size_t kNameField = 24;
constexpr size_t kHeader = 8;

size_t align4(size_t n)
{
    return (n + 3) & ~size_t(3);
}

void put32(uint8_t* at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint32_t get32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

} // namespace

size_t serialize(std::vector<uint8_t>& buffer, uint32_t type, const char* name, const void* data, size_t size)
{
    size_t nameLength = name ? std::strlen(name) : 0;
    if (nameLength >= kNameField) return SIZE_MAX;
    size_t offset = align4(buffer.size());
    size_t nameBytes = align4(nameLength + 1);
    size_t length = kHeader + nameBytes + size;
    buffer.resize(offset + length, 0);
    uint8_t* record = buffer.data() + offset;
    put32(record, uint32_t(length));
    put32(record + 4, type);
    if (nameLength) std::memcpy(record + kHeader, name, nameLength);
    if (size) std::memcpy(record + kHeader + nameBytes, data, size);
    return offset;
}

size_t serialize_internal(std::vector<uint8_t>& buffer, const std::vector<size_t>& enclosing, uint32_t type,
                          const char* name, const void* data, size_t size)
{
    size_t before = buffer.size();
    size_t offset = serialize(buffer, type, name, data, size);
    if (offset == SIZE_MAX) return offset;
    uint32_t grown = uint32_t(buffer.size() - before);
    for (size_t outer : enclosing)
        if (outer + kHeader <= before) put32(buffer.data() + outer, get32(buffer.data() + outer) + grown);
    return offset;
}

bool deserialize(const uint8_t* buffer, size_t size, SerialRecord& record, size_t offset)
{
    if (!buffer || offset > size || size - offset < 12) return false;
    const uint8_t* at = buffer + offset;
    uint32_t length = get32(at);
    if (length < 12 || length > size - offset) return false;
    size_t room = std::min<size_t>(kNameField, length - kHeader);
    const void* nul = std::memchr(at + kHeader, 0, room);
    if (!nul) return false;
    size_t nameBytes = align4(size_t(static_cast<const uint8_t*>(nul) - (at + kHeader)) + 1);
    if (kHeader + nameBytes > length) return false;
    record.length = length;
    record.type = get32(at + 4);
    record.name = reinterpret_cast<const char*>(at + kHeader);
    record.data = at + kHeader + nameBytes;
    record.dataSize = length - kHeader - nameBytes;
    record.offset = offset;
    return true;
}

bool deserialize_next(const uint8_t* buffer, size_t size, SerialRecord& record)
{
    return deserialize(buffer, size, record, align4(record.offset + record.length));
}

bool serialization_check(const SerialRecord& record, const char* name, uint32_t type)
{
    if (!record.name || !name || record.type != type) return false;
    return std::strncmp(record.name, name, kNameField) == 0;
}

void serialization_scramble(uint8_t* data, size_t size, const uint8_t key[32])
{
    uint8_t k = 0;
    for (size_t i = 0; i < size; ++i) {
        data[i] ^= uint8_t(key[i % 32] + k);
        k = uint8_t(k - 17);
    }
}
