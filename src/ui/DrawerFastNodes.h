#pragma once
#include "ui/Listener.h"

// A minimal level editor drawn into the monochrome buffer: a bar at a level of 0 to 1 that the main
// encoder moves in steps of 0.1; a click closes it. It consumes every event.
class DrawerFastNodes : public Listener {
public:
    DrawerFastNodes() = default;

    bool draw() override;
    bool onEvent(int code) override;

    float level = 0.5f;
};
