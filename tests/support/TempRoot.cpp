#include "support/TempRoot.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

std::string test_root()
{
    const char* root = std::getenv("KESTRUN_ROOT");
    return root ? root : "";
}

std::string make_temp_dir(const std::string& name)
{
    std::string path = test_root() + "/" + name;
    ::mkdir(path.c_str(), 0755);
    return path;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string program_command(const std::string& program)
{
    std::string emulator = KESTRUN_EMULATOR;
    return emulator.empty() ? program : emulator + " " + program;
}

static int captureCounter = 0;

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    path_ = test_root() + "/stdout." + std::to_string(++captureCounter);
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

std::string StdoutCapture::text()
{
    if (!done_) {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        done_ = true;
    }
    return read_file(path_);
}

StdoutCapture::~StdoutCapture()
{
    text();
}
