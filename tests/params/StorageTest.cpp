#include "params/Storable.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::string storeFile(const std::string& id)
{
    return test_root() + "/home/storage/" + id;
}

struct FloatItem : Storable {
    explicit FloatItem(std::string key, float v = 0) : key(std::move(key)), value(v) {}
    void createId() override { make_storage_id(key, storageId); }
    void* getStorageData(int* size) override
    {
        *size = sizeof value;
        return &value;
    }
    void onLoad() override { ++loads; }
    std::string key;
    float value;
    int loads = 0;
};

struct TextItem : Storable {
    explicit TextItem(std::string key, std::string v = "") : key(std::move(key)), value(std::move(v)) {}
    void createId() override { make_storage_id(key, storageId); }
    void* getStorageData(int* size) override
    {
        *size = -1;
        return &value;
    }
    std::string key;
    std::string value;
};

struct NothingItem : Storable {
    void createId() override { make_storage_id("nothing", storageId); }
    void* getStorageData(int* size) override
    {
        *size = 0;
        return nullptr;
    }
};

} // namespace

TEST(StorageId, MatchesTheIdsOfStoredFiles)
{
    EXPECT_EQ(make_storage_id("root\\sys\\alias"), "52192353");
    EXPECT_EQ(make_storage_id("root\\app\\output\\pst\\tmp"), "36229965");
    // The hash is the one the standard library uses for strings on 64-bit targets.
    for (std::string key : {"", "a", "root", "root\\sys", "0123456789abcdef01", "root\\app\\output\\pst\\tmp"})
        EXPECT_EQ(murmur_hash_64(key.data(), key.size()), std::hash<std::string>{}(key)) << key;
    // Below 10,000,000 the id keeps its x.
    bool sawShort = false;
    for (int i = 0; i < 20000 && !sawShort; ++i) {
        std::string key = std::to_string(i);
        key.insert(key.begin(), 'k');
        uint32_t low = uint32_t(murmur_hash_64(key.data(), key.size()));
        std::string id = make_storage_id(key);
        if (low < 10000000u) {
            EXPECT_EQ(id, std::to_string(low) + "x");
            sawShort = true;
        } else {
            EXPECT_EQ(id, std::to_string(low).substr(0, 8));
        }
    }
    EXPECT_TRUE(sawShort);
}

TEST(Storage, AddItemWritesTheCurrentValueWhenNothingIsStoredAndLoadsItOtherwise)
{
    FloatItem first("root\\gain", 1.5f);
    EXPECT_FALSE(Storage::addItem(&first));
    EXPECT_EQ(first.getStorageStatus(), Storable::kInSync);
    EXPECT_EQ(read_file(storeFile(first.getStorageId())).size(), 4u);
    EXPECT_EQ(first.loads, 0);

    FloatItem again("root\\gain", 0.0f);
    EXPECT_TRUE(Storage::addItem(&again));
    EXPECT_EQ(again.value, 1.5f);
    EXPECT_EQ(again.loads, 1);

    Storage::addItem(&again);
    EXPECT_EQ(Storage::items.size(), 2u) << "an item is enlisted once";
}

TEST(Storage, ShortFloatFileLoadsWithZeroTail)
{
    FloatItem item("root\\short", 0.0f);
    item.createId();
    Storage::open();
    uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_EQ(nvs_set_blob(0, item.getStorageId(), bytes, 2), 0);
    EXPECT_TRUE(Storage::addItem(&item));
    uint8_t loaded[4];
    std::memcpy(loaded, &item.value, 4);
    EXPECT_EQ(loaded[0], 0x11);
    EXPECT_EQ(loaded[1], 0x22);
    EXPECT_EQ(loaded[2], 0);
    EXPECT_EQ(loaded[3], 0);
}

TEST(Storage, LongTextsAndFloatsSurviveARestart)
{
    std::string longText(100, 'w');
    {
        TextItem text("root\\sys\\wifi\\pass", longText);
        FloatItem number("root\\tempo", 123.25f);
        Storage::addItem(&text);
        Storage::addItem(&number);
    }
    // A new process: a fresh registry over the same folder.
    Storage::items.clear();
    Storage::initialized = false;
    TextItem text("root\\sys\\wifi\\pass", "default");
    FloatItem number("root\\tempo", 120.0f);
    EXPECT_TRUE(Storage::addItem(&text));
    EXPECT_TRUE(Storage::addItem(&number));
    EXPECT_EQ(text.value, longText);
    EXPECT_EQ(number.value, 123.25f);
}

