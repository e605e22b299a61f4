#pragma once
#include "params/NodeFloat.h"

// A duration: a float node holding seconds (linear knob, whole seconds), shown as "m:ss" with the
// unit "mm:ss", as "h:mm:ss" with "hh:mm:ss", or as a plain float with any other unit.
class NodeTimer : public NodeFloat {
public:
    static constexpr const char* MM_SS = "mm:ss";
    static constexpr const char* HH_MM_SS = "hh:mm:ss";

    NodeTimer(Node* parent, const char* key, const char* label, float min, float max, float defaultValue,
              const char* unit);

    std::string toString() override;
    // One second up or down.
    void edit(bool up) override;
};
