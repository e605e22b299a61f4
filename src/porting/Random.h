#pragma once

// Fills the buffer with random bytes from the operating system's generator (login tokens must not
// repeat after a reboot of a unit without a real-time clock). A length of 0 or less writes nothing.
void esp_fill_random(void* buffer, int length);
