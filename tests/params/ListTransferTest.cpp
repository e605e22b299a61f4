#include "params/ListTransfer.h"
#include "params/NodeList.h"
#include "params/StorageId.h"
#include "support/TempRoot.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>
#include <zlib.h>

using namespace list_transfer;

namespace {

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

std::string nameBlock(const std::string& name)
{
    uint8_t block[128] = {};
    std::memcpy(block, name.data(), std::min<size_t>(name.size(), 128));
    return to_hex(block, 128);
}

std::string readArg(NodeList& list, int index, int chunk)
{
    return list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk) + "}";
}

std::string writeArg(NodeList& list, int index, int chunk, const std::string& hex)
{
    return list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk) +
           ",\"value\":\"" + hex + "\"}";
}

std::string status(NodeList& list, int index, int chunk)
{
    return list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk) + "}";
}

// The hex value of a "dread" reply.
std::string replyHex(const std::string& reply)
{
    size_t from = reply.find(",\"value\":\"");
    size_t to = reply.rfind("\"}");
    if (from == std::string::npos || to == std::string::npos) return "";
    return reply.substr(from + 10, to - from - 10);
}

std::vector<uint8_t> fromHex(const std::string& hex)
{
    std::vector<uint8_t> bytes(hex.size() / 2);
    from_hex(hex.data(), hex.size(), bytes.data(), false, nullptr);
    return bytes;
}

std::vector<uint8_t> randomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = uint8_t(generator());
    return bytes;
}

// Sends a gzip image as a client does: chunk 0, then chunks of C bytes, the last one ending with
// "gz" and padded to 2 x C digits.
void sendImage(NodeList& list, int index, const std::string& name, const std::vector<uint8_t>& image)
{
    const size_t c = size_t(list.getChunk());
    ASSERT_TRUE(list.parseWriteJSON(writeArg(list, index, 0, nameBlock(name))));
    size_t at = 0;
    int k = 1;
    for (;;) {
        size_t take = std::min(c, image.size() - at);
        std::string hex = to_hex(image.data() + at, take);
        at += take;
        if (take < c) {
            hex += "gz";
            hex.resize(2 * c, '0');
        }
        ASSERT_TRUE(list.parseWriteJSON(writeArg(list, index, k, hex)));
        if (take < c || k == list.getElementSize() / int(c)) break;
        ++k;
    }
}

// Reads an element of a gzip list as a client does: chunk 1 gives the size, then the chunks that
// hold the rest of the image.
std::vector<uint8_t> receiveImage(NodeList& list, int index)
{
    std::string first = list.parseReadJSON(readArg(list, index, 1));
    size_t sizeAt = first.find(",\"size\":");
    if (sizeAt == std::string::npos) return {};
    int size = std::atoi(first.c_str() + sizeAt + 8);
    std::vector<uint8_t> image = fromHex(replyHex(first));
    for (int k = 2; int(image.size()) < size; ++k) {
        std::vector<uint8_t> more = fromHex(replyHex(list.parseReadJSON(readArg(list, index, k))));
        if (more.empty()) return {};
        image.insert(image.end(), more.begin(), more.end());
    }
    image.resize(size_t(size));
    return image;
}

std::vector<uint8_t> inflateAll(const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> out(1 << 22);
    size_t n = gzip_decompress(image.data(), image.size(), out.data(), out.size());
    out.resize(std::min(n, out.size()));
    return out;
}

} // namespace

TEST(ListTransfer, NumbersAndArgumentsParseWithoutExceptions)
{
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"12", true, 12},
        {"  -3}", true, -3},
        {"+7,", true, 7},
        {"0x10", true, 0},
        {"", false, 0},
        {"x1", false, 0},
        {"-", false, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"99999999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(parse_int(c.text, 0, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }

    Request request;
    ASSERT_TRUE(parse_request("root\\l:{\"index\":3,\"chunk\":-1,\"value\":\"ab\"}", Kind::Write, request));
    EXPECT_EQ(request.path, "root\\l");
    EXPECT_EQ(request.index, 3);
    EXPECT_EQ(request.second, -1);
    EXPECT_EQ(request.hex, "ab");
    ASSERT_TRUE(parse_request("root\\l:{\"index\":1,\"index2\":2}", Kind::Pair, request));
    EXPECT_EQ(request.second, 2);
    for (const char* bad :
         {"root\\l{\"index\":1,\"chunk\":2}", "root\\l:{\"index\":1}", "root\\l:{\"index\":,\"chunk\":2}",
          "root\\l:{\"index\":1,\"chunk\":99999999999}", "root\\l:{\"index\":1,\"chunk\":2,\"value\":\"ab"})
        EXPECT_FALSE(parse_request(bad, Kind::Write, request)) << bad;
}

