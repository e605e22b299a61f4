#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The microcontroller SDK's key-value store as plain files: a namespace is the folder
// "/home/<namespace>" and each key one file in it holding exactly the value (a text with its NUL).
// The last namespace opened serves every later call; the handle is ignored. Results: 0 success,
// 1 bad arguments or store not opened, -1 a file error.
//
// A write goes to a temporary file of its own ("<key>.<thread>.tmp"), is flushed to the medium,
// renamed over the key file, and the folder is flushed too, so that a power cut or a kill leaves
// the old or the new value, never a part. Temporaries left by a cut are removed when the store is
// opened. After nvs_open, reads and writes may come from several threads (different keys).
//
// No read blocks or follows a link: a key that is a folder, FIFO, socket, device or symbolic link is
// not read. Writes print nothing: a failed one leaves what failed in nvs_last_failure, for the
// caller to report once.

using nvs_handle_t = int;
enum nvs_open_mode_t { NVS_READONLY, NVS_READWRITE };

int nvs_flash_init();
int nvs_open(const char* name, nvs_open_mode_t mode, nvs_handle_t* handle);
// Reads the file into `buffer` of *size bytes, the rest of the buffer zeroed; *size becomes the
// length of the file. A file longer than the buffer is refused.
int nvs_get_blob(nvs_handle_t handle, const char* key, void* buffer, size_t* size);
int nvs_get_str(nvs_handle_t handle, const char* key, char* buffer, size_t* size);
int nvs_set_blob(nvs_handle_t handle, const char* key, const void* bytes, size_t length);
int nvs_set_str(nvs_handle_t handle, const char* key, const char* text);
// As nvs_set_str, for passwords: the file is readable and writable by its owner only (0600).
int nvs_set_secret_str(nvs_handle_t handle, const char* key, const char* text);

// What nvs_read found.
enum nvs_read_t { NVS_READ_OK, NVS_READ_MISSING, NVS_READ_NOT_FILE, NVS_READ_FAILED, NVS_READ_NOT_OPENED };
// Reads at most `capacity` bytes of a key file into `buffer`, the rest of the buffer zeroed; *length
// becomes the file's whole length, which may be more than was read. Prints nothing.
nvs_read_t nvs_read(const char* key, void* buffer, size_t capacity, size_t* length);
// Whether the store folder holds any key file.
bool nvs_has_keys();
// The path of a key file.
std::string nvs_key_path(const char* key);

// The latest failure of nvs_open or of a write on the calling thread: the step that failed ("mkdir",
// "open", "write", "close", "rename", "sync"), the system's error number and the path.
struct NvsFailure {
    const char* step = "";
    int error = 0;
    std::string path;
};
const NvsFailure& nvs_last_failure();
