// The running program as the application: its tree browsed over TCP, its chain and start-up scripts
// in the logs, and a USB mode written from outside reaching the gadget through the compile thread.
#include "Unit.h"

#include "platform/model/ShellScript.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& reply)
{
    std::vector<std::string> parts;
    std::string text = reply;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        parts.push_back(text.substr(from, at - from));
    if (from < text.size()) parts.push_back(text.substr(from));
    return parts;
}

bool waitShellLog(const std::string& text, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (ShellScript::log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

TEST(App, RunningUnitExposesTheApplicationTreeAndFollowsTheUsbMode)
{
    Unit unit;
    unit.start();

    // The whole chain was built and logged; this is no update-mode start.
    ASSERT_TRUE(unit.waitLog("Chain item 16: Mixer (", 5000)) << unit.log();
    EXPECT_NE(unit.log().find("Chain item 1: Pickup ("), std::string::npos);
    EXPECT_NE(unit.log().find("Chain item 10: Kestrun ("), std::string::npos);
    EXPECT_EQ(unit.log().find("No audio block loaded"), std::string::npos);

    // The start-up scripts, in their order, before anything else the application pipes to the shell.
    std::string shell = ShellScript::log();
    size_t gpio = shell.find("gpioset 0 26=0\n");
    size_t pin = shell.find("taskset -p 1");
    size_t gadget = shell.find("sudo /bin/bash\necho 8 > /sys/kernel/debug/bluetooth/hci0/conn_min_interval\n");
    ASSERT_NE(gpio, std::string::npos) << shell;
    ASSERT_NE(pin, std::string::npos) << shell;
    ASSERT_NE(gadget, std::string::npos) << shell;
    EXPECT_LT(gpio, pin);
    EXPECT_LT(pin, gadget);

    Client client(unit.port());
    std::vector<std::string> fragments = lines(client.ask("browse root\\app"));
    ASSERT_GT(fragments.size(), 100u);
    EXPECT_EQ(fragments[0].rfind("root\\app:{", 0), 0u) << fragments[0];
    auto has = [&](const std::string& prefix, const std::string& part) {
        for (const std::string& f : fragments)
            if (f.rfind(prefix + ":{", 0) == 0) return f.find(part) != std::string::npos;
        return false;
    };
    EXPECT_TRUE(has("root\\app\\preset", "\"type\":\"plist\""));
    EXPECT_TRUE(has("root\\app\\gate", "\"item_type\":\"hfolder\""));
    EXPECT_TRUE(has("root\\app\\output\\vol", "\"value\":50.000000"));
    EXPECT_TRUE(has("root\\app\\output\\pst\\tmp", "\"value\":120.000000"));
    EXPECT_TRUE(has("root\\app\\amp\\on_off", "\"value\":\"OFF\""));
    EXPECT_TRUE(has("root\\app\\drive\\on_off", "\"value\":\"OFF\""));
    for (const char* block : {"gate", "exp", "comp", "mod_pre", "drive", "amp", "ir", "eq", "mod", "delay", "reverb"})
        EXPECT_TRUE(has(std::string("root\\app\\") + block + "\\on_off", "\"type\":\"enum\"")) << block;
    for (const std::string& f : fragments) EXPECT_EQ(f.rfind("root\\app", 0), 0u) << f;

    EXPECT_EQ(client.ask("read root\\sys\\_name"), Client::withNul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}"));

    // The compile thread applies a USB mode written from outside.
    EXPECT_EQ(client.ask("write root\\usb\\usb_mode:{\"value\":\"Audio\"}"),
              Client::withNul("root\\usb\\usb_mode:{\"value\":\"Audio\"}\r\n"));
    EXPECT_TRUE(
        waitShellLog("ln -s $G/functions/uac2.usb_in $G/configs/c.1/\n"
                     "ln -s $G/functions/uac2.usb_out $G/configs/c.1/\nls /sys/class/udc > $G/UDC\n",
                     3000))
        << ShellScript::log();
}
