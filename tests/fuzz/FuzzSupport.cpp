#include "FuzzSupport.h"

#include "app/Kestrun.h"
#include "base/System.h"
#include "params/NodeItem.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string root;

void removeRoot()
{
    if (root.empty() || std::getenv("KESTRUN_KEEP_ROOT")) return;
    std::string command = "rm -rf '" + root + "'";
    if (std::system(command.c_str()) != 0) {}
}

} // namespace

void fuzz_setup()
{
    if (!root.empty()) return;
    // Memory-backed by default: the targets that store files would spend their time in fsync.
    const char* tmp = std::getenv("TMPDIR");
    root = std::string(tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kestrun-fuzz.XXXXXX";
    if (!mkdtemp(root.data())) std::abort();
    setenv("KESTRUN_ROOT", root.c_str(), 1);
    std::atexit(removeRoot);
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0 && !std::getenv("KESTRUN_FUZZ_LOG")) ::dup2(null, STDOUT_FILENO);
    if (null >= 0) ::close(null);
}

Kestrun* fuzz_unit()
{
    static Kestrun* unit = [] {
        fuzz_setup();
        System::initialize("ap0003");
        return new Kestrun(System::appNode(), System::rootNode());
    }();
    return unit;
}

std::string fuzz_text(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    return std::string(text, strnlen(text, size));
}
