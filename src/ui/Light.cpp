#include "ui/Light.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "audio/AudioProcessor.h"
#include "driver/IOArray.h"
#include "params/NodeEnum.h"
#include "params/NodeItem.h"
#include "params/Storage.h"
#include "porting/Clock.h"

bool Light::initialized = false;
bool Light::enabled = true;
NodeItem* Light::color = nullptr;
std::string Light::defaultColor = "FF8A00";
SharedSnapshot<std::string> Light::tempColor;
NodeEnum* Light::status = nullptr;
int Light::rgb = 0;

namespace {

// Red blinks at 200 ms on, 200 ms off while the engine saturates.
constexpr uint64_t kBlinkMicros = 200000;
uint64_t blinkTime = 0;
bool blinkStarted = false;
bool blinkOn = false;

int parse_hex(const std::string& text)
{
    return int(std::strtol(text.c_str(), nullptr, 16));
}

} // namespace

void Light::initialize(Node* parent)
{
    if (initialized) return;
    color = new NodeItem(parent, "color", "Color", defaultColor, "color");
    Storage::addItem(color);
    initialized = true;
}

void Light::setStatus(NodeEnum* node)
{
    status = node;
}

void Light::enable()
{
    enabled = true;
}

void Light::disable()
{
    enabled = false;
}

void Light::setDefaultColor(std::string text)
{
    defaultColor = std::move(text);
}

void Light::forceColor(std::string text)
{
    if (!initialized) return;
    color->setValue(std::move(text));
    tempColor.set("");
}

void Light::setTempColor(std::string text)
{
    tempColor.set(text.size() == 6 ? std::move(text) : std::string());
}

void Light::tasks()
{
    if (!initialized || !enabled) return;

    int c = parse_hex(color->getText());
    rgb = c;
    if (status && status->isValue("OFF")) c = 0;
    std::string temp = tempColor.get();
    if (temp.size() == 6) c = parse_hex(temp);

    uint64_t now = esp_timer_get_time();
    if (!blinkStarted) {
        blinkTime = now;
        blinkStarted = true;
    }
    if (now - blinkTime > kBlinkMicros) {
        blinkTime = now;
        blinkOn = !blinkOn;
    }
    if (AudioProcessor::saturation()) c = blinkOn ? 0xFF0000 : 0;

    int red = (c >> 16) & 0xFF, green = (c >> 8) & 0xFF, blue = c & 0xFF;
    int m = IOArray::get_max_pwm();
    IOArray::set_bit(kRedOutput, 1);
    IOArray::set_bit(kGreenOutput, 1);
    IOArray::set_bit(kBlueOutput, 1);
    // Red is driven at half the scale of the other two: its LED is the brighter one.
    IOArray::set_pwm(kRedOutput, m * red / 512);
    IOArray::set_pwm(kGreenOutput, m * green / 1024);
    IOArray::set_pwm(kBlueOutput, m * blue / 1024);
}
