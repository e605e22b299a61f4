#include "support/ScreenImage.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Anti-aliasing or a colour rounded differently moves a channel by a few steps; a text or a shape
// that moved changes it by far more.
constexpr int kChannelStep = 24;

bool ignored(const std::vector<ScreenArea>& ignore, int x, int y)
{
    for (const ScreenArea& a : ignore)
        if (x >= a.x1 && x <= a.x2 && y >= a.y1 && y <= a.y2) return true;
    return false;
}

} // namespace

ScreenImage ScreenImage::fromRgb565(const uint16_t* pixels, int width, int height)
{
    ScreenImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < image.rgb.size(); i++) {
        uint32_t p = pixels[i];
        uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
        image.rgb[i] = ((r << 3) | (r >> 2)) << 16 | ((g << 2) | (g >> 4)) << 8 | ((b << 3) | (b >> 2));
    }
    return image;
}

bool read_screen_png(const std::string& path, ScreenImage& image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    image.width = int(png.width);
    image.height = int(png.height);
    image.rgb.resize(size_t(image.width) * size_t(image.height));
    for (size_t i = 0; i < image.rgb.size(); i++)
        image.rgb[i] = uint32_t(bytes[3 * i]) << 16 | uint32_t(bytes[3 * i + 1]) << 8 | bytes[3 * i + 2];
    return true;
}

bool write_screen_png(const std::string& path, const ScreenImage& image)
{
    std::vector<uint8_t> bytes(image.rgb.size() * 3);
    for (size_t i = 0; i < image.rgb.size(); i++) {
        bytes[3 * i] = uint8_t(image.rgb[i] >> 16);
        bytes[3 * i + 1] = uint8_t(image.rgb[i] >> 8);
        bytes[3 * i + 2] = uint8_t(image.rgb[i]);
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, bytes.data(), 0, nullptr) != 0;
}

int changed_pixels(const ScreenImage& a, const ScreenImage& b, const std::vector<ScreenArea>& ignore)
{
    if (a.width != b.width || a.height != b.height) return std::max(a.width * a.height, b.width * b.height);
    int changed = 0;
    for (int y = 0; y < a.height; y++) {
        for (int x = 0; x < a.width; x++) {
            uint32_t p = a.rgb[size_t(y * a.width + x)], q = b.rgb[size_t(y * a.width + x)];
            if (p == q || ignored(ignore, x, y)) continue;
            for (int shift : {16, 8, 0}) {
                if (std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)) > kChannelStep) {
                    changed++;
                    break;
                }
            }
        }
    }
    return changed;
}

bool updating_screens()
{
    const char* update = std::getenv("KESTRUN_UPDATE_SCREENS");
    return update && std::strcmp(update, "1") == 0;
}

std::string reference_screen(const std::string& suite, const std::string& name)
{
    return std::string(KESTRUN_SCREENS_DIR) + "/" + suite + "/" + name + ".png";
}

testing::AssertionResult matches_reference(const std::string& suite, const std::string& name, const ScreenImage& frame,
                                           const std::vector<ScreenArea>& ignore)
{
    const std::string path = reference_screen(suite, name);
    ScreenImage reference;
    const bool referenced = read_screen_png(path, reference);
    if (updating_screens()) {
        // A reference that differs only where the test does not look (timing-dependent digits) is
        // kept: rewriting it would be a change for every reviewer with nothing in it.
        if (referenced && changed_pixels(frame, reference, ignore) == 0) return testing::AssertionSuccess();
        mkdir(KESTRUN_SCREENS_DIR, 0755);
        mkdir((std::string(KESTRUN_SCREENS_DIR) + "/" + suite).c_str(), 0755);
        if (!write_screen_png(path, frame)) return testing::AssertionFailure() << "cannot write " << path;
        return testing::AssertionSuccess();
    }
    if (!referenced)
        return testing::AssertionFailure() << "no reference " << path << " (KESTRUN_UPDATE_SCREENS=1 makes it)";
    const int changed = changed_pixels(frame, reference, ignore);
    if (changed <= kScreenTolerance) return testing::AssertionSuccess();
    mkdir("screens-failed", 0755);
    const std::string kept = "screens-failed/" + suite + "-" + name + ".png";
    write_screen_png(kept, frame);
    char cwd[4096];
    return testing::AssertionFailure() << suite << "/" << name << ": " << changed << " pixels changed (at most "
                                       << kScreenTolerance << "); the frame is in "
                                       << (getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" : "") << kept;
}
