// Array nodes: the two-byte text encodings, editing, reading and the stored image.
#include "params/NodeArray.h"
#include "params/NodeItem.h"
#include "params/Storage.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

int notified = 0;
void countNotify(Node*)
{
    ++notified;
}

NodeArray* make(int maxLength, float min, float max, int decimals = 1, const char* encoding = NodeArray::EncB2D1,
                const char* unit = "")
{
    auto* node = keep(new NodeArray(nullptr, "arr", "Array", maxLength, min, max, unit, decimals, encoding));
    node->setOnChange(countNotify);
    return node;
}

std::string bytes(std::initializer_list<int> list)
{
    std::string text;
    for (int b : list) text += char(b);
    return text;
}

std::vector<float> values(const NodeArray* node)
{
    std::vector<float> result;
    for (int k = 0; k < node->getLength(); ++k) result.push_back(node->getValueAt(k));
    return result;
}

} // namespace

TEST(NodeArray, EncodesTwoBytesPerValue)
{
    struct Case {
        const char* encoding;
        float min, max, value;
        std::string text;
    } cases[] = {
        {"b2d1", -100, 100, -12.3f, bytes({0xFB, 0xC0})},
        {"b2d0", -1000, 1000, 200, bytes({0xC8, 0x81})},
        {"b2d0", -1000, 1000, 0, bytes({0x80, 0x80})},
        {"b2d0", -1000, 1000, -1, bytes({0x81, 0xC0})},
        {"b2d0", -1000, 1000, 2.5f, bytes({0x83, 0x80})}, // halves away from zero
        {"b2d0", -1000, 1000, -2.5f, bytes({0x83, 0xC0})},
        {"b2d1", -100, 100, -0.04f, bytes({0x80, 0x80})}, // rounds to zero: no sign
        {"b2d0", -1000, 250, 300, bytes({0xFA, 0x81})}, // clamped to the range first
        {"b2d0", -20000, 20000, 9000, bytes({0xFF, 0xBF})}, // more than 13 bits: the largest magnitude
        {"b2d0", -20000, 20000, 8191, bytes({0xFF, 0xBF})},
        {"b2d9", -100, 100, 1, ""},
    };
    for (const auto& c : cases) {
        auto* node = make(4, c.min, c.max, 1, c.encoding);
        ASSERT_TRUE(node->setValueAt(c.value, 0));
        EXPECT_EQ(node->encode(), c.text) << c.encoding << " " << c.value;
        EXPECT_EQ(node->getValueJSON(), "\"value\":\"" + c.text + "\"");
    }
}

TEST(NodeArray, DecodesAllOrNothing)
{
    struct Case {
        const char* name;
        std::string text;
        bool result;
        std::vector<float> after;
        const char* log;
    } cases[] = {
        {"two values", bytes({0xFB, 0xC0, 0x85, 0x80}), true, {-12.3f, 0.5f}, ""},
        {"empty", "", true, {}, ""},
        {"three into two", bytes({0x81, 0x80, 0x82, 0x80, 0x83, 0x80}), true, {0.1f, 0.2f}, ""},
        {"odd size", bytes({0x81, 0x80, 0x82}), false, {1.0f}, "ERROR (NodeArray): wrong item size = 3\n"},
        {"low byte", bytes({0x81, 0x80, 0x82, 0x10}), false, {1.0f}, "ERROR (NodeArray): wrong item at index = 3\n"},
    };
    for (const auto& c : cases) {
        auto* node = make(2, -100, 100);
        node->setValueAt(1.0f, 0);
        StdoutCapture out;
        EXPECT_EQ(node->decode(c.text), c.result) << c.name;
        EXPECT_EQ(out.text(), c.log) << c.name;
        std::vector<float> got = values(node);
        ASSERT_EQ(got.size(), c.after.size()) << c.name;
        for (size_t k = 0; k < got.size(); ++k) EXPECT_FLOAT_EQ(got[k], c.after[k]) << c.name;
    }
    // Round trip through the remote text form, whole numbers.
    auto* whole = make(8, -5000, 5000, 0, NodeArray::EncB2D0);
    for (int k = 0; k < 6; ++k) whole->setValueAt(float(k * 997 - 2500), k);
    auto* other = make(8, -5000, 5000, 0, NodeArray::EncB2D0);
    std::string quoted = whole->encode();
    quoted.insert(quoted.begin(), '"');
    quoted.push_back('"');
    EXPECT_TRUE(other->fromString(quoted));
    EXPECT_EQ(values(other), values(whole));
    EXPECT_FALSE(other->fromString(whole->encode()));
    EXPECT_FALSE(make(2, 0, 1, 1, "raw")->decode(""));
}

