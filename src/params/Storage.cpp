#include "params/Storage.h"

#include "params/Storable.h"
#include "porting/Log.h"
#include "porting/LogOnce.h"
#include "porting/Nvs.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

std::vector<Storable*> Storage::items;
size_t Storage::it = 0;
int Storage::delay = 0;
int Storage::handle = 0;
bool Storage::initialized = false;
std::mutex Storage::registry;

namespace {
constexpr const char* kTag = "Storage";
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

// What a stored file gave: a whole value, no file, nothing worth keeping (no byte, or part of a
// 4-byte value), or something that is not a whole value but must not be destroyed.
enum class Found { kWhole, kMissing, kEmpty, kDamaged };

// Classifies a text file read into `bytes`; `why` names the damage.
Found classifyText(const uint8_t* bytes, size_t length, const char** why)
{
    if (length == 0) return Found::kEmpty;
    if (length > kMaxText) *why = "text too long";
    else if (bytes[length - 1] != 0) *why = "text cut short";
    else if (std::memchr(bytes, 0, length) != bytes + length - 1) *why = "not a text";
    else return Found::kWhole;
    return Found::kDamaged;
}

// Failures told once per kind (LogOnce state: the step and the error); the notice for the screens.
std::mutex failureMutex;
LogOnce failureLog{kTag};
Storage::Notice notice;
// "Initializing storage" is said once.
std::atomic<bool> announced{false};
// Whether the store held any file when this process opened it.
std::atomic<bool> heldFiles{false};

int64_t failureKind(const NvsFailure& failure)
{
    const std::string kind = std::string(failure.step) + ":" + std::to_string(failure.error);
    return int64_t(std::hash<std::string>{}(kind) | 1);
}
} // namespace

void Storage::reportFailure(const std::string& message)
{
    const NvsFailure& failure = nvs_last_failure();
    std::lock_guard<std::mutex> lock(failureMutex);
    if (!failureLog.changed(failureKind(failure))) return;
    const char* reason = std::strerror(failure.error);
    LOG_E(kTag, "%s: %s error %s: %s\n", message.c_str(), failure.step, failure.path.c_str(), reason);
    ++notice.sequence;
    notice.reason = reason;
}

void Storage::reportSuccess()
{
    std::lock_guard<std::mutex> lock(failureMutex);
    failureLog.changed(0);
}

Storage::Notice Storage::failureNotice()
{
    std::lock_guard<std::mutex> lock(failureMutex);
    return notice;
}

void Storage::resetFailures()
{
    std::lock_guard<std::mutex> lock(failureMutex);
    failureLog = LogOnce(kTag);
    notice = Notice();
    announced.store(false);
}

void Storage::open()
{
    if (initialized) return;
    // Once: a store that cannot be opened is tried again by every operation.
    if (!announced.exchange(true)) LOG_I(kTag, "Initializing storage\n");
    int err = nvs_flash_init();
    if (err == 0) err = nvs_open("storage", NVS_READWRITE, &handle);
    if (err != 0) {
        reportFailure("Failed to nvs_flash_init err = " + std::to_string(err));
        return;
    }
    // Before this process writes anything.
    heldFiles.store(nvs_has_keys());
    initialized = true;
}

bool Storage::populated()
{
    open();
    return heldFiles.load();
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
    case Storable::kInSync: item->loadStorage(); break;
    case Storable::kUnread: item->checkUnread(); break;
    case Storable::kChanged:
        if (delay == kWriteSpacing) {
            item->storeStorage();
            delay = 0;
        }
        break;
    default: break;
    }
}

