// The multi-controller: its settings nodes, source selection, learning a CC number and driving the
// linked parameters between their limits.
#include "params/NodeControlMulti.h"
#include "params/Control.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeLink.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "params/Source.h"
#include "params/Storage.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

NodeEnum* channelSelector()
{
    return keep(new NodeEnum(nullptr, "midi_a", "MIDI Address", {"0", "1", "2", "3"}, "0"));
}

std::vector<std::string> childKeys(Node* folder)
{
    std::vector<std::string> keys;
    for (Node* child : folder->getChildren()) keys.push_back(child->getName());
    return keys;
}

void send(Source& source, std::vector<unsigned char> bytes)
{
    source.send(bytes.data(), int(bytes.size()));
}

bool enlisted(Storable* item)
{
    return std::find(Storage::items.begin(), Storage::items.end(), item) != Storage::items.end();
}

// The application's shape: parameters under root\app, controllers under root, settings in a folder.
struct Tree {
    NodeItem root{nullptr, "root", "", "", ItemType::SYSTEM};
    NodeItem app{&root, "app", "Application", "", ItemType::SYSTEM};
    NodeItem delay{&app, "delay", "Delay", "", ItemType::HFOLDER};
    NodeFloat mix{&delay, "mix", "Mix", 0, 10, 5, "", 0.5f, false};
    NodeFloat time{&delay, "time", "Time", 0, 100, 50, "ms", 0.5f, false};
    NodeEnum mode{&delay, "mode", "Mode", {"A", "B"}, "A"};
    NodeItem ctl{&app, "ctl1", "Controller 1", "mctrl", ItemType::MODULE};

    Tree()
    {
        mix.setLinkable(true);
        time.setLinkable(true);
        mode.setLinkable(true);
    }
};

} // namespace

TEST(NodeControlMulti, BuildsSettingsForEverySource)
{
    Source midi("midi", "MIDI");
    Source ctrl("ctrl", "Ctrl");
    Tree t;
    Storage::open();
    StdoutCapture out;
    auto* multi = keep(new NodeControlMulti(&t.root, "multi1", "Control", channelSelector(), &t.ctl, nullptr, 3));
    std::string log = out.text();
    EXPECT_EQ(log,
              "I (NodeControlMulti): multi1 - detected source ctrl Ctrl\n"
              "I (NodeControlMulti): multi1 - detected source midi MIDI CC\n");

    EXPECT_EQ(childKeys(&t.ctl),
              (std::vector<std::string>{"src", "lrn", "opt1_address", "_st", "lnk1", "lnk2", "lnk3"}));
    EXPECT_EQ(multi->getMidiIndex(), 1);
    EXPECT_EQ(multi->getSourceSelector()->getDescription(), ",\"def\":\"MIDI CC\",\"options\":[\"Ctrl\",\"MIDI CC\"]");
    EXPECT_STREQ(multi->getSourceSelector()->getValueText(), "MIDI CC");
    EXPECT_STREQ(multi->getLearn()->getValueText(), "OFF");
    EXPECT_EQ(multi->getAddress()->getJSON(DESCRIPTION_FULL),
              "root\\app\\ctl1\\opt1_address:{\"desc\":\"Address\",\"value\":32.000000,\"type\":\"float\","
              "\"min\":32.000000,\"max\":127.000000,\"def\":32.000000,\"unit\":\"\",\"shape\":0.500000,\"inv\":0,"
              "\"dec\":0}");
    EXPECT_EQ(multi->getStatus()->toString(), "0.0 %");
    Node* link2 = t.ctl.childrenAt(5);
    EXPECT_STREQ(link2->getDisplayName(), "Link 2");
    EXPECT_STREQ(static_cast<NodeItem*>(link2)->getItemType(), "vfolder_tc");
    EXPECT_EQ(childKeys(link2), (std::vector<std::string>{"min", "max", "lnk"}));
    EXPECT_EQ(multi->getLinks()[1].max->getValue(), 100.0f);
    EXPECT_STREQ(multi->getLinks()[1].param->getDisplayName(), "Param");

    // Without a preset node the selection, the address and the link settings are stored.
    EXPECT_TRUE(enlisted(multi->getSourceSelector()));
    EXPECT_TRUE(enlisted(multi->getAddress()));
    EXPECT_TRUE(enlisted(multi->getLinks()[2].param));
    EXPECT_FALSE(enlisted(multi->getLearn()));

    // The node's own value is empty, and a client can still parse it.
    EXPECT_EQ(multi->getJSON(DESCRIPTION_VALUE), "root\\multi1:{\"value\":\"\"}");
    EXPECT_EQ(multi->getDescription(), ",\"src\":\"\"");
    EXPECT_TRUE(multi->fromString("anything"));
    EXPECT_EQ(multi->toString(), "");
    int size = -1;
    EXPECT_EQ(multi->getStorageData(&size), nullptr);
    EXPECT_EQ(size, 0);
}

