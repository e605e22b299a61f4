#pragma once
#include <string>

#include "params/SharedSnapshot.h"

class Node;
class NodeEnum;
class NodeItem;

// One RGB status light on three PWM outputs of the panel (red on output 4, green on 7, blue on 2):
// the stored colour ("color" item, six hexadecimal digits RRGGBB), or a temporary colour when one
// is set, dark while the optional status switch is "OFF", and blinking red (200 ms on, 200 ms off)
// while the audio engine reports saturation.
//
// tasks() runs every 10 ms on "eventTasks" and does nothing until initialize() has been called
// (the unit never calls it: its LEDs are driven by the application block). The setters may be
// called from any thread.
class Light {
public:
    // Once: creates the stored colour item under the parent (later calls do nothing).
    static void initialize(Node* parent);
    static void setStatus(NodeEnum* node);
    static void enable();
    static void disable();
    // The default text of the colour item created by a later initialize.
    static void setDefaultColor(std::string text);
    // Stores the colour and drops any temporary colour.
    static void forceColor(std::string text);
    // A text of exactly six characters overrides the stored colour; any other text clears it.
    static void setTempColor(std::string text);
    static void tasks();

    static bool initialized;
    static bool enabled;
    static NodeItem* color;
    static std::string defaultColor;
    static SharedSnapshot<std::string> tempColor;
    static NodeEnum* status;
    static int rgb;

    static constexpr int kRedOutput = 4;
    static constexpr int kGreenOutput = 7;
    static constexpr int kBlueOutput = 2;
};
