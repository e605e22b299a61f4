#include "params/NodeList.h"

#include "params/ListTransfer.h"
#include "params/NodeFragment.h"
#include "params/NodeParList.h"
#include "porting/Clock.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kTag = "NodeList";
constexpr int kNameArea = NodeListElement::kNameArea;
// Every hex name block is the 128-byte name area.
constexpr size_t kNameBlockDigits = 2 * kNameArea;
// clear() gives storage and the other threads room between the element writes.
constexpr uint32_t kClearPauseUs = 10000;
// The write state's chunk in a refusal reply: no chunk a client could send or expect.
constexpr int kRefusedChunk = -2;
// A reason (a loader's message may be long) cut to what a status line carries.
constexpr size_t kMaxErrorText = 160;

} // namespace

NodeList::NodeList(Node* parent, const char* name, const char* displayName, const char* itemType, int elementSize,
                   int count, int chunk, bool gzip)
    : Node(parent, name, displayName), itemType(itemType ? itemType : ""), elementSize(elementSize),
      elementCount(count), chunk(chunk), gzip(gzip)
{
    if (elementSize < 1 || count < 1) return;

    std::string path = getPath();
    indexes.resize(size_t(count));
    elements = std::make_unique<NodeListElement[]>(size_t(count));
    for (int i = 0; i < count; ++i) {
        indexes[size_t(i)] = i;
        NodeListElement& element = elements[size_t(i)];
        element.setElmId(path + ":" + std::to_string(i));
        element.setDataSize(elementSize);
        element.load();
    }
    transferRecord.assign(size_t(kNameArea) + size_t(elementSize), 0);
    compressed.assign(size_t(elementSize), 0);

    createId();
    loadStorage();
    // The repaired order is used at once but reaches the file only with the next swap or move.
    checkIndexes();
}

NodeList::NodeList(Node* parent, const char* name, const char* displayName, const char* itemType, int elementSize,
                   int count)
    : NodeList(parent, name, displayName, itemType, elementSize, count, 128, false)
{}

NodeList::~NodeList()
{
    for (NodeParList* selector : selectors) selector->list = nullptr;
}

void NodeList::addSelector(NodeParList* selector)
{
    if (selector && std::find(selectors.begin(), selectors.end(), selector) == selectors.end())
        selectors.push_back(selector);
}

void NodeList::removeSelector(NodeParList* selector)
{
    std::erase(selectors, selector);
}

void* NodeList::getStorageData(int* size)
{
    if (indexes.empty()) {
        *size = 0;
        return nullptr;
    }
    *size = int(indexes.size() * sizeof(int32_t));
    return indexes.data();
}

void NodeList::edit(bool) {}

bool NodeList::fromString(std::string)
{
    return false;
}

std::string NodeList::toString()
{
    return std::string();
}

void NodeList::reset() {}

std::string NodeList::escapeName(const std::string& name)
{
    return NodeFragment::escape(name);
}

std::string NodeList::getDescription()
{
    std::string text = ",\"size\":" + std::to_string(elementSize) + ",\"count\":" + std::to_string(elementCount) +
                       ",\"group\":" + std::to_string(group) + ",\"chunk\":" + std::to_string(chunk) + ",";
    if (gzip) text += "\"gzip\":true,";
    text += "\"move\":true,\"item_type\":\"";
    text += itemType;
    text += "\"";
    return text;
}

std::string NodeList::getValueJSON()
{
    std::string text = "\"value\":[";
    for (int p = 0; p < int(indexes.size()); ++p) {
        if (p > 0) text += ",";
        text += '"';
        text += escapeName(nameAt(p));
        text += '"';
    }
    return text + "]";
}

void NodeList::setGroup(int value)
{
    group = value < 0 ? 0 : value;
}

void NodeList::setOnDataChange(DataCallback callback)
{
    if (callback) onDataChange = callback;
}

void NodeList::setOnLayoutChange(LayoutCallback callback)
{
    if (callback) onLayoutChange = callback;
}

// ---- positions and elements

bool NodeList::valid(int position) const
{
    return position >= 0 && position < int(indexes.size());
}

int NodeList::elementAt(int position) const
{
    return valid(position) ? indexes[size_t(position)] : -1;
}

NodeListElement* NodeList::elementShownAt(int position)
{
    return valid(position) ? &elements[size_t(indexes[size_t(position)])] : nullptr;
}