TEST(ListTransfer, HexPairsDecodeOnTheirOwnAndGzEndsAnImage)
{
    struct Case {
        const char* text;
        bool stop;
        std::vector<uint8_t> bytes;
        bool marked;
    } cases[] = {
        {"00ff7F", false, {0x00, 0xff, 0x7f}, false},
        {"a?zz1", false, {0x0a, 0x00}, false},
        {"0102gz0304", true, {0x01, 0x02}, true},
        {"0gz1", true, {0x00, 0x00}, false}, // "gz" only counts at an even offset
        {"0102gz03", false, {0x01, 0x02, 0x00, 0x03}, false},
    };
    for (const Case& c : cases) {
        uint8_t out[8] = {};
        bool marked = false;
        size_t n = from_hex(c.text, std::strlen(c.text), out, c.stop, &marked);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << c.text;
        EXPECT_EQ(marked, c.marked) << c.text;
    }
    uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(to_hex(bytes, 4), "000fa5ff");
}

TEST(ListTransfer, PresetElementTravelsByChunksAndReadsBackIdentical)
{
    Folder root(nullptr, "root");
    NodeList presets(&root, "presets", "Presets", "pst_pst", 16384, 60);
    std::vector<uint8_t> data = randomBytes(16384, 1);

    EXPECT_TRUE(presets.parseWriteJSON(writeArg(presets, 7, 0, nameBlock("Lead"))));
    EXPECT_EQ(presets.writeStatusJSON(), status(presets, 7, 1));
    for (int k = 1; k <= 128; ++k) {
        ASSERT_TRUE(presets.parseWriteJSON(writeArg(presets, 7, k, to_hex(data.data() + (k - 1) * 128, 128))));
        if (k < 128) {
            EXPECT_TRUE(presets.emptyAt(7)) << "stored only at the finish";
        }
    }
    EXPECT_EQ(presets.writeStatusJSON(), "root\\presets:{\"index\":7,\"chunk\":-1}");
    EXPECT_EQ(presets.nameAt(7), "Lead");
    ASSERT_EQ(std::memcmp(presets.dataAt(7), data.data(), 16384), 0);
    EXPECT_EQ(read_file(test_root() + "/home/storage/" + make_storage_id("root\\presets:7")).substr(128),
              std::string(data.begin(), data.end()));

    std::string back;
    for (int k = 1; k <= 128; ++k) {
        std::string reply = presets.parseReadJSON(readArg(presets, 7, k));
        ASSERT_EQ(reply.rfind("dread root\\presets:{\"index\":7,\"chunk\":" + std::to_string(k) + ",\"value\":\"", 0),
                  0u);
        ASSERT_EQ(replyHex(reply).size(), 256u);
        back += replyHex(reply);
    }
    EXPECT_EQ(fromHex(back), data);

    for (int k : {0, 129, -1}) EXPECT_EQ(presets.parseReadJSON(readArg(presets, 7, k)), "") << k;
    EXPECT_EQ(presets.parseReadJSON(readArg(presets, 8, 1)), "") << "empty element";
    EXPECT_EQ(presets.parseReadJSON(readArg(presets, 60, 1)), "");
    EXPECT_EQ(presets.parseReadJSON("root\\other:{\"index\":7,\"chunk\":1}"), "");
}

