#include "app/PanelStandIn.h"

#include "app/PanelWiring.h"
#include "platform/EnvSetting.h"
#include "platform/Paths.h"
#include "platform/UnitBoard.h"
#include "platform/model/I2cModel.h"
#include "platform/model/SpiChain.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kTag = "Panel";

// The board debounces an input over 50 ms of its own clock: a level counts once two of its passes,
// this far apart, have drained frames with it.
constexpr auto kSettle = std::chrono::milliseconds(70);
// A long press: past the 1.5 s after which the board reports one.
constexpr auto kLongHold = std::chrono::milliseconds(1600);
// A board that stopped taking frames (a test driving it by hand) is waited for no longer than this; a
// late one, on a loaded machine, well within it.
constexpr auto kBoardTimeout = std::chrono::seconds(30);
// The converter's step (full scale +-4.096 V).
constexpr double kMvPerStep = 0.125;
// Longer command lines are dropped.
constexpr size_t kMaxLine = 1024;
// A longer escape sequence is no key.
constexpr size_t kMaxSequence = 16;
// Commands that take longer than this are refused.
constexpr int kMaxDetents = 1000;
constexpr int kMaxWaitMs = 600000;

// The quadrature cycle of one detent upwards, as line A x 2 + line B: 0 -> 2 -> 3 -> 1 -> 0.
constexpr int kDetentUp[4] = {2, 3, 1, 0};

using Clock = std::chrono::steady_clock;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The input lines of the chain, all at rest (0) at start.
class Lines {
public:
    // Sets the levels (bit, 0 or 1) and returns once the chain has shifted in a whole frame with them.
    void set(const std::vector<std::pair<int, int>>& levels)
    {
        for (auto [bit, level] : levels) {
            if (level) bits |= 1u << bit;
            else bits &= ~(1u << bit);
        }
        uint64_t before = SpiChain::transfers();
        SpiChain::setInputs({uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16)});
        // A transfer that counts after the change has read the new levels; two make sure a whole
        // frame did. The chain runs only while the board prepares frames: a late board is waited for.
        auto end = Clock::now() + kBoardTimeout;
        while (SpiChain::transfers() < before + 2 && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

private:
    uint32_t bits = 0;
};

Lines lines;

// The board's event-loop passes so far (each after it drained every frame waiting).
const std::atomic<uint64_t>* boardPasses = nullptr;
// A serving thread runs (it clears this as it leaves: a test program ends it between tests).
std::atomic<bool> serving{false};

// Returns once a pass that began after this call has drained the frames shifted in before it.
void waitPass()
{
    const uint64_t start = boardPasses->load();
    const auto end = Clock::now() + kBoardTimeout;
    // The pass running now may have drained before the latest frames: the one after it has not.
    while (boardPasses->load() < start + 2 && Clock::now() < end) sleepMs(1);
}

// Holds the levels just shifted in until the board has taken them as debounced, and then `extra`
// longer (the board times presses with its own clock, however late its passes run).
void waitSeen(std::chrono::milliseconds extra = std::chrono::milliseconds(0))
{
    waitPass();
    std::this_thread::sleep_until(Clock::now() + kSettle);
    // This pass began more than the debounce time after one that saw the levels: it took them, if
    // no earlier one did.
    waitPass();
    if (extra.count() == 0) return;
    std::this_thread::sleep_until(Clock::now() + extra);
    waitPass();
}

// A number argument called `name`, within [low, high]; false with the reason, which names the
// argument and its range, otherwise.
bool numberIn(const std::string& text, const char* name, long low, long high, int& value, std::string& error)
{
    char* end = nullptr;
    errno = 0;
    const long v = text.empty() ? 0 : std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) {
        error = std::string("not a number of ") + name + ": " + text;
        return false;
    }
    if (errno == ERANGE || v < low || v > high) {
        error = std::string(name) + " " + text + " out of range (" + std::to_string(low) + " to " +
                std::to_string(high) + ")";
        return false;
    }
    value = int(v);
    return true;
}

// The encoder index of main, knob1 .. knob4; -1 for any other word.
int encoderOf(const std::string& word)
{
    if (word == "main") return 0;
    if (word.size() == 5 && word.compare(0, 4, "knob") == 0 && word[4] >= '1' && word[4] <= '4') return word[4] - '0';
    return -1;
}

