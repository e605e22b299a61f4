#pragma once
#include "ui/Listener.h"

class Tempo;

// The tap-tempo overlay, just above the home screen for the life of the application: from the fifth
// tap of a run it shows the tempo in large digits, and its ticks count the run down so that it ends
// 4 s after the last tap (the ticks do not reach the home screen meanwhile). While no run sets the
// tempo it draws nothing and the screen below draws. Runs on "systemTasks".
class DrawerTempo : public Listener {
public:
    explicit DrawerTempo(Tempo* tempo);

    bool draw() override;
    bool onEvent(int code) override;

protected:
    Tempo* tempo;
};
