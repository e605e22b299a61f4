// The MIDI mappings: control change onto floats and enums, program change onto a list, the timing
// clock tempo, and their value texts and stored images.
#include "params/NodeControlMidiCC.h"
#include "params/NodeControlMidiPC.h"
#include "params/NodeControlMidiTempo.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodeParList.h"
#include "params/Source.h"
#include "params/Storage.h"
#include "porting/Nvs.h"

#include "KeepNode.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

int changes = 0;
void countChange(Node*)
{
    ++changes;
}

// The application's channel selector: options "0" to "15".
NodeEnum* channelSelector(const char* value)
{
    static const std::vector<std::string> numbers = [] {
        std::vector<std::string> texts;
        for (int i = 0; i < 16; ++i) texts.push_back(std::to_string(i));
        return texts;
    }();
    std::vector<const char*> options;
    for (const std::string& n : numbers) options.push_back(n.c_str());
    return keep(new NodeEnum(nullptr, "midi_a", "MIDI Address", options, value));
}

NodeEnum* oneBasedSelector(const char* value)
{
    static const std::vector<std::string> numbers = [] {
        std::vector<std::string> texts;
        for (int i = 1; i <= 16; ++i) texts.push_back(std::to_string(i));
        return texts;
    }();
    std::vector<const char*> options;
    for (const std::string& n : numbers) options.push_back(n.c_str());
    return keep(new NodeEnum(nullptr, "ch", "Channel", options, value));
}

void send(Source& source, std::vector<unsigned char> bytes)
{
    source.send(bytes.data(), int(bytes.size()));
}

// Writes a raw stored image for a node before it is enlisted.
void storeImage(Storable* item, const void* bytes, size_t size)
{
    item->createId();
    Storage::open();
    ASSERT_EQ(nvs_set_blob(Storage::handle, item->getStorageId(), bytes, size), 0);
}

class ClockedTempo : public NodeControlMidiTempo {
public:
    using NodeControlMidiTempo::NodeControlMidiTempo;
    uint64_t time = 0;

protected:
    uint64_t now() override { return time; }
};

} // namespace

TEST(NodeControlMidi, ControlChangeMatchesNumberStatusLengthAndChannel)
{
    Source midi("midi", "MIDI");
    auto* level = keep(new NodeFloat(nullptr, "lvl", "Level", 0, 10, 5, "", 0.5f, false));
    auto* oneBased = oneBasedSelector("1");
    auto* zeroBased = channelSelector("1");
    auto* cc = keep(new NodeControlMidiCC(nullptr, "cc", "CC", level, 7, oneBased));
    auto* ccZero = keep(new NodeControlMidiCC(nullptr, "cc0", "CC", nullptr, 9, zeroBased));
    (void)ccZero;
    auto* noChannel = keep(new NodeControlMidiCC(nullptr, "cc1", "CC", level, 8, nullptr));
    (void)noChannel;

    struct Case {
        std::vector<unsigned char> bytes;
        bool drives;
    } cases[] = {
        {{0xB0, 0x07, 0x7F}, true}, // channel 0 is "1" on a 1..16 selector
        {{0xB1, 0x07, 0x7F}, false}, // other channel
        {{0xB0, 0x06, 0x7F}, false}, // other number
        {{0xB0, 0x87, 0x7F}, true}, // number masked to 7 bits
        {{0x90, 0x07, 0x7F}, false}, // note on
        {{0xB0, 0x07}, false}, // short
        {{0xB0, 0x07, 0x7F, 0x00}, false}, // long
        {{0xB0, 0x08, 0x7F}, false}, // number 8 has no channel selector
    };
    for (const Case& c : cases) {
        level->setValue(5);
        send(midi, c.bytes);
        EXPECT_EQ(level->getValue(), c.drives ? 10.0f : 5.0f) << int(c.bytes[0]) << " " << int(c.bytes[1]);
    }
    // 0..15 selector at "1": channel 1 itself.
    auto* other = keep(new NodeFloat(nullptr, "o", "O", 0, 10, 5, "", 0.5f, false));
    auto* ccOther = keep(new NodeControlMidiCC(nullptr, "cc2", "CC", other, 9, zeroBased));
    (void)ccOther;
    send(midi, {0xB0, 0x09, 0x00});
    EXPECT_EQ(other->getValue(), 5.0f);
    send(midi, {0xB1, 0x09, 0x00});
    EXPECT_EQ(other->getValue(), 0.0f);
    EXPECT_EQ(cc->getNumber(), 7);
}

