#include "effects/Pickup.h"

#include "effects/PickupTable.h"
#include "params/NodeEnum.h"
#include "params/NodeOnOff.h"
#include "params/Storage.h"
#include "porting/Log.h"

namespace {
constexpr const char* kTag = "Pickup";
} // namespace

Pickup::Pickup(Node* parent, bool store) : AudioBlock("Pickup", parent, &Pickup::exec, BLOCK_PREPEND)
{
    onOff = fx::makeEnable(parent);
    input = new NodeEnum(parent, "in_pick", "Input", {"Single Coil", "Single Coil Bright", "Humbucker"}, "Single Coil");
    output = new NodeEnum(parent, "out_pick", "Output",
                          {"Humbucker Bright", "Humbucker Classic", "Humbucker Modern", "Humbucker Rails",
                           "Humbucker Corvin", "Humbucker Vintage", "Humbucker Wide", "Humbucker Wide Jazz",
                           "Humbucker Jazz Box", "Single Coil Active", "Single Coil Bridge+Mid", "Single Coil Hot",
                           "Single Coil Modern", "Single Coil Neck+Mid", "Single Coil P90", "Single Coil P90J",
                           "Single Coil Tele", "Single Coil Vintage"},
                          "Humbucker Bright");
    if (store) {
        Storage::addItem(onOff);
        Storage::addItem(input);
        Storage::addItem(output);
    }
}

bool Pickup::compile()
{
    int index = output->getIndex();
    if (input->isValue("Single Coil")) index += pickup_targets;
    else if (input->isValue("Single Coil Bright")) index += 2 * pickup_targets;
    // The response the audio should have is the one of the selectors as they are now: compared with
    // the one loaded, every change is loaded once, whatever the clock says.
    Structure live{fx::isOn(onOff, external.get()), index};
    if (index < 0 || index >= pickup_count) {
        if (index != reportedIndex) LOG_E(kTag, "wrong index = %d\n", index);
        reportedIndex = index;
        live.table = structure.table;
    }
    const Structure before = structure;
    if (fx::takeStructure(structure, live)) {
        if (structure.table != before.table) filter.load(pickup_ptr[structure.table]);
        // Switched on, the filter starts from silence rather than from what it heard long ago.
        if (structure.on && !before.on) filter.resetStatus();
    }
    params.fixed().on = structure.on;
    params.publish();
    return false;
}

bool Pickup::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<Pickup*>(block);
    const bool on = self->params.read().on;
    self->params.advance(FRAME_SAMPLES);
    const Ramp gain = self->params[self->gain];
    for (int i = 0; i < FRAME_SAMPLES; ++i) frame[0][i] *= gain.at(i);
    if (on) self->filter.exec(frame[0], frame[0], FRAME_SAMPLES);
    return false;
}

void Pickup::resetState()
{
    filter.reset();
}
