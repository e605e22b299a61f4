#include "app/Kestrun.h"

#include <cmath>
#include <cstdio>

#include "app/KestrunBsp.h"
#include "audio/AudioProcessor.h"
#include "base/System.h"
#include "base/Update.h"
#include "driver/IOArray.h"
#include "effects/DelayEngine.h"
#include "effects/DynaComp.h"
#include "effects/Equalizer.h"
#include "effects/Expr.h"
#include "effects/IrLoader.h"
#include "effects/Mixer.h"
#include "effects/ModulationsEngine.h"
#include "effects/NamPlayer.h"
#include "effects/NoiseGate.h"
#include "effects/Pickup.h"
#include "effects/ReverbFDN8.h"
#include "effects/Tempo.h"
#include "effects/Tuner.h"
#include "params/NodeColor.h"
#include "params/NodeControlMidiCC.h"
#include "params/NodeControlMidiPC.h"
#include "params/NodeControlMulti.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "params/Storage.h"
#include "platform/Shell.h"
#include "porting/Log.h"
#include "ui/DrawerTempo.h"
#include "ui/DrawerTuner.h"
#include "ui/Home.h"

namespace {

constexpr const char* kTag = "Kestrun";

// Presets: 60 elements of 16 KiB, chosen in banks of three (one footswitch each).
constexpr int kPresetSize = 16384;
constexpr int kPresetCount = 60;
constexpr int kPresetGroup = 3;
// Parameters of each assignable controller.
constexpr int kControllerLinks = 3;
// Fixed trim (+2.5 dB) of both inputs ahead of the player's digital gains.
constexpr float kInputTrim = 1.334f;

float dbToGain(float db)
{
    return std::pow(10.0f, db / 20.0f);
}

// Output bits of the panel: the three preset LEDs (red, green, blue channel each), ground lift and
// headphone mono.
struct LedBits {
    int red, green, blue;
};
constexpr LedBits kLeds[3] = {{12, 11, 10}, {15, 14, 13}, {0, 2, 1}};
constexpr int kLiftBit = 8;
constexpr int kHeadphonesBit = 9;

struct BlockFolder {
    const char* key;
    const char* label;
    int color; // -1: none
    const char* img;
};
constexpr BlockFolder kFolders[] = {
    {"gate", "Gate", 0x888844, "gate"},    {"exp", "Expr", 0x88FF66, "expr"},     {"comp", "Comp", 0xFFFF00, "comp"},
    {"mod_pre", "Mod", 0x7777FF, "mod"},   {"drive", "Drive", 0xFF6600, "drive"}, {"amp", "Amp", 0xFF0000, "amp"},
    {"ir", "IR", 0xFF8844, "ir"},          {"eq", "Eq", 0xFFAA00, "eq"},          {"mod", "Mod", 0x00FFFF, "mod"},
    {"delay", "Delay", 0x00FF00, "delay"}, {"reverb", "Rev", 0xFF00FF, "reverb"}, {"output", "Master", -1, "master"},
};
enum FolderIndex { kGate, kExp, kComp, kModPre, kDrive, kAmp, kIr, kEq, kMod, kDelay, kReverb, kOutput, kFolderCount };

constexpr const char* kAssignKeys[4] = {"assign1", "assign2", "assign3", "assign4"};
constexpr const char* kAssignLabels[4] = {"assing1", "assing2", "assing3", "assing4"};
constexpr const char* kCcKeys[11] = {"_cc1", "_cc2", "_cc3", "_cc4",  "_cc5", "_cc6",
                                     "_cc7", "_cc8", "_cc9", "_cc10", "_cc11"};

constexpr const char* kLogoUrl = "https://kelvaro.com/images/kelvaro-logo.png";

NodeFloat* volumeNode(Node* parent, const char* key, const char* label)
{
    return new NodeFloat(parent, key, label, 0.0f, 100.0f, 50.0f, "%", 0.5f, false, 0);
}

NodeFloat* inputGainNode(Node* parent, const char* key, const char* label)
{
    return new NodeFloat(parent, key, label, -15.0f, 15.0f, 6.0f, "dB", 0.5f, false, 1);
}

NodeFloat* floatAt(Node* root, const char* path)
{
    return dynamic_cast<NodeFloat*>(root->pathToNode(path));
}

} // namespace

