#include "src/others/test/lv_test.h"

#include <png.h>

#include <cstdio>
#include <vector>

#include "src/core/lv_obj_private.h"
#include "src/display/lv_display_private.h"

namespace {

void dump(lv_obj_t* obj, FILE* out, int depth);

} // namespace

uint16_t lv_test_display_get_pixel(lv_display_t* disp, int32_t x, int32_t y)
{
    const auto& frame = lv_display_frame(disp);
    if (frame.empty() || x < 0 || y < 0 || x >= disp->hor_res || y >= disp->ver_res) return 0;
    return frame[static_cast<size_t>(y) * disp->hor_res + x];
}

const uint16_t* lv_test_display_get_frame(lv_display_t* disp)
{
    const auto& frame = lv_display_frame(disp);
    return frame.empty() ? nullptr : frame.data();
}

bool lv_test_write_png_rgb565(const uint16_t* frame, int32_t w, int32_t h, const char* path)
{
    if (frame == nullptr || w <= 0 || h <= 0 || path == nullptr) return false;
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++) {
            uint16_t px = frame[static_cast<size_t>(y) * w + x];
            uint8_t r = (px >> 11) & 0x1F, g = (px >> 5) & 0x3F, b = px & 0x1F;
            row[x * 3] = static_cast<uint8_t>((r << 3) | (r >> 2));
            row[x * 3 + 1] = static_cast<uint8_t>((g << 2) | (g >> 4));
            row[x * 3 + 2] = static_cast<uint8_t>((b << 3) | (b >> 2));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool lv_test_display_write_png(lv_display_t* disp, const char* path)
{
    const uint16_t* frame = lv_test_display_get_frame(disp);
    if (frame == nullptr) return false;
    return lv_test_write_png_rgb565(frame, disp->hor_res, disp->ver_res, path);
}

const char* lv_test_obj_get_class_name(const lv_obj_t* obj)
{
    return obj && obj->class_p ? obj->class_p->name : "";
}

void lv_test_obj_dump(lv_obj_t* obj, FILE* out)
{
    if (obj == nullptr) return;
    lv_obj_update_layout(obj);
    dump(obj, out, 0);
}

namespace {

void dump(lv_obj_t* obj, FILE* out, int depth)
{
    lv_area_t a = obj->coords;
    std::fprintf(out, "%*s%s (%d,%d)-(%d,%d)", depth * 2, "", obj->class_p->name, static_cast<int>(a.x1),
                 static_cast<int>(a.y1), static_cast<int>(a.x2), static_cast<int>(a.y2));
    if (lv_obj_check_type(obj, &lv_label_class)) std::fprintf(out, " \"%s\"", lv_label_get_text(obj));
    if (lv_obj_has_flag(obj, LV_OBJ_FLAG_HIDDEN)) std::fprintf(out, " hidden");
    std::fprintf(out, "\n");
    for (lv_obj_t* child : obj->children) dump(child, out, depth + 1);
}

} // namespace