TEST(ListTransfer, OutOfOrderChunksAbandonAndMalformedRequestsChangeNothing)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 64, 3, 16, false);
    uint8_t old[64];
    std::memset(old, 0x5a, 64);
    list.setElementAt(0, "Old", old);
    const std::string chunk = std::string(32, 'e');

    // 0, 1, 3: abandoned at 3, the element unchanged.
    EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 0, 0, nameBlock("New"))));
    EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 0, 1, chunk)));
    EXPECT_EQ(list.writeStatusJSON(), status(list, 0, 2));
    EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 0, 3, chunk)));
    EXPECT_EQ(list.writeStatusJSON(), status(list, -1, -1));
    EXPECT_EQ(list.nameAt(0), "Old");

    // Resending an accepted chunk abandons too; so does another index.
    list.parseWriteJSON(writeArg(list, 0, 0, nameBlock("New")));
    list.parseWriteJSON(writeArg(list, 0, 1, chunk));
    EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 0, 1, chunk)));
    EXPECT_EQ(list.writeStatusJSON(), status(list, -1, -1));
    list.parseWriteJSON(writeArg(list, 0, 0, nameBlock("New")));
    EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 1, 1, chunk)));
    EXPECT_EQ(list.writeStatusJSON(), status(list, -1, -1));

    // Malformed: refused with the status unchanged, so the client may resend.
    list.parseWriteJSON(writeArg(list, 0, 0, nameBlock("New")));
    const std::string expecting = status(list, 0, 1);
    const std::string bad[] = {
        writeArg(list, 0, 1, chunk + "0"),
        writeArg(list, 0, 0, nameBlock("X") + "00"),
        writeArg(list, 3, 1, chunk),
        writeArg(list, 0, 5, chunk),
        writeArg(list, 0, -2, nameBlock("X")),
        "root\\l:{\"index\":zero,\"chunk\":1,\"value\":\"" + chunk + "\"}",
        "root\\l:{\"index\":0,\"chunk\":4294967297,\"value\":\"" + chunk + "\"}",
        "root\\m:{\"index\":0,\"chunk\":1,\"value\":\"" + chunk + "\"}",
        "root\\l:{\"index\":0,\"chunk\":1}",
    };
    for (const std::string& request : bad) {
        EXPECT_FALSE(list.parseWriteJSON(request)) << request;
        EXPECT_EQ(list.writeStatusJSON(), expecting) << request;
    }
    for (int k = 1; k <= 4; ++k) EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 0, k, chunk)));
    EXPECT_EQ(list.nameAt(0), "New");
    EXPECT_EQ(list.dataAt(0)[63], 0xee);
}

TEST(ListTransfer, ATransferBelongsToTheWriterThatOpenedIt)
{
    constexpr uint64_t kOwner = 7, kStranger = 8;
    const std::string mine(32, 'a');
    const struct {
        const char* what;
        int64_t hold; // how long after its last chunk the owner's transfer keeps the list
        int chunk; // the stranger's, after the owner's chunk 1
        bool taken;
    } cases[] = {
        {"a data chunk", NodeList::kTransferHold, 2, false},
        {"a data chunk to an owner gone quiet", 0, 2, false},
        {"a name block while the owner is active", NodeList::kTransferHold, 0, false},
        {"a rename while the owner is active", NodeList::kTransferHold, -1, false},
        {"a name block once the owner has gone quiet", 0, 0, true},
        {"a rename once the owner has gone quiet", 0, -1, true},
    };
    for (const auto& c : cases) {
        Folder root(nullptr, "root");
        NodeList list(&root, "l", "L", "x", 48, 3, 16, false);
        list.setTransferHold(c.hold);
        list.deleteAt(0); // stored by an earlier case
        list.setElementAt(1, "Kept", std::vector<uint8_t>(48, 1).data());
        list.parseWriteJSON(writeArg(list, 0, 0, nameBlock("Mine")), kOwner);
        list.parseWriteJSON(writeArg(list, 0, 1, mine), kOwner);
        const std::string hex = c.chunk > 0 ? std::string(32, 'b') : nameBlock("Theirs");
        EXPECT_EQ(list.parseWriteJSON(writeArg(list, c.chunk > 0 ? 0 : 1, c.chunk, hex), kStranger), c.taken) << c.what;
        EXPECT_EQ(list.writeStatusJSON(), c.taken ? status(list, 1, c.chunk ? -1 : 1) : status(list, 0, 2)) << c.what;
        // The owner goes on; once a stranger has taken the list over, the owner is the stranger.
        for (int k = 2; k <= 3; ++k)
            EXPECT_EQ(list.parseWriteJSON(writeArg(list, 0, k, mine), kOwner), !c.taken) << c.what;
        EXPECT_TRUE(c.taken ? list.emptyAt(0) : list.nameAt(0) == "Mine" && list.dataAt(0)[47] == 0xaa) << c.what;
        EXPECT_EQ(list.nameAt(1), c.taken && c.chunk < 0 ? "Theirs" : "Kept") << c.what;
    }
}

