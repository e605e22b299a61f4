// The application block: the tree, chain and screens it builds, presets over its nodes, and what its
// compile pass does to the panel outputs, the gains, the board and the USB gadget. Each case builds a
// whole unit (two amp-model players included), so the cases are few and each checks a lot.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/Kestrun.h"
#include "app/KestrunBsp.h"
#include "audio/AudioProcessor.h"
#include "base/System.h"
#include "driver/IOArray.h"
#include "effects/Mixer.h"
#include "effects/Pickup.h"
#include "effects/Tuner.h"
#include "params/Node.h"
#include "params/NodeColor.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "params/StorageId.h"
#include "platform/model/ShellScript.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"
#include "ui/DrawerTuner.h"
#include "ui/EventDispatcher.h"

namespace {

Kestrun* buildUnit()
{
    System::initialize("ap0003");
    return new Kestrun(System::appNode(), System::rootNode());
}

Node* at(const std::string& path)
{
    return System::rootNode()->pathToNode(path);
}

// The value member of the node's JSON, without the quotes of a text.
std::string valueOf(const std::string& path)
{
    Node* node = at(path);
    if (!node) return "<missing " + path + ">";
    std::string json = node->getValueJSON();
    const std::string member = "\"value\":";
    if (json.rfind(member, 0) == 0) json.erase(0, member.size());
    if (json.size() >= 2 && json.front() == '"' && json.back() == '"') return json.substr(1, json.size() - 2);
    return json;
}

void setText(const std::string& path, const std::string& text)
{
    Node* node = at(path);
    ASSERT_NE(node, nullptr) << path;
    // A text equal to the value already set is reported as no change.
    node->fromString(text);
}

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

int outputBit(int i)
{
    return (IOArray::get_output_status(IOArray::block_size - 1 - i / 8) >> (i % 8)) & 1;
}

int pwmLevel(int i)
{
    return IOArray::pwm_status[(IOArray::block_size - 1 - i / 8) * 8 + i % 8].load();
}

} // namespace

