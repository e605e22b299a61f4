#include "ui/ImgHue.h"

#include <array>
#include <cstdint>

namespace {

constexpr int kWidth = 90;
constexpr int kHeight = 10;

// RGB565 of a fully saturated hue (degrees), computed at compile time.
constexpr uint16_t hue_to_rgb565(int hue)
{
    int region = hue / 60;
    int rising = (hue % 60) * 255 / 60;
    int falling = 255 - rising;
    int r = 0, g = 0, b = 0;
    switch (region) {
    case 0: r = 255, g = rising; break;
    case 1: r = falling, g = 255; break;
    case 2: g = 255, b = rising; break;
    case 3: g = falling, b = 255; break;
    case 4: r = rising, b = 255; break;
    default: r = 255, b = falling; break;
    }
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

constexpr std::array<uint8_t, kWidth * kHeight * 2> make_strip()
{
    std::array<uint8_t, kWidth * kHeight * 2> data{};
    for (int y = 0; y < kHeight; y++) {
        for (int x = 0; x < kWidth; x++) {
            uint16_t px = hue_to_rgb565(x * 360 / kWidth);
            data[(y * kWidth + x) * 2] = static_cast<uint8_t>(px & 0xFF);
            data[(y * kWidth + x) * 2 + 1] = static_cast<uint8_t>(px >> 8);
        }
    }
    return data;
}

constexpr auto kStrip = make_strip();

constexpr lv_image_header_t kHeader = {
    LV_IMAGE_HEADER_MAGIC, LV_COLOR_FORMAT_RGB565, 0, kWidth, kHeight, kWidth * 2, 0};

} // namespace

const lv_image_dsc_t img_hue_10 = {kHeader, static_cast<uint32_t>(kStrip.size()), kStrip.data(), nullptr, nullptr};
