#include "app/PanelStandIn.h"

// The unit has its panel.
void PanelStandIn::start(const std::atomic<uint64_t>&) {}
