#pragma once
// A remote client's side of the list-element transfer verbs, written from the protocol as a
// companion application sees it (hex chunks, a 128-byte name block, gzip images via zlib), not
// from the program's own helpers.
#include "Unit.h"

#include <string>
#include <vector>

namespace transfer {

std::string hex(const std::string& bytes);
std::string unhex(const std::string& text);
// The 128-byte name block of a write, as hex.
std::string nameBlock(const std::string& name);
// A gzip image of `content`, and its content again (a stream that does not end gives "").
std::string gzip(const std::string& content);
std::string gunzip(const std::string& image);

struct List {
    const char* path;
    int chunk;
    int lastChunk;
    bool gzip;
};
inline constexpr List kPresets{"root\\presets", 128, 128, false};
inline constexpr List kIrs{"root\\ir_list", 128, 64, false};
inline constexpr List kModels{"root\\nam_amp", 1024, 512, true};

// The "dwrite" lines of a whole element: chunk 0 with the name block, then the data chunks (a gzip
// list gets `data` as its image, ended by the end mark).
std::vector<std::string> writeLines(const List& list, int index, const std::string& name, const std::string& data);
// Writes an element (chunk 0, then the data chunks; a gzip list gets `data` as its image and the
// end mark) and returns the last "dwrite" status the client was sent (the name block's when that
// was not accepted).
std::string write(Client& client, const List& list, int index, const std::string& name, const std::string& data);
// Renames (and with "" deletes) an element; the "dwrite" status.
std::string rename(Client& client, const List& list, int index, const std::string& name);
// Reads an element back: the data (a gzip list's image, cut to its "size"); "" when refused.
std::string read(Client& client, const List& list, int index);

} // namespace transfer