TEST(Kestrun, EmptyStorageBuildsTheDefaultTreeChainAndScreens)
{
    StdoutCapture capture;
    Kestrun* unit = buildUnit();
    AudioProcessor::displayInfo();
    std::string log = capture.text();

    struct Expect {
        const char* path;
        const char* value;
    };
    for (Expect e : {Expect{"root\\app\\output\\vol", "50.000000"},
                     {"root\\app\\output\\aux", "50.000000"},
                     {"root\\app\\output\\pst\\level", "0.000000"},
                     {"root\\app\\output\\pst\\tmp", "120.000000"},
                     {"root\\settings\\misc\\midi_a", "0"},
                     {"root\\settings\\misc\\lift", "OFF"},
                     {"root\\settings\\misc\\headp", "STEREO"},
                     {"root\\settings\\misc\\encoder", "CW"},
                     {"root\\usb\\usb_mode", "Data"},
                     {"root\\settings\\input\\gain1", "6.000000"},
                     {"root\\settings\\input\\gain2", "6.000000"},
                     {"root\\app\\preset", ""},
                     {"root\\sys\\_name", "Vornetide PRO"},
                     {"root\\sys\\_author", "KELVARO Audio Systems"},
                     {"root\\sys\\_ver", "1.3.15"}})
        EXPECT_EQ(valueOf(e.path), e.value) << e.path;
    EXPECT_EQ(unit->color->getR(), 0x00);
    EXPECT_EQ(unit->color->getG(), 0xAA);
    EXPECT_EQ(unit->color->getB(), 0x00);
    EXPECT_EQ(valueOf("root\\sys\\_logo").rfind("https://", 0), 0u);
    EXPECT_EQ(unit->mainGain, 0.0f);

    ASSERT_EQ(unit->assigns.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        std::string key = "assign" + std::to_string(i + 1);
        EXPECT_EQ(unit->assigns[i], at("root\\" + key));
        EXPECT_EQ(unit->assigns[i]->toString(), "");
        EXPECT_EQ(std::string(unit->assigns[i]->getDisplayName()), "assing" + std::to_string(i + 1));
    }
    EXPECT_EQ(unit->presets->getElementCount(), 60);
    EXPECT_EQ(unit->presets->getElementSize(), 16384);
    EXPECT_EQ(unit->presets->getGroup(), 3);

    // The chain from input to output, as the prepending and appending blocks leave it.
    const std::vector<std::string> chain = {
        "Pickup",     "Tuner", "NoiseGate", "Expr",     "DynaComp",  "ModulationsEngine", "Nam Drive",
        "Nam Amp",    "Tempo", "Kestrun",   "IrLoader", "Equalizer", "ModulationsEngine", "DelayEngine",
        "ReverbFDN8", "Mixer"};
    size_t from = 0;
    for (size_t i = 0; i < chain.size(); ++i) {
        std::string line = "Chain item " + std::to_string(i + 1) + ": " + chain[i] + " (";
        size_t found = log.find(line, from);
        ASSERT_NE(found, std::string::npos) << line << "\n" << log;
        from = found;
    }
    EXPECT_EQ(log.find("Chain item 17"), std::string::npos);
    for (AudioBlock* block : std::vector<AudioBlock*>{unit, reinterpret_cast<AudioBlock*>(unit->modPre),
                                                      reinterpret_cast<AudioBlock*>(unit->mixer)})
        EXPECT_TRUE(AudioProcessor::hasBlock(block));

    // Every block folder is styled; each MIDI CC mapping names its switch.
    struct Style {
        const char* folder;
        uint32_t color; // 0: none set
        const char* img;
    };
    for (Style st : {Style{"gate", 0x888844, "gate"},
                     {"exp", 0x88FF66, "expr"},
                     {"comp", 0xFFFF00, "comp"},
                     {"mod_pre", 0x7777FF, "mod"},
                     {"drive", 0xFF6600, "drive"},
                     {"amp", 0xFF0000, "amp"},
                     {"ir", 0xFF8844, "ir"},
                     {"eq", 0xFFAA00, "eq"},
                     {"mod", 0x00FFFF, "mod"},
                     {"delay", 0x00FF00, "delay"},
                     {"reverb", 0xFF00FF, "reverb"},
                     {"output", 0, "master"}}) {
        Node* node = at(std::string("root\\app\\") + st.folder);
        ASSERT_NE(node, nullptr) << st.folder;
        EXPECT_EQ(node->getStyleMode(), "mini") << st.folder;
        EXPECT_EQ(node->getStyleImg(), st.img) << st.folder;
        if (st.color) EXPECT_EQ(node->getStyleColor() & 0xFFFFFF, st.color) << st.folder;
        else EXPECT_EQ(node->getStyle().count("color"), 0u) << st.folder;
    }
    EXPECT_NE(log.find("MIDI CC 7 - root\\app\\mod\\"), std::string::npos) << log;
    EXPECT_NE(log.find("MIDI CC 11 - root\\settings\\tuner\\on_off"), std::string::npos) << log;

    // Home, tap-tempo overlay, tuner overlay on top.
    EXPECT_EQ(EventDispatcher::elements(), 3);
    ASSERT_FALSE(EventDispatcher::events.empty());
    EXPECT_NE(dynamic_cast<DrawerTuner*>(EventDispatcher::events.back()), nullptr);
}

TEST(Kestrun, PresetsCarryTheSoundButNotTheVolumes)
{
    Kestrun* unit = buildUnit();
    const std::vector<std::string> kept = {"root\\app\\output\\vol", "root\\app\\output\\aux"};
    const std::vector<std::string> carried = {"root\\app\\output\\pst\\level", "root\\app\\output\\pst\\tmp",
                                              "root\\app\\output\\pst\\color"};

    setText(kept[0], "70");
    setText(kept[1], "30");
    setText(carried[0], "3.5");
    setText(carried[1], "100");
    setText(carried[2], "\"ff8000\"");
    std::vector<std::string> saved;
    for (const std::string& path : carried) saved.push_back(valueOf(path));
    unit->preset->saveAs(1, "Crunch");

    setText(kept[0], "20");
    setText(kept[1], "90");
    setText(carried[0], "-6");
    setText(carried[1], "180");
    setText(carried[2], "\"0000ff\"");

    ASSERT_TRUE(unit->preset->setByIndex(1));
    EXPECT_EQ(valueOf("root\\app\\preset"), "Crunch");
    for (size_t i = 0; i < carried.size(); ++i) EXPECT_EQ(valueOf(carried[i]), saved[i]) << carried[i];
    EXPECT_EQ(valueOf(kept[0]), "20.000000");
    EXPECT_EQ(valueOf(kept[1]), "90.000000");

    // The stored preset text holds the controller folders of the preset but not the volumes.
    std::string text = unit->preset->presetToString();
    EXPECT_NE(text.find("root\\app\\output\\pst\\ctl1"), std::string::npos);
    EXPECT_NE(text.find("root\\app\\output\\pst\\ctl2"), std::string::npos);
    EXPECT_EQ(text.find("root\\app\\output\\vol:"), std::string::npos);
    EXPECT_EQ(text.find("root\\app\\output\\aux:"), std::string::npos);
}

