#pragma once
#include "audio/AudioBlock.h"

#include <string>
#include <vector>

class DelayEngine;
class DynaComp;
class Equalizer;
class Expr;
class IrLoader;
class KestrunBsp;
class Mixer;
class ModulationsEngine;
class NamPlayer;
class Node;
class NodeColor;
class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeList;
class NodeOnOff;
class NodePreset;
class NoiseGate;
class Pickup;
class ReverbFDN8;
class Tempo;
class Tuner;

// The application block: the one object that composes the unit. Its constructor (main thread, once,
// before any service thread) builds the board, the global nodes, the presets and their selector,
// one folder per effect block and every effect block in the order that fixes the audio chain, the
// knob assignments, the MIDI and controller mappings, the hardware settings, the USB mode and the
// three start screens.
//
// In the chain it processes no audio; its compile (on "compileLoop", every 10 ms) applies the global
// settings: the three preset LEDs, the ground-lift and headphone outputs, the encoder direction, the
// USB gadget mode, and the input and output gains of the pickup and mixer blocks.
class Kestrun : public AudioBlock {
public:
    // app: root\app; root: the top of the tree.
    Kestrun(Node* app, Node* root);

    bool compile() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    // The identity items under root\sys (also used in update mode); a missing item is skipped.
    static void setInfoData();

    // Piped to the root shell when the USB mode changes: unbinds the gadget, links the functions of
    // the mode (Data: the serial function; Audio: the two audio functions) and binds it again.
    static std::string usbRelinkScript(bool data);

    KestrunBsp* bsp = nullptr;

    IrLoader* irLoader = nullptr;
    NamPlayer* namAmp = nullptr;
    NamPlayer* namDrive = nullptr;
    NoiseGate* noiseGate = nullptr;
    ReverbFDN8* reverb = nullptr;
    DelayEngine* delay = nullptr;
    DynaComp* dynaComp = nullptr;
    Equalizer* equalizer = nullptr;
    Expr* expr = nullptr;
    ModulationsEngine* modPost = nullptr;
    ModulationsEngine* modPre = nullptr;
    Tuner* tuner = nullptr;
    Tempo* tempo = nullptr;
    Pickup* pickup = nullptr;
    Mixer* mixer = nullptr;

    NodeList* presets = nullptr;
    NodePreset* preset = nullptr;
    NodeFloat* volume = nullptr;
    NodeFloat* auxVolume = nullptr;
    NodeFloat* level = nullptr;
    NodeFloat* gain1 = nullptr;
    NodeFloat* gain2 = nullptr;
    NodeColor* color = nullptr;
    NodeOnOff* lift = nullptr;
    NodeEnum* headphones = nullptr;
    NodeEnum* encoderMode = nullptr;
    NodeEnum* usbMode = nullptr;
    std::vector<NodeItem*> assigns;

    // Written by compile only.
    float mainGain = 0.0f;
    float auxGain = 0.0f;

private:
    // A failed re-link is reported once, then tried again quietly on every pass.
    bool usbFailureReported = false;
};
