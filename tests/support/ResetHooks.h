#pragma once

// A whole test program may run in one process (run directly rather than one test per process by
// CTest). Module statics then outlive the test that set them: a reset hook puts one module back the
// way a fresh process finds it. The test main runs every hook after each test, newest first (upper
// layers before the ones below them), then empties the root folder.
//
// Register with a static object in a file linked into the test program:
//     static ResetHook storageReset([] { ... });
struct ResetHook {
    explicit ResetHook(void (*hook)());
};

void run_reset_hooks();
