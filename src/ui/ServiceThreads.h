#pragma once

// The two service threads of the user interface and the unit's housekeeping.
//
// "systemTasks" (system_tasks): every 10 ms one EventDispatcher::dispatch and the frame step; every
// sixth pass (about 60 ms) the frame step renders the widgets that exist, posts the draw event and
// empties the screen, so the top screen builds its widgets again on the next pass.
//
// "eventTasks" (event_tasks): starts the board (codec, display and splash, panel I/O), then every
// 10 ms the board's input events, the 200-ms tick (posted and broadcast), the panel I/O, the status
// light, the clock and storage write-back, in this order.
//
// waitModal runs the systemTasks pass in place, nested inside a screen's onEvent on "systemTasks",
// until a screen is closed: a screen that has just pushed a modal screen (popup, keyboard) reads the
// modal's result once it returns.

// Thread bodies; the argument is not used and they never return.
void* system_tasks(void*);
void* event_tasks(void*);

void waitModal();
// Called by system_tasks between its passes, never inside waitModal (a popup closing there would end
// the wait of the modal screen below it): a value that storage could not write, which would be lost
// at the next start, is told to the player in a popup naming the failure, once per failure told in
// the log.
void tell_storage_failures();
// One systemTasks pass (10-ms sleep, one dispatch, the frame step); returns what dispatch returned.
int system_tasks_loop();
// One eventTasks pass without its sleep, after the board has been started (what event_tasks repeats).
void event_tasks_pass();
// Back to the start: no pass counted, board and tick not started (test programs, between tests).
void service_threads_reset();
