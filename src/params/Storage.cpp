#include "params/Storage.h"

#include "params/Storable.h"
#include "porting/Log.h"
#include "porting/Nvs.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

std::vector<Storable*> Storage::items;
size_t Storage::it = 0;
int Storage::delay = 0;
int Storage::handle = 0;
bool Storage::initialized = false;
std::mutex Storage::registry;

namespace {
// Texts are read through a buffer sized for the longest value any node holds, so that a long text
// (a network password, a link path) survives a restart.
constexpr size_t kMaxText = Storage::kMaxText;

// Values of one 32-bit word (float and enum nodes) are set atomically by other threads while the
// cycle compares, writes and loads them: the cycle takes them as one atomic word as well.
bool isWord(const void* data, int size)
{
    return size == int(sizeof(uint32_t)) && reinterpret_cast<uintptr_t>(data) % alignof(uint32_t) == 0;
}

std::atomic_ref<uint32_t> word(void* data)
{
    return std::atomic_ref<uint32_t>(*static_cast<uint32_t*>(data));
}
} // namespace

void Storage::open()
{
    if (initialized) return;
    LOG_I("Storage", "Initializing storage\n");
    int err = nvs_flash_init();
    if (err == 0) err = nvs_open("storage", NVS_READWRITE, &handle);
    if (err != 0) {
        LOG_E("Storage", "Failed to nvs_flash_init err = %d\n", err);
        return;
    }
    initialized = true;
}

void Storage::initliaze()
{
    open();
}

bool Storage::addItem(Storable* item)
{
    if (!item) return false;
    item->createId();
    bool loaded = item->loadStorage();
    std::lock_guard<std::mutex> lock(registry);
    if (std::find(items.begin(), items.end(), item) == items.end()) {
        bool atEnd = it >= items.size(); // the end position stays the end position
        items.push_back(item);
        if (atEnd) it = items.size();
    }
    return loaded;
}

std::vector<Storable*> Storage::enlisted()
{
    std::lock_guard<std::mutex> lock(registry);
    return items;
}

void Storage::tasks()
{
    if (delay < kWriteSpacing) ++delay;
    Storable* item;
    {
        std::lock_guard<std::mutex> lock(registry);
        if (it >= items.size()) {
            it = 0;
            return;
        }
        // Items are never removed: the pointer stays good after the lock is released.
        item = items[it++];
    }
    switch (item->getStorageStatus()) {
    case Storable::kInSync:
        item->loadStorage();
        break;
    case Storable::kChanged:
        if (delay == kWriteSpacing) {
            item->storeStorage();
            delay = 0;
        }
        break;
    default:
        break;
    }
}

int Storage::writePending()
{
    int written = 0;
    for (Storable* item : enlisted()) {
        // The comparison with its file marks a value changed since the cycle last saw it.
        if (item->getStorageStatus() == Storable::kInSync) item->loadStorage();
        if (item->getStorageStatus() == Storable::kChanged && item->storeStorage()) ++written;
    }
    return written;
}

std::string Storable::getStorageText()
{
    int size = 0;
    auto* text = static_cast<std::string*>(getStorageData(&size));
    return text && size < 0 ? *text : std::string();
}

void Storable::setStorageText(const std::string& value)
{
    int size = 0;
    auto* text = static_cast<std::string*>(getStorageData(&size));
    if (text && size < 0) *text = value;
}

bool Storable::loadStorage()
{
    Storage::open();
    int size = 0;
    void* data = getStorageData(&size);
    if (!data || size == 0) return false;

    bool read;
    bool differs = false;
    std::string text;
    std::unique_ptr<uint8_t[]> bytes;
    if (size < 0) {
        auto buffer = std::make_unique<char[]>(kMaxText);
        size_t capacity = kMaxText;
        read = nvs_get_str(Storage::handle, storageId, buffer.get(), &capacity) == 0;
        if (read) {
            text = buffer.get();
            differs = text != getStorageText();
        }
    } else {
        bytes = std::make_unique<uint8_t[]>(size_t(size));
        size_t length = size_t(size);
        read = nvs_get_blob(Storage::handle, storageId, bytes.get(), &length) == 0;
        // Every value file holds all its bytes: a shorter one was cut (an empty float would load
        // as 0).
        if (read && length != size_t(size)) {
            LOG_E("Storage", "torn value %s: %zu of %d bytes\n", storageId, length, size);
            read = false;
        }
        uint32_t value = isWord(data, size) ? word(data).load(std::memory_order_relaxed) : 0;
        if (read) differs = std::memcmp(bytes.get(), isWord(data, size) ? &value : data, size_t(size)) != 0;
    }

    if (!read) {
        storeStorage();
        // A value that could not be written either is left for the cycle to retry.
        if (storageStatus.load() == kNeverLoaded) storageStatus.store(kChanged);
        return false;
    }
    if (storageStatus.load() == kNeverLoaded) {
        if (size < 0) {
            setStorageText(text);
        } else if (isWord(data, size)) {
            uint32_t value;
            std::memcpy(&value, bytes.get(), sizeof value);
            word(data).store(value, std::memory_order_relaxed);
        } else {
            std::memcpy(data, bytes.get(), size_t(size));
        }
        storageStatus.store(kInSync);
        // Rewritten with the secret's permissions, whatever the file had.
        if (secret) storeStorage();
        onLoad();
        return true;
    }
    if (differs) storageStatus.store(kChanged);
    return false;
}

bool Storable::storeStorage()
{
    Storage::open();
    int size = 0;
    void* data = getStorageData(&size);
    if (!data || size == 0) return false;
    int err;
    if (size < 0) {
        std::string text = getStorageText();
        err = secret ? nvs_set_secret_str(Storage::handle, storageId, text.c_str())
                     : nvs_set_str(Storage::handle, storageId, text.c_str());
    } else if (isWord(data, size)) {
        const uint32_t value = word(data).load(std::memory_order_relaxed);
        err = nvs_set_blob(Storage::handle, storageId, &value, sizeof value);
    } else {
        err = nvs_set_blob(Storage::handle, storageId, data, size_t(size));
    }
    if (err != 0) {
        LOG_E("Storage", "Storage error %d\n", err);
        return false;
    }
    storageStatus.store(kInSync);
    return true;
}
