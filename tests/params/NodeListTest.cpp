#include "params/NodeList.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "support/TempRoot.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

// A bare folder to hang lists on.
struct Folder : Node {
    Folder(Node* parent, const char* name) : Node(parent, name, name) {}
    void* getStorageData(int* size) override { return *size = 0, nullptr; }
    void edit(bool) override {}
    bool fromString(std::string) override { return false; }
    std::string toString() override { return ""; }
    const char* getType() override { return NodeType::ITEM; }
    std::string getDescription() override { return ""; }
    std::string getValueJSON() override { return "\"value\":\"\""; }
    void reset() override {}
};

std::string storeFile(const std::string& key)
{
    return test_root() + "/home/storage/" + make_storage_id(key);
}

std::vector<int32_t> readIndexFile(const std::string& listPath)
{
    std::string bytes = read_file(storeFile(listPath));
    std::vector<int32_t> index(bytes.size() / 4);
    std::memcpy(index.data(), bytes.data(), index.size() * 4);
    return index;
}

void writeIndexFile(const std::string& listPath, std::vector<int32_t> index)
{
    Storage::open();
    write_file(storeFile(listPath), std::string(reinterpret_cast<const char*>(index.data()), index.size() * 4));
}

std::vector<int> order(NodeList& list)
{
    std::vector<int> result;
    for (int p = 0; p < list.getElementCount(); ++p) result.push_back(list.elementAt(p));
    return result;
}

std::vector<uint8_t> pattern(int size, int seed)
{
    std::vector<uint8_t> data(static_cast<size_t>(size) + 0);
    for (int i = 0; i < size; ++i) data[size_t(i)] = uint8_t(i * 7 + seed);
    return data;
}

struct Calls {
    static inline std::vector<int> positions;
    static void record(Node*, int position) { positions.push_back(position); }
    static inline int layouts = 0;
    static void layout(Node*) { ++layouts; }
};

} // namespace

