#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Small text helpers shared by the parameter tree and its neighbours.

// Parses an optional "-" and digits at `text` that are followed immediately by `terminator` and fit
// a 32-bit int: returns the number's length (sign included) and sets `out`; otherwise returns 0 and
// leaves `out` untouched.
int tryParseInt(const char* text, int* out, char terminator);

// Every occurrence of `from` replaced by `to`, scanning on after each replacement. An empty `from`
// leaves the text unchanged.
std::string ReplaceString(std::string text, const std::string& from, const std::string& to);

int count(const std::string& text, char c);

// The text made safe inside a single-quoted shell word: ' becomes '\''.
std::string escape_sh(const std::string& text);

// False for infinities and NaN.
bool valid_float(float value);

// A text from outside (a request, a name a client sent) as one log line may quote it: at most its
// first kLogExcerpt bytes, control characters written as \xNN, and when it was cut, how long it was.
// A request may carry megabytes; the log must not grow by more than a line for it.
inline constexpr size_t kLogExcerpt = 48;
std::string log_excerpt(const std::string& text);

// Tagged byte records: a 32-bit little-endian total length (from the record's first byte to the end
// of its data), a 32-bit type, a NUL-terminated name of at most 23 characters padded with zeros to a
// multiple of 4, then the data. Records start at multiples of 4.
struct SerialRecord {
    uint32_t length = 0;
    uint32_t type = 0;
    const char* name = nullptr;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    size_t offset = 0; // of the record in its buffer
};

// Appends one record to `buffer`; returns its offset, or SIZE_MAX when the name is too long.
size_t serialize(std::vector<uint8_t>& buffer, uint32_t type, const char* name, const void* data, size_t size);
// Appends a record at the end of `buffer` as the last part of the data of the records that begin at
// the offsets in `enclosing`, whose lengths grow by what was appended.
size_t serialize_internal(std::vector<uint8_t>& buffer, const std::vector<size_t>& enclosing, uint32_t type,
                          const char* name, const void* data, size_t size);
// The record at `offset` (deserialize: the first one). False when no whole record is there.
bool deserialize(const uint8_t* buffer, size_t size, SerialRecord& record, size_t offset = 0);
// The record after `record`.
bool deserialize_next(const uint8_t* buffer, size_t size, SerialRecord& record);
bool serialization_check(const SerialRecord& record, const char* name, uint32_t type);
// Scrambles (or, applied again, restores) a record's data with a 32-byte key.
void serialization_scramble(uint8_t* data, size_t size, const uint8_t key[32]);
