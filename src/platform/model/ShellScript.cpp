#include "platform/model/ShellScript.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Reply {
    int exitCode = 0;
    std::string output;
};

std::string unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

Reply lookup(const std::string& command)
{
    std::ifstream in(ShellScript::repliesPath());
    std::string line;
    while (std::getline(in, line)) {
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) continue;
        std::string prefix = unescape(line.substr(tab1 + 1, tab2 - tab1 - 1));
        if (command.compare(0, prefix.size(), prefix) != 0) continue;
        Reply reply;
        reply.exitCode = std::atoi(line.substr(0, tab1).c_str());
        reply.output = unescape(line.substr(tab2 + 1));
        return reply;
    }
    return {};
}

// One write(2) per record with O_APPEND, so records of concurrent callers never interleave.
void record(const std::string& command, const std::string* input)
{
    std::string text = command;
    if (text.empty() || text.back() != '\n') text += '\n';
    if (input) {
        text += *input;
        if (!input->empty() && input->back() != '\n') text += '\n';
    }
    int fd = ::open(ShellScript::logPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    ::close(fd);
}

int waitStatus(int exitCode)
{
    return exitCode < 0 ? -1 : (exitCode & 0xff) << 8;
}

} // namespace

std::string ShellScript::logPath()
{
    return Paths::root() + "/shell.log";
}

std::string ShellScript::repliesPath()
{
    return Paths::root() + "/shell.replies";
}

void ShellScript::add(const std::string& prefix, int exitCode, const std::string& output)
{
    std::ofstream out(repliesPath(), std::ios::app);
    out << exitCode << '\t' << escape(prefix) << '\t' << escape(output) << '\n';
}

void ShellScript::reset()
{
    ::unlink(repliesPath().c_str());
    ::unlink(logPath().c_str());
}

std::string ShellScript::log()
{
    std::ifstream in(logPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int ShellScript::system(const std::string& command)
{
    record(command, nullptr);
    return waitStatus(lookup(command).exitCode);
}

bool ShellScript::read(const std::string& command, std::string& output, int* status)
{
    record(command, nullptr);
    Reply reply = lookup(command);
    output.clear();
    if (status) *status = waitStatus(reply.exitCode);
    if (reply.exitCode < 0) return false;
    output = reply.output;
    return true;
}

int ShellScript::write(const std::string& command, const std::string& input)
{
    record(command, &input);
    return waitStatus(lookup(command).exitCode);
}
