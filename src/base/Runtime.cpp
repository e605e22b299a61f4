#include "base/Runtime.h"

#include "porting/Log.h"

#include <csignal>
#include <execinfo.h>
#include <sys/mman.h>
#include <unistd.h>

int lock_memory()
{
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
        LOG_E("Memory", "mlockall failed\n");
        return -1;
    }
    LOG_I("Memory", "All current and future memory pages locked in RAM\n\n");
    return 0;
}

namespace {

void writeText(const char* text)
{
    size_t length = 0;
    while (text[length]) ++length;
    ssize_t ignored = ::write(STDERR_FILENO, text, length);
    (void)ignored;
}

} // namespace

void handler(int signal)
{
    void* frames[50];
    int depth = backtrace(frames, 50);
    char number[16];
    int n = 0;
    unsigned value = unsigned(signal < 0 ? -signal : signal);
    do {
        number[n++] = char('0' + value % 10);
        value /= 10;
    } while (value && n < 15);
    char text[64] = "Errore: segnale ";
    size_t at = 16;
    if (signal < 0) text[at++] = '-';
    while (n) text[at++] = number[--n];
    text[at++] = ':';
    text[at++] = '\n';
    text[at] = 0;
    writeText(text);
    backtrace_symbols_fd(frames, depth, STDERR_FILENO);
    _exit(1);
}

void install_crash_handler()
{
    // backtrace() loads its unwinder on first use; do that now, not inside the handler.
    void* warm[1];
    backtrace(warm, 1);
    std::signal(SIGSEGV, handler);
    std::signal(SIGTRAP, handler);
    std::signal(SIGABRT, handler);
}