TEST(Kestrun, CompileDrivesLedsOutputsEncoderAndGains)
{
    Kestrun* unit = buildUnit();
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    // Before any preset is saved nothing is selected (index -1); saving one selects it.
    ASSERT_EQ(unit->preset->getIndex(), -1);
    unit->compile();
    for (int bit : {10, 11, 12, 13, 14, 15, 0, 1, 2}) EXPECT_EQ(pwmLevel(bit), 0) << bit;
    for (int i = 0; i < 6; ++i) unit->preset->saveAs(i, std::string(1, char('A' + i)));

    struct LedCase {
        int index;
        const char* rgb; // the preset colour
        int lit; // LED position lit
        int levels[3]; // PWM of red, green, blue when lit
    };
    const int bits[3][3] = {{12, 11, 10}, {15, 14, 13}, {0, 2, 1}}; // red, green, blue per LED
    for (LedCase c : {LedCase{4, "00aa00", 1, {0, 21, 0}}, LedCase{0, "ff8040", 0, {31, 16, 8}},
                      LedCase{5, "ff8040", 2, {31, 16, 8}}, LedCase{3, "0000ff", 0, {0, 0, 31}}}) {
        ASSERT_TRUE(unit->preset->setByIndex(c.index));
        setText("root\\app\\output\\pst\\color", std::string("\"") + c.rgb + "\"");
        unit->compile();
        for (int led = 0; led < 3; ++led)
            for (int ch = 0; ch < 3; ++ch) {
                int bit = bits[led][ch];
                EXPECT_EQ(outputBit(bit), 1) << "index " << c.index << " bit " << bit;
                EXPECT_EQ(pwmLevel(bit), led == c.lit ? c.levels[ch] : 0) << "index " << c.index << " bit " << bit;
            }
    }

    struct SwitchCase {
        const char* lift;
        const char* headphones;
        const char* encoder;
        int liftBit, monoBit, ccw;
    };
    for (SwitchCase c : {SwitchCase{"\"ON\"", "\"STEREO\"", "\"CCW\"", 1, 0, 1},
                         SwitchCase{"\"OFF\"", "\"MONO/L\"", "\"CW\"", 0, 1, 0}}) {
        setText("root\\settings\\misc\\lift", c.lift);
        setText("root\\settings\\misc\\headp", c.headphones);
        setText("root\\settings\\misc\\encoder", c.encoder);
        unit->compile();
        EXPECT_EQ(outputBit(8), c.liftBit);
        EXPECT_EQ(pwmLevel(8), -1);
        EXPECT_EQ(outputBit(9), c.monoBit);
        EXPECT_EQ(pwmLevel(9), -1);
        EXPECT_EQ(unit->bsp->encoder_ccw.load(), c.ccw);
    }

    // Gains, measured on audio through the mixer (main left 1.0, IN 2 right 1.0) and the pickup input.
    struct GainCase {
        const char* vol;
        const char* level;
        const char* aux;
        const char* gain1;
        const char* gain2;
        float main; // main -> out L
        float in2; // IN 2 -> each output
        float pickup; // pickup input gain
    };
    const float trim = 1.334f;
    for (GainCase c : {GainCase{"100", "0", "0", "6", "0", 1.0f, 0.0f, 1.9953f * trim},
                       GainCase{"0", "20", "100", "0", "6", 0.0f, trim * 1.9953f, trim},
                       GainCase{"100", "-20", "100", "-15", "0", 0.1f, trim, 0.17783f * trim},
                       GainCase{"50", "0", "50", "0", "0", 0.15f, 0.15f * trim, trim}}) {
        setText("root\\app\\output\\vol", c.vol);
        setText("root\\app\\output\\pst\\level", c.level);
        setText("root\\app\\output\\aux", c.aux);
        setText("root\\settings\\input\\gain1", c.gain1);
        setText("root\\settings\\input\\gain2", c.gain2);
        unit->compile();
        EXPECT_NEAR(unit->mainGain, c.main, 2e-3f * std::max(1.0f, c.main)) << c.vol << " " << c.level;

        // The gains glide to new settings within a few milliseconds: 100 frames later they are there.
        float frame[2][FRAME_SAMPLES] = {};
        float(*dry)[FRAME_SAMPLES] = AudioProcessor::getInput();
        for (int n = 0; n < 100; ++n) {
            for (int i = 0; i < FRAME_SAMPLES; ++i) {
                frame[0][i] = 1.0f;
                frame[1][i] = 0.0f;
                dry[0][i] = 0.0f;
                dry[1][i] = 1.0f;
            }
            Mixer::exec(unit->mixer, frame);
        }
        EXPECT_NEAR(frame[0][5], c.main + c.in2, 3e-3f * (1.0f + c.in2)) << c.vol << " " << c.aux;
        EXPECT_NEAR(frame[1][5], c.in2, 3e-3f * (1.0f + c.in2)) << c.vol << " " << c.aux;

        float in[2][FRAME_SAMPLES] = {};
        for (int n = 0; n < 100; ++n) {
            for (float& s : in[0]) s = 0.1f;
            Pickup::exec(unit->pickup, in);
        }
        EXPECT_NEAR(in[0][7], 0.1f * c.pickup, 1e-3f) << c.gain1;
    }
}