TEST(NodeControlMidi, ControlChangeDrivesFloatsThroughTaperAndStepsEnums)
{
    Source midi("midi", "MIDI");
    auto* channel = channelSelector("0");
    auto* level = keep(new NodeFloat(nullptr, "lvl", "Level", 0, 10, 5, "", 0.5f, false));
    auto* freq = keep(new NodeFloat(nullptr, "frq", "Freq", 20, 20000, 1000, "Hz", 0.2f, false));
    auto* mode = keep(new NodeEnum(nullptr, "mode", "Mode", {"A", "B", "C"}, "B"));
    auto* on = keep(new NodeOnOff(nullptr, "on", "On", "OFF"));
    auto* name = keep(new NodeItem(nullptr, "name", "Name", "x", ItemType::STRING));
    keep(new NodeControlMidiCC(nullptr, "c1", "CC", level, 1, channel));
    keep(new NodeControlMidiCC(nullptr, "c2", "CC", freq, 2, channel));
    keep(new NodeControlMidiCC(nullptr, "c3", "CC", mode, 3, channel));
    keep(new NodeControlMidiCC(nullptr, "c4", "CC", on, 4, channel));
    keep(new NodeControlMidiCC(nullptr, "c5", "CC", name, 5, channel));
    keep(new NodeControlMidiCC(nullptr, "c6", "CC", nullptr, 6, channel));

    struct FloatCase {
        unsigned char number, value;
        NodeFloat* node;
        float expected;
    } floats[] = {{1, 127, level, 10.0f},
                  {1, 0, level, 0.0f},
                  {1, 64, level, 640.0f / 127.0f},
                  {2, 0, freq, 20.0f},
                  {2, 127, freq, 20000.0f}};
    for (const FloatCase& c : floats) {
        send(midi, {0xB0, c.number, c.value});
        EXPECT_NEAR(c.node->getValue(), c.expected, std::fabs(c.expected) * 1e-4f + 1e-4f) << int(c.value);
    }
    // The middle of a tapered range follows the taper: 20 + 19980 x 0.2 at position 0.5.
    send(midi, {0xB0, 2, 64});
    EXPECT_NEAR(freq->toSlider(), 64.0f / 127.0f, 1e-4f);

    struct EnumCase {
        unsigned char number, value;
        NodeEnum* node;
        const char* expected;
    } enums[] = {{3, 127, mode, "A"}, {3, 0, mode, "C"},  {3, 64, mode, "B"}, {3, 84, mode, "B"},
                 {3, 85, mode, "A"},  {3, 41, mode, "C"}, {3, 42, mode, "B"}, {4, 64, on, "ON"},
                 {4, 63, on, "OFF"},  {4, 127, on, "ON"}, {4, 0, on, "OFF"}};
    for (const EnumCase& c : enums) {
        send(midi, {0xB0, c.number, c.value});
        EXPECT_STREQ(c.node->getValueText(), c.expected) << int(c.number) << " " << int(c.value);
    }
    // Items are not driven; a mapping without target ignores its messages.
    send(midi, {0xB0, 5, 0});
    send(midi, {0xB0, 6, 0});
    EXPECT_EQ(name->getText(), "x");
}

