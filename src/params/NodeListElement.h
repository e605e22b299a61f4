#pragma once
#include "params/Storable.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// One element of a stored list: a record of a 128-byte name area followed by the element's data,
// stored as one file of exactly 128 + size bytes under the StorageId of its element id
// ("<list path>:<element number>"). The data is opaque here.
//
// The element is present when byte 0 of the name is not NUL and a NUL occurs within the first 32
// bytes; otherwise it is empty, whatever the data holds. Every write checks the name the same way
// (nameRefusal): at most 31 characters, since a longer one would make the element read as empty and
// lose it, and no double quote or control character, since names travel inside JSON strings, one
// preset line each, and a quote could turn a selection into a save. Emptying an element only clears
// byte 0 of its name: the data stays in the record.
//
// Every change is written to the element's file at once by the operation that makes it; elements
// are not enlisted with Storage. Lists are used from the screen, remote and compile threads: the
// element's own operations take turns on its record (a screen drawing the names while the remote
// side stores a preset); the data behind getData() is the caller's to share; copyData reads it in turn.
class NodeListElement : public Storable {
public:
    static constexpr int kNameArea = 128;
    // A present name holds at most this many characters (its NUL must lie within 32 bytes).
    static constexpr int kMaxName = 31;

    NodeListElement() = default;
    NodeListElement(const NodeListElement&) = delete;
    NodeListElement& operator=(const NodeListElement&) = delete;

    void createId() override;
    // The whole record: 128 + size bytes.
    void* getStorageData(int* size) override;

    void setElmId(std::string id) { elmId = std::move(id); }
    const std::string& getElmId() const { return elmId; }
    // Creates the zero-filled record once; nothing when a size is set already or the id is empty.
    void setDataSize(int size);
    int getDataSize() const { return dataSize; }
    // Computes the StorageId and loads the record from its file (a missing or too long file is
    // replaced by the current record).
    void load();

    // "" for an empty element.
    std::string getName() const;
    bool isEmpty() const;
    // Null for an empty element.
    uint8_t* getData();
    // Copies the data (its whole size) into `out` in turn with the element's other operations, so
    // that a write on another thread is seen whole or not at all; false, nothing copied, when empty.
    bool copyData(void* out) const;
    // Nothing when the name is refused (but "", which empties the element) or already the current
    // one; otherwise stores and writes. True when the element bears the name and its file is
    // written.
    bool setName(const std::string& name);
    // Name and `size` bytes of data; nothing when the name is refused or both are unchanged. Null
    // data clears the data area and claims the name without writing the file (the caller writes
    // real data right after). True when the element holds both and its file is written.
    bool setData(const std::string& name, const void* data);
    // Empties the element and writes it.
    void clear();
    // Exchanges the two whole records and writes both; nothing when the sizes differ.
    void swap(NodeListElement* other);

    // The record itself (name area first); null before setDataSize.
    uint8_t* getRecord() { return record.get(); }

    // Why a name cannot name an element ("no name", "name too long", "name not allowed"); null
    // when it can.
    static const char* nameRefusal(const std::string& name);

private:
    std::string elmId;
    std::unique_ptr<uint8_t[]> record;
    int dataSize = 0;
    mutable std::mutex recordLock;

    // The same, with recordLock held.
    bool emptyLocked() const;
    std::string nameLocked() const;
};