TEST(NodeList, ElementsNamesAndOrderSurviveARebuildFromTheirFiles)
{
    constexpr int kSize = 64;
    std::vector<uint8_t> clean = pattern(kSize, 1), lead = pattern(kSize, 2);
    {
        Folder root(nullptr, "root");
        NodeList list(&root, "presets", "Presets", "pst_pst", kSize, 4);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(read_file(storeFile("root\\presets:" + std::to_string(i))).size(), size_t(128 + kSize));
        EXPECT_EQ(readIndexFile("root\\presets"), (std::vector<int32_t>{0, 1, 2, 3}));

        list.setElementAt(1, "Clean", clean.data());
        list.setElementAt(3, "Lead", lead.data());
        // Element writes never touch the index file.
        EXPECT_EQ(readIndexFile("root\\presets"), (std::vector<int32_t>{0, 1, 2, 3}));
        std::string file = read_file(storeFile("root\\presets:3"));
        ASSERT_EQ(file.size(), size_t(128 + kSize));
        EXPECT_STREQ(file.c_str(), "Lead");
        EXPECT_EQ(std::memcmp(file.data() + 128, lead.data(), kSize), 0);

        EXPECT_TRUE(list.move(3, 0));
        EXPECT_EQ(readIndexFile("root\\presets"), (std::vector<int32_t>{3, 0, 1, 2}));
        // Reordering never rewrites an element.
        EXPECT_EQ(read_file(storeFile("root\\presets:3")), file);
    }
    Storage::initialized = false;
    Folder root(nullptr, "root");
    NodeList list(&root, "presets", "Presets", "pst_pst", kSize, 4);
    EXPECT_EQ(order(list), (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(list.nameAt(0), "Lead");
    EXPECT_EQ(list.nameAt(2), "Clean");
    EXPECT_TRUE(list.emptyAt(1));
    EXPECT_EQ(list.dataAt(1), nullptr);
    ASSERT_NE(list.dataAt(0), nullptr);
    EXPECT_EQ(std::memcmp(list.dataAt(0), lead.data(), kSize), 0);
    EXPECT_EQ(std::memcmp(list.dataAt(2), clean.data(), kSize), 0);
    EXPECT_EQ(list.getValueJSON(), "\"value\":[\"Lead\",\"\",\"Clean\",\"\"]");
}

TEST(NodeList, BadIndexFileIsRepairedInMemoryWithOneLinePerPosition)
{
    writeIndexFile("root\\l", {0, 0, 5});
    Folder root(nullptr, "root");
    StdoutCapture capture;
    NodeList list(&root, "l", "L", "x", 8, 3);
    std::string log = capture.text();
    EXPECT_EQ(log.find("Repaired index 0"), std::string::npos);
    EXPECT_NE(log.find("ERROR (NodeList): Repaired index 1 with value 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR (NodeList): Repaired index 2 with value 2\n"), std::string::npos) << log;
    EXPECT_EQ(order(list), (std::vector<int>{0, 1, 2}));
    // The file keeps the old content until the next swap or move.
    EXPECT_EQ(readIndexFile("root\\l"), (std::vector<int32_t>{0, 0, 5}));
    EXPECT_TRUE(list.swap(1, 1));
    EXPECT_EQ(readIndexFile("root\\l"), (std::vector<int32_t>{0, 1, 2}));
}

TEST(NodeList, RepairGivesFreeNumbersInAscendingOrderToLaterDuplicates)
{
    writeIndexFile("root\\l", {3, 3, -1, 0});
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 8, 4);
    EXPECT_EQ(order(list), (std::vector<int>{3, 1, 2, 0}));
}

TEST(NodeList, MoveAndSwapReorderPositions)
{
    struct Case {
        int from, to;
        bool ok;
        std::vector<int> result;
    } cases[] = {
        {2, 0, true, {2, 0, 1, 3}}, {0, 2, true, {1, 2, 0, 3}},  {3, 0, true, {3, 0, 1, 2}},
        {1, 1, true, {0, 1, 2, 3}}, {0, 4, false, {0, 1, 2, 3}}, {-1, 0, false, {0, 1, 2, 3}},
    };
    const char* names[] = {"l0", "l1", "l2", "l3", "l4", "l5"};
    Folder root(nullptr, "root");
    int n = 0;
    for (const Case& c : cases) {
        auto list = std::make_unique<NodeList>(&root, names[n++], "L", "x", 8, 4);
        list->setOnLayoutChange(Calls::layout);
        Calls::layouts = 0;
        EXPECT_EQ(list->move(c.from, c.to), c.ok) << c.from << "->" << c.to;
        EXPECT_EQ(order(*list), c.result) << c.from << "->" << c.to;
        EXPECT_EQ(Calls::layouts, c.ok && c.from != c.to ? 1 : 0) << "layout callback, " << c.from << "->" << c.to;
    }
    NodeList list(&root, "s", "S", "x", 8, 3);
    list.setOnLayoutChange(Calls::layout);
    Calls::layouts = 0;
    EXPECT_TRUE(list.swap(0, 2));
    EXPECT_EQ(Calls::layouts, 1);
    EXPECT_EQ(order(list), (std::vector<int>{2, 1, 0}));
    EXPECT_FALSE(list.swap(0, 3));
    EXPECT_EQ(Calls::layouts, 1);
    list.setNameAt(1, "renamed");
    EXPECT_EQ(Calls::layouts, 2) << "a rename changes what the positions show";
}

TEST(NodeList, NamesTheListCannotKeepAreRefusedByEveryWrite)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 16, 3);
    Calls::positions.clear();
    list.setOnDataChange(Calls::record);
    std::vector<uint8_t> data = pattern(16, 3);
    std::string name31(31, 'a'), name32(32, 'b');

    EXPECT_TRUE(list.setElementAt(0, name31, data.data()));
    EXPECT_EQ(list.nameAt(0), name31);
    EXPECT_EQ(list.indexOf(name31), 0);
    EXPECT_TRUE(list.setElementAt(2, "Back\\slash", data.data()));

    struct Case {
        std::string name;
        const char* why;
    } cases[] = {
        {name32, "name too long"},
        {std::string(128, 'c'), "name too long"},
        {"", "no name"},
        {"Say \"hi\"", "name not allowed"},
        {"A\",\"save\":\"save", "name not allowed"},
        {"Two\r\nlines", "name not allowed"},
        {"Tab\there", "name not allowed"},
        {name31, "name taken"},
    };
    const std::string before = read_file(storeFile("root\\l:1"));
    for (const Case& c : cases) {
        EXPECT_STREQ(list.refusal(1, c.name), c.why) << c.name;
        EXPECT_FALSE(list.setElementAt(1, c.name, data.data())) << c.name;
        EXPECT_FALSE(list.setElementAt(1, c.name, nullptr)) << c.name;
        if (!c.name.empty()) {
            EXPECT_FALSE(list.setNameAt(2, c.name)) << c.name;
        }
    }
    EXPECT_EQ(read_file(storeFile("root\\l:1")), before) << "no write";
    EXPECT_TRUE(list.emptyAt(1));
    EXPECT_EQ(list.nameAt(2), "Back\\slash") << "a saved element never vanishes behind a refused name";
    EXPECT_STREQ(list.refusal(3, "Fine"), "no such position");
    EXPECT_EQ(list.refusal(1, "Fine"), nullptr);
    // Refused writes do not report a change.
    EXPECT_EQ(Calls::positions, (std::vector<int>{0, 2}));

    // A file written with a long name (by an older program) reads as empty.
    std::string record(128 + 16, '\0');
    std::memcpy(record.data(), name32.data(), 32);
    write_file(storeFile("root\\m:0"), record);
    NodeList old(&root, "m", "M", "x", 16, 2);
    EXPECT_TRUE(old.emptyAt(0));
    EXPECT_EQ(old.indexOf(name32), -1);
    EXPECT_EQ(old.firstEmpty(), 0);
}

