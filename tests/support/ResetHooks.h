#pragma once

// A whole test program may run in one process (run directly rather than one test per process by
// CTest). Module statics then outlive the test that set them: a reset hook puts one module back the
// way a fresh process finds it. Before each test but the first, the test main ends the threads of
// the tests before (task_end_all), runs every hook (in no particular order: each stands alone),
// restores the environment and empties the root folder.
//
// Register with a static object in a file linked into the test program:
//     static ResetHook storageReset([] { ... });
struct ResetHook {
    explicit ResetHook(void (*hook)());
};

void run_reset_hooks();
