#pragma once
#include <atomic>
#include <memory>
#include <string>

// Anything persisted by Storage: a node or a list element. It names its file by its StorageId and
// hands out its value through getStorageData:
//   size > 0: a pointer to `size` raw bytes, stored as a file of exactly those bytes;
//   size < 0: a pointer to a std::string, stored as its characters and a NUL;
//   size 0 or a null pointer: nothing is ever stored.
// Items whose text is shared between threads override getStorageText/setStorageText so that the
// store never touches a string another thread may be replacing.
//
// A file that holds something but not a whole value (a text cut before its NUL, a folder, a FIFO or
// a link in its place) is left as it is at start-up, so that nothing readable is destroyed: the item
// keeps its current value (status kUnread) and its file is written once that value changes. A value
// of more than 4 bytes (a list element, an index array) loads from a shorter file with its tail
// zero and from a longer one with what fits; a 4-byte value loads only from a whole file.
class Storable {
public:
    enum Status { kNeverLoaded = 0, kInSync = 1, kChanged = 2, kUnread = 3 };
    // Why the first load found no whole value.
    enum class Unread { kMissing, kEmpty, kDamaged };

    Storable() = default;
    virtual void onLoad() {}
    virtual void createId() = 0;
    virtual void* getStorageData(int* size) = 0;
    virtual ~Storable() = default;

    virtual std::string getStorageText();
    virtual void setStorageText(const std::string& text);

    const char* getStorageId() const { return storageId; }
    int getStorageStatus() const { return storageStatus.load(); }
    // A secret (a password) is stored readable by the program's user only, and a text node hides it
    // from remote clients that have not logged in. Set before the item is enlisted; its file is
    // rewritten at the first load, so that one stored by an older program loses its wider
    // permissions too.
    void setSecret() { secret = true; }
    bool isSecret() const { return secret; }

    // True when a stored value was loaded into the item.
    bool loadStorage();
    // True when the value reached its file.
    bool storeStorage();
    // Status kUnread: marks the item changed (to be written) once its value differs from the one
    // it had when its file could not be read.
    void checkUnread();

protected:
    // Called at the first load when no whole value was found. A missing or empty file (nothing to
    // lose) is replaced by the current value at once unless this answers false; a damaged one never
    // is at start-up.
    virtual bool replaceUnread(Unread) { return true; }

    char storageId[16] = {};
    std::atomic<int> storageStatus{kNeverLoaded};
    bool secret = false;

private:
    // The value when the file could not be read (status kUnread): its text or bytes.
    std::unique_ptr<std::string> unreadValue;

    // The value as stored: the text, or the bytes (one-word values read as one atomic word).
    std::string currentImage(void* data, int size);
};
