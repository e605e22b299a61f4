#include "params/NodeColor.h"

#include "porting/Log.h"
#include "porting/TextHelpers.h"

#include <algorithm>
#include <cstdio>

NodeColor::NodeColor(Node* parent, const char* name, const char* displayName, std::string rgb)
    : NodeItem(parent, name, displayName, std::move(rgb), ItemType::COLOR)
{}

bool NodeColor::parse(const std::string& text, int rgb[3])
{
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() < 6) return false;
    for (int i = 0; i < 3; ++i) {
        int high = digit(text[size_t(2 * i)]);
        int low = digit(text[size_t(2 * i + 1)]);
        if (high < 0 || low < 0) return false;
        rgb[i] = high * 16 + low;
    }
    return true;
}

int NodeColor::getR() const
{
    int rgb[3];
    return parse(getText(), rgb) ? rgb[0] : 0;
}

int NodeColor::getG() const
{
    int rgb[3];
    return parse(getText(), rgb) ? rgb[1] : 0;
}

int NodeColor::getB() const
{
    int rgb[3];
    return parse(getText(), rgb) ? rgb[2] : 0;
}

float NodeColor::getHue() const
{
    std::string text = getText();
    int rgb[3];
    if (!parse(text, rgb)) {
        LOG_E("NodeColor", "Wrong format %s\n", log_excerpt(text).c_str());
        return 0;
    }
    float r = float(rgb[0]) / 255.0f;
    float g = float(rgb[1]) / 255.0f;
    float b = float(rgb[2]) / 255.0f;
    float mx = std::max({r, g, b});
    float mn = std::min({r, g, b});
    float d = mx - mn;
    if (d == 0.0f) return 0;
    float h;
    if (r == mx) h = (g - b) / d + (g < b ? 6.0f : 0.0f);
    else if (g == mx) h = 2.0f + (b - r) / d;
    else h = 4.0f + (r - g) / d;
    h *= 60.0f;
    return h < 0.0f ? h + 360.0f : h;
}

void NodeColor::hueToS100L50(float hue)
{
    float t = std::clamp(hue, 0.0f, 360.0f) / 360.0f;
    auto channel = [](float x) {
        if (x > 1.0f) x -= 1.0f;
        if (x < 0.0f) x += 1.0f;
        if (x < 1.0f / 6.0f) return int(1530.0f * x + 0.5f);
        if (x < 0.5f) return 255;
        if (x < 2.0f / 3.0f) return int(1530.0f * (2.0f / 3.0f - x) + 0.5f);
        return 0;
    };
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", channel(t + 1.0f / 3.0f) & 0xff, channel(t) & 0xff,
                  channel(t - 1.0f / 3.0f) & 0xff);
    setValue(text);
}

void NodeColor::edit(bool up)
{
    float hue = getHue();
    LOG_I("NodeColorEdit", "%f\n", double(hue));
    if (up) hueToS100L50(hue < 354.0f ? hue + 5.0f : 359.0f);
    else hueToS100L50(hue > 5.0f ? hue - 5.0f : 0.0f);
}
