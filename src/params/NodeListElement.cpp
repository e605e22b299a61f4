#include "params/NodeListElement.h"

#include "params/StorageId.h"

#include <cstring>

namespace {
// A present name ends within this many bytes.
constexpr int kNameLimit = NodeListElement::kMaxName + 1;
} // namespace

void NodeListElement::createId()
{
    make_storage_id(elmId, storageId);
}

void* NodeListElement::getStorageData(int* size)
{
    *size = record ? kNameArea + dataSize : 0;
    return record.get();
}

void NodeListElement::setDataSize(int size)
{
    if (record || dataSize != 0 || elmId.empty() || size < 1) return;
    record = std::make_unique<uint8_t[]>(size_t(kNameArea) + size_t(size));
    dataSize = size;
}

void NodeListElement::load()
{
    if (!record || elmId.empty()) return;
    std::lock_guard<std::mutex> guard(recordLock);
    createId();
    loadStorage();
}

bool NodeListElement::emptyLocked() const
{
    if (!record || record[0] == 0) return true;
    return std::memchr(record.get(), 0, kNameLimit) == nullptr;
}

std::string NodeListElement::nameLocked() const
{
    if (emptyLocked()) return std::string();
    return std::string(reinterpret_cast<const char*>(record.get()));
}

bool NodeListElement::isEmpty() const
{
    std::lock_guard<std::mutex> guard(recordLock);
    return emptyLocked();
}

std::string NodeListElement::getName() const
{
    std::lock_guard<std::mutex> guard(recordLock);
    return nameLocked();
}

uint8_t* NodeListElement::getData()
{
    return isEmpty() ? nullptr : record.get() + kNameArea;
}

bool NodeListElement::copyData(void* out) const
{
    std::lock_guard<std::mutex> guard(recordLock);
    if (emptyLocked()) return false;
    std::memcpy(out, record.get() + kNameArea, size_t(dataSize));
    return true;
}

const char* NodeListElement::nameRefusal(const std::string& name)
{
    if (name.empty()) return "no name";
    if (name.size() > size_t(kMaxName)) return "name too long";
    for (char c : name)
        if (c == '"' || static_cast<unsigned char>(c) < 0x20) return "name not allowed";
    return nullptr;
}

bool NodeListElement::setName(const std::string& name)
{
    std::lock_guard<std::mutex> guard(recordLock);
    if (!record || (!name.empty() && nameRefusal(name))) return false;
    if (name == nameLocked()) return true;
    // Only the name and its NUL: the tail of a longer older name stays, as the files always held.
    std::memcpy(record.get(), name.c_str(), name.size() + 1);
    return storeStorage();
}

bool NodeListElement::setData(const std::string& name, const void* data)
{
    std::lock_guard<std::mutex> guard(recordLock);
    if (!record || nameRefusal(name)) return false;
    uint8_t* area = record.get() + kNameArea;
    if (!data) {
        // Never clear the data of the element that already bears the name.
        if (name == nameLocked()) return true;
        std::memcpy(record.get(), name.c_str(), name.size() + 1);
        std::memset(area, 0, size_t(dataSize));
        return true;
    }
    if (name == nameLocked() && std::memcmp(area, data, size_t(dataSize)) == 0) return true;
    std::memcpy(record.get(), name.c_str(), name.size() + 1);
    std::memmove(area, data, size_t(dataSize));
    return storeStorage();
}

void NodeListElement::clear()
{
    std::lock_guard<std::mutex> guard(recordLock);
    if (!record) return;
    record[0] = 0;
    storeStorage();
}

void NodeListElement::swap(NodeListElement* other)
{
    if (!other || other == this || !record || !other->record || dataSize != other->dataSize) return;
    std::scoped_lock guard(recordLock, other->recordLock);
    size_t length = size_t(kNameArea) + size_t(dataSize);
    auto copy = std::make_unique<uint8_t[]>(length);
    std::memcpy(copy.get(), record.get(), length);
    std::memcpy(record.get(), other->record.get(), length);
    std::memcpy(other->record.get(), copy.get(), length);
    storeStorage();
    other->storeStorage();
}
