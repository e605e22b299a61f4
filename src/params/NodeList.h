#pragma once
#include "params/Node.h"
#include "params/NodeListElement.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class NodeParList;

// A node ("list") that owns a fixed number of stored elements of one fixed size: the presets, the
// impulse responses, the amp models. Screens and the remote side address elements by position;
// the index array maps each position to an element number, so reordering (swap, move) rewrites
// only the index array, the list's own stored value (count x 4 bytes, little-endian int32), and
// never an element. Each element is its own file, written by the operation that changes it.
//
// The list also carries the remote transfer of elements in hexadecimal chunks (dread, dwrite,
// dswap, dmove): chunk k covers data bytes (k-1) x chunk .. k x chunk - 1; lists made with gzip
// move their data gzip-compressed both ways. Transfers run on "comTasks" only, one request at a
// time; the write state (write chunk, write index) is one per list, and a transfer belongs to the
// writer (the remote client) whose chunk 0 opened it. Another writer's data chunk is refused
// without touching it; its chunk 0 or rename waits while the owner's transfer is under way and the
// owner was heard from within kTransferHold, so that a stranger cannot wreck an active upload and a
// vanished owner cannot keep the list for ever. A write the list refuses (a
// name it cannot keep, a damaged image, a failed file write) is answered with chunk -2 and the
// reason: {"index":i,"chunk":-2,"error":"name taken"}; success keeps its {"index":i,"chunk":-1}.
// The list's owner may check the content too (setContentCheck): an element whose data it could not
// use is refused with the owner's reason, by every writer, and the stored element stays as it was.
//
// The selectors over the list (NodeParList) enlist themselves, so that renaming an element renames
// the selections that name it.
//
// No lock: the screens ("systemTasks"), the remote side ("comTasks") and the model players change
// lists, and rely on not touching the same element at the same moment. The data-change and layout
// callbacks run on the thread that made the change, so that a reader on another thread can be handed
// a copy instead of reading the list while it changes.
class NodeList : public Node {
public:
    using DataCallback = void (*)(Node*, int);
    using LayoutCallback = void (*)(Node*);
    // Why data of elementSize bytes cannot be an element ("" when it can). Runs on the writing thread.
    using ContentCheck = std::string (*)(const uint8_t* data, int size);

    NodeList(Node* parent, const char* name, const char* displayName, const char* itemType, int elementSize, int count,
             int chunk, bool gzip);
    // Chunk 128, no gzip.
    NodeList(Node* parent, const char* name, const char* displayName, const char* itemType, int elementSize, int count);
    ~NodeList() override;

    // The index array (written by swap and move only).
    void* getStorageData(int* size) override;

    void edit(bool up) override;
    // A list cannot be set from a value text.
    bool fromString(std::string text) override;
    std::string toString() override;
    const char* getType() override { return NodeType::LIST; }
    std::string getDescription() override;
    // The names in position order; "" for an empty element.
    std::string getValueJSON() override;
    void reset() override;

    // A negative group becomes 0.
    void setGroup(int group);
    int getGroup() const { return group; }
    // Null is ignored, so a callback once set stays.
    void setOnDataChange(DataCallback callback);
    // Called after positions were reordered (swap, move) or an element renamed, which change no data.
    // Null is ignored.
    void setOnLayoutChange(LayoutCallback callback);
    // Start-up only (the owner's constructor).
    void setContentCheck(ContentCheck check) { contentCheck = check; }

    int getElementCount() const { return elementCount; }
    int getElementSize() const { return elementSize; }
    const char* getItemType() const { return itemType; }
    int getChunk() const { return chunk; }
    bool isGzip() const { return gzip; }

    // Queries by position; an invalid position answers false, null, "" or -1.
    bool emptyAt(int position);
    uint8_t* dataAt(int position);
    // A whole copy of the element's data (elementSize bytes); false when it is empty or absent.
    bool copyDataAt(int position, void* out);
    std::string nameAt(int position);
    // First position holding a present element of that exact name; -1 for none and for "".
    int indexOf(const std::string& name);
    int firstEmpty();
    std::string firstValid();
    int getLastIndex();
    // Neighbours for knob stepping, without wrap-around.
    std::string before(const std::string& name);
    std::string next(const std::string& name);
    // The element number shown at a position (-1 when invalid).
    int elementAt(int position) const;

