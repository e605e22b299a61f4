#include "app/KestrunBsp.h"

#include <cstdio>

#include "app/PanelStandIn.h"
#include "driver/ADS1115.h"
#include "driver/Codec.h"
#include "driver/IOArray.h"
#include "driver/SourceCtrl.h"
#include "driver/SourceMidi.h"
#include "platform/Shell.h"
#include "porting/Clock.h"
#include "ui/EventDispatcher.h"
#include "ui/KestrunSplash.h"
#include "ui/LCD.h"

namespace {

// Panel chain: 24 lines scanned 5000 times a second, 100 ms of prepared frames, PWM over 32 frames.
constexpr int kPanelLines = 24;
constexpr int kPanelScanFreq = 5000;
constexpr int kPanelQueueMs = 100;
constexpr int kPanelPwmDepth = 32;

// The converter's millivolts to the 12-bit level of the controller input.
constexpr float kCtrlMvToLevel = 1.24121f;

constexpr const char* kPinThreadsScript =
    "for p in /proc/[0-9]*; do for t in $p/task/[0-9]*; do taskset -p 1 ${t##*/} > /dev/null 2>&1; done; done";

} // namespace

const char* const KestrunBsp::kGadgetScript =
    "echo 8 > /sys/kernel/debug/bluetooth/hci0/conn_min_interval\n"
    "echo 24 > /sys/kernel/debug/bluetooth/hci0/conn_max_interval\n"
    "echo 300 > /sys/kernel/debug/bluetooth/hci0/supervision_timeout\n"
    "echo 0 > /sys/kernel/debug/bluetooth/hci0/conn_latency\n"
    "modprobe libcomposite\n"
    "modprobe usb_f_uac2\n"
    "modprobe usb_f_acm\n"
    "[ -d /sys/kernel/config ] || mount -t configfs none /sys/kernel/config\n"
    "G=/sys/kernel/config/usb_gadget/pi_gadget\n"
    "echo \"\" > $G/UDC\n"
    "mkdir -p $G\n"
    "cd $G\n"
    "echo 0x1d6b > idVendor\n"
    "echo 0x0104 > idProduct\n"
    "echo 0x0100 > bcdDevice\n"
    "echo 0x0200 > bcdUSB\n"
    "echo 0xEF > bDeviceClass\n"
    "echo 0x02 > bDeviceSubClass\n"
    "echo 0x01 > bDeviceProtocol\n"
    "echo 0x40 > bMaxPacketSize0\n"
    "mkdir -p strings/0x409\n"
    "echo \"00000000\" > strings/0x409/serialnumber\n"
    "echo \"KELVARO\" > strings/0x409/manufacturer\n"
    "echo \"Vornetide PRO\" > strings/0x409/product\n"
    "mkdir -p configs/c.1/strings/0x409\n"
    "echo \"Kestrun\" > configs/c.1/strings/0x409/configuration\n"
    "echo 250 > configs/c.1/MaxPower\n"
    "mkdir -p functions/acm.usb0\n"
    "echo 0 > functions/acm.usb0/protocol\n"
    "mkdir -p functions/uac2.usb_in\n"
    "echo \"Kestrun Out\" > functions/uac2.usb_in/function_name\n"
    "echo 48000 > functions/uac2.usb_in/c_srate\n"
    "echo 3 > functions/uac2.usb_in/c_chmask\n"
    "echo 4 > functions/uac2.usb_in/c_ssize\n"
    "echo 4 > functions/uac2.usb_in/c_hs_bint\n"
    "echo async > functions/uac2.usb_in/c_sync\n"
    "echo 0 > functions/uac2.usb_in/p_chmask\n"
    "mkdir -p functions/uac2.usb_out\n"
    "echo \"Kestrun In\" > functions/uac2.usb_out/function_name\n"
    "echo 48000 > functions/uac2.usb_out/p_srate\n"
    "echo 3 > functions/uac2.usb_out/p_chmask\n"
    "echo 4 > functions/uac2.usb_out/p_ssize\n"
    "echo 4 > functions/uac2.usb_out/p_hs_bint\n"
    "echo 1 > functions/uac2.usb_out/fb_max\n"
    "echo 0 > functions/uac2.usb_out/c_chmask\n"
    "ln -s $G/functions/acm.usb0 $G/configs/c.1/\n"
    "ls /sys/class/udc > $G/UDC\n";

KestrunBsp::KestrunBsp() : input(EventDispatcher::addEvent)
{
    ads = new Ads1115("/dev/i2c-5", 0x48);
    midi = new SourceMidi("midi", "MIDI", "/dev/ttyS0", 0, 0);
    ctrl = new SourceCtrl("ctrl", "Ctrl", 0, [this](int) { return controllerLevel(); });
    runStartupScripts();
}

int KestrunBsp::controllerLevel() const
{
    return int(float(ads->read_value_mv()) * kCtrlMvToLevel);
}

void KestrunBsp::runStartupScripts()
{
    Shell::system("gpioset 0 26=0");
    Shell::system(kPinThreadsScript);
    if (Shell::write("sudo /bin/bash", kGadgetScript) < 0) std::perror("Failed to open pipe to bash");
}

void KestrunBsp::splash()
{
    kestrun_splash();
}

void KestrunBsp::initialize()
{
    Codec::initialize();
    LCD::initialize();
    LCD::set_custom_splash(KestrunBsp::splash);
    LCD::splash();
    IOArray::initialize(kPanelLines, kPanelScanFreq, kPanelQueueMs, kPanelPwmDepth, -2, -2, -2, -2);
    // The host build's panel (the unit's is real).
    PanelStandIn::start(passes);
}

void KestrunBsp::eventLoop()
{
    int idleFrames = idle_seconds > 0 ? IOArray::ms_to_tick(idle_seconds * 1000) : 0;
    bool ccw = encoder_ccw.load(std::memory_order_relaxed) != 0;
    while (IOArray::has_data()) input.frame(IOArray::get_bit, int64_t(esp_timer_get_time()), ccw, idleFrames);
    passes.fetch_add(1, std::memory_order_release);
}
