#include "params/NodePreset.h"
#include "params/NodeControlMidiPC.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/Source.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "porting/Task.h"
#include "support/TempRoot.h"

#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

const std::string kSave = PRESET_SAVE_SUFFIX;

// The application's shape: the preset list under the root, the preset selector as the first child
// of the application node, then the blocks; "settings" travels with no preset.
struct Tree {
    NodeItem root{nullptr, "root", "Root", "", ItemType::SYSTEM};
    NodeList presets{&root, "presets", "Presets", "pst_pst", 16384, 60};
    NodeItem app{&root, "app", "App", "", ItemType::SYSTEM};
    NodePreset preset{&app, "preset", "Preset", "", &presets};
    NodeItem gate{&app, "gate", "Gate", "", ItemType::HFOLDER};
    NodeFloat tempo{&app, "tmp", "Tempo", 30, 240, 120, "BPM", 0.5f, false, 1};
    NodeItem settings{&app, "settings", "Settings", "", ItemType::SFOLDER};
    NodeOnOff gateOn{&gate, "Enable", "OFF"};
    NodeFloat threshold{&gate, "thr", "Threshold", -60, 0, -40, "dB", 0.5f, false};
    NodeFloat bright{&settings, "bright", "Brightness", 0, 100, 50, "%", 0.5f, false};

    Tree() { preset.addIgnoreNode(&settings); }

    void setValues(float bpm, const char* on, float thr, float light)
    {
        tempo.setValue(bpm);
        gateOn.setValue(on);
        threshold.setValue(thr);
        bright.setValue(light);
    }
    void expectValues(float bpm, const char* on, float thr, float light, const char* where)
    {
        EXPECT_EQ(tempo.getValue(), bpm) << where;
        EXPECT_STREQ(gateOn.getValueText(), on) << where;
        EXPECT_EQ(threshold.getValue(), thr) << where;
        EXPECT_EQ(bright.getValue(), light) << where;
    }
};

std::string elementText(NodeList& list, int position)
{
    const char* data = reinterpret_cast<const char*>(list.dataAt(position));
    return data ? std::string(data, strnlen(data, size_t(list.getElementSize()))) : std::string("<empty>");
}

std::string numbered(const char* prefix, int i)
{
    std::string text = prefix;
    text += std::to_string(i);
    return text;
}

// Lets the microsecond clock move on, so that a change lands after the last notification.
void tick()
{
    vTaskDelay(5);
}

} // namespace

TEST(NodePreset, SaveChangeLoadBringsTheValuesBack)
{
    Tree t;
    t.setValues(125, "ON", -20, 70);
    EXPECT_FALSE(t.preset.setValue("Lead" + kSave));
    ASSERT_EQ(t.presets.indexOf("Lead"), 0);
    EXPECT_EQ(t.preset.getValue(), "Lead");
    EXPECT_EQ(elementText(t.presets, 0),
              "root\\app\\gate:{\"value\":\"\"}\r\n"
              "root\\app\\tmp:{\"value\":125.000000}\r\n"
              "root\\app\\gate\\on_off:{\"value\":\"ON\"}\r\n"
              "root\\app\\gate\\thr:{\"value\":-20.000000}");
    EXPECT_FALSE(t.preset.isEdited());

    tick();
    t.setValues(90, "OFF", -50, 10);
    EXPECT_TRUE(t.preset.isEdited());
    EXPECT_TRUE(t.preset.setValue("Lead"));
    t.expectValues(125, "ON", -20, 10, "the ignored node keeps its value");
    EXPECT_FALSE(t.preset.isEdited());

    // Loading a name that is not there clears the selection and changes nothing else.
    EXPECT_FALSE(t.preset.setValue("Nope"));
    EXPECT_EQ(t.preset.getValue(), "");
    t.expectValues(125, "ON", -20, 10, "after a failed load");
}

