#include "porting/Nvs.h"

#include "platform/Paths.h"
#include "porting/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kTempSuffix = ".tmp";
constexpr mode_t kFileMode = 0666;
constexpr mode_t kSecretMode = 0600;

// Set by nvs_open before any other thread uses the store; read-only afterwards.
std::string storeDirectory;
uint8_t opened = 0;

bool isTemporary(const char* name)
{
    size_t length = std::strlen(name);
    size_t suffix = std::strlen(kTempSuffix);
    return length > suffix && std::strcmp(name + length - suffix, kTempSuffix) == 0;
}

// Writes cut short by a power cut or a kill leave their temporaries behind; the key files
// themselves are whole, so the temporaries only take room.
void removeTemporaries()
{
    DIR* dir = ::opendir(storeDirectory.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir))
        if (isTemporary(entry->d_name)) ::unlink((storeDirectory + "/" + entry->d_name).c_str());
    ::closedir(dir);
}

// A rename reaches the medium only with its folder.
bool syncDirectory()
{
    int fd = ::open(storeDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

std::string keyPath(const char* key)
{
    return storeDirectory + "/" + key;
}

thread_local NvsFailure lastFailure;

int fail(const char* step, const std::string& path, int error = errno)
{
    lastFailure.step = step;
    lastFailure.error = error;
    lastFailure.path = path;
    return -1;
}

// Reads a key file into `buffer` of `capacity` bytes, the rest zeroed; *length = the file's size.
// The file is opened without blocking (a FIFO would hold the reader until a writer came) and without
// following a link, and read only when it is a regular file. A file longer than the buffer is read
// in part when `prefix`, else not at all (the buffer untouched).
nvs_read_t readKey(const char* key, void* buffer, size_t capacity, size_t* length, bool prefix)
{
    *length = 0;
    std::string path = keyPath(key);
    // Looked at before it is opened: opening a device or a FIFO may already do something.
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? NVS_READ_MISSING : NVS_READ_FAILED;
    if (!S_ISREG(st.st_mode)) return NVS_READ_NOT_FILE;
    // Without blocking or following a link, in case the file was replaced meanwhile.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? NVS_READ_MISSING : errno == ELOOP ? NVS_READ_NOT_FILE : NVS_READ_FAILED;
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return statted ? NVS_READ_NOT_FILE : NVS_READ_FAILED;
    }
    *length = size_t(st.st_size);
    if (!prefix && *length > capacity) {
        ::close(fd);
        return NVS_READ_OK;
    }
    std::memset(buffer, 0, capacity);
    size_t want = std::min(capacity, *length);
    size_t done = 0;
    while (done < want) {
        ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, want - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    ::close(fd);
    return done == want ? NVS_READ_OK : NVS_READ_FAILED;
}

// The Part of nvs_get_blob and nvs_get_str that reads: -1 on any error (printed with `tag`, except a
// missing file), else the number of bytes read.
long getKey(const char* tag, const char* key, void* buffer, size_t capacity, bool sizeInMessage)
{
    std::string path = keyPath(key);
    size_t length = 0;
    switch (readKey(key, buffer, capacity, &length, false)) {
    case NVS_READ_MISSING: return -1;
    case NVS_READ_NOT_FILE: LOG_E(tag, "not a regular file %s\n", path.c_str()); return -1;
    case NVS_READ_OK:
        if (length <= capacity) return long(length);
        if (sizeInMessage)
            LOG_E(tag, "st_size error %s %lx %lx\n", path.c_str(), (unsigned long)length, (unsigned long)capacity);
        else LOG_E(tag, "st_size error %s\n", path.c_str());
        return -1;
    default: LOG_E(tag, "bytes_read error %s\n", path.c_str()); return -1;
    }
}

// Writes the value to a temporary of this thread's own (two threads writing one key never mix
// their bytes), flushes it to the medium, renames it over the key file and flushes the folder.
int writeKey(const char* key, const void* bytes, size_t length, mode_t mode)
{
    std::string path = keyPath(key);
    std::string temp = path + "." + std::to_string(::gettid()) + kTempSuffix;
    // Created afresh, so that the file gets `mode` whatever an older temporary had.
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return fail("open", path);
    size_t done = 0;
    int error = 0;
    while (done < length) {
        ssize_t n = ::write(fd, static_cast<const char*>(bytes) + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += size_t(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    const char* step = done != length ? "write" : "close";
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return fail(step, path, error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        fail("rename", path);
        ::unlink(temp.c_str());
        return -1;
    }
    if (!syncDirectory()) return fail("sync", storeDirectory);
    return 0;
}

} // namespace

int nvs_flash_init()
{
    return 0;
}

int nvs_open(const char* name, nvs_open_mode_t, nvs_handle_t*)
{
    storeDirectory = Paths::map(std::string("/home/") + (name ? name : ""));
    opened = 0;
    struct stat st;
    if (::stat(storeDirectory.c_str(), &st) != 0) {
        if (::mkdir(storeDirectory.c_str(), 0755) != 0) {
            fail("mkdir", storeDirectory);
            return 1;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        // A file standing where the folder must be: every write would fail.
        fail("mkdir", storeDirectory, ENOTDIR);
        return 1;
    }
    opened = 1;
    removeTemporaries();
    return 0;
}

int nvs_get_blob(nvs_handle_t, const char* key, void* buffer, size_t* size)
{
    if (!buffer || !opened || !key || !size) return 1;
    long n = getKey("nvs_get_blob", key, buffer, *size, true);
    if (n < 0) return -1;
    *size = size_t(n);
    return 0;
}

int nvs_get_str(nvs_handle_t, const char* key, char* buffer, size_t* size)
{
    if (!buffer || !opened || !key || !size || *size == 0) return 1;
    long n = getKey("nvs_get_str", key, buffer, *size, false);
    if (n < 0) return -1;
    // A text file ends with its NUL; one that does not was torn and must not load as garbage.
    if (n == 0 || buffer[n - 1] != '\0') {
        LOG_E("nvs_get_str", "torn text %s\n", keyPath(key).c_str());
        return -1;
    }
    return 0;
}

int nvs_set_blob(nvs_handle_t, const char* key, const void* bytes, size_t length)
{
    if (!bytes || !opened || !key || ssize_t(length) < 0) return 1;
    return writeKey(key, bytes, length, kFileMode);
}

int nvs_set_str(nvs_handle_t, const char* key, const char* text)
{
    if (!text || !opened || !key) return 1;
    return writeKey(key, text, std::strlen(text) + 1, kFileMode);
}

int nvs_set_secret_str(nvs_handle_t, const char* key, const char* text)
{
    if (!text || !opened || !key) return 1;
    return writeKey(key, text, std::strlen(text) + 1, kSecretMode);
}

nvs_read_t nvs_read(const char* key, void* buffer, size_t capacity, size_t* length)
{
    *length = 0;
    if (!opened || !key || !buffer) return NVS_READ_NOT_OPENED;
    return readKey(key, buffer, capacity, length, true);
}

bool nvs_has_keys()
{
    DIR* dir = opened ? ::opendir(storeDirectory.c_str()) : nullptr;
    if (!dir) return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.' && !isTemporary(entry->d_name)) found = true;
    ::closedir(dir);
    return found;
}

std::string nvs_key_path(const char* key)
{
    return keyPath(key);
}

const NvsFailure& nvs_last_failure()
{
    return lastFailure;
}