Kestrun::Kestrun(Node* app, Node* root) : AudioBlock("Kestrun", app, Kestrun::exec, BLOCK_APPEND)
{
    bsp = new KestrunBsp();
    setInfoData();

    presets = new NodeList(root, "presets", "Presets", "pst_pst", kPresetSize, kPresetCount);
    presets->setGroup(kPresetGroup);
    preset = new NodePreset(app, "preset", "Preset", "", presets);

    Node* folders[kFolderCount];
    for (int i = 0; i < kFolderCount; ++i)
        folders[i] = new NodeItem(app, kFolders[i].key, kFolders[i].label, "", ItemType::HFOLDER);
    Node* settings = new NodeItem(root, "settings", "Settings", "", ItemType::SFOLDER);
    Node* tunerFolder = new NodeItem(settings, "tuner", "Tuner", "", ItemType::HFOLDER);
    Node* input = new NodeItem(settings, "input", "Input", "", ItemType::HFOLDER);
    gain1 = inputGainNode(input, "gain1", "In 1 digital gain");
    gain2 = inputGainNode(input, "gain2", "In 2 digital gain");
    Node* pickupFolder = new NodeItem(input, "pickup", "Pickup Simulator", "", ItemType::VFOLDER);
    Node* misc = new NodeItem(settings, "misc", "Misc", "", ItemType::HFOLDER);

    for (int i = 0; i < kFolderCount; ++i) {
        if (kFolders[i].color >= 0) folders[i]->setStyleColor(kFolders[i].color);
        folders[i]->setStyleMode("mini");
        folders[i]->setStyleImg(kFolders[i].img);
    }

    Node* output = folders[kOutput];
    tempo = new Tempo(output, preset);
    volume = volumeNode(output, "vol", "Volume");
    auxVolume = volumeNode(output, "aux", "IN 2 Volume");
    Node* pst = new NodeItem(output, "pst", "Preset Specific", "", ItemType::VFOLDER);
    level = new NodeFloat(pst, "level", "Level", -20.0f, 20.0f, 0.0f, "dB", 0.5f, false, 1);
    NodeFloat* presetTempo = new NodeFloat(pst, "tmp", "Preset TEMPO", 30.0f, 240.0f, 120.0f, "BPM", 0.5f, false, 1);
    color = new NodeColor(pst, "color", "Preset Color", "00AA00");
    tempo->addTempoSource(presetTempo, "Preset");
    // The volumes belong to the player's rig, not to a sound: a preset never moves them.
    preset->addIgnoreNode(volume);
    preset->addIgnoreNode(auxVolume);
    Storage::addItem(volume);
    Storage::addItem(auxVolume);

    // The order of construction fixes the chain: prepending blocks go in front of those so far.
    namAmp = new NamPlayer(folders[kAmp], root, preset, "nam_amp", "Nam Amp", true);
    namDrive = new NamPlayer(folders[kDrive], root, preset, "nam_drive", "Nam Drive");
    modPre = new ModulationsEngine(folders[kModPre], tempo, false);
    dynaComp = new DynaComp(folders[kComp], preset);
    expr = new Expr(folders[kExp]);
    noiseGate = new NoiseGate(folders[kGate], 3, 3, AudioProcessor::getInput()[0], false);
    tuner = new Tuner(tunerFolder, false);
    pickup = new Pickup(pickupFolder, true);
    irLoader = new IrLoader(folders[kIr], root, "ir_list");
    equalizer = new Equalizer(folders[kEq]);
    modPost = new ModulationsEngine(folders[kMod], tempo);
    delay = new DelayEngine(folders[kDelay], tempo);
    reverb = new ReverbFDN8(folders[kReverb]);
    mixer = new Mixer(app, AudioProcessor::getInput());
    // The second input passes the mixer beside the chain: the fade of the chain is not for it.
    AudioProcessor::setFadePoint(mixer);

    for (int i = 0; i < 4; ++i) {
        assigns.push_back(new NodeItem(root, kAssignKeys[i], kAssignLabels[i], "", ItemType::STRING));
        Storage::addItem(assigns.back());
    }

    std::vector<const char*> channels;
    static const char* const kChannels[16] = {"0", "1", "2",  "3",  "4",  "5",  "6",  "7",
                                              "8", "9", "10", "11", "12", "13", "14", "15"};
    for (const char* channel : kChannels) channels.push_back(channel);
    NodeEnum* midiAddress = new NodeEnum(misc, "midi_a", "MIDI Address", channels, "0");
    NodeControlMidiPC* programChange = new NodeControlMidiPC(root, "cpst", "Midi PC", preset, 0, midiAddress);
    Node* ccTargets[11] = {namDrive->getOnOff(),  modPre->getOnOff(),  namAmp->getOnOff(),         irLoader->getOnOff(),
                           reverb->getOnOff(),    modPost->getOnOff(), modPost->getTremoloOnOff(), dynaComp->getOnOff(),
                           noiseGate->getOnOff(), delay->getOnOff(),   tuner->getOnOff()};
    for (int i = 0; i < 11; ++i) new NodeControlMidiCC(root, kCcKeys[i], "Midi CC", ccTargets[i], i + 1, midiAddress);
    Node* ctl1 = new NodeItem(pst, "ctl1", "Controller 1", "mctrl", ItemType::MODULE);
    new NodeControlMulti(root, "multi1", "Control", midiAddress, ctl1, preset, kControllerLinks);
    Node* ctl2 = new NodeItem(pst, "ctl2", "Controller 2", "mctrl", ItemType::MODULE);
    new NodeControlMulti(root, "multi2", "Control", midiAddress, ctl2, preset, kControllerLinks);
    Node* ctl3 = new NodeItem(misc, "ctl3", "Global Controller", "mctrl", ItemType::MODULE);
    new NodeControlMulti(root, "multi3", "Control", midiAddress, ctl3, nullptr, kControllerLinks);
    Storage::addItem(preset);
    Storage::addItem(midiAddress);
    Storage::addItem(programChange);

    lift = new NodeOnOff(misc, "lift", "Ground Lift", NodeOnOff::OFF);
    headphones = new NodeEnum(misc, "headp", "Headphones", {"STEREO", "MONO/L"}, "STEREO");
    encoderMode = new NodeEnum(misc, "encoder", "Encoder mode", {"CW", "CCW"}, "CW");
    Storage::addItem(lift);
    Storage::addItem(headphones);
    Storage::addItem(encoderMode);
    Storage::addItem(gain1);
    Storage::addItem(gain2);

    // A preset change rewrites many structural switches at once: fade the audio around it.
    preset->setOnChange(AudioProcessor::debounce);

    Node* usb = new NodeItem(root, "usb", "USB", "", ItemType::SFOLDER);
    usbMode = new NodeEnum(usb, "usb_mode", "Mode", {"Data", "Audio"}, "Data");
    Storage::addItem(usbMode);

    // Screen stack from the bottom: home, tap-tempo overlay, tuner overlay (top).
    Home* home = new Home(app, nullptr, preset, tuner, tempo, assigns);
    new DrawerTempo(tempo);
    new DrawerTuner(tuner);
    home->setControls(floatAt(root, "root\\app\\amp\\low"), floatAt(root, "root\\app\\amp\\mid"),
                      floatAt(root, "root\\app\\amp\\treble"), floatAt(root, "root\\app\\amp\\gain"));
    home->setVolumeNode(volume);
    home->setLevelNode(level);
    home->setTuner(tuner);
    mainGain = 0.0f;
}

