// List-element transfer with gzip: the input's first byte picks a position and how the upload ends,
// the rest is the gzip image a client uploads in hexadecimal chunks; the element is then read back
// chunk by chunk. The same bytes also go straight through the inflater, the hexadecimal decoder and
// the request-argument parser.
#include "FuzzSupport.h"

#include "params/ListTransfer.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeListElement.h"

#include <cstdlib>
#include <vector>

namespace {

// The code paths of the amp-model lists, with smaller elements for more runs a second.
constexpr int kCount = 4;
constexpr int kElementSize = 16384;
constexpr int kChunk = 128;

std::string argument(NodeList* list, int index, int chunk, const std::string* hex)
{
    std::string text = list->getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk);
    return hex ? text + ",\"value\":\"" + *hex + "\"}" : text + "}";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static NodeList* list = [] {
        fuzz_setup();
        Node* root = new NodeItem(nullptr, "root", "", "", "system");
        return new NodeList(root, "models", "Models", "nam", kElementSize, kCount, kChunk, true);
    }();
    if (size < 1) return 0;
    const int position = data[0] % (kCount + 1); // one past the end is refused
    const bool mark = data[0] & 0x80;
    const uint8_t* image = data + 1;
    const size_t length = size - 1;

    std::vector<uint8_t> out(kElementSize);
    if (list_transfer::gzip_decompress(image, length, out.data(), out.size()) > out.size() + 1) std::abort();
    std::string text(reinterpret_cast<const char*>(image), length);
    bool marked = false;
    if (list_transfer::from_hex(text.data(), text.size(), out.data(), true, &marked) > text.size() / 2) std::abort();
    list_transfer::Request request;
    for (auto kind : {list_transfer::Kind::Read, list_transfer::Kind::Write, list_transfer::Kind::Pair})
        list_transfer::parse_request(text, kind, request);

    // The upload: name block, then chunks of the image, the last one ended by "gz" when asked.
    uint8_t name[NodeListElement::kNameArea] = {'f', 'u', 'z', 'z'};
    std::string hex = list_transfer::to_hex(name, sizeof name);
    list->parseWriteJSON(argument(list, position, 0, &hex));
    std::string all = list_transfer::to_hex(image, length);
    if (mark) all += "gz";
    const size_t digits = 2 * size_t(kChunk);
    for (int k = 1; k <= kElementSize / kChunk && size_t(k - 1) * digits < all.size(); ++k) {
        std::string piece = all.substr(size_t(k - 1) * digits, digits);
        piece.resize(digits, '0');
        list->parseWriteJSON(argument(list, position, k, &piece));
    }
    // The download: chunk 1 makes the image, later chunks come from it.
    for (int k = 1; k <= kElementSize / kChunk; ++k)
        if (list->parseReadJSON(argument(list, position, k, nullptr)).empty()) break;
    return 0;
}