TEST(NodePreset, NodesWithoutALineReturnToTheirDefaults)
{
    Tree t;
    t.setValues(200, "ON", -10, 80);
    char text[] =
        "root\\app\\gate\\thr:{\"value\":-33.000000}\r\n"
        "root\\app\\settings\\bright:{\"value\":1.000000}\r\n"
        "root\\app\\gone:{\"value\":1.000000}";
    t.preset.setPresetAt(4, "Partial", text);
    EXPECT_TRUE(t.preset.setByIndex(4));
    EXPECT_EQ(t.preset.getValue(), "Partial");
    t.expectValues(120, "OFF", -33, 80, "defaults, the stored line, the ignored node untouched");
}

TEST(NodePreset, EditedMarkFollowsCoveredNodesOnly)
{
    Tree t;
    t.preset.setValue("Clean" + kSave);
    EXPECT_FALSE(t.preset.isEdited());
    tick();
    t.bright.setValue(99);
    EXPECT_FALSE(t.preset.isEdited());
    t.gateOn.setValue("ON");
    EXPECT_TRUE(t.preset.isEdited());
    t.preset.setValue(kSave); // saves under the current selection
    EXPECT_FALSE(t.preset.isEdited());
    EXPECT_EQ(t.presets.indexOf("Clean"), 0);
    EXPECT_NE(elementText(t.presets, 0).find("on_off:{\"value\":\"ON\"}"), std::string::npos);
}

TEST(NodePreset, SaveTargetsTheNamedThenTheFirstEmptyPositionAndNeverAFullList)
{
    Tree t;
    uint8_t blank[16384] = {};
    t.presets.setElementAt(0, "A", blank);
    t.presets.setElementAt(5, "Lead", blank);
    t.tempo.setValue(150);
    t.preset.setValue("Lead" + kSave);
    EXPECT_NE(elementText(t.presets, 5).find("tmp:{\"value\":150.000000}"), std::string::npos);
    t.preset.setValue("Rhythm" + kSave);
    EXPECT_EQ(t.presets.indexOf("Rhythm"), 1);

    // The marker alone with no selection, and the preset list full: nothing happens.
    t.preset.setValue("Gone");
    EXPECT_FALSE(t.preset.setValue(kSave));
    for (int p = 0; p < 60; ++p)
        if (t.presets.emptyAt(p)) t.presets.setElementAt(p, numbered("P", p), blank);
    ASSERT_EQ(t.presets.firstEmpty(), -1);
    EXPECT_FALSE(t.preset.setValue("New" + kSave));
    EXPECT_EQ(t.presets.indexOf("New"), -1);
    EXPECT_EQ(t.preset.getValue(), "");

    // A name the list could not keep is refused too, rather than selecting nothing stored.
    t.presets.deleteAt(7);
    for (std::string name : {std::string(32, 'x'), std::string("Say \"hi\""), std::string("A") + kSave}) {
        EXPECT_FALSE(t.preset.setValue(name + kSave)) << name;
        EXPECT_TRUE(t.presets.emptyAt(7)) << name;
        EXPECT_EQ(t.preset.getValue(), "") << name;
    }
    EXPECT_EQ(t.presets.indexOf("A"), 0);

    // saveAs with no name: the element's own name, or "new preset" for an empty one.
    t.preset.saveAs(7, "");
    EXPECT_EQ(t.presets.nameAt(7), "new preset");
    t.preset.saveAs(5, "");
    EXPECT_EQ(t.presets.nameAt(5), "Lead");
    EXPECT_FALSE(t.preset.setByIndex(60));
}

TEST(NodePreset, RemoteWriteSavesWithTheSaveMemberAndLoadsWithout)
{
    Tree t;
    t.threshold.setValue(-12);
    EXPECT_TRUE(t.root.parseJSON("root\\app\\preset:{\"value\":\"Lead\",\"save\":\"save\"}"));
    EXPECT_EQ(t.presets.indexOf("Lead"), 0);
    t.threshold.setValue(-55);
    EXPECT_TRUE(t.root.parseJSON("root\\app\\preset:{\"value\":\"Lead\"}"));
    EXPECT_EQ(t.threshold.getValue(), -12);
    EXPECT_EQ(t.preset.getJSON(DESCRIPTION_VALUE), "root\\app\\preset:{\"value\":\"Lead\"}");
    EXPECT_TRUE(t.preset.isEditable());
}