bool NodeList::emptyAt(int position)
{
    NodeListElement* element = elementShownAt(position);
    return element && element->isEmpty();
}

uint8_t* NodeList::dataAt(int position)
{
    NodeListElement* element = elementShownAt(position);
    return element ? element->getData() : nullptr;
}

bool NodeList::copyDataAt(int position, void* out)
{
    NodeListElement* element = elementShownAt(position);
    return element && element->copyData(out);
}

std::string NodeList::nameAt(int position)
{
    NodeListElement* element = elementShownAt(position);
    return element ? element->getName() : std::string();
}

int NodeList::indexOf(const std::string& name)
{
    if (name.empty()) return -1;
    for (int p = 0; p < int(indexes.size()); ++p) {
        NodeListElement* element = elementShownAt(p);
        if (!element->isEmpty() && element->getName() == name) return p;
    }
    return -1;
}

int NodeList::firstEmpty()
{
    for (int p = 0; p < int(indexes.size()); ++p)
        if (elementShownAt(p)->isEmpty()) return p;
    return -1;
}

std::string NodeList::firstValid()
{
    for (int p = 0; p < int(indexes.size()); ++p)
        if (!elementShownAt(p)->isEmpty()) return nameAt(p);
    return std::string();
}

int NodeList::getLastIndex()
{
    for (int p = int(indexes.size()) - 1; p >= 0; --p)
        if (!elementShownAt(p)->isEmpty()) return p;
    return -1;
}

std::string NodeList::before(const std::string& name)
{
    int p = indexOf(name);
    if (p < 0) return firstValid();
    for (int q = p - 1; q >= 0; --q)
        if (!elementShownAt(q)->isEmpty()) return nameAt(q);
    return name;
}

std::string NodeList::next(const std::string& name)
{
    int p = indexOf(name);
    if (p < 0) return firstValid();
    for (int q = p + 1; q < int(indexes.size()); ++q)
        if (!elementShownAt(q)->isEmpty()) return nameAt(q);
    return name;
}

// ---- changes

const char* NodeList::refusal(int position, const std::string& name)
{
    if (!valid(position)) return "no such position";
    if (const char* problem = NodeListElement::nameRefusal(name)) return problem;
    // A name names one element only.
    int holder = indexOf(name);
    if (holder != -1 && holder != position) return "name taken";
    return nullptr;
}

bool NodeList::setElementAt(int position, const std::string& name, const void* data)
{
    if (refusal(position, name)) return false;
    if (data && contentCheck && !contentCheck(static_cast<const uint8_t*>(data), elementSize).empty()) return false;
    return storeElement(position, name, data);
}

bool NodeList::storeElement(int position, const std::string& name, const void* data)
{
    bool stored = elementShownAt(position)->setData(name, data);
    dropReadImage();
    notifyDataUpdate(position);
    notifyUpdate();
    return stored;
}

bool NodeList::setNameAt(int position, const std::string& name)
{
    if (!valid(position)) return false;
    const std::string old = nameAt(position);
    if (name == old) return true;
    if (!name.empty() && refusal(position, name)) return false;
    bool stored = elementShownAt(position)->setName(name);
    dropReadImage();
    notifyUpdate();
    // The player renamed the element they use: the selections go along ("" is a deletion, which
    // leaves them naming nothing).
    if (!old.empty() && !name.empty())
        for (NodeParList* selector : selectors) selector->followRename(old, name);
    // After the selections: a reader of both never sees the new names with an old selection.
    if (onLayoutChange) onLayoutChange(this);
    return stored;
}

void NodeList::deleteAt(int position)
{
    if (!valid(position)) return;
    elementShownAt(position)->clear();
    dropReadImage();
    notifyDataUpdate(position);
    notifyUpdate();
}

void NodeList::clear()
{
    for (int p = 0; p < int(indexes.size()); ++p) {
        deleteAt(p);
        vTaskDelay(kClearPauseUs);
    }
}

bool NodeList::swap(int a, int b)
{
    if (!valid(a) || !valid(b)) return false;
    std::swap(indexes[size_t(a)], indexes[size_t(b)]);
    checkIndexes();
    storeIndexes();
    dropReadImage();
    if (onLayoutChange) onLayoutChange(this);
    notifyUpdate();
    return true;
}