TEST(ListTransfer, RefusedWritesAndRenamesSayWhyAndLeaveTheElement)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 32, 4, 16, false);
    uint8_t data[32] = {1, 2, 3};
    const std::string chunk(32, '1');
    auto refused = [&](int index, const char* why) {
        return list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":-2,\"error\":\"" + why + "\"}";
    };
    struct Case {
        const char* what;
        std::string name;
        const char* why;
    } cases[] = {
        {"a name that the element could not show", std::string(39, 'n'), "name too long"},
        {"a block without a NUL", std::string(128, 'n'), "name too long"},
        {"no name", "", "no name"},
        {"a name held by another position", "A", "name taken"},
        {"the save marker", "Lead\",\"save\":\"save", "name not allowed"},
        {"a line break", "Two\r\nLines", "name not allowed"},
        {"a line feed", "Two\nLines", "name not allowed"},
    };
    for (const Case& c : cases) {
        list.setElementAt(0, "A", data);
        list.setElementAt(1, "B", data);
        list.deleteAt(2);
        const std::string before = read_file(test_root() + "/home/storage/" + make_storage_id("root\\l:1"));

        // A write is refused at its name block, before any data is sent; the chunks that follow are
        // out of order.
        EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 2, 0, nameBlock(c.name)))) << c.what;
        EXPECT_EQ(list.writeStatusJSON(), refused(2, c.why)) << c.what;
        EXPECT_FALSE(list.parseWriteJSON(writeArg(list, 2, 1, chunk + "0"))) << c.what;
        EXPECT_EQ(list.writeStatusJSON(), refused(2, c.why)) << "a malformed request repeats the refusal";
        EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 2, 1, chunk))) << c.what;
        EXPECT_EQ(list.writeStatusJSON(), status(list, -1, -1)) << c.what;
        EXPECT_TRUE(list.emptyAt(2)) << c.what;

        // A rename is refused the same way; renaming to no name deletes, so it has its own row.
        if (!c.name.empty()) {
            EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 1, -1, nameBlock(c.name)))) << c.what;
            EXPECT_EQ(list.writeStatusJSON(), refused(1, c.why)) << c.what;
            EXPECT_EQ(list.nameAt(1), "B") << c.what;
            EXPECT_EQ(read_file(test_root() + "/home/storage/" + make_storage_id("root\\l:1")), before) << c.what;
        }
    }

    // The name is checked again at the finish: another writer may have taken it meanwhile.
    list.parseWriteJSON(writeArg(list, 2, 0, nameBlock("C")));
    list.parseWriteJSON(writeArg(list, 2, 1, chunk));
    list.setElementAt(3, "C", data);
    EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 2, 2, chunk)));
    EXPECT_EQ(list.writeStatusJSON(), refused(2, "name taken"));
    EXPECT_TRUE(list.emptyAt(2));

    // Renames that are kept answer as before: the element's own name, a new one, no name (deleted).
    for (const char* name : {"B", "Bee", ""}) {
        EXPECT_TRUE(list.parseWriteJSON(writeArg(list, 1, -1, nameBlock(name)))) << name;
        EXPECT_EQ(list.writeStatusJSON(), status(list, 1, -1)) << name;
        EXPECT_EQ(list.nameAt(1), name);
    }
    EXPECT_EQ(list.dataAt(0)[2], 3);
}