// The input bit of an encoder push or a footswitch; -1 for any other word.
int pushBitOf(const std::string& word)
{
    int encoder = encoderOf(word);
    if (encoder >= 0) return kEncoderWiring[encoder].push;
    if (word.size() == 1 && word[0] >= 'a' && word[0] <= 'c') return kFootswitchBits[word[0] - 'a'];
    return -1;
}

void turn(int encoder, int detents)
{
    const EncoderWiring& w = kEncoderWiring[encoder];
    for (int d = 0; d < std::abs(detents); d++) {
        // The whole cycle right after a pass of the board, so that one pass takes all of it: the board
        // forgets a detent begun more than 2 s (of its clock) before its end.
        waitPass();
        for (int i = 0; i < 4; i++) {
            // Downwards the same cycle runs backwards: 0 -> 1 -> 3 -> 2 -> 0.
            int state = detents > 0 ? kDetentUp[i] : kDetentUp[(6 - i) % 4];
            lines.set({{w.lineA, state >> 1}, {w.lineB, state & 1}});
        }
    }
}

// Pressed together, held `extra` past the debounce, then released.
void hold(const std::vector<int>& bits, std::chrono::milliseconds extra)
{
    std::vector<std::pair<int, int>> down, up;
    for (int b : bits) {
        down.emplace_back(b, 1);
        up.emplace_back(b, 0);
    }
    lines.set(down);
    waitSeen(extra);
    lines.set(up);
    waitSeen();
}

// Carries out one command line; false (with the reason) when it is not one or an argument is wrong.
bool run(const std::string& line, std::string& error)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        for (char& c : w) c = char(std::tolower(static_cast<unsigned char>(c)));
        words.push_back(w);
    }
    if (words.empty()) return true;
    const std::string& verb = words[0];
    const std::string arg = words.size() > 1 ? words[1] : "";
    int n = 0;
    if (verb == "turn" && words.size() <= 3 && encoderOf(arg) >= 0) {
        if (words.size() == 3 && !numberIn(words[2], "detents", -kMaxDetents, kMaxDetents, n, error)) return false;
        turn(encoderOf(arg), words.size() == 3 ? n : 1);
    } else if ((verb == "click" || verb == "long") && words.size() == 2 && pushBitOf(arg) >= 0) {
        hold({pushBitOf(arg)}, verb == "click" ? std::chrono::milliseconds(0) : kLongHold);
    } else if ((verb == "press" || verb == "release") && words.size() == 2 && pushBitOf(arg) >= 0) {
        lines.set({{pushBitOf(arg), verb == "press" ? 1 : 0}});
        waitSeen();
    } else if (verb == "pair" && words.size() == 2 && (arg == "ab" || arg == "bc")) {
        int first = arg == "ab" ? 0 : 1;
        hold({kFootswitchBits[first], kFootswitchBits[first + 1]}, std::chrono::milliseconds(0));
    } else if (verb == "expr" && words.size() == 2) {
        if (!numberIn(arg, "millivolts", 0, 4095, n, error)) return false;
        I2cModel::setConversion(int16_t(n / kMvPerStep));
    } else if (verb == "bit" && words.size() == 3) {
        int level = 0;
        if (!numberIn(arg, "bit", 0, 23, n, error) || !numberIn(words[2], "level", 0, 1, level, error)) return false;
        lines.set({{n, level}});
    } else if (verb == "wait" && words.size() == 2) {
        if (!numberIn(arg, "milliseconds", 0, kMaxWaitMs, n, error)) return false;
        sleepMs(n);
    } else {
        error = "not a panel command (turn, click, long, press, release, pair, expr, bit, wait)";
        return false;
    }
    return true;
}

