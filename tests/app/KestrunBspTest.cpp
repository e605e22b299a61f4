#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/KestrunBsp.h"
#include "base/Board.h"
#include "driver/ADS1115.h"
#include "driver/Codec.h"
#include "driver/IOArray.h"
#include "driver/SourceCtrl.h"
#include "driver/SourceMidi.h"
#include "lvgl.h"
#include "params/Control.h"
#include "platform/model/I2cModel.h"
#include "platform/model/ShellScript.h"
#include "platform/model/SpiChain.h"
#include "porting/Clock.h"
#include "porting/Task.h"
#include "support/TempRoot.h"
#include "ui/EventDispatcher.h"
#include "ui/LCD.h"

namespace {

std::vector<int> drain_events()
{
    std::vector<int> codes;
    int code;
    while (EventDispatcher::eventQueue.try_dequeue(code)) codes.push_back(code);
    return codes;
}

// What "eventTasks" does for the board and the panel, until the chain has carried `frames` more
// frames and the board has read them (however late a loaded machine runs the threads).
void run_frames(KestrunBsp& bsp, uint64_t frames)
{
    // A frame is queued for the board before the next one is carried.
    const uint64_t until = SpiChain::transfers() + frames + 1;
    for (int pass = 0; pass < 2000 && SpiChain::transfers() < until; ++pass) {
        bsp.eventLoop();
        IOArray::tasks();
        vTaskDelay(10000);
    }
    ASSERT_GE(SpiChain::transfers(), until);
    bsp.eventLoop();
}

// What "eventTasks" does for the board and the panel, for a while.
void run_board(KestrunBsp& bsp, int ms)
{
    uint64_t t0 = esp_timer_get_time();
    while (esp_timer_get_time() - t0 < uint64_t(ms) * 1000) {
        bsp.eventLoop();
        IOArray::tasks();
        vTaskDelay(10000);
    }
}

// The same until the board has queued event `code` (10 s at most: on a loaded machine the chain's
// thread may carry the levels late); every event queued meanwhile, in order.
std::vector<int> run_until_event(KestrunBsp& bsp, int code)
{
    std::vector<int> events;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::find(events.begin(), events.end(), code) == events.end() && std::chrono::steady_clock::now() < until) {
        run_board(bsp, 10);
        for (int event : drain_events()) events.push_back(event);
    }
    return events;
}

TEST(KestrunBsp, ConstructionRegistersTheBoardAndSourcesAndRunsTheStartupScripts)
{
    // The board lives as long as the program, as on the unit.
    KestrunBsp& bsp = *new KestrunBsp;
    EXPECT_EQ(Board::board, &bsp);
    EXPECT_EQ(bsp.idle_seconds, 30);
    EXPECT_EQ(bsp.encoder_ccw.load(), 0);
    EXPECT_EQ(bsp.usb_data.load(), 1);
    ASSERT_NE(bsp.ads, nullptr);
    EXPECT_TRUE(bsp.ads->isInitialized());
    EXPECT_EQ(Control::getSource("midi"), static_cast<Source*>(bsp.midi));
    EXPECT_EQ(Control::getSource("ctrl"), static_cast<Source*>(bsp.ctrl));

    std::string log = ShellScript::log();
    size_t gpio = log.find("gpioset 0 26=0\n");
    size_t pin = log.find("taskset -p 1");
    size_t gadget = log.find(std::string("sudo /bin/bash\n") + KestrunBsp::kGadgetScript);
    ASSERT_NE(gpio, std::string::npos) << log;
    ASSERT_NE(pin, std::string::npos) << log;
    ASSERT_NE(gadget, std::string::npos) << log;
    EXPECT_LT(gpio, pin);
    EXPECT_LT(pin, gadget);
    // The gadget comes up in the "Data" configuration: only the serial function is linked.
    std::string script = KestrunBsp::kGadgetScript;
    EXPECT_NE(script.find("ln -s $G/functions/acm.usb0 $G/configs/c.1/\nls /sys/class/udc > $G/UDC\n"),
              std::string::npos);
    EXPECT_EQ(script.find("ln -s $G/functions/uac2"), std::string::npos);
}

TEST(KestrunBsp, ControllerLevelScalesTheConvertersMillivolts)
{
    KestrunBsp& bsp = *new KestrunBsp;
    struct Case {
        int16_t conversion; // 0.125 mV per step
        int level;
    };
    for (Case c : {Case{0, 0}, Case{8000, 1241}, Case{32767, 5082}}) {
        I2cModel::setConversion(c.conversion);
        EXPECT_EQ(bsp.controllerLevel(), c.level) << c.conversion;
    }
    I2cModel::setReadFailure(true);
    EXPECT_EQ(bsp.controllerLevel(), -1) << "a failed read stays out of range (the source clamps it)";
}

