#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The text and compression chores of the list-element transfer verbs (dread, dwrite, dswap, dmove):
// argument parsing, hexadecimal chunks and the gzip images of the amp-model lists. Nothing here
// throws, and nothing writes outside the buffers it is given. Called on "comTasks".
namespace list_transfer {

// The parsed argument of a transfer request:
//   read        path:{"index":i,"chunk":k}
//   write       path:{"index":i,"chunk":k,"value":"<hex>"}
//   swap, move  path:{"index":a,"index2":b}
// Keys are matched as literal texts, each searched after the end of the previous one.
struct Request {
    std::string path;
    int index = 0;
    int second = 0; // "chunk" for reads and writes, "index2" for swaps and moves
    std::string hex; // writes only
};

enum class Kind { Read, Write, Pair };

// False when a key is missing or a number is malformed.
bool parse_request(const std::string& argument, Kind kind, Request& request);

// Reads a decimal int as the standard string-to-int conversion does (leading blanks and a sign
// allowed, text after the digits ignored), without exceptions: false when there are no digits or
// the number does not fit 32 bits.
bool parse_int(const std::string& text, size_t from, int* out);

// Two lower-case hexadecimal digits per byte.
std::string to_hex(const uint8_t* data, size_t size);

// Decodes the pairs of `text` into `out` (room for length / 2 bytes). A pair that is not
// hexadecimal gives what its leading hexadecimal digit gives (0 for none). With stopAtMark, the
// pair "gz" ends the image: decoding stops there and *marked is set. Returns the bytes decoded.
size_t from_hex(const char* text, size_t length, uint8_t* out, bool stopAtMark, bool* marked);

// A gzip image of `size` bytes (default level, deflate, 15 window bits with the gzip wrapper,
// memory level 8, default strategy), its output grown by size / 2 + 1024 bytes per pass. False
// when zlib fails.
bool gzip_compress(const uint8_t* data, size_t size, std::vector<uint8_t>& image);

// Inflates a zlib or gzip image into `out`, which has room for `capacity` bytes. Decompression
// stops when the output would pass capacity (the result is then capacity + 1, to tell the caller
// the content did not fit), at the end of the stream, at the end of the input, or at the first
// error (keeping what was produced). An empty image gives 0 at once. *ended (when given) tells
// whether the stream reached its proper end: false for a cut or damaged image.
size_t gzip_decompress(const uint8_t* image, size_t size, uint8_t* out, size_t capacity, bool* ended = nullptr);

} // namespace list_transfer
