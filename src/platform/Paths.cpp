#include "platform/Paths.h"

#include "platform/UnitBoard.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {

void makeDirs(const std::string& path)
{
    for (size_t pos = 1; pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string prefix = path.substr(0, pos);
        if (!prefix.empty()) mkdir(prefix.c_str(), 0755);
    }
    mkdir(path.c_str(), 0755);
}

// $KESTRUN_ROOT wins on every build (tests run in a fresh root even on the unit); otherwise the
// unit's paths stand as they are on the unit, and everywhere else live below the user's state folder.
std::string chooseRoot()
{
    std::string root;
    if (const char* env = std::getenv("KESTRUN_ROOT"); env && *env) {
        root = env;
    } else if (UnitBoard::detected()) {
        return "";
    } else {
        const char* home = std::getenv("HOME");
        root = std::string(home && *home ? home : "/tmp") + "/.local/state/kestrun";
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    makeDirs(root);
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