TEST(Storage, TornTextFileLoadsNoGarbageAndIsRewritten)
{
    TextItem item("root\\sys\\alias", "Vornetide");
    item.createId();
    Storage::open();
    write_file(storeFile(item.getStorageId()), "Gar"); // no NUL: the write was cut
    EXPECT_FALSE(Storage::addItem(&item));
    EXPECT_EQ(item.value, "Vornetide");
    EXPECT_EQ(read_file(storeFile(item.getStorageId())), std::string("Vornetide\0", 10));
}

TEST(Storage, CycleDetectsChangesAndSpacesWrites)
{
    FloatItem a("root\\a", 1.0f), b("root\\b", 2.0f);
    Storage::addItem(&a);
    Storage::addItem(&b);
    NothingItem nothing;
    Storage::addItem(&nothing);
    EXPECT_EQ(nothing.getStorageStatus(), Storable::kNeverLoaded);

    auto stored = [](FloatItem& item) {
        float v;
        std::string bytes = read_file(storeFile(item.getStorageId()));
        std::memcpy(&v, bytes.data(), 4);
        return v;
    };
    a.value = 5.0f;
    b.value = 6.0f;
    // A cycle of 3 items takes 4 calls. The first visit of a changed item finds the difference...
    int calls = 0;
    while (a.getStorageStatus() != Storable::kChanged && calls < 10) Storage::tasks(), ++calls;
    EXPECT_EQ(stored(a), 1.0f);
    // ...and the write waits until 50 calls have passed since the last write.
    int firstWrite = -1, secondWrite = -1;
    for (int i = 0; i < 300 && secondWrite < 0; ++i) {
        Storage::tasks();
        ++calls;
        if (firstWrite < 0 && (stored(a) == 5.0f || stored(b) == 6.0f)) firstWrite = calls;
        else if (firstWrite >= 0 && stored(a) == 5.0f && stored(b) == 6.0f) secondWrite = calls;
    }
    ASSERT_GT(firstWrite, 0);
    ASSERT_GT(secondWrite, 0);
    EXPECT_GE(firstWrite, 50);
    EXPECT_GE(secondWrite - firstWrite, 50);
    EXPECT_EQ(a.getStorageStatus(), Storable::kInSync);
    EXPECT_EQ(nothing.getStorageStatus(), Storable::kNeverLoaded);
    struct stat st;
    EXPECT_NE(stat(storeFile(nothing.getStorageId()).c_str(), &st), 0);
}

TEST(Storage, MissingFileIsRewrittenOnItsVisit)
{
    FloatItem a("root\\a", 3.0f);
    Storage::addItem(&a);
    std::string path = storeFile(a.getStorageId());
    ASSERT_EQ(::unlink(path.c_str()), 0);
    for (int i = 0; i < 2; ++i) Storage::tasks();
    EXPECT_EQ(read_file(path).size(), 4u);
}

TEST(Storage, AValueThatCouldNotBeStoredIsRetriedByTheCycle)
{
    FloatItem a("root\\retry", 3.0f);
    a.createId();
    Storage::open();
    // Make the store unwritable: a folder stands where the temporary file would go.
    std::string blocker = storeFile(std::string(a.getStorageId()) + ".tmp");
    ASSERT_EQ(::mkdir(blocker.c_str(), 0755), 0);
    EXPECT_FALSE(Storage::addItem(&a));
    EXPECT_EQ(a.getStorageStatus(), Storable::kChanged);
    ::rmdir(blocker.c_str());
    for (int i = 0; i < 120 && a.getStorageStatus() != Storable::kInSync; ++i) Storage::tasks();
    EXPECT_EQ(a.getStorageStatus(), Storable::kInSync);
    EXPECT_EQ(read_file(storeFile(a.getStorageId())).size(), 4u);
}
