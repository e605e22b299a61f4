#include "effects/Pickup.h"

#include "effects/PickupTable.h"
#include "params/NodeEnum.h"
#include "params/NodeOnOff.h"
#include "params/Storage.h"
#include "porting/Clock.h"
#include "porting/Log.h"

namespace {
constexpr const char* TAG = "Pickup";
} // namespace

Pickup::Pickup(Node* parent, bool store) : AudioBlock("Pickup", parent, &Pickup::exec, BLOCK_PREPEND)
{
    onOff = fx::makeEnable(parent);
    input = new NodeEnum(parent, "in_pick", "Input", {"Single Coil", "Single Coil Bright", "Humbucker"},
                         "Single Coil");
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
    active.store(fx::isOn(onOff, external.get()) ? 1 : 0, std::memory_order_relaxed);
    if (input->getTime() <= lastLoad && output->getTime() <= lastLoad) return false;

    int index = output->getIndex();
    if (input->isValue("Single Coil"))
        index += pickup_targets;
    else if (input->isValue("Single Coil Bright"))
        index += 2 * pickup_targets;
    if (index >= 0 && index < pickup_count)
        filter.load(pickup_ptr[index]);
    else
        LOG_E(TAG, "wrong index = %d\n", index);
    lastLoad = int64_t(esp_timer_get_time());
    return false;
}

bool Pickup::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<Pickup*>(block);
    fx::applyGain(frame, 1, self->inputGain.load(std::memory_order_relaxed));
    if (self->active.load(std::memory_order_relaxed)) {
        self->filter.exec(frame[0], frame[0], FRAME_SAMPLES);
        fx::applyFade(frame, 1);
    }
    return false;
}