TEST(NodeList, SetElementAtKeepsNamesUniqueAndWritesOnlyChanges)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 16, 3);
    Calls::positions.clear();
    list.setOnDataChange(Calls::record);
    std::vector<uint8_t> a = pattern(16, 1), b = pattern(16, 2);
    list.setElementAt(0, "A", a.data());
    list.setElementAt(1, "B", b.data());
    list.setElementAt(1, "A", a.data()); // held by position 0
    EXPECT_EQ(list.nameAt(1), "B");
    EXPECT_EQ(std::memcmp(list.dataAt(1), b.data(), 16), 0);
    list.setNameAt(1, "A");
    EXPECT_EQ(list.nameAt(1), "B");

    // Same name, same data: no write (the deleted file stays deleted), but the callback runs.
    std::string file = storeFile("root\\l:0");
    ASSERT_EQ(::unlink(file.c_str()), 0);
    int64_t time = list.getTime();
    list.setElementAt(0, "A", a.data());
    struct stat st;
    EXPECT_NE(::stat(file.c_str(), &st), 0);
    EXPECT_GE(list.getTime(), time);
    EXPECT_EQ(Calls::positions.back(), 0);

    // Renaming to "" empties the element; its data stays in the record.
    list.setNameAt(1, "");
    EXPECT_TRUE(list.emptyAt(1));
    std::string record = read_file(storeFile("root\\l:1"));
    EXPECT_EQ(record[0], '\0');
    EXPECT_EQ(std::memcmp(record.data() + 128, b.data(), 16), 0);
    list.setElementAt(1, "C", a.data());
    EXPECT_EQ(list.nameAt(1), "C");

    list.deleteAt(0);
    EXPECT_TRUE(list.emptyAt(0));
    EXPECT_EQ(list.indexOf("A"), -1);
    EXPECT_EQ(list.indexOf(""), -1);
    EXPECT_EQ(list.firstEmpty(), 0);
}

TEST(NodeList, NullDataClaimsANameWithoutReadingOrWriting)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 16, 2);
    std::vector<uint8_t> a = pattern(16, 1);
    list.setElementAt(0, "A", a.data());
    std::string before = read_file(storeFile("root\\l:1"));
    list.setElementAt(1, "New", nullptr);
    EXPECT_EQ(list.nameAt(1), "New");
    EXPECT_EQ(read_file(storeFile("root\\l:1")), before);
    // The element that already bears the name keeps its data.
    list.setElementAt(0, "A", nullptr);
    EXPECT_EQ(std::memcmp(list.dataAt(0), a.data(), 16), 0);
}

TEST(NodeList, NeighboursStopAtTheEnds)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 4, 5);
    uint8_t data[4] = {};
    list.setElementAt(1, "B", data);
    list.setElementAt(2, "C", data);
    list.setElementAt(4, "E", data);
    struct Case {
        const char* name;
        const char* before;
        const char* next;
    } cases[] = {{"B", "B", "C"}, {"C", "B", "E"}, {"E", "C", "E"}, {"X", "B", "B"}, {"", "B", "B"}};
    for (const Case& c : cases) {
        EXPECT_EQ(list.before(c.name), c.before) << c.name;
        EXPECT_EQ(list.next(c.name), c.next) << c.name;
    }
    EXPECT_EQ(list.firstValid(), "B");
    EXPECT_EQ(list.getLastIndex(), 4);
    EXPECT_EQ(list.firstEmpty(), 0);
}

TEST(NodeList, DescriptionAndValueTexts)
{
    Folder root(nullptr, "root");
    NodeList presets(&root, "presets", "Presets", "pst_pst", 16384, 60);
    presets.setGroup(3);
    EXPECT_EQ(presets.getDescription(),
              ",\"size\":16384,\"count\":60,\"group\":3,\"chunk\":128,\"move\":true,\"item_type\":\"pst_pst\"");
    std::string value = presets.getValueJSON();
    EXPECT_EQ(std::count(value.begin(), value.end(), ','), 59);
    EXPECT_EQ(presets.getJSON(DESCRIPTION_FULL).find("root\\presets:{\"desc\":\"Presets\",\"value\":[\"\","), 0u);

    NodeList models(&root, "nam", "NAM list", "nam", 64, 2, 16, true);
    models.setGroup(-4);
    EXPECT_EQ(models.getDescription(),
              ",\"size\":64,\"count\":2,\"group\":0,\"chunk\":16,\"gzip\":true,\"move\":true,\"item_type\":\"nam\"");
    uint8_t data[64] = {};
    models.setElementAt(1, "say \\o/", data);
    EXPECT_EQ(models.getValueJSON(), "\"value\":[\"\",\"say \\\\o/\"]");
    EXPECT_FALSE(models.fromString("[\"x\"]"));
    EXPECT_STREQ(models.getType(), "list");

    NodeList none(&root, "none", "None", "x", 16, 0);
    EXPECT_EQ(none.getValueJSON(), "\"value\":[]");
    EXPECT_TRUE(!none.emptyAt(0) && none.dataAt(0) == nullptr && none.nameAt(0).empty());
    EXPECT_FALSE(none.swap(0, 0));
    none.setElementAt(0, "A", data);
    EXPECT_EQ(none.firstEmpty(), -1);
}
