#pragma once
#include "params/NodeControl.h"

#include <string>
#include <vector>

// A controller that records every message its source hands it, as bytes.
class ControlRecorder : public NodeControl {
public:
    ControlRecorder() : NodeControl(nullptr, "rec", "Recorder", nullptr, "", "") {}
    void* getStorageData(int* size) override
    {
        *size = 0;
        return nullptr;
    }
    bool fromString(std::string) override { return false; }
    std::string toString() override { return ""; }
    std::string getValueJSON() override { return "\"value\":\"\""; }
    void reset() override {}
    void fromSource(const char*, unsigned char* bytes, int length) override
    {
        messages.emplace_back(bytes, bytes + length);
    }

    std::vector<std::vector<unsigned char>> messages;
};
