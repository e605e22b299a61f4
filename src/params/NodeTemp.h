#pragma once
#include "params/NodeFloat.h"

#include <atomic>
#include <string>

class NodeEnum;

// A temperature: a float node holding degrees Celsius (unit "C") that the screens show in the unit
// the player chose globally with root\sys\temp_unit ("C" or "F", stored). The remote side and the
// stored file always carry Celsius. The unit selector is created by the first temperature node, or
// by the first use of a unit function once the system tree exists; until then everything is Celsius.
class NodeTemp : public NodeFloat {
public:
    NodeTemp(Node* parent, const char* key, const char* label, float min, float max, float defaultValue, float shape,
             bool inverted, int decimals);

    // The value in the chosen unit, then a blank and the unit text.
    std::string toString() override;
    // One degree Celsius, or two degrees Fahrenheit landing on a whole degree.
    void edit(bool up) override;

    // A temperature in degrees Celsius expressed in the chosen unit.
    static float convertTemperature(float celsius);
    // A temperature difference in the chosen unit (no offset).
    static float convertDeltaTemperature(float delta);
    // Two bytes: the degree sign of the Latin-1 page (0xB0) and "C" or "F".
    static std::string getTemperatureUnit();
    // Creates root\sys\temp_unit once, below the system folder of the tree that `anyNode` belongs to,
    // or, without a node, of the tree whose nodes are persisted. Nothing when no such folder exists.
    static void createSystemNode(Node* anyNode = nullptr);

    static std::atomic<NodeEnum*> temp_unit;

private:
    static bool fahrenheit();
};
