#pragma once
#include "ui/Listener.h"

class Tuner;

// The tuner overlay, just above the home screen for the life of the application: while the tuner
// is on it shows the note, octave, deviation bar, frequency, input level and the A4 reference, and
// takes the footswitches (a click or long press switches the tuner off, a press does nothing) and
// the main encoder (steps the reference). While the tuner is off it draws nothing and passes every
// code on. Runs on "systemTasks"; the results it shows are written by the tuner's compile pass.
class DrawerTuner : public Listener {
public:
    explicit DrawerTuner(Tuner* tuner);

    bool draw() override;
    bool onEvent(int code) override;

protected:
    Tuner* tuner;

private:
    bool isOn() const;
};