void runLine(std::string line)
{
    if (size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return;
    line.erase(0, first);
    std::string error;
    if (run(line, error)) LOG_I(kTag, "%s\n", line.c_str());
    else LOG_W(kTag, "%s: %s\n", line.c_str(), error.c_str());
}

// Terminal keys: the command each stands for.
const char* commandOfKey(const std::string& key)
{
    static const struct {
        const char* key;
        const char* command;
    } kKeys[] = {
        {"\x1b[C", "turn main 1"},
        {"\x1b[A", "turn main 1"},
        {"\x1b[D", "turn main -1"},
        {"\x1b[B", "turn main -1"},
        {"\n", "click main"},
        {"\r", "click main"},
        {"l", "long main"},
        {"a", "click a"},
        {"b", "click b"},
        {"c", "click c"},
        {"A", "long a"},
        {"B", "long b"},
        {"C", "long c"},
        {"1", "click knob1"},
        {"2", "click knob2"},
        {"3", "click knob3"},
        {"4", "click knob4"},
        {"5", "long knob1"},
        {"6", "long knob2"},
        {"7", "long knob3"},
        {"8", "long knob4"},
        {"q", "turn knob1 -1"},
        {"w", "turn knob1 1"},
        {"e", "turn knob2 -1"},
        {"r", "turn knob2 1"},
        {"t", "turn knob3 -1"},
        {"y", "turn knob3 1"},
        {"u", "turn knob4 -1"},
        {"i", "turn knob4 1"},
        {"p", "pair ab"},
        {"o", "pair bc"},
    };
    for (const auto& k : kKeys)
        if (key == k.key) return k.command;
    return nullptr;
}

// A watcher process puts the terminal back as it was when the program ends, however it ends (a
// kill, a crash, the unit's missing shutdown; an orderly stop gives it back itself first). It waits
// for the end of a pipe whose other end only the program holds.
void watchTerminal(const termios& saved)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        // Nothing of the program's stays open here (sockets, pipes, ports), and Ctrl-C or a hang-up,
        // which reach the whole foreground group, must not end the watcher first.
        if (ends[0] > 3) close_range(3, unsigned(ends[0]) - 1, 0);
        close_range(unsigned(ends[0]) + 1, ~0U, 0);
        for (int s : {SIGINT, SIGQUIT, SIGTSTP, SIGHUP}) std::signal(s, SIG_IGN);
        char c;
        for (;;) {
            ssize_t n = read(ends[0], &c, 1);
            if (n == 0 || (n < 0 && errno != EINTR)) break;
        }
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        _exit(0);
    }
    close(ends[0]);
    if (pid < 0) close(ends[1]);
}

// The terminal's settings before the keys took it, for giveTerminalBack.
termios savedTerminal;
std::atomic<bool> terminalTaken{false};

// Keys arrive one at a time without echo; the terminal is put back when the program ends.
bool takeTerminal()
{
    const char* want = EnvSetting::text("KESTRUN_PANEL_KEYS");
    if (!want || std::strcmp(want, "0") == 0) return false;
    if (std::strcmp(want, "1") != 0) {
        EnvSetting::refuse(kTag, "KESTRUN_PANEL_KEYS", want, "is neither 1 nor 0", "the keys do not work the panel");
        return false;
    }
    if (!isatty(STDIN_FILENO)) {
        EnvSetting::refuse(kTag, "KESTRUN_PANEL_KEYS", want, "but standard input is no terminal",
                           "only the pipe works the panel");
        return false;
    }
    // A job started in the background of its terminal (./run.sh &) would be stopped by the terminal
    // as soon as it changed the terminal's settings, and would serve nothing. A terminal that is not
    // the program's controlling one has no foreground job to ask for.
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    if (foreground >= 0 && foreground != getpgrp()) {
        EnvSetting::refuse(kTag, "KESTRUN_PANEL_KEYS", want, "but the program runs in the background of its terminal",
                           "only the pipe works the panel");
        return false;
    }
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    watchTerminal(saved);
    savedTerminal = saved;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    terminalTaken = true;
    LOG_I(kTag, "keys: arrows turn, Enter clicks the main encoder; a b c footswitches (README.md)\n");
    return true;
}

// The length of the key at the start of `pending`, 0 while the rest of an escape sequence is still
// to come. A sequence (an arrow: ESC [ A, or ESC O A in the terminal's application mode) is one key,
// whatever its parameters. An Esc followed by anything else is a key of its own, standing for
// nothing, so that the keys typed after it act.
size_t keyLength(const std::string& pending)
{
    if (pending[0] != '\x1b') return 1;
    if (pending.size() < 2) return 0;
    if (pending[1] == 'O') return pending.size() < 3 ? 0 : 3;
    if (pending[1] != '[') return 1;
    // Parameter and intermediate bytes (0x20 to 0x3F), then the final one (0x40 to 0x7E).
    for (size_t i = 2; i < pending.size() && i < kMaxSequence; i++) {
        const unsigned char c = static_cast<unsigned char>(pending[i]);
        if (c >= 0x40 && c <= 0x7E) return i + 1;
        // Broken off: what came so far goes, the byte that broke it is a key again.
        if (c < 0x20 || c > 0x3F) return i;
    }
    return pending.size() < kMaxSequence ? 0 : kMaxSequence;
}

