#include "params/Storage.h"
#include "params/Storable.h"
#include "params/StorageId.h"
#include "porting/Clock.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>

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

TEST(Storage, TornFilesKeepTheValueAndAreRewrittenWhenNothingReadableIsLost)
{
    Storage::open();
    const std::string gain("\0\0\xc0\x40", 4); // 6.0f
    struct Case {
        const char* what;
        bool text;
        std::string file;
    } cases[] = {
        {"empty float", false, ""},
        {"short float", false, std::string("\0\0", 2)},
        {"empty text", true, ""},
        {"text without its NUL", true, "Gar"}, // left as it is until the value changes
    };
    for (const Case& c : cases) {
        // At start-up: the default stays, the file is made whole again unless it holds something.
        FloatItem number(std::string("root\\gain\\") + c.what, 6.0f);
        TextItem text(std::string("root\\alias\\") + c.what, "Vornetide");
        Storable& item = c.text ? static_cast<Storable&>(text) : number;
        const bool kept = c.file == "Gar";
        const std::string whole = c.text ? std::string("Vornetide\0", 10) : gain;
        item.createId();
        write_file(storeFile(item.getStorageId()), c.file);
        StdoutCapture out;
        EXPECT_FALSE(Storage::addItem(&item)) << c.what;
        EXPECT_NE(out.text().find(kept ? "text cut short, left as it is" : c.text ? "" : "torn"), std::string::npos);
        EXPECT_EQ(number.value, 6.0f) << c.what;
        EXPECT_EQ(text.value, "Vornetide") << c.what;
        EXPECT_EQ(read_file(storeFile(item.getStorageId())), kept ? c.file : whole) << c.what;

        // Torn while running, or kept and then changed: the value in memory is written.
        write_file(storeFile(item.getStorageId()), c.file);
        text.value = kept ? "Changed" : "Vornetide";
        for (int i = 0; i < 200; ++i) Storage::tasks();
        EXPECT_EQ(read_file(storeFile(item.getStorageId())), kept ? std::string("Changed\0", 8) : whole) << c.what;
        EXPECT_EQ(item.getStorageStatus(), Storable::kInSync) << c.what;
        Storage::items.clear();
        Storage::it = 0;
    }
}

TEST(Storage, SecretsAreReadableByTheirOwnerOnly)
{
    auto mode = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 0777;
    };
    Storage::open();
    TextItem fresh("root\\sys\\pwd", "");
    fresh.setSecret();
    Storage::addItem(&fresh);
    EXPECT_EQ(mode(storeFile(fresh.getStorageId())), 0600u);

    // One stored by an older program, open to all, is narrowed at start-up and still loads.
    TextItem old("root\\sys\\wifi\\password", "");
    old.setSecret();
    old.createId();
    const std::string path = storeFile(old.getStorageId());
    write_file(path, std::string("hunter2\0", 8));
    ::chmod(path.c_str(), 0644);
    EXPECT_TRUE(Storage::addItem(&old));
    EXPECT_EQ(old.value, "hunter2");
    EXPECT_EQ(mode(path), 0600u);
    old.value = "changed";
    for (int i = 0; i < 200; ++i) Storage::tasks();
    EXPECT_EQ(read_file(path), std::string("changed\0", 8));
    EXPECT_EQ(mode(path), 0600u);

    TextItem plain("root\\sys\\alias", "x");
    Storage::addItem(&plain);
    EXPECT_NE(mode(storeFile(plain.getStorageId())) & 0044, 0u) << "other settings stay readable";
}

TEST(Storage, ItemsEnlistedWhileTheCycleRunsAreAllKept)
{
    Storage::open();
    FloatItem first("root\\first", 1.0f);
    Storage::addItem(&first);
    std::atomic<bool> done{false};
    // "eventTasks" as the program runs it, while a transport enlists its settings.
    std::thread cycle([&] {
        while (!done.load()) Storage::tasks();
    });
    std::vector<std::unique_ptr<FloatItem>> late;
    constexpr int kLate = 60;
    for (int i = 0; i < kLate; ++i) {
        late.push_back(std::make_unique<FloatItem>("root\\late" + std::to_string(i), float(i)));
        Storage::addItem(late.back().get());
    }
    done.store(true);
    cycle.join();
    ASSERT_EQ(Storage::enlisted().size(), size_t(kLate + 1));

    // Every item is in the cycle: a change to each reaches its file.
    for (auto& item : late) item->value += 0.5f;
    // One write per spacing: about kLate x 50 calls.
    for (int i = 0; i < (kLate + 2) * 60; ++i) Storage::tasks();
    for (auto& item : late) {
        float v = -1;
        std::string bytes = read_file(storeFile(item->getStorageId()));
        ASSERT_EQ(bytes.size(), 4u);
        std::memcpy(&v, bytes.data(), 4);
        EXPECT_EQ(v, item->value) << item->key;
    }
}

TEST(Storage, CycleDetectsChangesAndSpacesWrites)
{
    // The spacing counts passes, not the wall clock: a clock set back an hour and held changes nothing.
    esp_timer_hold_for_tests(esp_timer_get_time() - 3600000000ull);
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
    esp_timer_hold_for_tests(0);
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
    // Make the value unwritable: a folder stands where its file would go. Left as it is at start-up...
    std::string blocker = storeFile(a.getStorageId());
    ASSERT_EQ(::mkdir(blocker.c_str(), 0755), 0);
    EXPECT_FALSE(Storage::addItem(&a));
    EXPECT_EQ(a.getStorageStatus(), Storable::kUnread);
    // ...tried, told once, and retried once the value changes.
    a.value = 4.0f;
    StdoutCapture out;
    for (int i = 0; i < 300; ++i) Storage::tasks();
    EXPECT_EQ(a.getStorageStatus(), Storable::kChanged);
    const std::string log = out.text();
    EXPECT_EQ(log, "ERROR (Storage): Storage error -1: rename error " + blocker + ": Is a directory\n");
    EXPECT_EQ(Storage::failureNotice().reason, "Is a directory");
    ::rmdir(blocker.c_str());
    StdoutCapture after;
    for (int i = 0; i < 120 && a.getStorageStatus() != Storable::kInSync; ++i) Storage::tasks();
    EXPECT_EQ(a.getStorageStatus(), Storable::kInSync);
    EXPECT_EQ(read_file(storeFile(a.getStorageId())).size(), 4u);
    EXPECT_EQ(after.text(), "I (Storage): previous message repeated 5 times\n");
}
