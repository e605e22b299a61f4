#include "porting/Nvs.h"

#include "platform/Paths.h"
#include "porting/Log.h"

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

// Reads a whole key file into `buffer` of `capacity` bytes. -1 on any error (printed with `tag`,
// except a missing file), else the number of bytes read.
long readKey(const char* tag, const char* key, void* buffer, size_t capacity, bool sizeInMessage)
{
    std::string path = keyPath(key);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        LOG_E(tag, "fstat error %s\n", path.c_str());
        ::close(fd);
        return -1;
    }
    if (size_t(st.st_size) > capacity) {
        if (sizeInMessage)
            LOG_E(tag, "st_size error %s %lx %lx\n", path.c_str(), (unsigned long)st.st_size, (unsigned long)capacity);
        else
            LOG_E(tag, "st_size error %s\n", path.c_str());
        ::close(fd);
        return -1;
    }
    size_t done = 0;
    while (done < capacity) {
        ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, capacity - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    ::close(fd);
    if (done != size_t(st.st_size)) {
        LOG_E(tag, "bytes_read error %s\n", path.c_str());
        return -1;
    }
    return long(done);
}

// Writes the value to a temporary of this thread's own (two threads writing one key never mix
// their bytes), flushes it to the medium, renames it over the key file and flushes the folder.
int writeKey(const char* tag, const char* key, const void* bytes, size_t length, bool errorTextOnOpen,
             mode_t mode)
{
    std::string path = keyPath(key);
    std::string temp = path + "." + std::to_string(::gettid()) + kTempSuffix;
    // Created afresh, so that the file gets `mode` whatever an older temporary had.
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        LOG_E(tag, "open error %s\n", errorTextOnOpen ? std::strerror(errno) : path.c_str());
        return -1;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, static_cast<const char*>(bytes) + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    bool synced = ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced) {
        LOG_E(tag, "close error %s\n", path.c_str());
        ::unlink(temp.c_str());
        return -1;
    }
    if (done != length) {
        LOG_E(tag, "written error %s\n", path.c_str());
        ::unlink(temp.c_str());
        return -1;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        LOG_E(tag, "written error %s\n", path.c_str());
        ::unlink(temp.c_str());
        return -1;
    }
    if (!syncDirectory()) {
        LOG_E(tag, "sync error %s\n", path.c_str());
        return -1;
    }
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
    struct stat st;
    if (::stat(storeDirectory.c_str(), &st) != 0 && ::mkdir(storeDirectory.c_str(), 0755) != 0) {
        opened = 0;
        return 1;
    }
    opened = 1;
    removeTemporaries();
    return 0;
}

int nvs_get_blob(nvs_handle_t, const char* key, void* buffer, size_t* size)
{
    if (!buffer || !opened || !key || !size) return 1;
    long n = readKey("nvs_get_blob", key, buffer, *size, true);
    if (n < 0) return -1;
    std::memset(static_cast<char*>(buffer) + n, 0, *size - size_t(n));
    *size = size_t(n);
    return 0;
}

int nvs_get_str(nvs_handle_t, const char* key, char* buffer, size_t* size)
{
    if (!buffer || !opened || !key || !size || *size == 0) return 1;
    long n = readKey("nvs_get_str", key, buffer, *size, false);
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
    return writeKey("nvs_set_blob", key, bytes, length, false, kFileMode);
}

int nvs_set_str(nvs_handle_t, const char* key, const char* text)
{
    if (!text || !opened || !key) return 1;
    return writeKey("nvs_set_str", key, text, std::strlen(text) + 1, true, kFileMode);
}

int nvs_set_secret_str(nvs_handle_t, const char* key, const char* text)
{
    if (!text || !opened || !key) return 1;
    return writeKey("nvs_set_str", key, text, std::strlen(text) + 1, true, kSecretMode);
}