    // Why `name` cannot be written at `position`: an invalid position, a name no element may bear
    // (NodeListElement::nameRefusal) or one that another position holds. Null when it can.
    const char* refusal(int position, const std::string& name);
    // Changes by position; a refused change (a name or, with data, a content refused) changes
    // nothing and answers false. True when the element holds the name (and data) and its file is
    // written.
    bool setElementAt(int position, const std::string& name, const void* data);
    // "" empties the element. A renamed element takes the selections of its old name along.
    bool setNameAt(int position, const std::string& name);
    void deleteAt(int position);
    // Empties every element, 10 ms apart.
    void clear();
    bool swap(int a, int b);
    bool move(int from, int to);
    void notifyDataUpdate(int position);

    // An element name inside a JSON string (NodeFragment::escape).
    static std::string escapeName(const std::string& name);

    // Remote transfer (argument = the request text after the verb and its blank).
    // The "dread" reply, or "" when refused.
    std::string parseReadJSON(std::string argument);
    // Microseconds (monotonic clock): how long a transfer under way keeps the list from other
    // writers' chunk 0 and renames after its owner's last accepted chunk. Longer than any client
    // waits for its turn on a transport between two chunks; short enough for a user retrying an
    // upload whose application died.
    static constexpr int64_t kTransferHold = 30000000;
    // False when refused (state unchanged); true otherwise. `writer` names the client the request
    // comes from (ComInterface::requester); requests that name none are one writer.
    bool parseWriteJSON(std::string argument, uint64_t writer = 0);
    // path:{"index":<write index>,"chunk":<write chunk>}
    std::string writeStatusJSON();
    bool parseSwapJSON(std::string argument);
    bool parseMoveJSON(std::string argument);

    int getWriteChunk() const { return writeChunk; }
    int getWriteIndex() const { return writeIndex; }
    // Tests: the hold of a transfer under way (kTransferHold by default).
    void setTransferHold(int64_t microseconds) { transferHold = microseconds; }

    // Start-up only: the selectors enlist themselves in their constructors.
    void addSelector(NodeParList* selector);
    void removeSelector(NodeParList* selector);

protected:
    // Gives duplicate and out-of-range entries of the index array the free element numbers.
    void checkIndexes();

private:
    const char* itemType;
    int elementSize;
    int elementCount;
    std::unique_ptr<NodeListElement[]> elements;
    std::vector<int32_t> indexes;
    std::vector<uint8_t> transferRecord;
    int writeChunk = -1;
    int writeIndex = -1;
    // The writer whose chunk 0 or rename set the write state last, and when (monotonic microseconds)
    // it last had a chunk taken.
    uint64_t writeOwner = 0;
    int64_t writeHeard = 0;
    int64_t transferHold = kTransferHold;
    // Why the last write was refused; "" after an accepted one.
    std::string writeRefusal;
    int chunk;
    bool gzip;
    std::vector<uint8_t> compressed;
    int compressedSize = 0;
    // The position whose element the compressed image was made from; -1 when there is none. Any
    // change to the list drops the image, so a later chunk never mixes two elements.
    std::atomic<int> compressedPosition{-1};
    int group = 0;
    DataCallback onDataChange = nullptr;
    LayoutCallback onLayoutChange = nullptr;
    ContentCheck contentCheck = nullptr;
    std::vector<NodeParList*> selectors;

    // Lists built without elements have no valid position.
    bool valid(int position) const;
    NodeListElement* elementShownAt(int position);
    int lastChunk() const;
    void dropReadImage();
    void storeIndexes();
    // Checks the path of a transfer request: it must name this list (and, for changes, not a
    // node whose key begins with "_").
    bool pathIsList(const std::string& path, bool forChange);
    // Whether `writer` may send chunk k now (0 or -1 opens or renames, 1 and above go on).
    bool mayWrite(uint64_t writer, int k) const;
    // The name of the transfer record's name block (up to its first NUL, at most 128 characters).
    std::string nameBlock() const;
    void setWriteState(int chunk, int index, std::string refusal);
    // Stores the assembled element (a gzip image of imageLength bytes is inflated first); the
    // reason when it was not stored ("" when it was).
    std::string finishWrite(int position, size_t imageLength);
    // setElementAt once name and content are accepted.
    bool storeElement(int position, const std::string& name, const void* data);
};