TEST(NodeArray, LengthAndValues)
{
    auto* node = make(4, 0, 10);
    notified = 0;
    EXPECT_FALSE(node->setLength(5));
    EXPECT_FALSE(node->setLength(-1));
    EXPECT_FALSE(node->setValueAt(1, 4));
    EXPECT_FALSE(node->setValueAt(1, -1));
    EXPECT_FALSE(node->setValueAt(std::nanf(""), 0));
    EXPECT_EQ(notified, 0);
    EXPECT_TRUE(node->setValueAt(12, 2)); // beyond the length: it grows; stored unclamped
    EXPECT_EQ(node->getLength(), 3);
    EXPECT_EQ(notified, 2);
    EXPECT_EQ(node->getValueAt(2), 10.0f);
    EXPECT_EQ(node->getValueAt(3), 0.0f);
    EXPECT_EQ(node->toString(), "3");
    EXPECT_TRUE(node->setValueAt(12, 2));
    EXPECT_EQ(notified, 2);

    // reset empties the row but keeps the values behind it.
    node->setValueAt(4, 0);
    node->reset();
    EXPECT_EQ(node->getLength(), 0);
    EXPECT_EQ(node->getValueAt(0), 0.0f);
    EXPECT_TRUE(node->setLength(3));
    EXPECT_EQ(values(node), (std::vector<float>{4, 0, 10}));
}

TEST(NodeArray, Interpolation)
{
    auto* node = make(8, -10, 10);
    EXPECT_EQ(node->getInterpolatedValueAt(0.5f), 0.0f);
    for (float v : {2.0f, 4.0f, 20.0f}) node->setValueAt(v, node->getLength());
    struct Case {
        float x, y;
    } cases[] = {{-3, 2}, {0, 2}, {0.25f, 2.5f}, {1.5f, 7}, {2, 10}, {2.7f, 10}, {1e12f, 10}, {std::nanf(""), 2}};
    for (const auto& c : cases) EXPECT_FLOAT_EQ(node->getInterpolatedValueAt(c.x), c.y) << c.x;
}

TEST(NodeArray, KnobStepsAndTexts)
{
    struct Case {
        int decimals;
        const char* unit;
        float start;
        bool up;
        float after;
        const char* text;
    } cases[] = {
        {1, "dB", 1.0f, true, 1.1f, "1.1 dB"}, {2, "", 1.0f, false, 0.99f, "0.99"},
        {0, "Hz", 5.0f, true, 6.0f, "6 Hz"},   {-1, "dB", 1.5f, true, 11.5f, "11.50 dB"},
        {0, "", 100.0f, true, 100.0f, "100"}, // the clamped value plus the step is stored, read clamped
    };
    for (const auto& c : cases) {
        auto* node = make(4, -100, 100, c.decimals, NodeArray::EncB2D1, c.unit);
        node->setValueAt(c.start, 0);
        node->editAt(0, c.up);
        EXPECT_NEAR(node->getValueAt(0), c.after, 1e-5) << c.decimals;
        EXPECT_EQ(node->toStringAt(0), c.text) << c.decimals;
        EXPECT_EQ(node->toStringAt(1), "");
    }
    auto* node = make(4, -100, 100, 1);
    node->editAt(2, false); // past the length: grows, starts from zero
    EXPECT_EQ(node->getLength(), 3);
    EXPECT_FLOAT_EQ(node->getValueAt(2), -0.1f);
    notified = 0;
    node->editAt(4, true);
    node->editAt(-1, true);
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(make(2, 0, 5, -1, NodeArray::EncB2D1, "dB")->toStringAt(0), "");
    auto* shown = make(2, 0, 5, -1, NodeArray::EncB2D1, "dB");
    shown->setValueAt(1.5f, 0);
    EXPECT_EQ(shown->toStringAt(0), "1.50 dB");
}