TEST(NodeControlMulti, OnlyAnalogSourceOrNone)
{
    Tree t;
    StdoutCapture out;
    auto* none = keep(new NodeControlMulti(&t.root, "multi0", "Control", channelSelector(), &t.ctl, nullptr, 3));
    EXPECT_EQ(out.text(), "ERROR (NodeControlMulti): No detected source\n");
    EXPECT_TRUE(t.ctl.isLeaf());
    unsigned char level[1] = {200};
    none->fromSource("ctrl", level, 1); // nothing to drive, nothing breaks

    Source ctrl("ctrl", "Ctrl");
    NodeItem folder{&t.app, "ctl2", "Controller 2", "mctrl", ItemType::MODULE};
    auto* multi = keep(new NodeControlMulti(&t.root, "multi2", "Control", channelSelector(), &folder, nullptr, 1));
    EXPECT_EQ(childKeys(&folder), (std::vector<std::string>{"src", "lrn", "_st", "lnk1"}));
    EXPECT_EQ(multi->getAddress(), nullptr);
    EXPECT_EQ(multi->getSourceSelector()->getDescription(), ",\"def\":\"Ctrl\",\"options\":[\"Ctrl\"]");

    // Without a settings folder the children go under the controller's parent.
    NodeItem parent{&t.root, "p", "P", "", ItemType::MODULE};
    keep(new NodeControlMulti(&parent, "multi3", "Control", channelSelector(), nullptr, nullptr, 0));
    EXPECT_EQ(childKeys(&parent), (std::vector<std::string>{"multi3", "src", "lrn", "_st"}));
}

TEST(NodeControlMulti, AnalogLevelDrivesLinksBetweenTheirLimits)
{
    Source midi("midi", "MIDI");
    Source ctrl("ctrl", "Ctrl");
    Tree t;
    auto* multi = keep(new NodeControlMulti(&t.root, "multi1", "Control", channelSelector(), &t.ctl, nullptr, 4));
    multi->getSourceSelector()->setValue("Ctrl");
    const auto& links = multi->getLinks();
    links[0].min->setValue(20);
    links[0].max->setValue(80);
    links[0].param->setValue("root\\\\app\\\\delay\\\\mix");
    links[1].min->setValue(90); // reversed
    links[1].max->setValue(10);
    links[1].param->setValue("root\\app\\delay\\time");
    links[2].param->setValue("root\\app\\delay\\mode"); // not a float: not driven
    links[3].param->setValue("root\\app\\delay\\gone"); // missing: skipped

    struct Case {
        unsigned char level;
        float mix, time, status;
    } cases[] = {{255, 8.0f, 10.0f, 100.0f}, {0, 2.0f, 90.0f, 0.0f}, {51, 3.2f, 74.0f, 20.0f}};
    for (const Case& c : cases) {
        send(ctrl, {c.level});
        EXPECT_NEAR(t.mix.getValue(), c.mix, 1e-4f) << int(c.level);
        EXPECT_NEAR(t.time.getValue(), c.time, 1e-3f) << int(c.level);
        EXPECT_NEAR(multi->getStatus()->getValue(), c.status, 1e-3f) << int(c.level);
        EXPECT_STREQ(t.mode.getValueText(), "A");
    }

    // Messages of the source not selected change nothing.
    t.mix.setValue(5);
    multi->getAddress()->setValue(40);
    send(midi, {0xB0, 40, 127});
    EXPECT_EQ(t.mix.getValue(), 5.0f);
    send(ctrl, {}); // an empty message is ignored
    EXPECT_EQ(t.mix.getValue(), 5.0f);
}

