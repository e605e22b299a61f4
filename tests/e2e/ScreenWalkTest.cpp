// The screens of the running program, worked as a player works the panel: every input goes through
// the host panel's named pipe to the model shift-register chain, and every step's display frame (the
// PNG the program writes) is compared with its reference image in tests/data/screens/walk.
//   KESTRUN_UPDATE_SCREENS=1 build/tests/e2e/tests_e2e --gtest_filter='Screens.*'
// writes the references again after an intended change of a screen.
#include "Unit.h"

#include "params/StorageId.h"

#include "support/ScreenImage.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A frame settles (and a command is carried out) well within this, even on a loaded machine.
constexpr int kFrameWaitMs = 15000;
// A reference is taken from a frame that stayed the same this long: longer than the 1.2 s of an
// edit overlay, so that references show what stays.
constexpr auto kSteady = std::chrono::milliseconds(1500);

// The digits of the tap-tempo overlay follow the timing of the taps.
const ScreenArea kTempoDigits = {0, 55, 319, 138};

// The main-encoder commands that type `text` (letters and blanks) on a fresh keyboard (key 0
// highlighted, lower case); `selected` ends on the last key pressed. Keys in reading order: "123",
// a-j, backspace, "ABC", k-t, OK, u-z, '_', '-', blank, close.
constexpr int kOkKey = 23;

std::vector<std::string> typing(const std::string& text, int& selected)
{
    std::vector<std::string> commands;
    selected = 0;
    bool upper = false;
    auto press = [&](int key) {
        if (key != selected) commands.push_back("turn main " + std::to_string(key - selected));
        selected = key;
        commands.push_back("click main");
    };
    auto letterKey = [](char lower) {
        if (lower <= 'j') return 1 + (lower - 'a');
        if (lower <= 't') return 13 + (lower - 'k');
        return 24 + (lower - 'u');
    };
    for (char c : text) {
        if (c == ' ') {
            press(32);
            continue;
        }
        bool wantUpper = c >= 'A' && c <= 'Z';
        if (wantUpper != upper) {
            press(12);
            upper = wantUpper;
        }
        press(letterKey(char(wantUpper ? c - 'A' + 'a' : c)));
    }
    return commands;
}

class Panel {
public:
    explicit Panel(Unit& unit) : unit(unit), png(test_root() + "/screen.png")
    {
        // The panel opens as the program starts, which a loaded machine may take a minute for.
        EXPECT_TRUE(unit.waitLog("I (Panel): commands from", 60000)) << unit.log();
        pipe = ::open((test_root() + "/panel").c_str(), O_WRONLY | O_CLOEXEC);
        EXPECT_GE(pipe, 0);
    }
    ~Panel() { ::close(pipe); }

    // The screens draw once the start-up splash has been shown for a while.
    void waitPastSplash()
    {
        ScreenImage splash, frame;
        ASSERT_TRUE(waitUntil([&] { return read_screen_png(png, splash); }, kFrameWaitMs)) << "no frame";
        EXPECT_TRUE(
            waitUntil([&] { return read_screen_png(png, frame) && changed_pixels(frame, splash) != 0; }, kFrameWaitMs))
            << "the display never left the splash";
    }

    // Sends one command and returns once the panel has carried it out.
    void command(const std::string& line)
    {
        const std::string done = "I (Panel): " + line + "\n";
        const size_t before = occurrences(unit.log(), done);
        const std::string text = line + "\n";
        ASSERT_EQ(::write(pipe, text.data(), text.size()), ssize_t(text.size()));
        ASSERT_TRUE(waitUntil([&] { return occurrences(unit.log(), done) > before; }, kFrameWaitMs))
            << "the panel did not carry out \"" << line << "\"\n"
            << unit.log();
    }

    // The display shows the reference `name`, once the frame has settled. When the references are
    // written, the frame that stays is taken.
    void expect(const std::string& name, const std::vector<ScreenArea>& ignore = {})
    {
        ScreenImage frame, last, reference;
        auto steadySince = Clock::now();
        waitUntil(
            [&] {
                if (!read_screen_png(png, frame)) return false;
                if (updating_screens()) {
                    if (changed_pixels(frame, last) != 0) steadySince = Clock::now();
                    last = frame;
                    return Clock::now() - steadySince >= kSteady;
                }
                return read_screen_png(reference_screen("walk", name), reference) &&
                       changed_pixels(frame, reference, ignore) <= kScreenTolerance;
            },
            kFrameWaitMs);
        EXPECT_TRUE(matches_reference("walk", name, frame, ignore)) << "after " << steps;
    }

    void step(const std::string& line, const std::string& name = "", const std::vector<ScreenArea>& ignore = {})
    {
        command(line);
        steps += line + "; ";
        if (!name.empty()) expect(name, ignore);
    }

private:
    Unit& unit;
    std::string png;
    int pipe = -1;
    std::string steps;
};

// The program writing its frames as PNG files (the host back end's; the device build draws on a
// framebuffer only, and these tests are skipped there).
void startDrawing(Unit& unit)
{
    setenv("KESTRUN_SCREEN_PNG", (test_root() + "/screen.png").c_str(), 1);
    // No audio frames: the screens do not depend on them, and a loaded machine keeps up better.
    setenv("KESTRUN_AUDIO_PACE", "manual", 1);
    unit.start();
}

