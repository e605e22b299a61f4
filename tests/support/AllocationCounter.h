#pragma once
// Counts heap allocations of a test program, on any thread, while a window is open. Linking this
// replaces the global operator new for the whole program and, outside the sanitizer builds (which
// bring their own allocator), malloc and its kin too, since code may reach the C allocator directly
// (Eigen does).
namespace alloccount {
void open();
// Closes the window; returns the allocations seen since open.
long close();
} // namespace alloccount
