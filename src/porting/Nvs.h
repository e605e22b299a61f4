#pragma once
#include <cstddef>
#include <cstdint>

// The microcontroller SDK's key-value store as plain files: a namespace is the folder
// "/home/<namespace>" and each key one file in it holding exactly the value (a text with its NUL).
// The last namespace opened serves every later call; the handle is ignored. Results: 0 success,
// 1 bad arguments or store not opened, -1 a file error. Writes replace the file atomically, so a
// power cut leaves the old or the new value. One thread at a time.

using nvs_handle_t = int;
enum nvs_open_mode_t { NVS_READONLY, NVS_READWRITE };

int nvs_flash_init();
int nvs_open(const char* name, nvs_open_mode_t mode, nvs_handle_t* handle);
int nvs_get_blob(nvs_handle_t handle, const char* key, void* buffer, size_t* size);
int nvs_get_str(nvs_handle_t handle, const char* key, char* buffer, size_t* size);
int nvs_set_blob(nvs_handle_t handle, const char* key, const void* bytes, size_t length);
int nvs_set_str(nvs_handle_t handle, const char* key, const char* text);