TEST(NodeControlMulti, LearnsAControlChangeThenFollowsIt)
{
    Source midi("midi", "MIDI");
    Source ctrl("ctrl", "Ctrl");
    Tree t;
    auto* channel = channelSelector();
    auto* multi = keep(new NodeControlMulti(&t.root, "multi1", "Control", channel, &t.ctl, nullptr, 1));
    multi->getLinks()[0].param->setValue("root\\app\\delay\\mix");
    multi->getLearn()->setValue(NodeOnOff::ON);

    struct Step {
        std::vector<unsigned char> bytes;
        const char* learn;
        float address;
        float mix;
    } steps[] = {
        {{0xB1, 40, 100}, "ON", 32, 5}, // other channel
        {{0xC0, 40}, "ON", 32, 5}, // not a control change
        {{0xB0, 20, 100}, "ON", 32, 5}, // below what the address can hold: not learnt
        {{0xB0, 40, 100}, "OFF", 40, 5}, // learnt; the learning message drives nothing
        {{0xB0, 41, 127}, "OFF", 40, 5}, // another number
        {{0xB0, 40, 127}, "OFF", 40, 10}, // the learnt number drives the links
        {{0xB0, 0xA8, 0}, "OFF", 40, 0}, // number and value masked to 7 bits
        {{0xB0, 40, 127, 0}, "OFF", 40, 0}, // long
    };
    for (const Step& s : steps) {
        send(midi, s.bytes);
        EXPECT_STREQ(multi->getLearn()->getValueText(), s.learn) << int(s.bytes[0]) << " " << int(s.bytes[1]);
        EXPECT_EQ(multi->getAddress()->getValue(), s.address) << int(s.bytes[1]);
        EXPECT_NEAR(t.mix.getValue(), s.mix, 1e-4f) << int(s.bytes[1]);
    }
    EXPECT_NEAR(multi->getStatus()->getValue(), 0.0f, 1e-4f);
    // No channel selector: control changes are ignored.
    NodeItem folder{&t.app, "ctl2", "Controller 2", "mctrl", ItemType::MODULE};
    auto* deaf = keep(new NodeControlMulti(&t.root, "multi2", "Control", nullptr, &folder, nullptr, 1));
    deaf->getLinks()[0].param->setValue("root\\app\\delay\\mix");
    deaf->getAddress()->setValue(40);
    send(midi, {0xB0, 40, 127});
    EXPECT_NEAR(t.mix.getValue(), 10.0f, 1e-4f); // only the first controller moved it
    EXPECT_EQ(deaf->getStatus()->getValue(), 0.0f);
}

TEST(NodeControlMulti, WithPresetKeepsLearnAndStatusOutOfPresets)
{
    Source midi("midi", "MIDI");
    Tree t;
    NodeList presets{&t.root, "presets", "Presets", "pst_pst", 4096, 3};
    NodePreset preset{&t.app, "preset", "Preset", "", &presets};
    auto* multi = keep(new NodeControlMulti(&t.root, "multi1", "Control", channelSelector(), &t.ctl, &preset, 1));
    std::string text = preset.presetToString();
    EXPECT_NE(text.find("root\\app\\ctl1\\src:"), std::string::npos);
    EXPECT_NE(text.find("root\\app\\ctl1\\opt0_address:"), std::string::npos);
    EXPECT_NE(text.find("root\\app\\ctl1\\lnk1\\min:"), std::string::npos);
    EXPECT_EQ(text.find("root\\app\\ctl1\\lrn:"), std::string::npos);
    EXPECT_EQ(text.find("root\\app\\ctl1\\_st:"), std::string::npos);
    EXPECT_FALSE(enlisted(multi->getSourceSelector()));
    EXPECT_FALSE(enlisted(multi->getAddress()));
    EXPECT_TRUE(enlisted(multi->getLinks()[0].min));
}
