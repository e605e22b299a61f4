// The source registry, the base source and the controller base: registration, linking by name,
// message delivery and the controller's description.
#include "params/Control.h"
#include "params/NodeControlMidiCC.h"
#include "params/NodeControlMidiPC.h"
#include "params/NodeControlMidiTempo.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeParList.h"
#include "params/Source.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> polled;

class PolledSource : public Source {
public:
    using Source::Source;
    void tasks() override { polled.push_back(getName()); }
};

// Records every message it is handed.
class Recorder : public NodeControl {
public:
    Recorder(const char* key, const char* source) : NodeControl(nullptr, key, key, nullptr, source, "cc") {}
    void* getStorageData(int* size) override
    {
        *size = 0;
        return nullptr;
    }
    bool fromString(std::string) override { return false; }
    std::string toString() override { return ""; }
    std::string getValueJSON() override { return "\"value\":0"; }
    void reset() override {}
    void fromSource(const char* source, unsigned char* bytes, int length) override
    {
        messages.push_back(std::string(source) + ":" + std::string(reinterpret_cast<char*>(bytes), size_t(length)));
    }
    std::vector<std::string> messages;
};

std::vector<std::string> received;
void onReceive(NodeControl* node)
{
    auto* recorder = static_cast<Recorder*>(node);
    received.push_back(recorder->messages.empty() ? "none" : recorder->messages.back());
}
void otherReceive(NodeControl*)
{
    received.push_back("other");
}

} // namespace

TEST(Control, RegistersByNameKeepsFirstAndPollsInNameOrder)
{
    StdoutCapture out;
    PolledSource midi("midi", "MIDI");
    PolledSource ctrl("ctrl", "Ctrl");
    PolledSource again("midi", "Other");
    PolledSource anonymous(nullptr, "None");
    Control::addSource(nullptr);
    std::string log = out.text();

    EXPECT_EQ(log, "I (Control): add source: midi \nI (Control): add source: ctrl \n");
    EXPECT_EQ(Control::getSource("midi"), &midi);
    EXPECT_EQ(Control::getSource("ctrl"), &ctrl);
    EXPECT_EQ(Control::getSource("none"), nullptr);
    EXPECT_EQ(Control::getSource(nullptr), nullptr);
    EXPECT_EQ(Control::listSources(), (std::list<std::string>{"ctrl", "midi"}));
    EXPECT_STREQ(Control::getSource("midi")->getLabel(), "MIDI");

    Control::tasks();
    EXPECT_EQ(polled, (std::vector<std::string>{"ctrl", "midi"}));
}

TEST(Control, ControllersLinkByNameOnceAndReceiveWithCallback)
{
    auto* early = keep(new Recorder("early", "midi")); // before the source exists
    StdoutCapture out;
    auto* late = keep(new Recorder("late", "midi"));
    std::string warning = out.text();
    EXPECT_EQ(warning, "W (Control): source midi not found\n");

    PolledSource midi("midi", "MIDI");
    auto* linked = keep(new Recorder("linked", "midi"));
    auto* unlinked = keep(new Recorder("unlinked", "")); // an empty source name links nowhere
    Control::linkSource("midi", linked); // twice: still one delivery
    linked->setOnReceive(onReceive);
    linked->setOnReceive(nullptr); // keeps the callback

    unsigned char bytes[3] = {'a', 'b', 'c'};
    midi.send(bytes, 3);
    EXPECT_TRUE(early->messages.empty());
    EXPECT_TRUE(late->messages.empty());
    EXPECT_TRUE(unlinked->messages.empty());
    EXPECT_EQ(linked->messages, (std::vector<std::string>{"midi:abc"}));
    // The callback runs after the message was applied.
    EXPECT_EQ(received, (std::vector<std::string>{"midi:abc"}));

    linked->setOnReceive(otherReceive);
    midi.send(bytes, 1);
    EXPECT_EQ(linked->messages.back(), "midi:a");
    EXPECT_EQ(received.back(), "other");
}

TEST(Control, DescriptionNamesTargetAndSource)
{
    auto* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    auto* app = keep(new NodeItem(root, "app", "App", "", ItemType::SYSTEM));
    auto* delay = keep(new NodeItem(app, "delay", "Delay", "", ItemType::HFOLDER));
    auto* mix = keep(new NodeFloat(delay, "mix", "Mix", 0, 100, 50, "%", 0.5f, false));
    auto* list = keep(new NodeList(root, "presets", "Presets", "pst_pst", 16, 3));
    auto* preset = keep(new NodeParList(app, "preset", "Preset", "", list));

    StdoutCapture out;
    auto* cc = keep(new NodeControlMidiCC(root, "cc", "Midi CC", mix, 7, nullptr));
    auto* bare = keep(new NodeControlMidiCC(root, "bare", "Midi CC", nullptr, 8, nullptr));
    auto* pc = keep(new NodeControlMidiPC(root, "cpst", "Midi PC", preset, 0, nullptr));
    auto* clock = keep(new NodeControlMidiTempo(root, "ck", "Clock", nullptr));
    std::string log = out.text();
    EXPECT_NE(log.find("I (MIDI_CC): MIDI CC 7 - root\\app\\delay\\mix Mix\n"), std::string::npos);
    EXPECT_EQ(log.find("MIDI CC 8"), std::string::npos);

    EXPECT_EQ(cc->getDescription(), ",\"ref\":\"root\\\\app\\\\delay\\\\mix\",\"src\":\"midicc\"");
    EXPECT_EQ(bare->getDescription(), ",\"src\":\"midicc\"");
    EXPECT_EQ(pc->getDescription(), ",\"ref\":\"root\\\\app\\\\preset\",\"src\":\"midipc\"");
    EXPECT_EQ(clock->getDescription(), ",\"src\":\"midick\"");
    EXPECT_EQ(cc->getJSON(DESCRIPTION_FULL),
              "root\\cc:{\"desc\":\"Midi CC\",\"value\":7,\"type\":\"ctrl\",\"ref\":\"root\\\\app\\\\delay\\\\mix\","
              "\"src\":\"midicc\"}");
    EXPECT_STREQ(pc->getSource(), "midi");
    EXPECT_STREQ(pc->getSourceType(), "pc");

    // No editor of their own: a knob step changes nothing.
    int64_t before = cc->getTime();
    cc->edit(true);
    EXPECT_EQ(cc->getNumber(), 7);
    EXPECT_EQ(cc->getTime(), before);
}