TEST(NodePreset, ALineForTheSelectorItselfIsNeverApplied)
{
    Tree t;
    uint8_t blank[16384] = {};
    t.presets.setElementAt(0, "Other", blank);
    char text[] =
        "root\\app\\preset:{\"value\":\"Other\"}\r\n"
        "root\\app\\preset:{\"value\":\"Loop\"}\r\n"
        "root\\app\\tmp:{\"value\":99.000000}";
    t.preset.setPresetAt(1, "Loop", text);
    EXPECT_TRUE(t.preset.setValue("Loop"));
    EXPECT_EQ(t.preset.getValue(), "Loop");
    EXPECT_EQ(t.tempo.getValue(), 99);
}

TEST(NodePreset, LongTextsAreCutAtTheirLastCompleteLine)
{
    Tree t;
    std::deque<std::string> names;
    std::vector<std::unique_ptr<NodeFloat>> many;
    NodeItem folder(&t.app, "many", "Many", "", ItemType::VFOLDER);
    for (int i = 0; i < 500; ++i) {
        names.push_back(numbered("n", i));
        many.push_back(std::make_unique<NodeFloat>(&folder, names.back().c_str(), "N", 0, 100, 0, "", 0.5f, false));
        many.back()->setValue(float(i % 100) + 0.5f);
    }
    std::string full = t.preset.presetToString();
    ASSERT_GT(full.size(), 16383u);
    t.preset.setValue("Big" + kSave);
    std::string stored = elementText(t.presets, 0);
    EXPECT_LE(stored.size(), 16383u);
    EXPECT_EQ(full.compare(0, stored.size() + 2, stored + "\r\n"), 0) << "ends at a whole line";

    for (auto& node : many) node->setValue(7);
    t.preset.setValue("Big");
    int restored = 0;
    for (int i = 0; i < 500; ++i) {
        float expected = float(i % 100) + 0.5f;
        if (many[size_t(i)]->getValue() == expected) ++restored;
        else ASSERT_EQ(many[size_t(i)]->getValue(), 0.0f) << "past the cut: default";
    }
    EXPECT_GT(restored, 300);
    EXPECT_LT(restored, 500);

    // A full element written by an older program ends in a half line, which is not applied.
    const std::string head = "root\\app\\many\\n1:{\"value\":3.000000}\r\nroot\\app\\gate:{\"value\":\"";
    const std::string tail = "\"}\r\nroot\\app\\tmp:{\"value\":200.000000}\r\nroot\\app\\gate\\thr:{\"value\":-1";
    // Padded by a line for no node: an item keeps no text longer than storage can hold.
    const std::string pad = std::string(100, 'f') + "\"}\r\nroot\\app\\pad:{\"value\":\"";
    std::string text = head + pad;
    text.append(16383 - text.size() - tail.size(), 'f');
    text += tail;
    ASSERT_EQ(text.size(), 16383u);
    std::vector<char> raw(16384, 0);
    std::memcpy(raw.data(), text.data(), text.size());
    t.presets.setElementAt(1, "Old", raw.data());
    t.threshold.setValue(-5);
    t.preset.setValue("Old");
    EXPECT_EQ(many[1]->getValue(), 3.0f);
    EXPECT_EQ(t.tempo.getValue(), 200.0f);
    EXPECT_EQ(t.gate.getText(), std::string(100, 'f'));
    EXPECT_EQ(t.threshold.getValue(), -40.0f) << "the half line is skipped and the node reset";
}