bool NodeList::move(int from, int to)
{
    if (!valid(from) || !valid(to)) return false;
    if (from == to) return true;
    int32_t moved = indexes[size_t(from)];
    if (from < to) {
        for (int p = from; p < to; ++p) indexes[size_t(p)] = indexes[size_t(p) + 1];
    } else {
        for (int p = from; p > to; --p) indexes[size_t(p)] = indexes[size_t(p) - 1];
    }
    indexes[size_t(to)] = moved;
    checkIndexes();
    storeIndexes();
    dropReadImage();
    if (onLayoutChange) onLayoutChange(this);
    notifyUpdate();
    return true;
}

void NodeList::notifyDataUpdate(int position)
{
    if (valid(position) && onDataChange) onDataChange(this, position);
}

void NodeList::checkIndexes()
{
    const int count = int(indexes.size());
    std::vector<char> taken(size_t(count), 0);
    std::vector<char> bad(size_t(count), 0);
    for (int p = 0; p < count; ++p) {
        int32_t number = indexes[size_t(p)];
        if (number >= 0 && number < count && !taken[size_t(number)]) taken[size_t(number)] = 1;
        else bad[size_t(p)] = 1;
    }
    int free = 0;
    for (int p = 0; p < count; ++p) {
        if (!bad[size_t(p)]) continue;
        while (taken[size_t(free)]) ++free;
        indexes[size_t(p)] = free;
        taken[size_t(free)] = 1;
        LOG_E(kTag, "Repaired index %d with value %d\n", p, free);
    }
}

void NodeList::storeIndexes()
{
    storeStorage();
}

void NodeList::dropReadImage()
{
    // Only the mark: the buffer itself is written by chunk-1 reads alone (on "comTasks"), so a
    // change made on another thread never races with a read copying from it.
    compressedPosition.store(-1, std::memory_order_release);
}

// ---- remote transfer

int NodeList::lastChunk() const
{
    return chunk > 0 ? elementSize / chunk : 0;
}

bool NodeList::pathIsList(const std::string& path, bool forChange)
{
    Node* node = pathToNode(path);
    if (!node) return false;
    return !(forChange && node->getName()[0] == '_');
}

std::string NodeList::parseReadJSON(std::string argument)
{
    list_transfer::Request request;
    if (!list_transfer::parse_request(argument, list_transfer::Kind::Read, request)) return std::string();
    if (!pathIsList(request.path, false)) return std::string();
    const int position = request.index;
    const int k = request.second;
    if (!valid(position) || emptyAt(position) || k < 1 || k > lastChunk()) return std::string();

    const uint8_t* data = dataAt(position);
    const size_t offset = size_t(k - 1) * size_t(chunk);
    std::string reply = "dread " + getPath() + ":{\"index\":" + std::to_string(position);
    if (!gzip) {
        return reply + ",\"chunk\":" + std::to_string(k) + ",\"value\":\"" +
               list_transfer::to_hex(data + offset, size_t(chunk)) + "\"}";
    }

    if (k == 1) {
        dropReadImage();
        std::vector<uint8_t> image;
        // An image that would not fit the buffer is refused: the client cannot get that element.
        if (!list_transfer::gzip_compress(data, size_t(elementSize), image) || image.size() > compressed.size())
            return std::string();
        std::memcpy(compressed.data(), image.data(), image.size());
        std::memset(compressed.data() + image.size(), 0, compressed.size() - image.size());
        compressedSize = int(image.size());
        compressedPosition.store(position, std::memory_order_release);
    } else if (compressedPosition.load(std::memory_order_acquire) != position) {
        // Later chunks only come from the image of the element they name.
        return std::string();
    }
    return reply + ",\"size\":" + std::to_string(compressedSize) + ",\"chunk\":" + std::to_string(k) + ",\"value\":\"" +
           list_transfer::to_hex(compressed.data() + offset, size_t(chunk)) + "\"}";
}

bool NodeList::mayWrite(uint64_t writer, int k) const
{
    if (writer == writeOwner) return true;
    // Another client's chunk would end up in the owner's element, or make the owner's upload fail.
    if (k >= 1) return false;
    // A chunk 0 or a rename ends the transfer under way: only once its owner has gone quiet.
    return writeChunk < 1 || monotonic_time_us() - writeHeard >= transferHold;
}

