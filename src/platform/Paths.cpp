#include "platform/Paths.h"

#include "platform/EnvSetting.h"
#include "platform/UnitBoard.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void makeDirs(const std::string& path)
{
    for (size_t pos = 1; pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string prefix = path.substr(0, pos);
        if (!prefix.empty()) mkdir(prefix.c_str(), 0755);
    }
    mkdir(path.c_str(), 0755);
}

// 0 for a folder this process may write in, else why not (an errno).
int folderError(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    return access(path.c_str(), W_OK) == 0 ? 0 : errno;
}

// $KESTRUN_ROOT wins on every build (tests run in a fresh root even on the unit); otherwise the
// unit's paths stand as they are on the unit, and everywhere else live below the user's state folder.
std::string chooseRoot()
{
    std::string root;
    const char* env = EnvSetting::text("KESTRUN_ROOT");
    if (env) {
        root = env;
    } else if (UnitBoard::detected()) {
        return "";
    } else {
        const char* home = std::getenv("HOME");
        root = std::string(home && *home ? home : "/tmp") + "/.local/state/kestrun";
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    makeDirs(root);
    if (int error = folderError(root); env && error != 0)
        EnvSetting::refuse("Paths", "KESTRUN_ROOT", env,
                           std::string("is no folder to write in (") + std::strerror(error) + ")",
                           "nothing is stored, recorded or piped there");
    return root;
}

} // namespace

const std::string& Paths::root()
{
    // Never destroyed: detached threads still map paths while the process exits.
    static const std::string& root = *new std::string(chooseRoot());
    return root;
}

std::string Paths::map(const std::string& unitPath)
{
    if (root().empty()) return unitPath;
    std::string path = root() + (unitPath.empty() || unitPath[0] != '/' ? "/" : "") + unitPath;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > root().size()) makeDirs(path.substr(0, slash));
    return path;
}