TEST(ListTransfer, EachNameBlockStartsFromAClearNameArea)
{
    Folder root(nullptr, "root");
    NodeList models(&root, "nam", "NAM list", "nam", 4096, 2, 1024, true);
    std::vector<uint8_t> content(4096, 'm'), image;
    ASSERT_TRUE(gzip_compress(content.data(), content.size(), image));
    sendImage(models, 0, "LongModelName", image);
    ASSERT_EQ(models.nameAt(0), "LongModelName");
    // A client that ends the name block with the end mark sends no NUL after the name.
    std::string block = "4142gz";
    block.resize(256, '0');
    ASSERT_TRUE(models.parseWriteJSON(writeArg(models, 1, 0, block)));
    std::string hex = to_hex(image.data(), image.size()) + "gz";
    hex.resize(2048, '0');
    ASSERT_TRUE(models.parseWriteJSON(writeArg(models, 1, 1, hex)));
    EXPECT_EQ(models.writeStatusJSON(), status(models, 1, -1));
    EXPECT_EQ(models.nameAt(1), "AB");
    ASSERT_TRUE(models.parseWriteJSON(writeArg(models, 0, -1, block)));
    EXPECT_EQ(models.writeStatusJSON(), "root\\nam:{\"index\":0,\"chunk\":-2,\"error\":\"name taken\"}")
        << "AB is position 1's";
}

TEST(ListTransfer, SwapAndMoveRequests)
{
    Folder root(nullptr, "root");
    NodeList list(&root, "l", "L", "x", 8, 4);
    Folder hidden(&root, "_h");
    NodeList locked(&hidden, "_locked", "L", "x", 8, 2);
    EXPECT_TRUE(list.parseMoveJSON("root\\l:{\"index\":2,\"index2\":0}"));
    EXPECT_EQ(list.elementAt(0), 2);
    EXPECT_TRUE(list.parseSwapJSON("root\\l:{\"index\":0,\"index2\":3}"));
    EXPECT_EQ(list.elementAt(0), 3);
    EXPECT_TRUE(list.parseSwapJSON("root\\l:{\"index\":1,\"index2\":1}"));
    for (const char* bad :
         {"root\\l:{\"index\":0,\"index2\":4}", "root\\l:{\"index\":0}", "root\\x:{\"index\":0,\"index2\":1}",
          "root\\l:{\"index\":a,\"index2\":1}", "root\\l:{\"index\":0,\"index2\":99999999999}"}) {
        EXPECT_FALSE(list.parseSwapJSON(bad)) << bad;
        EXPECT_FALSE(list.parseMoveJSON(bad)) << bad;
    }
    EXPECT_FALSE(locked.parseSwapJSON("root\\_h\\_locked:{\"index\":0,\"index2\":1}"));
    EXPECT_FALSE(locked.parseWriteJSON(writeArg(locked, 0, 0, nameBlock("A"))));
}

TEST(ListTransfer, GzipModelElementTravelsCompressedAndReadsBackIdentical)
{
    Folder root(nullptr, "root");
    NodeList models(&root, "nam_amp", "NAM list", "nam", 524288, 2, 1024, true);
    // Model files are text: compressible, not trivially so.
    std::string text;
    std::mt19937 generator(5);
    while (text.size() < 300000)
        text += std::to_string(generator() % 100000) + ",-0.0" + std::to_string(generator() % 997) + ",";
    std::vector<uint8_t> content(524288, 0);
    std::memcpy(content.data(), text.data(), text.size());
    std::vector<uint8_t> image;
    ASSERT_TRUE(gzip_compress(content.data(), content.size(), image));
    ASSERT_GT(image.size(), 1024u);
    ASSERT_NE(image.size() % 1024, 0u);

    sendImage(models, 1, "Plexi", image);
    EXPECT_EQ(models.writeStatusJSON(), status(models, 1, -1));
    EXPECT_EQ(models.nameAt(1), "Plexi");
    ASSERT_EQ(std::memcmp(models.dataAt(1), content.data(), content.size()), 0);

    std::string first = models.parseReadJSON(readArg(models, 1, 1));
    EXPECT_EQ(first.find("dread root\\nam_amp:{\"index\":1,\"size\":"), 0u);
    std::vector<uint8_t> back = receiveImage(models, 1);
    EXPECT_EQ(inflateAll(back), content);
    // Past the image the chunks hold zeros.
    int last = int(back.size() / 1024) + 1;
    std::string tail = replyHex(models.parseReadJSON(readArg(models, 1, last + 1)));
    EXPECT_EQ(tail, std::string(2048, '0'));
}