TEST(Screens, WalkThroughEveryScreenWithThePanel)
{
#if KESTRUN_DEVICE
    GTEST_SKIP() << "no PNG frames";
#endif
    Unit unit;
    startDrawing(unit);
    Panel panel(unit);

    panel.waitPastSplash();
    panel.expect("home");
    struct Step {
        const char* command;
        const char* screen; // "" when the step's frame is not compared
    };
    const Step toTheKeyboard[] = {
        // The volume's edit overlay shows for 1.2 s: what stays is the bar.
        {"turn main 5", "home_volume_up"},
        // Chain screen, a block, its browser and an inline edit that a long push resets.
        {"click main", "chain"},
        {"turn main 1", "chain_gate"},
        {"click main", "browser"},
        {"turn main 1", ""},
        {"click main", "browser_edit"},
        {"turn main 5", "browser_edited"},
        {"long main", "browser_reset"},
        {"click knob1", "chain_gate"},
        {"long knob2", "chain_assigned"},
        // The preset list: an empty slot named with the keyboard stores the settings as "Gig rig".
        {"turn main -1", "chain_preset"},
        {"click knob2", "list"},
        {"click main", "keyboard"},
    };
    for (const Step& s : toTheKeyboard) panel.step(s.command, s.screen);
    int key = 0;
    for (const std::string& line : typing("Gig rig", key)) panel.step(line);
    panel.expect("keyboard_typed");
    panel.step("turn main " + std::to_string(kOkKey - key));
    const Step toTheTuner[] = {
        {"click main", "list_gig_rig"},
        {"long main", "chooser"},
        {"click knob1", "list_gig_rig"},
        // Setup and one of its folders.
        {"click knob1", "chain_gig_rig"},
        {"long main", "setup"},
        {"click main", "setup_folder"},
        {"click knob1", "setup"},
        {"click knob1", "chain_gig_rig"},
        {"click knob1", "home_gig_rig"},
        // An edit marks the preset; changing presets then asks first, and so does overwriting.
        {"turn knob1 3", "home_gig_rig_edited"},
        {"press main", ""},
        {"turn main 1", "popup_discard"},
        {"turn main 2", "popup_discard_save"},
        {"release main", "popup_discard_save"},
        {"turn main -2", "popup_discard"},
        {"click main", "home_gig_rig_edited"},
        {"long knob1", "popup_overwrite"},
        {"click main", "home_gig_rig_edited"},
        // A block on a knob, then the tuner from footswitch C (a click of A ends it).
        {"click knob2", "home_assign"},
        {"long c", "tuner"},
        {"turn main 1", "tuner_reference"},
        {"click a", ""},
    };
    for (const Step& s : toTheTuner) panel.step(s.command, s.screen);
    // Five taps of footswitch A, the active preset's, show the tap tempo.
    for (int tap = 0; tap < 4; tap++) panel.step("click a");
    panel.step("click a", "tap_tempo", {kTempoDigits});
}

// "Save as..." with a name one character too long: a popup says why, and the keyboard stays with the
// text. (Apart from the walk, so that each stays well within a test's time under a sanitizer.)
TEST(Screens, SaveAsARefusedNameSaysWhyOnTheKeyboard)
{
#if KESTRUN_DEVICE
    GTEST_SKIP() << "no PNG frames";
#endif
    Unit unit;
    startDrawing(unit);
    Client(unit.port())
        .ask("write root\\app\\preset:{\"value\":\"Thirty-one characters of a name\",\"save\":\"save\"}");
    Panel panel(unit);
    panel.waitPastSplash();
    panel.step("long knob2", "save_as");
    int key = 0;
    for (const std::string& line : typing("x", key)) panel.step(line);
    panel.step("turn main " + std::to_string(kOkKey - key));
    panel.step("click main", "popup_name_refused");
    panel.step("click main", "save_as_refused");
}

// A unit whose stored password was damaged takes remote changes only once a password is entered on
// the unit: OK on the empty keyboard opens it and says so, and the file is written again, so the lock
// does not come back at the next start.
TEST(Screens, APasswordEnteredOnTheUnitOpensALockedUnit)
{
#if KESTRUN_DEVICE
    GTEST_SKIP() << "no PNG frames";
#endif
    Unit unit;
    unit.startQuiet();
    unit.kill();
    const std::string pwd = test_root() + "/home/storage/" + make_storage_id("root\\sys\\pwd");
    write_file(pwd, "hunt"); // cut before its end
    startDrawing(unit);
    const std::string alias = "root\\sys\\alias:{\"value\":\"open\"}";
    std::string reply = Client(unit.port()).ask("write " + alias);
    ASSERT_EQ(reply, nul("token " + tokenOf(reply) + " n\r\n")) << "locked";

    Panel panel(unit);
    panel.waitPastSplash();
    // Chain screen, setup, System (after Settings and USB), Password (the seventh row).
    for (const char* line : {"click main", "long main", "turn main 2", "click main", "turn main 6", "click main"})
        panel.step(line);
    panel.step("turn main " + std::to_string(kOkKey));
    panel.step("click main", "popup_no_password");
    EXPECT_EQ(Client(unit.port()).ask("write " + alias), nul(alias + "\r\n")) << "open to every client";
    EXPECT_EQ(read_file(pwd), std::string(1, '\0'));
    unit.kill();
    unit.startQuiet();
    EXPECT_EQ(Client(unit.port()).ask("write " + alias), nul(alias + "\r\n"));
    EXPECT_EQ(unit.log().find("Stored password unreadable"), std::string::npos) << unit.log();
}

} // namespace
