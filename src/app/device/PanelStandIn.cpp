#include "app/PanelStandIn.h"

// The unit has its panel.
void PanelStandIn::start() {}
