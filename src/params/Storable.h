#pragma once
#include <atomic>
#include <string>

// Anything persisted by Storage: a node or a list element. It names its file by its StorageId and
// hands out its value through getStorageData:
//   size > 0: a pointer to `size` raw bytes, stored as a file of exactly those bytes;
//   size < 0: a pointer to a std::string, stored as its characters and a NUL;
//   size 0 or a null pointer: nothing is ever stored.
// Items whose text is shared between threads override getStorageText/setStorageText so that the
// store never touches a string another thread may be replacing.
class Storable {
public:
    enum Status { kNeverLoaded = 0, kInSync = 1, kChanged = 2 };

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

protected:
    char storageId[16] = {};
    std::atomic<int> storageStatus{kNeverLoaded};
    bool secret = false;
};
