#include "params/NodeTemp.h"

#include "params/NodeEnum.h"
#include "params/Storage.h"
#include "porting/Log.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kTag = "NodeTemp";
constexpr const char* kCelsius = "C";
constexpr const char* kFahrenheit = "F";
constexpr char kDegreeLatin1 = char(0xB0);
// 5/9 as the unit has always rounded it.
constexpr float kFahrenheitToCelsius = 0.5555556f;

// Never destroyed: a display frame may still ask for the unit while the process exits.
std::mutex& createMutex = *new std::mutex;

Node* topOf(Node* node)
{
    while (node && node->getParent()) node = node->getParent();
    return node;
}

Node* systemFolderOf(Node* node)
{
    Node* top = topOf(node);
    if (!top) return nullptr;
    for (Node* child : top->getChildren()) {
        if (std::strcmp(child->getName(), "sys") == 0) return child;
    }
    return nullptr;
}

} // namespace

std::atomic<NodeEnum*> NodeTemp::temp_unit{nullptr};

NodeTemp::NodeTemp(Node* parent, const char* key, const char* label, float min, float max, float defaultValue,
                   float shape, bool inverted, int decimals)
    : NodeFloat(parent, key, label, min, max, defaultValue, kCelsius, shape, inverted, decimals)
{
    createSystemNode(this);
}

void NodeTemp::createSystemNode(Node* anyNode)
{
    if (temp_unit.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(createMutex);
    if (temp_unit.load(std::memory_order_acquire)) return;
    Node* sys = systemFolderOf(anyNode);
    // Without a node: the system tree is the one whose settings are stored (its alias is enlisted
    // first of all).
    if (!sys && !anyNode)
        for (Storable* item : Storage::enlisted())
            if ((sys = systemFolderOf(dynamic_cast<Node*>(item)))) break;
    if (!sys) return;
    LOG_I(kTag, "Creating unit node\n");
    auto* unit = new NodeEnum(sys, "temp_unit", "Temperature unit", {kCelsius, kFahrenheit}, kCelsius);
    Storage::addItem(unit);
    temp_unit.store(unit, std::memory_order_release);
}

bool NodeTemp::fahrenheit()
{
    createSystemNode();
    NodeEnum* unit = temp_unit.load(std::memory_order_acquire);
    return unit && unit->isValue(kFahrenheit);
}

float NodeTemp::convertTemperature(float celsius)
{
    return fahrenheit() ? celsius * 1.8f + 32.0f : celsius;
}

float NodeTemp::convertDeltaTemperature(float delta)
{
    return fahrenheit() ? delta * 1.8f : delta;
}

std::string NodeTemp::getTemperatureUnit()
{
    return std::string(1, kDegreeLatin1) + (fahrenheit() ? kFahrenheit : kCelsius);
}

std::string NodeTemp::toString()
{
    bool f = fahrenheit(); // once, so the number and the unit agree
    float shown = f ? getValue() * 1.8f + 32.0f : getValue();
    char text[64];
    // As every float node: two decimals when none are set.
    std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 2 : decimals, double(shown));
    return std::string(text) + " " + kDegreeLatin1 + (f ? kFahrenheit : kCelsius);
}

void NodeTemp::edit(bool up)
{
    float celsius = getValue();
    if (fahrenheit()) {
        float offset = up ? 34.0f : 30.0f; // 32 plus or minus the step of 2 degrees
        setValue((std::round(celsius * 1.8f + offset) - 32.0f) * kFahrenheitToCelsius);
    } else {
        setValue(up ? celsius + 1.0f : celsius - 1.0f);
    }
}
