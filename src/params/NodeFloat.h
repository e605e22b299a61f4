#pragma once
#include "params/Node.h"

#include <atomic>

// The numeric parameter: a float inside [min, max] with a default, a unit shown after the number
// ("dB", "ms", "Hz", "BPM"; "" for none), the decimals the screens show (0..5, -1 for the usual 2)
// and a slider taper. The taper's shape is the fraction of the range reached at the middle of the
// slider: 0.2 puts a fifth of a frequency range in the first half of the knob's travel; shapes from
// 0.49 to 0.51 (exclusive) are linear, and a shape outside (0, 1) becomes 0.5 on the first slider use.
//
// Screens step it with edit and draw it with toString/toSlider, MIDI mappings set it with fromSlider,
// the remote side with fromString, blocks read getValue on the compile thread. The value is atomic,
// so any thread may read or write it; its stored image is the float's 4 bytes.
class NodeFloat : public Node {
public:
    NodeFloat(Node* parent, const char* name, const char* displayName, float min, float max, float defaultValue,
              const char* unit, float shape, bool inverted, int decimals);
    NodeFloat(Node* parent, const char* name, const char* displayName, float min, float max, float defaultValue,
              const char* unit, float shape, bool inverted);

    void* getStorageData(int* size) override;
    // Repairs a stored value that is not a number or lies outside the range.
    void onLoad() override;

    void edit(bool up) override;
    void fromSlider(float position) override;
    bool fromString(std::string text) override;
    std::string toString() override;
    const char* getType() override { return NodeType::FLOAT; }
    std::string getDescription() override;
    std::string getValueJSON() override;
    void reset() override;

    float getValue() const { return value.load(std::memory_order_relaxed); }
    // Clamped to the range; true when the value changed.
    bool setValue(float newValue);
    // The slider position 0..1 of the value; inversion is left to the screen.
    float toSlider() const;

    bool isInverted() const { return inverted; }
    float getMin() const { return min; }
    float getMax() const { return max; }
    float getDefault() const { return defaultValue; }
    const char* getUnit() const { return unit; }
    float getShape() const { return shape.load(std::memory_order_relaxed); }
    int getDecimals() const { return decimals; }

protected:
    std::atomic<float> value;
    float defaultValue;
    float min;
    float max;
    const char* unit;
    std::atomic<float> shape;
    bool inverted;
    int decimals;

    void store(float newValue);
};
