#pragma once
#include <cstdint>
#include <memory>
#include <string>

// The launcher and the program-image upload. One program file is the unit's launcher, its recovery
// image and its application. At start, a process not launched by another instance of itself
// ("APP_CALLED" unset) reads GPIO line 40: when it reads 1 the installed image /home/app_run runs as a
// child until it ends; either way the process then goes on as the update application, which keeps
// the remote protocol up so that a new image can be uploaded. When the line cannot be read the
// process is the application itself.
//
// The upload: update_start announces the size in decimal digits and learns the chunk size (2048
// bytes; "0" when the size is no plain decimal number, is over kMaxImageBytes or cannot be held, and
// no transfer is open; a size of 0 opens a transfer that takes nothing); update_data
// takes hexadecimal chunks and replies how many bytes have arrived. The finished image replaces
// /home/app_run atomically (temporary file, fsync, rename), so a failed upload keeps the old image.
// initialize runs on the main thread before anything else; transfers on "comTasks" only.
class Update {
public:
    static void initialize();
    static bool isEnabled() { return enabled; }
    static bool isRecovery() { return recovery; }
    static const char* getFormat() { return "upd"; }

    static std::string update_start(const std::string& size);
    static std::string update_data(const std::string& hex);
    static void update_abort();

    // Larger images are refused before the transfer starts: the buffer is held in memory until the
    // transfer ends. The unit's program is about 15 MB with line tables, 60 MB with full debug
    // information.
    static constexpr int kMaxImageBytes = 256 * 1024 * 1024;

    static bool enabled;
    static bool recovery;
    static bool initialized;
    static int update_bytes;
    static int received_bytes;
    static std::unique_ptr<uint8_t[]> update_handle;
    static int batch_size;

private:
    static bool writeImage();
};
