// Preset text: stored as a preset of the unit's tree, loaded into every covered node, then saved
// again from the nodes.
#include "FuzzSupport.h"

#include "app/Kestrun.h"
#include "params/NodePreset.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Kestrun* unit = fuzz_unit();
    // Stored texts end at a NUL, as the element's bytes do.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    unit->preset->setPresetAt(0, "fuzz", text.data());
    unit->preset->setByIndex(0);
    unit->preset->presetToString();
    unit->preset->isEdited();
    return 0;
}
