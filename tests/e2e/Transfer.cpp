#include "Transfer.h"

#include <cstdio>
#include <cstdlib>
#include <zlib.h>

namespace transfer {

namespace {

// Requests stay below the transports' 64 KiB request buffer.
constexpr size_t kRequestBytes = 60000;

std::string argument(const List& list, int index, int chunk)
{
    return std::string(list.path) + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk);
}

std::string writeLine(const List& list, int index, int chunk, const std::string& hexText)
{
    return "dwrite " + argument(list, index, chunk) + ",\"value\":\"" + hexText + "\"}";
}

// Sends the lines in as few requests as fit, and returns every reply joined.
std::string sendLines(Client& client, const std::vector<std::string>& lines)
{
    std::string replies, request;
    auto flush = [&] {
        if (request.empty()) return;
        std::string reply = client.tryAsk(request);
        if (!reply.empty() && reply.back() == '\0') reply.pop_back();
        replies += reply;
        request.clear();
    };
    for (const std::string& line : lines) {
        if (!request.empty() && request.size() + line.size() + 2 > kRequestBytes) flush();
        if (!request.empty()) request += "\r\n";
        request += line;
    }
    flush();
    return replies;
}

// The text after the last `verb` in the replies.
std::string lastReply(const std::string& replies, const std::string& verb)
{
    size_t at = replies.rfind(verb);
    return at == std::string::npos ? std::string() : replies.substr(at + verb.size());
}

// The data of every "dread" reply in `replies`, in order.
std::string chunkData(const std::string& replies)
{
    std::string data;
    for (size_t at = replies.find("dread "); at != std::string::npos;) {
        size_t next = replies.find("dread ", at + 6);
        std::string reply = replies.substr(at, next == std::string::npos ? std::string::npos : next - at);
        size_t from = reply.find(",\"value\":\"");
        size_t to = reply.rfind("\"}");
        if (from != std::string::npos && to != std::string::npos)
            data += unhex(reply.substr(from + 10, to - from - 10));
        at = next;
    }
    return data;
}

} // namespace

std::string hex(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        text += pair;
    }
    return text;
}

std::string unhex(const std::string& text)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes += char(std::strtol(text.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string nameBlock(const std::string& name)
{
    std::string block = name.substr(0, 128);
    block.resize(128, '\0');
    return hex(block);
}

std::string gzip(const std::string& content)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string image(deflateBound(&stream, uLong(content.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = uInt(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(image.data());
    stream.avail_out = uInt(image.size());
    deflate(&stream, Z_FINISH);
    image.resize(stream.total_out);
    deflateEnd(&stream);
    return image;
}

std::string gunzip(const std::string& image)
{
    z_stream stream{};
    inflateInit2(&stream, 15 + 16);
    std::string content(1 << 21, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(image.data()));
    stream.avail_in = uInt(image.size());
    stream.next_out = reinterpret_cast<Bytef*>(content.data());
    stream.avail_out = uInt(content.size());
    bool ended = inflate(&stream, Z_FINISH) == Z_STREAM_END;
    content.resize(ended ? stream.total_out : 0);
    inflateEnd(&stream);
    return content;
}

std::vector<std::string> writeLines(const List& list, int index, const std::string& name, const std::string& data)
{
    std::vector<std::string> lines{writeLine(list, index, 0, nameBlock(name))};
    const size_t chunk = size_t(list.chunk);
    for (int k = 1; k <= list.lastChunk; ++k) {
        size_t from = size_t(k - 1) * chunk;
        std::string piece = from < data.size() ? data.substr(from, chunk) : std::string();
        std::string text = hex(piece);
        bool last = list.gzip && piece.size() < chunk;
        if (last) text += "gz";
        text.resize(2 * chunk, '0');
        lines.push_back(writeLine(list, index, k, text));
        if (last) break;
    }
    return lines;
}

std::string write(Client& client, const List& list, int index, const std::string& name, const std::string& data)
{
    std::vector<std::string> lines = writeLines(list, index, name, data);
    // A client stops when its name block is refused.
    std::string status = lastReply(sendLines(client, {lines[0]}), "dwrite ");
    if (status.find("\"chunk\":1}") == std::string::npos) return status;
    lines.erase(lines.begin());
    return lastReply(sendLines(client, lines), "dwrite ");
}

std::string rename(Client& client, const List& list, int index, const std::string& name)
{
    return lastReply(sendLines(client, {writeLine(list, index, -1, nameBlock(name))}), "dwrite ");
}

std::string read(Client& client, const List& list, int index)
{
    auto readLine = [&](int k) { return "dread " + argument(list, index, k) + "}"; };
    if (!list.gzip) {
        std::vector<std::string> lines;
        for (int k = 1; k <= list.lastChunk; ++k) lines.push_back(readLine(k));
        return chunkData(sendLines(client, lines));
    }
    // Chunk 1 makes the image and tells its size; the rest follows from it.
    std::string first = sendLines(client, {readLine(1)});
    size_t sizeAt = first.find(",\"size\":");
    if (sizeAt == std::string::npos) return "";
    size_t size = size_t(std::atol(first.c_str() + sizeAt + 8));
    std::vector<std::string> lines;
    for (int k = 2; size_t(k - 1) * size_t(list.chunk) < size; ++k) lines.push_back(readLine(k));
    std::string image = chunkData(first) + (lines.empty() ? std::string() : chunkData(sendLines(client, lines)));
    image.resize(size);
    return image;
}

} // namespace transfer