TEST(KestrunBsp, InitializeStartsCodecDisplayWithTheUnitSplashAndPanel)
{
    new KestrunBsp;
    StdoutCapture out;
    Board::initialize();
    std::string log = out.text();
    EXPECT_NE(Codec::getActiveCodec(), nullptr);
    EXPECT_TRUE(LCD::isInitialized());
    EXPECT_EQ(LCD::custom_splash, &KestrunBsp::splash);
    std::vector<std::string> texts;
    lv_obj_t* screen = lv_screen_active();
    for (uint32_t i = 0; i < lv_obj_get_child_count(screen); i++) {
        lv_obj_t* child = lv_obj_get_child(screen, i);
        if (lv_obj_check_type(child, &lv_label_class)) texts.push_back(lv_label_get_text(child));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Vornetide", "PRO"}));
    EXPECT_TRUE(IOArray::initialized.load());
    EXPECT_EQ(IOArray::max_io, 24);
    EXPECT_EQ(IOArray::get_max_pwm(), 32);
    EXPECT_NE(log.find("I (IO Array): Initialized freq = 120000, max_io = 24, queue = 500\n"), std::string::npos)
        << log;
    lv_deinit();
}

TEST(KestrunBsp, PanelFramesBecomeEvents)
{
    KestrunBsp& bsp = *new KestrunBsp;
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    SpiChain::setInputs({0x00, 0x00, 0x00});
    run_board(bsp, 60);
    EXPECT_TRUE(drain_events().empty());

    // Footswitch A (bit 23) down until the press is seen, then up: press, then click.
    SpiChain::setInputs({0x00, 0x00, 0x80});
    std::vector<int> events = run_until_event(bsp, 16);
    SpiChain::setInputs({0x00, 0x00, 0x00});
    for (int event : run_until_event(bsp, 17)) events.push_back(event);
    EXPECT_EQ(events, (std::vector<int>{16, 17}));

    // One detent of the main encoder (A bit 21, B bit 20: 0 -> 2 -> 3 -> 1 -> 0), then the same
    // with the lines swapped.
    for (uint8_t ccw : {0, 1}) {
        bsp.encoder_ccw = ccw;
        for (uint8_t lines : {0x20, 0x30, 0x10, 0x00}) {
            SpiChain::setInputs({0x00, 0x00, lines});
            run_frames(bsp, 50);
        }
    }
    EXPECT_EQ(drain_events(), (std::vector<int>{10, 11}));
}

TEST(KestrunBsp, HostPanelCommandsWorkTheInputsAsThePanelWould)
{
    KestrunBsp& bsp = *new KestrunBsp;
    StdoutCapture out;
    Board::initialize();
    run_board(bsp, 60); // the rest levels: nothing pressed
    int pipe = ::open((test_root() + "/panel").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(pipe, 0) << "the named pipe of the host panel";
    const std::string script =
        "click a\nturn main 2\nturn knob3 -1\nlong knob1\npress main\nturn main 1\n"
        "release main\nnot a command\npair bc\nbit 99 1\nbit 2 2\nexpr 5000\nturn main 2000\n"
        "wait x\nbit 1 1\nexpr 1000\n";
    ASSERT_EQ(::write(pipe, script.data(), script.size()), ssize_t(script.size()));
    ::close(pipe);

    const std::vector<int> expected = {16, 17, 10, 10, 341, 42, 44, 45, 12, 10, 13, 51};
    std::vector<int> events;
    for (int i = 0; i < 100 && events.size() < expected.size(); i++) {
        run_board(bsp, 100);
        for (int code : drain_events()) events.push_back(code);
    }
    run_board(bsp, 300);
    for (int code : drain_events()) events.push_back(code);
    // Raw lines and the analog controller input.
    for (int i = 0; i < 50 && (IOArray::get_bit(1) == 0 || bsp.controllerLevel() != 1241); i++) run_board(bsp, 20);
    const std::string log = out.text();

    EXPECT_EQ(events, expected);
    EXPECT_EQ(IOArray::get_bit(1), 1);
    EXPECT_EQ(bsp.controllerLevel(), 1241) << "1000 mV";
    EXPECT_NE(log.find("I (Panel): long knob1\n"), std::string::npos) << log;
    // A refused line says why: not a command, or which argument is out of which range.
    for (const char* refusal :
         {"not a command: not a panel command", "bit 99 1: bit 99 out of range (0 to 23)",
          "bit 2 2: level 2 out of range (0 to 1)", "expr 5000: millivolts 5000 out of range (0 to 4095)",
          "turn main 2000: detents 2000 out of range (-1000 to 1000)", "wait x: not a number of milliseconds: x"})
        EXPECT_NE(log.find(std::string("W (Panel): ") + refusal), std::string::npos) << refusal << log;
    lv_deinit();
}

TEST(KestrunBsp, InactivityAfterTheIdleTime)
{
    KestrunBsp& bsp = *new KestrunBsp;
    bsp.idle_seconds = 1;
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    // The idle time counts panel frames (5000 a second): a slow machine stretches it, never shortens it.
    run_board(bsp, 700);
    EXPECT_TRUE(drain_events().empty());
    std::vector<int> events;
    for (int i = 0; i < 50 && events.empty(); i++) {
        run_board(bsp, 100);
        events = drain_events();
    }
    EXPECT_EQ(events, std::vector<int>{3});
}

} // namespace