TEST(ListTransfer, LaterChunksComeOnlyFromTheImageOfTheirElement)
{
    Folder root(nullptr, "root");
    NodeList models(&root, "nam", "NAM list", "nam", 8192, 3, 1024, true);
    std::vector<uint8_t> a(8192, 'a'), b(8192, 0);
    for (int i = 0; i < 8192; ++i) b[size_t(i)] = uint8_t(i % 251 < 100 ? i % 7 : 'b');
    models.setElementAt(0, "A", a.data());
    models.setElementAt(1, "B", b.data());

    EXPECT_EQ(models.parseReadJSON(readArg(models, 1, 2)), "") << "no image made yet";
    ASSERT_NE(models.parseReadJSON(readArg(models, 1, 1)), "");
    EXPECT_NE(models.parseReadJSON(readArg(models, 1, 2)), "");
    EXPECT_EQ(models.parseReadJSON(readArg(models, 0, 2)), "") << "the image is B's";
    // Any change to the list drops the image.
    models.swap(0, 1);
    EXPECT_EQ(models.parseReadJSON(readArg(models, 0, 2)), "");
    EXPECT_EQ(models.parseReadJSON(readArg(models, 1, 2)), "");
    ASSERT_NE(models.parseReadJSON(readArg(models, 0, 1)), "");
    models.setElementAt(2, "C", a.data());
    EXPECT_EQ(models.parseReadJSON(readArg(models, 0, 2)), "");
    EXPECT_EQ(inflateAll(receiveImage(models, 0)), b);
}

TEST(ListTransfer, HostileGzipImagesAreRefusedWithinBounds)
{
    Folder root(nullptr, "root");
    NodeList models(&root, "nam", "NAM list", "nam", 4096, 3, 1024, true);
    std::vector<uint8_t> old(4096, 0x33);
    models.setElementAt(0, "Old", old.data());
    const std::string refusedAt0 = "root\\nam:{\"index\":0,\"chunk\":-2,\"error\":";

    // An empty image: the first chunk begins with the end mark; the write finishes at once.
    ASSERT_TRUE(models.parseWriteJSON(writeArg(models, 0, 0, nameBlock("Empty"))));
    std::string hex = "gz" + std::string(2046, '0');
    ASSERT_TRUE(models.parseWriteJSON(writeArg(models, 0, 1, hex)));
    EXPECT_EQ(models.writeStatusJSON(), refusedAt0 + "\"image corrupt\"}");

    // A cut image: what came out before the cut is no model.
    std::vector<uint8_t> content(4096, 0), image;
    for (int i = 0; i < 2000; ++i) content[size_t(i)] = uint8_t('a' + i % 26);
    ASSERT_TRUE(gzip_compress(content.data(), content.size(), image));
    image.resize(image.size() / 2);
    sendImage(models, 0, "Cut", image);
    EXPECT_EQ(models.writeStatusJSON(), refusedAt0 + "\"image corrupt\"}");
    EXPECT_EQ(models.nameAt(0), "Old");
    EXPECT_EQ(std::vector<uint8_t>(models.dataAt(0), models.dataAt(0) + 4096), old);

    // A bomb: 32 MB of zeros in a 32 kB image. Decompression stops just past the element size.
    NodeList big(&root, "big", "NAM list", "nam", 65536, 1, 1024, true);
    std::vector<uint8_t> zeros(32u << 20, 0), bomb;
    ASSERT_TRUE(gzip_compress(zeros.data(), zeros.size(), bomb));
    zeros = {};
    ASSERT_LT(bomb.size(), 65536u);
    std::vector<uint8_t> before(65536, 0x44);
    big.setElementAt(0, "Before", before.data());
    sendImage(big, 0, "Bomb", bomb);
    EXPECT_EQ(big.writeStatusJSON(), "root\\big:{\"index\":0,\"chunk\":-2,\"error\":\"image too large\"}");
    EXPECT_EQ(big.nameAt(0), "Before");
    EXPECT_EQ(std::vector<uint8_t>(big.dataAt(0), big.dataAt(0) + 65536), before);
    std::vector<uint8_t> out(4096);
    EXPECT_EQ(gzip_decompress(bomb.data(), bomb.size(), out.data(), out.size()), 4097u);

    // Content of exactly the element size is whole, even when the end of the stream comes after
    // the last output byte.
    bool ended = false;
    std::vector<uint8_t> full(4096, 'f'), fullImage;
    ASSERT_TRUE(gzip_compress(full.data(), full.size(), fullImage));
    EXPECT_EQ(gzip_decompress(fullImage.data(), fullImage.size(), out.data(), out.size(), &ended), 4096u);
    EXPECT_TRUE(ended);
    sendImage(models, 2, "Full", fullImage);
    EXPECT_EQ(models.writeStatusJSON(), status(models, 2, -1));
    EXPECT_EQ(std::vector<uint8_t>(models.dataAt(2), models.dataAt(2) + 4096), full);

    // An incompressible element's image does not fit the buffer: its read is refused.
    std::vector<uint8_t> noise = randomBytes(4096, 9);
    models.setElementAt(2, "Noise", noise.data());
    EXPECT_EQ(models.parseReadJSON(readArg(models, 2, 1)), "");
    EXPECT_EQ(models.parseReadJSON(readArg(models, 2, 2)), "");
    EXPECT_NE(models.parseReadJSON(readArg(models, 0, 1)), "");
}

