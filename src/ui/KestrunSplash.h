#pragma once

// The unit's start-up picture ("Vornetide" over "PRO" on the dark theme), drawn into the active
// screen. The board layer sets it as LCD's custom splash; runs on "eventTasks" during start-up.
void kestrun_splash();
