#pragma once
#include "params/NodeItem.h"

// An RGB colour as six lower-case hexadecimal digits ("ff0000" is red). The knob walks the hue in
// steps of 5 degrees at full saturation and half lightness.
class NodeColor : public NodeItem {
public:
    NodeColor(Node* parent, const char* name, const char* displayName, std::string rgb);

    void edit(bool up) override;

    // Components 0..255; 0 when the value is not six hexadecimal digits.
    int getR() const;
    int getG() const;
    int getB() const;
    // Degrees 0 up to 360; 0 for a grey and (with an error line) for a malformed value.
    float getHue() const;
    // Sets the colour of the hue (degrees, clamped to 0..360) at full saturation, half lightness.
    void hueToS100L50(float hue);

private:
    static bool parse(const std::string& text, int rgb[3]);
};