TEST(ListTransfer, CompressedImageIsAStandardGzipStream)
{
    std::vector<uint8_t> content(20000);
    for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t("model weights "[i % 14]);
    std::vector<uint8_t> image;
    ASSERT_TRUE(gzip_compress(content.data(), content.size(), image));
    ASSERT_GE(image.size(), 18u);
    EXPECT_EQ(image[0], 0x1f);
    EXPECT_EQ(image[1], 0x8b);
    // zlib's own reader agrees.
    std::vector<uint8_t> back(content.size());
    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 31), Z_OK);
    stream.next_in = image.data();
    stream.avail_in = uInt(image.size());
    stream.next_out = back.data();
    stream.avail_out = uInt(back.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    inflateEnd(&stream);
    EXPECT_EQ(back, content);
    // A zlib-wrapped image is accepted too.
    std::vector<uint8_t> wrapped(compressBound(uLong(content.size())));
    uLongf length = uLongf(wrapped.size());
    ASSERT_EQ(compress(wrapped.data(), &length, content.data(), uLong(content.size())), Z_OK);
    std::vector<uint8_t> out(content.size());
    EXPECT_EQ(gzip_decompress(wrapped.data(), length, out.data(), out.size()), content.size());
    EXPECT_EQ(out, content);
}

TEST(ListTransfer, TheUnitsListShapesHaveTheirChunkRanges)
{
    struct Shape {
        const char* name;
        int size, count, chunk;
        bool gzip;
        int lastChunk;
    } shapes[] = {
        {"presets", 16384, 60, 128, false, 128},
        {"ir_list", 8192, 50, 128, false, 64},
        {"nam_drive", 524288, 2, 1024, true, 512}, // two of the fifty elements: the rest only costs time
    };
    Folder root(nullptr, "root");
    for (const Shape& s : shapes) {
        NodeList list(&root, s.name, s.name, "x", s.size, s.count, s.chunk, s.gzip);
        std::vector<uint8_t> data = randomBytes(size_t(s.size), 3);
        // Text-like content, so that the gzip image fits its buffer.
        if (s.gzip)
            for (uint8_t& b : data) b = uint8_t('0' + b % 10);
        list.setElementAt(1, "E", data.data());
        if (s.gzip) {
            ASSERT_NE(list.parseReadJSON(readArg(list, 1, 1)), "");
        }
        std::string last = list.parseReadJSON(readArg(list, 1, s.lastChunk));
        ASSERT_NE(last, "") << s.name;
        EXPECT_EQ(replyHex(last).size(), size_t(2 * s.chunk)) << s.name;
        if (!s.gzip) {
            EXPECT_EQ(fromHex(replyHex(last)), std::vector<uint8_t>(data.end() - s.chunk, data.end())) << s.name;
        } else {
            EXPECT_EQ(replyHex(last), std::string(size_t(2 * s.chunk), '0')) << "past the image";
        }
        EXPECT_EQ(list.parseReadJSON(readArg(list, 1, s.lastChunk + 1)), "") << s.name;
        EXPECT_FALSE(list.parseWriteJSON(writeArg(list, 1, s.lastChunk + 1, std::string(size_t(2 * s.chunk), '0'))));
    }
}
