#pragma once
// Counts heap allocations of this test binary while a window is open. The global operator new is
// replaced for the whole binary (and, outside the sanitizer build, malloc and its kin too, since a
// block could reach the C allocator directly).
namespace alloccount {
void open();
// Closes the window; returns the allocations seen since open.
long close();
} // namespace alloccount
