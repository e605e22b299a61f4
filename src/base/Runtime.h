#pragma once

// Locks all current and future pages of the process in memory. 0, or -1 when refused (the program
// goes on either way).
int lock_memory();

// The crash handler for SIGSEGV, SIGTRAP and SIGABRT: prints the signal and a backtrace to standard
// error and ends the process with status 1. Only async-signal-safe calls.
void handler(int signal);

// Installs `handler` for the three signals.
void install_crash_handler();