TEST(NodeControlMidi, ControlChangeNumberTextStorageAndReset)
{
    auto* cc = keep(new NodeControlMidiCC(nullptr, "cc", "CC", nullptr, 7, nullptr));
    cc->setOnChange(countChange);
    changes = 0;
    struct Case {
        const char* text;
        bool accepted;
        int number;
    } cases[] = {{"20", true, 20},    {"0", true, 0},        {"127", true, 127},         {"128", false, 127},
                 {"-1", false, 127},  {"abc", false, 127},   {"12x", false, 127},        {"", false, 127},
                 {"1.5", false, 127}, {"\"5\"", false, 127}, {"99999999999", false, 127}};
    int expectedChanges = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(cc->fromString(c.text), c.accepted) << c.text;
        if (c.accepted) ++expectedChanges;
        EXPECT_EQ(cc->getNumber(), c.number) << c.text;
        EXPECT_EQ(changes, expectedChanges) << c.text;
    }
    EXPECT_EQ(cc->toString(), "127");
    EXPECT_EQ(cc->getValueJSON(), "\"value\":127");
    cc->reset();
    EXPECT_EQ(cc->getNumber(), 7);
    EXPECT_EQ(changes, expectedChanges + 1);

    int size = 0;
    int* image = static_cast<int*>(cc->getStorageData(&size));
    ASSERT_EQ(size, 4);
    EXPECT_EQ(*image, 7);

    // A stored number is loaded; one that could never match is replaced by the default.
    auto* stored = keep(new NodeControlMidiCC(nullptr, "st", "CC", nullptr, 3, nullptr));
    int number = 42;
    storeImage(stored, &number, sizeof number);
    Storage::addItem(stored);
    EXPECT_EQ(stored->getNumber(), 42);
    auto* broken = keep(new NodeControlMidiCC(nullptr, "br", "CC", nullptr, 3, nullptr));
    number = 300;
    storeImage(broken, &number, sizeof number);
    Storage::addItem(broken);
    EXPECT_EQ(broken->getNumber(), 3);
}

namespace {

struct PresetList {
    NodeItem root{nullptr, "root", "Root", "", ItemType::SYSTEM};
    NodeList list{&root, "presets", "Presets", "pst_pst", 16, 3};
    NodeParList select{&root, "preset", "Preset", "", &list};
    uint8_t data[16] = {1};

    PresetList()
    {
        list.setElementAt(1, "B", data);
        list.setElementAt(2, "C", data);
        // Element 0 holds data but no name.
        list.setElementAt(0, "", data);
    }
};

} // namespace

TEST(NodeControlMidi, ProgramChangeSelectsTheFirstMatchingNamedElement)
{
    Source midi("midi", "MIDI");
    PresetList presets;
    auto* channel = channelSelector("2");
    auto* pc = keep(new NodeControlMidiPC(nullptr, "cpst", "Midi PC", &presets.select, 0, channel));
    ASSERT_EQ(pc->getCount(), 3);
    EXPECT_EQ(pc->toString(), "[0,1,2]");
    ASSERT_TRUE(pc->fromString("[5,-1,7]"));

    struct Case {
        std::vector<unsigned char> bytes;
        const char* selected;
    } cases[] = {
        {{0xC2, 7}, "C"}, // program 7 is element 2
        {{0xC2, 6}, "C"}, // no entry
        {{0xC2, 5}, "C"}, // element 0 has no name
        {{0xC3, 7}, "C"}, // other channel
        {{0xC2, 7, 0}, "C"}, // long
        {{0xB2, 7}, "C"}, // not a program change
    };
    for (const Case& c : cases) {
        send(midi, c.bytes);
        EXPECT_EQ(presets.select.getValue(), c.selected) << int(c.bytes[0]) << " " << int(c.bytes[1]);
    }
    ASSERT_TRUE(pc->fromString("[3,1,1]"));
    send(midi, {0xC2, 1});
    EXPECT_EQ(presets.select.getValue(), "B"); // the first matching entry wins
    send(midi, {0xC2, 3});
    EXPECT_EQ(presets.select.getValue(), "B");
}