bool NodeList::parseWriteJSON(std::string argument, uint64_t writer)
{
    list_transfer::Request request;
    if (!list_transfer::parse_request(argument, list_transfer::Kind::Write, request)) return false;
    if (!pathIsList(request.path, true)) return false;
    const int position = request.index;
    const int k = request.second;
    if (!valid(position) || k < -1 || k > lastChunk()) return false;
    if (request.hex.size() != (k <= 0 ? kNameBlockDigits : 2 * size_t(chunk))) return false;
    if (!mayWrite(writer, k)) return false;
    writeOwner = writer;
    writeHeard = monotonic_time_us();

    uint8_t* record = transferRecord.data();
    if (k <= 0) {
        // A block that ends early (a gzip list stops at "gz") must not keep an older name's tail.
        std::memset(record, 0, kNameArea);
        list_transfer::from_hex(request.hex.data(), request.hex.size(), record, gzip, nullptr);
        const std::string name = nameBlock();
        if (k == 0) {
            // Refused at once, so that the client does not send every chunk for nothing.
            const char* refused = refusal(position, name);
            setWriteState(refused ? -1 : 1, position, refused ? refused : "");
            return true;
        }
        // A rename; the empty name deletes.
        const char* refused = name.empty() ? nullptr : refusal(position, name);
        if (!refused && !setNameAt(position, name)) refused = "storage error";
        setWriteState(-1, position, refused ? refused : "");
        return true;
    }

    if (k != writeChunk || position != writeIndex) {
        setWriteState(-1, -1, "");
        return true;
    }
    bool marked = false;
    const size_t offset = size_t(k - 1) * size_t(chunk);
    size_t decoded =
        list_transfer::from_hex(request.hex.data(), request.hex.size(), record + kNameArea + offset, gzip, &marked);
    if (k < lastChunk() && !marked) {
        setWriteState(k + 1, position, "");
        return true;
    }
    setWriteState(-1, position, finishWrite(position, offset + decoded));
    return true;
}

void NodeList::setWriteState(int nextChunk, int index, std::string refused)
{
    writeChunk = nextChunk;
    writeIndex = index;
    writeRefusal = std::move(refused);
}

std::string NodeList::nameBlock() const
{
    const char* block = reinterpret_cast<const char*>(transferRecord.data());
    return std::string(block, strnlen(block, kNameArea));
}

std::string NodeList::finishWrite(int position, size_t imageLength)
{
    uint8_t* data = transferRecord.data() + kNameArea;
    const std::string name = nameBlock();
    if (const char* refused = refusal(position, name)) return refused;
    if (gzip) {
        std::vector<uint8_t> content(transferRecord.size() - kNameArea);
        bool ended = false;
        size_t produced = list_transfer::gzip_decompress(data, imageLength, content.data(), content.size(), &ended);
        // Storing a cut or oversized image would replace the element with zeros or a fragment.
        if (produced > content.size()) return "image too large";
        if (!ended) return "image corrupt";
        std::memset(data, 0, size_t(elementSize));
        std::memcpy(data, content.data(), produced);
    }
    // Checked once, here, with the reason for the client.
    if (contentCheck) {
        std::string why = contentCheck(data, elementSize);
        if (!why.empty()) return why;
    }
    return storeElement(position, name, data) ? "" : "storage error";
}

std::string NodeList::writeStatusJSON()
{
    std::string text = getPath() + ":{\"index\":" + std::to_string(writeIndex) + ",\"chunk\":";
    if (!writeRefusal.empty())
        return text + std::to_string(kRefusedChunk) + ",\"error\":\"" +
               NodeFragment::escape(writeRefusal.substr(0, kMaxErrorText)) + "\"}";
    return text + std::to_string(writeChunk) + "}";
}

bool NodeList::parseSwapJSON(std::string argument)
{
    list_transfer::Request request;
    if (!list_transfer::parse_request(argument, list_transfer::Kind::Pair, request)) return false;
    if (!pathIsList(request.path, true)) return false;
    return swap(request.index, request.second);
}

bool NodeList::parseMoveJSON(std::string argument)
{
    list_transfer::Request request;
    if (!list_transfer::parse_request(argument, list_transfer::Kind::Pair, request)) return false;
    if (!pathIsList(request.path, true)) return false;
    return move(request.index, request.second);
}