// Splits what arrived on the terminal into keys and carries out the command of each.
void takeKeys(std::string& pending)
{
    while (!pending.empty()) {
        const size_t length = keyLength(pending);
        if (length == 0) return;
        std::string key = pending.substr(0, length);
        pending.erase(0, length);
        // The application mode's arrows are the same keys.
        if (key.size() == 3 && key[1] == 'O') key[1] = '[';
        if (const char* command = commandOfKey(key)) runLine(command);
    }
}

void* serve(void* argument)
{
    const int pipe = int(reinterpret_cast<intptr_t>(argument));
    struct Leave {
        int pipe;
        ~Leave()
        {
            close(pipe);
            serving = false;
        }
    } leave{pipe};
    bool keys = takeTerminal();
    std::string lineBuffer, keyBuffer;
    bool dropping = false;
    for (;;) {
        pollfd fds[2] = {{pipe, POLLIN, 0}, {keys ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                task_exit_point();
                continue;
            }
            LOG_E(kTag, "poll: %s\n", std::strerror(errno));
            return nullptr;
        }
        char buffer[256];
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(pipe, buffer, sizeof buffer);
            if (n > 0) lineBuffer.append(buffer, size_t(n));
            for (size_t end; (end = lineBuffer.find('\n')) != std::string::npos;) {
                std::string line = lineBuffer.substr(0, end);
                lineBuffer.erase(0, end + 1);
                if (!dropping) runLine(line);
                dropping = false;
            }
            if (lineBuffer.size() > kMaxLine) {
                // The whole line goes, up to its end still to come.
                if (!dropping) LOG_W(kTag, "a line of more than %zu bytes: dropped\n", kMaxLine);
                dropping = true;
                lineBuffer.clear();
            }
        }
        if (keys && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            // A terminal that has gone gives no more keys.
            if (n == 0 || (n < 0 && errno != EINTR)) keys = false;
            if (n > 0) keyBuffer.append(buffer, size_t(n));
            takeKeys(keyBuffer);
        }
    }
}

} // namespace

void PanelStandIn::start(const std::atomic<uint64_t>& passes)
{
    if (UnitBoard::detected()) return;
    if (serving.exchange(true)) return;
    boardPasses = &passes;
    const std::string path = Paths::root() + "/panel";
    struct stat st {};
    const bool exists = lstat(path.c_str(), &st) == 0;
    // A command echoed into the path before the pipe existed made a plain file of it.
    if (exists && S_ISREG(st.st_mode) && unlink(path.c_str()) == 0) {
        LOG_W(kTag, "%s was a plain file (written before the program made the pipe): replaced by the pipe\n",
              path.c_str());
    } else if (exists && !S_ISFIFO(st.st_mode)) {
        LOG_E(kTag, "%s is not a named pipe: no panel commands\n", path.c_str());
        serving = false;
        return;
    }
    if ((!exists || !S_ISFIFO(st.st_mode)) && mkfifo(path.c_str(), 0600) != 0) {
        LOG_E(kTag, "cannot make %s: %s\n", path.c_str(), std::strerror(errno));
        serving = false;
        return;
    }
    // Read and write: the pipe stays open when a writer closes it, so every "echo" is read.
    int pipe = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (pipe < 0) {
        LOG_E(kTag, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        serving = false;
        return;
    }
    if (xTaskCreatePinnedToCore(serve, "panel", 4096, reinterpret_cast<void*>(intptr_t(pipe)), 0, nullptr, 0) != 0) {
        close(pipe);
        serving = false;
        return;
    }
    LOG_I(kTag, "commands from %s\n", path.c_str());
}

void PanelStandIn::giveTerminalBack()
{
    if (terminalTaken.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
}