TEST(Kestrun, UsbModeChangeRelinksTheGadgetOnceAndRetriesAFailedShell)
{
    Kestrun* unit = buildUnit();
    const std::string toAudio = "sudo /bin/bash\n" + Kestrun::usbRelinkScript(false);
    const std::string toData = "sudo /bin/bash\n" + Kestrun::usbRelinkScript(true);
    EXPECT_NE(toAudio.find("ln -s $G/functions/uac2.usb_in $G/configs/c.1/\n"
                           "ln -s $G/functions/uac2.usb_out $G/configs/c.1/\nls /sys/class/udc > $G/UDC\n"),
              std::string::npos);
    EXPECT_EQ(toAudio.find("acm.usb0 $G/configs"), std::string::npos);
    EXPECT_NE(toData.find("echo \"\" > $G/UDC\nrm -f $G/configs/c.1/acm.usb0\n"), std::string::npos);

    unit->compile();
    EXPECT_EQ(countOf(ShellScript::log(), "rm -f $G/configs/c.1/acm.usb0"), 0u) << "Data is what the start linked";

    setText("root\\usb\\usb_mode", "\"Audio\"");
    unit->compile();
    unit->compile();
    EXPECT_EQ(countOf(ShellScript::log(), toAudio), 1u) << ShellScript::log();
    EXPECT_EQ(unit->bsp->usb_data.load(), 0);

    // A root shell that cannot be started leaves the linked mode as it was and is tried again.
    ShellScript::add("sudo /bin/bash", -1, "");
    setText("root\\usb\\usb_mode", "\"Data\"");
    unit->compile();
    unit->compile();
    EXPECT_EQ(unit->bsp->usb_data.load(), 0);
    ShellScript::reset();
    unit->compile();
    unit->compile();
    EXPECT_EQ(countOf(ShellScript::log(), toData), 1u) << ShellScript::log();
    EXPECT_EQ(unit->bsp->usb_data.load(), 1);
}

TEST(Kestrun, StoredAudioModeIsLinkedByTheFirstCompile)
{
    nvs_handle_t handle;
    ASSERT_EQ(nvs_flash_init(), 0);
    ASSERT_EQ(nvs_open("storage", NVS_READWRITE, &handle), 0);
    ASSERT_EQ(nvs_set_str(handle, make_storage_id("root\\usb\\usb_mode").c_str(), "Audio"), 0);

    Kestrun* unit = buildUnit();
    EXPECT_EQ(valueOf("root\\usb\\usb_mode"), "Audio");
    std::string startLog = ShellScript::log();
    ASSERT_NE(startLog.find(KestrunBsp::kGadgetScript), std::string::npos);
    EXPECT_EQ(unit->bsp->usb_data.load(), 1);
    unit->compile();
    std::string log = ShellScript::log();
    EXPECT_EQ(countOf(log, "sudo /bin/bash\n" + Kestrun::usbRelinkScript(false)), 1u) << log;
    EXPECT_GT(log.find(Kestrun::usbRelinkScript(false)), log.find(KestrunBsp::kGadgetScript));
    EXPECT_EQ(unit->bsp->usb_data.load(), 0);
}
