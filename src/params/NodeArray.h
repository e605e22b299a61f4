#pragma once
#include "params/Node.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// A variable-length row of floats with a common range, unit and decimals, plus an x axis (value k
// lies at xStart + k * xStep) for drawing it as a curve; the array editor screen works on it. Values
// are stored as written and clamped to [min, max] when read.
//
// Text form (the remote side): two bytes per value, both with bit 7 set, low byte first: the first
// carries bits 0..6 of the magnitude, the second the sign (bit 6) and bits 7..12. Encoding "b2d0"
// sends whole numbers, "b2d1" tenths; magnitudes above 8191 are sent as 8191.
//
// Stored image: the length word followed by max length floats, (max length + 1) * 4 bytes. Words are
// atomic, so the screen, remote and storage threads can share the node without locks (a reader may
// see a row half way through a change, never a torn value).
class NodeArray : public Node {
public:
    static constexpr const char* TYPE = "array";
    static constexpr const char* EncB2D0 = "b2d0";
    static constexpr const char* EncB2D1 = "b2d1";

    // `unit`, `encoding` and `xUnit` must live as long as the program (literals). Decimals outside
    // 0..5 mean "not set" (-1).
    NodeArray(Node* parent, const char* name, const char* displayName, int maxLength, float min, float max,
              const char* unit, int decimals, const char* encoding);
    NodeArray(Node* parent, const char* name, const char* displayName, int maxLength, float min, float max,
              const char* unit, int decimals, const char* encoding, float xStart, float xStep, const char* xUnit);

    // Repairs a stored length outside 0..max length.
    void onLoad() override;
    void* getStorageData(int* size) override;
    // Single values are edited with editAt.
    void edit(bool) override {}
    // A quoted encoded text; the result of decode.
    bool fromString(std::string text) override;
    // Its text is bytes from 0x80 up, no UTF-8: a fragment it gives is read back as it was.
    bool takesBytes() const override { return true; }
    // The length.
    std::string toString() override;
    const char* getType() override { return TYPE; }
    std::string getDescription() override;
    std::string getValueJSON() override;
    // Length 0; the values stay behind it.
    void reset() override;

    int getLength() const;
    int getMaxLength() const { return maxLength; }
    float getMin() const { return min; }
    float getMax() const { return max; }
    const char* getUnit() const { return unit; }
    int getDecimals() const { return decimals; }
    float getXStart() const { return xStart; }
    float getXStep() const { return xStep; }
    const char* getXUnit() const { return xUnit; }

    // False when n lies outside 0..max length.
    bool setLength(int n);
    // Stores v (unclamped) at k, growing the length to k + 1 when needed. False when k lies outside
    // 0..max length - 1 or v is not a number.
    bool setValueAt(float v, int k);
    // Clamped; 0 outside the length.
    float getValueAt(int k) const;
    // Linear between neighbours; the first value below x = 0, the last from the last index on.
    float getInterpolatedValueAt(float x) const;
    // One knob step of value k: one unit of the last decimal shown (10 when decimals are not set).
    void editAt(int k, bool up);
    // "" outside the length.
    std::string toStringAt(int k) const;
    // Takes the values of an array of the same max length, clamped to its range.
    void copy(NodeArray* source);
    std::string encode() const;
    // False for another encoding, an odd length or a byte without bit 7; nothing changes then.
    bool decode(const std::string& text);

private:
    int maxLength;
    float min;
    float max;
    const char* unit;
    int decimals;
    const char* encoding;
    float xStart;
    float xStep;
    const char* xUnit;
    // Word 0: the length; words 1..max length: the values.
    std::unique_ptr<std::atomic<uint32_t>[]> buffer;

    float rawAt(int k) const;
    void storeRaw(int k, float v);
    void storeLength(int n);
    float clampValue(float v) const;
    bool tenths() const;
    bool knownEncoding() const;
};