bool Kestrun::exec(AudioBlock*, AudioFrame)
{
    return false;
}

void Kestrun::setInfoData()
{
    Node* root = System::rootNode();
    if (root == nullptr) return;
    struct Info {
        const char* path;
        const char* value;
    };
    const Info items[] = {
        {"root\\sys\\_name", "Vornetide PRO"},
        {"root\\sys\\_author", "KELVARO Audio Systems"},
        {"root\\sys\\_ver", Update::isRecovery() ? "Update Mode" : "1.3.15"},
        {"root\\sys\\_logo", kLogoUrl},
    };
    for (const Info& info : items)
        if (NodeItem* item = dynamic_cast<NodeItem*>(root->pathToNode(info.path))) item->setValue(info.value);
}

std::string Kestrun::usbRelinkScript(bool data)
{
    const char* links = data ? "ln -s $G/functions/acm.usb0 $G/configs/c.1/\n"
                             : "ln -s $G/functions/uac2.usb_in $G/configs/c.1/\n"
                               "ln -s $G/functions/uac2.usb_out $G/configs/c.1/\n";
    return std::string(
               "G=/sys/kernel/config/usb_gadget/pi_gadget\n"
               "echo \"\" > $G/UDC\n"
               "rm -f $G/configs/c.1/acm.usb0\n"
               "rm -f $G/configs/c.1/uac2.usb_in\n"
               "rm -f $G/configs/c.1/uac2.usb_out\n") +
           links + "ls /sys/class/udc > $G/UDC\n";
}