int Storage::writePending()
{
    int written = 0;
    for (Storable* item : enlisted()) {
        // The comparisons the cycle makes mark a value changed since the cycle last saw it: with its
        // file, or with what it was when its file could not be read.
        if (item->getStorageStatus() == Storable::kInSync) item->loadStorage();
        else if (item->getStorageStatus() == Storable::kUnread) item->checkUnread();
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

std::string Storable::currentImage(void* data, int size)
{
    if (size < 0) return getStorageText();
    if (isWord(data, size)) {
        const uint32_t value = word(data).load(std::memory_order_relaxed);
        return std::string(reinterpret_cast<const char*>(&value), sizeof value);
    }
    return std::string(static_cast<const char*>(data), size_t(size));
}

void Storable::checkUnread()
{
    int size = 0;
    void* data = getStorageData(&size);
    if (storageStatus.load() != kUnread || !data || size == 0 || !unreadValue) return;
    if (currentImage(data, size) != *unreadValue) storageStatus.store(kChanged);
}

bool Storable::loadStorage()
{
    Storage::open();
    int size = 0;
    void* data = getStorageData(&size);
    if (!data || size == 0) return false;

    const bool text = size < 0;
    const size_t capacity = text ? kMaxText : size_t(size);
    auto bytes = std::make_unique<uint8_t[]>(capacity);
    size_t length = 0;
    const char* why = nullptr;
    Found found = Found::kWhole;
    switch (nvs_read(storageId, bytes.get(), capacity, &length)) {
    case NVS_READ_MISSING: found = Found::kMissing; break;
    case NVS_READ_NOT_FILE:
        found = Found::kDamaged;
        why = "not a regular file";
        break;
    case NVS_READ_FAILED:
        found = Found::kDamaged;
        why = "unreadable";
        break;
    case NVS_READ_NOT_OPENED:
        // Told once when the store was opened.
        found = Found::kDamaged;
        break;
    case NVS_READ_OK:
        if (text) {
            found = classifyText(bytes.get(), length, &why);
        } else if (size == int(sizeof(uint32_t))) {
            // A part of a 4-byte value means nothing (an empty float file would load as 0).
            if (length != sizeof(uint32_t)) {
                LOG_E(kTag, "torn value %s: %zu of %d bytes\n", storageId, length, size);
                found = Found::kEmpty;
            }
        }
        // Larger values keep what there is: a cut list element keeps its name and the start of its
        // data, the rest zero.
        break;
    }

    if (found == Found::kWhole) {
        const int status = storageStatus.load();
        if (status == kNeverLoaded || status == kUnread) {
            if (!text && length != size_t(size))
                LOG_W(kTag, "%s: %zu bytes for a value of %d, loaded with %s\n", nvs_key_path(storageId).c_str(),
                      length, size, length < size_t(size) ? "the rest zero" : "the rest left out");
            if (text) {
                setStorageText(reinterpret_cast<const char*>(bytes.get()));
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
        const std::string stored = text ? std::string(reinterpret_cast<const char*>(bytes.get()))
                                        : std::string(reinterpret_cast<const char*>(bytes.get()), size_t(size));
        if (stored != currentImage(data, size)) storageStatus.store(kChanged);
        return false;
    }

    const int status = storageStatus.load();
    if (status == kInSync || status == kChanged) {
        // The file went bad while the value in memory stayed good: it is made whole again.
        storeStorage();
        return false;
    }
    const Unread what = found == Found::kMissing ? Unread::kMissing
                        : found == Found::kEmpty ? Unread::kEmpty
                                                 : Unread::kDamaged;
    // Asked first, so that the item hears of every damage.
    const bool replace = replaceUnread(what) && what != Unread::kDamaged;
    if (replace) {
        storeStorage();
        // A value that could not be written either is left for the cycle to retry.
        if (storageStatus.load() != kInSync) storageStatus.store(kChanged);
        return false;
    }
    if (why) LOG_W(kTag, "%s: %s, left as it is until its value changes\n", nvs_key_path(storageId).c_str(), why);
    unreadValue = std::make_unique<std::string>(currentImage(data, size));
    storageStatus.store(kUnread);
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
        Storage::reportFailure("Storage error " + std::to_string(err));
        return false;
    }
    storageStatus.store(kInSync);
    Storage::reportSuccess();
    return true;
}