TEST(NodeArray, Copy)
{
    auto* source = make(4, 0, 5);
    for (float v : {1.0f, 9.0f, 3.0f}) source->setValueAt(v, source->getLength());
    auto* target = make(4, -100, 100);
    target->setValueAt(-50, 3);
    target->copy(source);
    EXPECT_EQ(values(target), (std::vector<float>{1, 5, 3})); // clamped to the source's range

    auto* other = make(3, 0, 5);
    StdoutCapture out;
    other->copy(source);
    EXPECT_EQ(out.text(), "ERROR (NodeArray): source must have the same size\n");
    EXPECT_EQ(other->getLength(), 0);

    // A copy onto itself keeps the row.
    source->copy(source);
    EXPECT_EQ(values(source), (std::vector<float>{1, 5, 3}));
}

TEST(NodeArray, FragmentAndDescription)
{
    auto* root = keep(new NodeArray(nullptr, "root", "", 0, 0, 1, "", 0, NodeArray::EncB2D0));
    auto* node = keep(new NodeArray(root, "eq", "Curve", 4, -12, 12, "dB", 1, NodeArray::EncB2D1, 20, 10, "Hz"));
    node->setValueAt(-12.3f, 0);
    EXPECT_EQ(node->getJSON(DESCRIPTION_FULL), "root\\eq:{\"desc\":\"Curve\",\"value\":\"" + bytes({0xF8, 0xC0}) +
                                                   "\",\"type\":\"array\",\"min\":-12.000000,\"max\":12.000000,"
                                                   "\"enc\":\"b2d1\",\"unit\":\"dB\",\"dec\":1}");
    // Written back, a fragment gives the same row; its bytes are no UTF-8, which only an array takes.
    const std::string fragment = node->getJSON(DESCRIPTION_VALUE);
    auto* text = new NodeItem(root, "t", "T", "", ItemType::STRING);
    const struct {
        const char* what;
        std::string line;
        bool taken;
    } writes[] = {
        {"its own fragment", fragment, true},
        {"the bytes escaped", R"(root\eq:{"value":"\u00f8\u00c0"})", true},
        {"a character beyond a byte", R"(root\eq:{"value":"\u0100\u00c0"})", false},
        {"a text node", "root\\t:{\"value\":\"" + bytes({0xF8, 0xC0}) + "\"}", false},
    };
    for (const auto& w : writes) {
        node->reset();
        text->setValue("kept");
        EXPECT_EQ(root->parseJSON(w.line), w.taken) << w.what;
        EXPECT_EQ(node->getJSON(DESCRIPTION_VALUE), w.taken ? fragment : std::string("root\\eq:{\"value\":\"\"}"))
            << w.what;
        EXPECT_EQ(text->getText(), "kept") << w.what;
        // What the remote echo rests on.
        EXPECT_EQ(node->holdsWritten(w.line, w.taken), w.taken) << w.what;
    }
    auto* plain = keep(new NodeArray(root, "p", "P", 2, 0, 1, "", 9, NodeArray::EncB2D0));
    EXPECT_EQ(plain->getDescription(), ",\"min\":0.000000,\"max\":1.000000,\"enc\":\"b2d0\",\"unit\":\"\"");
    EXPECT_EQ(node->getXStart(), 20.0f);
    EXPECT_EQ(node->getXStep(), 10.0f);
    EXPECT_STREQ(node->getXUnit(), "Hz");
    EXPECT_EQ(plain->getXStep(), 1.0f);
}

TEST(NodeArray, StoredImage)
{
    auto* node = keep(new NodeArray(nullptr, "a", "A", 3, 0, 10, "", 1, NodeArray::EncB2D1));
    node->setValueAt(2.5f, 1);
    Storage::addItem(node);
    std::string file = read_file(test_root() + "/home/storage/" + node->getStorageId());
    ASSERT_EQ(file.size(), 16u);
    int32_t length;
    float second;
    std::memcpy(&length, file.data(), 4);
    std::memcpy(&second, file.data() + 8, 4);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(second, 2.5f);

    // A file with a length beyond the row (another size, a damaged file) loads with a sane length.
    auto* loaded = keep(new NodeArray(nullptr, "b", "B", 3, 0, 10, "", 1, NodeArray::EncB2D1));
    loaded->createId();
    uint32_t image[4] = {1000, 0, 0, 0};
    float v = 7.0f;
    std::memcpy(&image[3], &v, 4);
    ASSERT_EQ(nvs_set_blob(0, loaded->getStorageId(), image, sizeof image), 0);
    EXPECT_TRUE(Storage::addItem(loaded));
    EXPECT_EQ(loaded->getLength(), 3);
    EXPECT_EQ(loaded->getValueAt(2), 7.0f);
    EXPECT_EQ(loaded->getValueAt(3), 0.0f);
}