TEST(NodeControlMidi, ProgramTableTextIsExactAndAlwaysAnnounced)
{
    PresetList presets;
    auto* pc = keep(new NodeControlMidiPC(nullptr, "cpst", "Midi PC", &presets.select, 10, nullptr));
    pc->setOnChange(countChange);
    changes = 0;
    struct Case {
        const char* text;
        bool accepted;
        const char* table;
    } cases[] = {
        {"[1,2,3]", true, "[1,2,3]"},
        {"[1,2]", false, "[1,2,3]"},
        {"[4,5,6,7]", false, "[1,2,3]"},
        {"[4,,6]", false, "[1,2,3]"},
        {"[4,5,6,]", false, "[1,2,3]"},
        {"[4,5,x]", false, "[1,2,3]"},
        {"[4,5,6]]", false, "[1,2,3]"},
        {"[4,5,6]x]", false, "[1,2,3]"},
        {" [4,5,6]", false, "[1,2,3]"},
        {"[4, 5,6]", false, "[1,2,3]"},
        {"[4,5,99999999999]", false, "[1,2,3]"},
        {"\"[4,5,6]\"", false, "[1,2,3]"},
        {"", false, "[1,2,3]"},
        {"[-1,127,-1]", true, "[-1,127,-1]"},
    };
    int expectedChanges = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(pc->fromString(c.text), c.accepted) << c.text;
        EXPECT_EQ(pc->toString(), c.table) << c.text;
        EXPECT_EQ(changes, ++expectedChanges) << c.text;
    }
    EXPECT_EQ(pc->getValueJSON(), "\"value\":[-1,127,-1]");
    pc->reset();
    EXPECT_EQ(pc->toString(), "[10,11,12]");

    auto* none = keep(new NodeControlMidiPC(nullptr, "none", "Midi PC", &presets.select, -1, nullptr));
    EXPECT_EQ(none->toString(), "[-1,-1,-1]");

    // The stored image is the table; stored entries outside 0..127 mean "none".
    int size = 0;
    pc->getStorageData(&size);
    EXPECT_EQ(size, 12);
    auto* stored = keep(new NodeControlMidiPC(nullptr, "stored", "Midi PC", &presets.select, 0, nullptr));
    int table[3] = {200, 5, -7};
    storeImage(stored, table, sizeof table);
    Storage::addItem(stored);
    EXPECT_EQ(stored->toString(), "[-1,5,-1]");
}

TEST(NodeControlMidi, ProgramMappingWithoutListHasEmptyTable)
{
    Source midi("midi", "MIDI");
    auto* pc = keep(new NodeControlMidiPC(nullptr, "cpst", "Midi PC", nullptr, 0, channelSelector("0")));
    EXPECT_EQ(pc->getCount(), 0);
    EXPECT_EQ(pc->toString(), "[]");
    EXPECT_FALSE(pc->fromString("[]"));
    int size = -1;
    EXPECT_EQ(pc->getStorageData(&size), nullptr);
    EXPECT_EQ(size, 0);
    send(midi, {0xC0, 0}); // nothing to select, nothing breaks
    EXPECT_EQ(pc->getEntry(0), -1);
}

TEST(NodeControlMidi, ClockMeasuresTempoAndRestartsAfterGap)
{
    Source midi("midi", "MIDI");
    auto* tempo = keep(new ClockedTempo(nullptr, "ck", "Clock", nullptr));
    tempo->setOnChange(countChange);
    changes = 0;
    uint64_t t = 10000000;
    auto clock = [&](uint64_t step) {
        t += step;
        tempo->time = t;
        send(midi, {0xF8});
    };
    clock(0);
    clock(600000); // a clock after a pause only starts the measurement
    int clocks = 0;
    while (tempo->getTempo() == 0.0f && clocks < 200) {
        clock(20833); // 120 BPM
        ++clocks;
    }
    EXPECT_NEAR(tempo->getTempo(), 120.0f, 0.1f);
    EXPECT_GT(clocks * 20833, 2000000);
    EXPECT_LT(clocks * 20833, 2100000);
    EXPECT_EQ(changes, 1);

    // Other messages are ignored; a gap over 0.5 s starts again.
    send(midi, {0xFA});
    send(midi, {0xF8, 0xF8});
    for (int i = 0; i < 60; ++i) clock(10417); // 240 BPM for a little over 0.6 s
    clock(600000);
    for (int i = 0; i < 100; ++i) clock(31250); // 80 BPM
    EXPECT_NEAR(tempo->getTempo(), 80.0f, 0.1f);

    EXPECT_EQ(tempo->toString(), "80.000000");
    EXPECT_EQ(tempo->getValueJSON(), "\"value\":80.000000");
    struct Case {
        const char* text;
        bool accepted;
        float value;
    } cases[] = {{"100.5", true, 100.5f}, {"abc", false, 100.5f}, {"90x", false, 100.5f}, {"", false, 100.5f},
                 {"inf", false, 100.5f},  {"nan", false, 100.5f}, {"60", true, 60.0f}};
    for (const Case& c : cases) {
        EXPECT_EQ(tempo->fromString(c.text), c.accepted) << c.text;
        EXPECT_EQ(tempo->getTempo(), c.value) << c.text;
    }
    tempo->reset();
    EXPECT_EQ(tempo->getTempo(), 0.0f);
}