TEST(NodePreset, StoredSelectionIsLoadedAgainAtStartUp)
{
    {
        Tree t;
        t.setValues(140, "ON", -25, 50);
        t.preset.setValue("Lead" + kSave);
        Storage::addItem(&t.preset);
    }
    Storage::items.clear();
    Tree t;
    t.expectValues(120, "OFF", -40, 50, "before");
    Storage::addItem(&t.preset);
    EXPECT_EQ(t.preset.getValue(), "Lead");
    t.expectValues(140, "ON", -25, 50, "after");
}

TEST(NodePreset, SelectionsMadeFromTheListOnlyEverLoad)
{
    // An element that an older program let a client name with the save marker in it.
    const std::string trap = "Lead" + kSave;
    const std::string trapText = "root\\app\\tmp:{\"value\":99.000000}";
    std::string record(128 + 16384, '\0');
    std::memcpy(record.data(), trap.data(), trap.size());
    std::memcpy(record.data() + 128, trapText.data(), trapText.size());
    Storage::open();
    write_file(test_root() + "/home/storage/" + make_storage_id("root\\presets:1"), record);

    Source midi("midi", "MIDI");
    Tree t;
    NodeEnum channel(&t.root, "ch", "Channel", {"1", "2"}, "1");
    NodeControlMidiPC pc(&t.root, "cpst", "Midi PC", &t.preset, 0, &channel);
    ASSERT_EQ(t.presets.nameAt(1), trap);
    t.tempo.setValue(150);
    t.preset.setValue("Lead" + kSave);
    ASSERT_EQ(t.presets.indexOf("Lead"), 0);
    const std::string lead = elementText(t.presets, 0);

    struct Way {
        const char* what;
        std::function<void()> select;
    } ways[] = {
        {"footswitch", [&] { t.preset.setByIndex(1); }},
        {"knob step",
         [&] {
             t.preset.select("Lead");
             t.tempo.setValue(120);
             t.preset.edit(true);
         }},
        {"program change",
         [&] {
             unsigned char bytes[2] = {0xC0, 1};
             midi.send(bytes, 2);
         }},
        {"remote write of the escaped name",
         [&] { t.root.parseJSON("root\\app\\preset:{\"value\":\"Lead\\\",\\\"save\\\":\\\"save\"}"); }},
        {"list screen", [&] { t.preset.select(trap); }},
    };
    for (const Way& way : ways) {
        t.tempo.setValue(130);
        way.select();
        EXPECT_EQ(t.preset.getValue(), trap) << way.what;
        EXPECT_EQ(t.tempo.getValue(), 99.0f) << way.what;
        EXPECT_EQ(elementText(t.presets, 0), lead) << way.what << ": Lead was not overwritten";
        t.preset.select("Lead");
    }

    // Start-up with that selection stored loads it too.
    t.preset.select(trap);
    Storage::addItem(&t.preset);
    Storage::items.clear();
    Tree again;
    Storage::addItem(&again.preset);
    EXPECT_EQ(again.preset.getValue(), trap);
    EXPECT_EQ(again.tempo.getValue(), 99.0f);
    EXPECT_EQ(elementText(again.presets, 0), lead);
}

TEST(NodePreset, ARenamedSelectionStaysSelectedAcrossARestart)
{
    {
        Tree t;
        Storage::addItem(&t.preset);
        t.setValues(140, "ON", -25, 50);
        t.preset.setValue("Lead" + kSave);
        tick();
        t.threshold.setValue(-30);
        ASSERT_TRUE(t.preset.isEdited());
        t.presets.setNameAt(0, "Solo");
        EXPECT_EQ(t.preset.getValue(), "Solo");
        EXPECT_TRUE(t.preset.isEdited()) << "the edits were not saved by the rename";
        EXPECT_EQ(t.threshold.getValue(), -30.0f) << "nor lost";
        // The storage cycle writes the new selection.
        for (int i = 0; i < 60; ++i) Storage::tasks();
    }
    Storage::items.clear();
    Storage::it = 0;
    Tree t;
    Storage::addItem(&t.preset);
    EXPECT_EQ(t.preset.getValue(), "Solo");
    t.expectValues(140, "ON", -25, 50, "the renamed preset, loaded");
}
