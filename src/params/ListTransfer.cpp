#include "params/ListTransfer.h"

#include <cctype>
#include <cstdio>
#include <zlib.h>

namespace list_transfer {

namespace {

constexpr const char* kIndex = ":{\"index\":";
constexpr const char* kChunk = ",\"chunk\":";
constexpr const char* kIndex2 = ",\"index2\":";
constexpr const char* kValue = ",\"value\":\"";
constexpr const char* kValueEnd = "\"}";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Finds `key` at or after `from`; the position after it, or npos.
size_t after(const std::string& text, const char* key, size_t from)
{
    size_t at = text.find(key, from);
    return at == std::string::npos ? at : at + std::char_traits<char>::length(key);
}

} // namespace

bool parse_int(const std::string& text, size_t from, int* out)
{
    size_t at = from;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    size_t digits = at;
    long long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        if (value > 2147483648LL) return false;
        ++at;
    }
    if (at == digits) return false;
    if (negative) value = -value;
    if (value > 2147483647LL) return false;
    *out = int(value);
    return true;
}

bool parse_request(const std::string& argument, Kind kind, Request& request)
{
    size_t keyAt = argument.find(kIndex);
    if (keyAt == std::string::npos) return false;
    request.path = argument.substr(0, keyAt);
    size_t at = keyAt + std::char_traits<char>::length(kIndex);
    if (!parse_int(argument, at, &request.index)) return false;

    at = after(argument, kind == Kind::Pair ? kIndex2 : kChunk, at);
    if (at == std::string::npos || !parse_int(argument, at, &request.second)) return false;
    if (kind != Kind::Write) return true;

    at = after(argument, kValue, at);
    if (at == std::string::npos) return false;
    size_t end = argument.find(kValueEnd, at);
    if (end == std::string::npos) return false;
    request.hex = argument.substr(at, end - at);
    return true;
}

std::string to_hex(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = digits[data[i] >> 4];
        text[2 * i + 1] = digits[data[i] & 15];
    }
    return text;
}

size_t from_hex(const char* text, size_t length, uint8_t* out, bool stopAtMark, bool* marked)
{
    if (marked) *marked = false;
    size_t count = 0;
    for (size_t at = 0; at + 1 < length; at += 2) {
        char high = text[at];
        char low = text[at + 1];
        if (stopAtMark && high == 'g' && low == 'z') {
            if (marked) *marked = true;
            break;
        }
        int h = hexDigit(high);
        int l = hexDigit(low);
        int value = h < 0 ? 0 : l < 0 ? h : h * 16 + l;
        out[count++] = uint8_t(value);
    }
    return count;
}

bool gzip_compress(const uint8_t* data, size_t size, std::vector<uint8_t>& image)
{
    image.clear();
    z_stream stream{};
    // Window bits 15 + 16: a gzip wrapper, which the clients expect.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    const size_t step = size / 2 + 1024;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(size);
    bool ok = false;
    for (;;) {
        size_t used = image.size() - stream.avail_out;
        image.resize(image.size() + step);
        stream.next_out = image.data() + used;
        stream.avail_out += uInt(step);
        int result = deflate(&stream, Z_FINISH);
        if (result == Z_STREAM_END) {
            ok = true;
            break;
        }
        // Z_OK or Z_BUF_ERROR with the output full: grow and go on; anything else is a failure.
        if ((result != Z_OK && result != Z_BUF_ERROR) || stream.avail_out != 0) break;
    }
    image.resize(ok ? size_t(stream.total_out) : 0);
    deflateEnd(&stream);
    return ok;
}

size_t gzip_decompress(const uint8_t* image, size_t size, uint8_t* out, size_t capacity, bool* ended)
{
    if (ended) *ended = false;
    if (size == 0) return 0;
    z_stream stream{};
    // Window bits 15 + 32: accept a zlib or a gzip header.
    if (inflateInit2(&stream, 47) != Z_OK) return 0;
    stream.next_in = const_cast<Bytef*>(image);
    stream.avail_in = uInt(size);
    stream.next_out = out;
    stream.avail_out = uInt(capacity);
    size_t produced = 0;
    uint8_t spill = 0;
    bool overflow = false;
    for (;;) {
        size_t before = stream.total_out;
        size_t inBefore = stream.avail_in;
        int result = inflate(&stream, Z_FINISH);
        produced = size_t(stream.total_out);
        if (result == Z_STREAM_END) {
            if (ended) *ended = true;
            break;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) break; // corrupt: keep what came out
        if (stream.avail_out == 0 && produced == capacity) {
            // The output is full: one more byte tells whether the content is larger.
            stream.next_out = &spill;
            stream.avail_out = 1;
            int last = inflate(&stream, Z_FINISH);
            if (stream.total_out > capacity) overflow = true;
            else if (last == Z_STREAM_END && ended) *ended = true;
            break;
        }
        // No progress with room left: the input ended before the stream did.
        if (stream.total_out == before && stream.avail_in == inBefore) break;
    }
    inflateEnd(&stream);
    return overflow ? capacity + 1 : produced;
}

} // namespace list_transfer