bool Kestrun::compile()
{
    // The LED of the preset's position in its bank shows the preset colour; -1 (none) lights none.
    int position = preset->getIndex() % kPresetGroup;
    int rgb[3] = {color->getR(), color->getG(), color->getB()};
    for (int led = 0; led < 3; ++led) {
        bool lit = led == position;
        const int bits[3] = {kLeds[led].red, kLeds[led].green, kLeds[led].blue};
        for (int c = 0; c < 3; ++c) {
            IOArray::set_bit(bits[c], 1);
            IOArray::set_pwm(bits[c], lit ? rgb[c] >> 3 : 0);
        }
    }

    IOArray::set_bit(kLiftBit, lift->isValue(NodeOnOff::ON) ? 1 : 0);
    IOArray::set_pwm(kLiftBit, -1);
    IOArray::set_bit(kHeadphonesBit, headphones->isValue("MONO/L") ? 1 : 0);
    IOArray::set_pwm(kHeadphonesBit, -1);

    bsp->encoder_ccw.store(encoderMode->isValue("CCW") ? 1 : 0, std::memory_order_relaxed);

    uint8_t data = usbMode->isValue("Data") ? 1 : 0;
    if (data != bsp->usb_data.load(std::memory_order_relaxed)) {
        // The linked mode is only taken as changed once the shell has the script, so that a shell that
        // could not be started is tried again on the next pass instead of leaving the gadget in the
        // old mode for good.
        if (Shell::write("sudo /bin/bash", usbRelinkScript(data != 0)) >= 0) {
            bsp->usb_data.store(data, std::memory_order_relaxed);
            usbFailureReported = false;
        } else if (!usbFailureReported) {
            usbFailureReported = true;
            std::perror("Failed to open pipe to bash");
        }
    }

    mainGain = float(double(dbToGain(level->getValue())) * fx::volumeTaper(volume->getValue()));
    auxGain = float(fx::volumeTaper(auxVolume->getValue()));
    float inputGain1 = dbToGain(gain1->getValue());
    float inputGain2 = dbToGain(gain2->getValue());
    pickup->setExtGain(inputGain1 * kInputTrim);
    float aux = auxGain * kInputTrim * inputGain2;
    mixer->setMixerValue(mainGain, mainGain, 0.0f, 0.0f, 0.0f, aux, 0.0f, aux);
    return false;
}
