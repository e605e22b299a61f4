// Software renderer: every primitive walks the pixels of its bounding box inside the clip area and
// blends by coverage. Coverage of rounded rectangles comes from a signed distance to the shape,
// which gives anti-aliased corners and exact straight edges.
#include <cmath>

#include "src/core/lv_obj_private.h"
#include "src/draw/lv_draw.h"
#include "src/misc/lv_text.h"

namespace {

inline void blend(lv_layer_t* layer, int32_t x, int32_t y, lv_color_t c, uint32_t a);
int32_t clamp_radius(int32_t radius, const lv_area_t& a);
float rrect_distance(int32_t x, int32_t y, const lv_area_t& a, float r);
float coverage(int32_t x, int32_t y, const lv_area_t& a, int32_t r);
float mask_coverage(const lv_draw_rect_dsc_t* dsc, int32_t x, int32_t y);
lv_color_t gradient_color(const lv_draw_rect_dsc_t* dsc, const lv_area_t& a, int32_t x, int32_t y);
bool image_pixel(const lv_image_dsc_t* img, int32_t ix, int32_t iy, lv_color_t* c, uint32_t* a);
void draw_shadow(lv_layer_t* layer, const lv_draw_rect_dsc_t* dsc, const lv_area_t& coords, int32_t radius);
uint32_t glyph_coverage(const uint8_t* bitmap, lv_font_glyph_format_t format, int32_t i);
void draw_glyph(lv_layer_t* layer, const lv_draw_label_dsc_t* dsc, int32_t x, int32_t baseline, uint32_t letter,
                uint32_t next, int32_t* advance);
void fill_area(lv_layer_t* layer, const lv_area_t& a, lv_color_t color, lv_opa_t opa);

} // namespace

bool lv_area_intersect(lv_area_t* res, const lv_area_t* a1, const lv_area_t* a2)
{
    res->x1 = LV_MAX(a1->x1, a2->x1);
    res->y1 = LV_MAX(a1->y1, a2->y1);
    res->x2 = LV_MIN(a1->x2, a2->x2);
    res->y2 = LV_MIN(a1->y2, a2->y2);
    return res->x1 <= res->x2 && res->y1 <= res->y2;
}

void lv_draw_rect_dsc_init(lv_draw_rect_dsc_t* dsc)
{
    *dsc = {};
    dsc->bg_color = lv_color_white();
    dsc->bg_grad_stop = 255;
    dsc->bg_image_opa = LV_OPA_COVER;
    dsc->border_opa = LV_OPA_COVER;
    dsc->border_side = LV_BORDER_SIDE_FULL;
    dsc->shadow_opa = LV_OPA_COVER;
}

void lv_draw_label_dsc_init(lv_draw_label_dsc_t* dsc)
{
    *dsc = {};
    dsc->font = LV_FONT_DEFAULT;
    dsc->opa = LV_OPA_COVER;
    dsc->wrap = true;
}

void lv_draw_line_dsc_init(lv_draw_line_dsc_t* dsc)
{
    *dsc = {};
    dsc->width = 1;
    dsc->opa = LV_OPA_COVER;
}

void lv_draw_rect(lv_layer_t* layer, const lv_draw_rect_dsc_t* dsc, const lv_area_t* coords)
{
    int32_t radius = clamp_radius(dsc->radius, *coords);
    draw_shadow(layer, dsc, *coords, radius);

    lv_area_t area;
    if (!lv_area_intersect(&area, coords, &layer->clip)) return;
    if (dsc->bg_opa > LV_OPA_MIN) {
        for (int32_t y = area.y1; y <= area.y2; y++) {
            for (int32_t x = area.x1; x <= area.x2; x++) {
                float cov = coverage(x, y, *coords, radius) * mask_coverage(dsc, x, y);
                if (cov <= 0.0f) continue;
                blend(layer, x, y, gradient_color(dsc, *coords, x, y), static_cast<uint32_t>(cov * dsc->bg_opa + 0.5f));
            }
        }
    }
    const lv_image_dsc_t* img = static_cast<const lv_image_dsc_t*>(dsc->bg_image_src);
    if (img && img->header.w > 0 && img->header.h > 0 && dsc->bg_image_opa > LV_OPA_MIN) {
        int32_t iw = img->header.w, ih = img->header.h;
        int32_t ox = coords->x1, oy = coords->y1;
        if (!dsc->bg_image_tiled) {
            ox += (lv_area_get_width(coords) - iw) / 2;
            oy += (lv_area_get_height(coords) - ih) / 2;
        }
        for (int32_t y = area.y1; y <= area.y2; y++) {
            for (int32_t x = area.x1; x <= area.x2; x++) {
                int32_t ix = x - ox, iy = y - oy;
                if (dsc->bg_image_tiled) {
                    ix = ((ix % iw) + iw) % iw;
                    iy = ((iy % ih) + ih) % ih;
                } else if (ix < 0 || iy < 0 || ix >= iw || iy >= ih) {
                    continue;
                }
                lv_color_t c;
                uint32_t a;
                if (!image_pixel(img, ix, iy, &c, &a)) continue;
                if (dsc->bg_image_recolor_opa > LV_OPA_MIN)
                    c = lv_color_mix(dsc->bg_image_recolor, c, dsc->bg_image_recolor_opa);
                float cov = coverage(x, y, *coords, radius) * mask_coverage(dsc, x, y);
                blend(layer, x, y, c, static_cast<uint32_t>(cov * a * dsc->bg_image_opa / 255 + 0.5f));
            }
        }
    }
    lv_draw_border(layer, dsc, coords);
}

void lv_draw_border(lv_layer_t* layer, const lv_draw_rect_dsc_t* dsc, const lv_area_t* coords)
{
    int32_t bw = dsc->border_width;
    if (bw <= 0 || dsc->border_opa <= LV_OPA_MIN || (dsc->border_side & LV_BORDER_SIDE_FULL) == 0) return;
    int32_t radius = clamp_radius(dsc->radius, *coords);
    /* The inner edge moves in only on the bordered sides; elsewhere it lies outside the shape. */
    int32_t far = radius + bw + 1;
    lv_border_side_t side = dsc->border_side;
    lv_area_t inner = {coords->x1 + ((side & LV_BORDER_SIDE_LEFT) ? bw : -far),
                       coords->y1 + ((side & LV_BORDER_SIDE_TOP) ? bw : -far),
                       coords->x2 - ((side & LV_BORDER_SIDE_RIGHT) ? bw : -far),
                       coords->y2 - ((side & LV_BORDER_SIDE_BOTTOM) ? bw : -far)};
    int32_t inner_radius = LV_MAX(radius - bw, 0);
    lv_area_t area;
    if (!lv_area_intersect(&area, coords, &layer->clip)) return;
    for (int32_t y = area.y1; y <= area.y2; y++) {
        for (int32_t x = area.x1; x <= area.x2; x++) {
            float outer_cov = coverage(x, y, *coords, radius);
            if (outer_cov <= 0.0f) continue;
            float inner_cov = inner.x1 <= inner.x2 && inner.y1 <= inner.y2 ? coverage(x, y, inner, inner_radius) : 0.0f;
            float cov = outer_cov * (1.0f - inner_cov) * mask_coverage(dsc, x, y);
            blend(layer, x, y, dsc->border_color, static_cast<uint32_t>(cov * dsc->border_opa + 0.5f));
        }
    }
}

void lv_draw_label(lv_layer_t* layer, const lv_draw_label_dsc_t* dsc, const lv_area_t* coords, const char* text)
{
    if (text == nullptr || dsc->font == nullptr || dsc->opa <= LV_OPA_MIN) return;
    int32_t width = lv_area_get_width(coords);
    auto lines = lv_text_break_lines(text, dsc->font, dsc->letter_space, dsc->wrap ? width : LV_COORD_MAX);
    int32_t line_h = lv_font_get_line_height(dsc->font);
    int32_t y = coords->y1;
    for (const auto& line : lines) {
        if (y > layer->clip.y2) break;
        int32_t x = coords->x1;
        if (dsc->align == LV_TEXT_ALIGN_CENTER) x += (width - line.width) / 2;
        else if (dsc->align == LV_TEXT_ALIGN_RIGHT) x += width - line.width;
        int32_t baseline = y + line_h - dsc->font->base_line;
        int32_t x_start = x;
        uint32_t i = line.start;
        uint32_t end = line.start + line.length;
        while (i < end) {
            uint32_t letter = lv_text_utf8_next(text, &i);
            uint32_t next_i = i;
            uint32_t next = i < end ? lv_text_utf8_next(text, &next_i) : 0;
            int32_t advance;
            draw_glyph(layer, dsc, x, baseline, letter, next, &advance);
            x += advance + dsc->letter_space;
        }
        if (dsc->decor & LV_TEXT_DECOR_UNDERLINE) {
            int32_t thickness = LV_MAX(1, dsc->font->underline_thickness);
            int32_t uy = baseline - dsc->font->underline_position;
            fill_area(layer, {x_start, uy, x_start + line.width - 1, uy + thickness - 1}, dsc->color, dsc->opa);
        }
        if (dsc->decor & LV_TEXT_DECOR_STRIKETHROUGH) {
            int32_t sy = baseline - (line_h - dsc->font->base_line) / 3;
            fill_area(layer, {x_start, sy, x_start + line.width - 1, sy}, dsc->color, dsc->opa);
        }
        y += line_h + dsc->line_space;
    }
}

void lv_draw_line(lv_layer_t* layer, const lv_draw_line_dsc_t* dsc)
{
    if (dsc->width <= 0 || dsc->opa <= LV_OPA_MIN) return;
    int32_t w = dsc->width;
    lv_point_t p1 = dsc->p1, p2 = dsc->p2;
    if (p1.y == p2.y || p1.x == p2.x) {
        /* Straight lines cover whole pixels: rows (or columns) centred on the points. */
        lv_area_t a;
        if (p1.y == p2.y) {
            a = {LV_MIN(p1.x, p2.x), p1.y - (w - 1) / 2, LV_MAX(p1.x, p2.x), p1.y + w / 2};
        } else {
            a = {p1.x - (w - 1) / 2, LV_MIN(p1.y, p2.y), p1.x + w / 2, LV_MAX(p1.y, p2.y)};
        }
        fill_area(layer, a, dsc->color, dsc->opa);
        return;
    }
    float ax = p1.x + 0.5f, ay = p1.y + 0.5f, bx = p2.x + 0.5f, by = p2.y + 0.5f;
    float dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float half = w * 0.5f;
    int32_t ext = w / 2 + 2;
    lv_area_t box = {LV_MIN(p1.x, p2.x) - ext, LV_MIN(p1.y, p2.y) - ext, LV_MAX(p1.x, p2.x) + ext,
                     LV_MAX(p1.y, p2.y) + ext};
    lv_area_t area;
    if (!lv_area_intersect(&area, &box, &layer->clip)) return;
    for (int32_t y = area.y1; y <= area.y2; y++) {
        for (int32_t x = area.x1; x <= area.x2; x++) {
            float px = x + 0.5f, py = y + 0.5f;
            float t = ((px - ax) * dx + (py - ay) * dy) / len2;
            if (!dsc->round && (t < 0.0f || t > 1.0f)) continue;
            t = std::fmin(std::fmax(t, 0.0f), 1.0f);
            float cx = ax + t * dx - px, cy = ay + t * dy - py;
            float d = std::sqrt(cx * cx + cy * cy) - half;
            float cov = std::fmin(std::fmax(0.5f - d, 0.0f), 1.0f);
            blend(layer, x, y, dsc->color, static_cast<uint32_t>(cov * dsc->opa + 0.5f));
        }
    }
}

void lv_obj_init_draw_rect_dsc(lv_obj_t* obj, lv_part_t part, lv_draw_rect_dsc_t* dsc)
{
    lv_draw_rect_dsc_init(dsc);
    dsc->radius = lv_obj_get_style_radius(obj, part);
    dsc->bg_opa = lv_obj_get_style_bg_opa(obj, part);
    dsc->bg_color = lv_obj_get_style_bg_color(obj, part);
    dsc->bg_grad_color = lv_obj_get_style_bg_grad_color(obj, part);
    dsc->bg_grad_dir = lv_obj_get_style_bg_grad_dir(obj, part);
    dsc->bg_main_stop = lv_obj_get_style_bg_main_stop(obj, part);
    dsc->bg_grad_stop = lv_obj_get_style_bg_grad_stop(obj, part);
    dsc->bg_image_src = lv_obj_get_style_bg_image_src(obj, part);
    dsc->bg_image_opa = lv_obj_get_style_bg_image_opa(obj, part);
    dsc->bg_image_recolor = lv_obj_get_style_bg_image_recolor(obj, part);
    dsc->bg_image_recolor_opa = lv_obj_get_style_bg_image_recolor_opa(obj, part);
    dsc->bg_image_tiled = lv_obj_get_style_bg_image_tiled(obj, part);
    dsc->border_color = lv_obj_get_style_border_color(obj, part);
    dsc->border_opa = lv_obj_get_style_border_opa(obj, part);
    dsc->border_width = lv_obj_get_style_border_width(obj, part);
    dsc->border_side = lv_obj_get_style_border_side(obj, part);
    dsc->shadow_width = lv_obj_get_style_shadow_width(obj, part);
    dsc->shadow_offset_x = lv_obj_get_style_shadow_offset_x(obj, part);
    dsc->shadow_offset_y = lv_obj_get_style_shadow_offset_y(obj, part);
    dsc->shadow_spread = lv_obj_get_style_shadow_spread(obj, part);
    dsc->shadow_color = lv_obj_get_style_shadow_color(obj, part);
    dsc->shadow_opa = lv_obj_get_style_shadow_opa(obj, part);
    lv_opa_t opa = lv_obj_get_style_opa(obj, part);
    if (opa < LV_OPA_COVER) {
        dsc->bg_opa = static_cast<lv_opa_t>(dsc->bg_opa * opa / 255);
        dsc->border_opa = static_cast<lv_opa_t>(dsc->border_opa * opa / 255);
        dsc->shadow_opa = static_cast<lv_opa_t>(dsc->shadow_opa * opa / 255);
        dsc->bg_image_opa = static_cast<lv_opa_t>(dsc->bg_image_opa * opa / 255);
    }
}

void lv_obj_init_draw_label_dsc(lv_obj_t* obj, lv_part_t part, lv_draw_label_dsc_t* dsc)
{
    lv_draw_label_dsc_init(dsc);
    dsc->font = lv_obj_get_style_text_font(obj, part);
    dsc->color = lv_obj_get_style_text_color(obj, part);
    dsc->opa = static_cast<lv_opa_t>(lv_obj_get_style_text_opa(obj, part) * lv_obj_get_style_opa(obj, part) / 255);
    dsc->letter_space = lv_obj_get_style_text_letter_space(obj, part);
    dsc->line_space = lv_obj_get_style_text_line_space(obj, part);
    dsc->align = lv_obj_get_style_text_align(obj, part);
    dsc->decor = lv_obj_get_style_text_decor(obj, part);
}

void lv_obj_init_draw_line_dsc(lv_obj_t* obj, lv_part_t part, lv_draw_line_dsc_t* dsc)
{
    lv_draw_line_dsc_init(dsc);
    dsc->width = lv_obj_get_style_line_width(obj, part);
    dsc->color = lv_obj_get_style_line_color(obj, part);
    dsc->opa = static_cast<lv_opa_t>(lv_obj_get_style_line_opa(obj, part) * lv_obj_get_style_opa(obj, part) / 255);
    dsc->round = lv_obj_get_style_line_rounded(obj, part);
}

namespace {

inline void blend(lv_layer_t* layer, int32_t x, int32_t y, lv_color_t c, uint32_t a)
{
    if (a == 0) return;
    uint32_t& d = layer->buf[y * layer->w + x];
    if (a >= 255) {
        d = (static_cast<uint32_t>(c.red) << 16) | (static_cast<uint32_t>(c.green) << 8) | c.blue;
        return;
    }
    uint32_t inv = 255 - a;
    uint32_t r = (c.red * a + ((d >> 16) & 0xFF) * inv + 127) / 255;
    uint32_t g = (c.green * a + ((d >> 8) & 0xFF) * inv + 127) / 255;
    uint32_t b = (c.blue * a + (d & 0xFF) * inv + 127) / 255;
    d = (r << 16) | (g << 8) | b;
}

int32_t clamp_radius(int32_t radius, const lv_area_t& a)
{
    int32_t short_side = LV_MIN(lv_area_get_width(&a), lv_area_get_height(&a));
    return LV_MAX(0, LV_MIN(radius, short_side / 2));
}

/* Signed distance of a pixel centre to a rounded rectangle (negative inside). */
float rrect_distance(int32_t x, int32_t y, const lv_area_t& a, float r)
{
    float px = x + 0.5f, py = y + 0.5f;
    float cx = (a.x1 + a.x2 + 1) * 0.5f, cy = (a.y1 + a.y2 + 1) * 0.5f;
    float hw = (a.x2 - a.x1 + 1) * 0.5f, hh = (a.y2 - a.y1 + 1) * 0.5f;
    float qx = std::fabs(px - cx) - (hw - r);
    float qy = std::fabs(py - cy) - (hh - r);
    float outside = std::hypot(std::fmax(qx, 0.0f), std::fmax(qy, 0.0f));
    float inside = std::fmin(std::fmax(qx, qy), 0.0f);
    return outside + inside - r;
}

float coverage(int32_t x, int32_t y, const lv_area_t& a, int32_t r)
{
    if (a.x2 < a.x1 || a.y2 < a.y1) return 0.0f;
    if (r == 0) return (x >= a.x1 && x <= a.x2 && y >= a.y1 && y <= a.y2) ? 1.0f : 0.0f;
    float d = rrect_distance(x, y, a, static_cast<float>(r));
    return std::fmin(std::fmax(0.5f - d, 0.0f), 1.0f);
}

float mask_coverage(const lv_draw_rect_dsc_t* dsc, int32_t x, int32_t y)
{
    if (!dsc->has_mask) return 1.0f;
    return coverage(x, y, dsc->mask_area, clamp_radius(dsc->mask_radius, dsc->mask_area));
}

lv_color_t gradient_color(const lv_draw_rect_dsc_t* dsc, const lv_area_t& a, int32_t x, int32_t y)
{
    if (dsc->bg_grad_dir == LV_GRAD_DIR_NONE) return dsc->bg_color;
    int32_t pos, len;
    if (dsc->bg_grad_dir == LV_GRAD_DIR_VER) {
        pos = y - a.y1;
        len = lv_area_get_height(&a);
    } else {
        pos = x - a.x1;
        len = lv_area_get_width(&a);
    }
    int32_t t = len > 1 ? pos * 255 / (len - 1) : 0;
    int32_t main_stop = LV_CLAMP(0, dsc->bg_main_stop, 255);
    int32_t grad_stop = LV_CLAMP(0, dsc->bg_grad_stop, 255);
    if (t <= main_stop) return dsc->bg_color;
    if (t >= grad_stop || grad_stop <= main_stop) return dsc->bg_grad_color;
    int32_t mix = 255 - (t - main_stop) * 255 / (grad_stop - main_stop);
    return lv_color_mix(dsc->bg_color, dsc->bg_grad_color, static_cast<uint8_t>(mix));
}

bool image_pixel(const lv_image_dsc_t* img, int32_t ix, int32_t iy, lv_color_t* c, uint32_t* a)
{
    const lv_image_header_t& h = img->header;
    uint32_t bpp;
    switch (h.cf) {
    case LV_COLOR_FORMAT_RGB565: bpp = 2; break;
    case LV_COLOR_FORMAT_RGB888: bpp = 3; break;
    case LV_COLOR_FORMAT_XRGB8888:
    case LV_COLOR_FORMAT_ARGB8888: bpp = 4; break;
    default: return false;
    }
    uint32_t stride = h.stride ? h.stride : h.w * bpp;
    size_t at = static_cast<size_t>(iy) * stride + static_cast<size_t>(ix) * bpp;
    if (img->data == nullptr || at + bpp > img->data_size) return false;
    const uint8_t* p = img->data + at;
    *a = 255;
    if (bpp == 2) {
        uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
        uint8_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
        *c = lv_color_make((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
    } else {
        *c = lv_color_make(p[2], p[1], p[0]);
        if (h.cf == LV_COLOR_FORMAT_ARGB8888) *a = p[3];
    }
    return true;
}

void draw_shadow(lv_layer_t* layer, const lv_draw_rect_dsc_t* dsc, const lv_area_t& coords, int32_t radius)
{
    if (dsc->shadow_opa <= LV_OPA_MIN || (dsc->shadow_width <= 0 && dsc->shadow_spread <= 0)) return;
    lv_area_t core = {
        coords.x1 + dsc->shadow_offset_x - dsc->shadow_spread, coords.y1 + dsc->shadow_offset_y - dsc->shadow_spread,
        coords.x2 + dsc->shadow_offset_x + dsc->shadow_spread, coords.y2 + dsc->shadow_offset_y + dsc->shadow_spread};
    float r = static_cast<float>(clamp_radius(radius + dsc->shadow_spread, core));
    float sw = static_cast<float>(LV_MAX(dsc->shadow_width, 1));
    int32_t ext = dsc->shadow_width / 2 + 1;
    lv_area_t box = {core.x1 - ext, core.y1 - ext, core.x2 + ext, core.y2 + ext};
    lv_area_t area;
    if (!lv_area_intersect(&area, &box, &layer->clip)) return;
    for (int32_t y = area.y1; y <= area.y2; y++) {
        for (int32_t x = area.x1; x <= area.x2; x++) {
            float d = rrect_distance(x, y, core, r);
            float cov = std::fmin(std::fmax((sw * 0.5f - d) / sw, 0.0f), 1.0f);
            blend(layer, x, y, dsc->shadow_color, static_cast<uint32_t>(cov * dsc->shadow_opa + 0.5f));
        }
    }
}

/* Coverage 0..255 of pixel i of a glyph bitmap. */
uint32_t glyph_coverage(const uint8_t* bitmap, lv_font_glyph_format_t format, int32_t i)
{
    if (format == LV_FONT_GLYPH_FORMAT_A4) return ((bitmap[i >> 1] >> ((i & 1) ? 0 : 4)) & 0x0F) * 17;
    return bitmap[i];
}

void draw_glyph(lv_layer_t* layer, const lv_draw_label_dsc_t* dsc, int32_t x, int32_t baseline, uint32_t letter,
                uint32_t next, int32_t* advance)
{
    lv_font_glyph_dsc_t g;
    *advance = 0;
    if (!lv_font_get_glyph_dsc(dsc->font, &g, letter, next)) return;
    *advance = g.adv_w;
    const uint8_t* bitmap = static_cast<const uint8_t*>(lv_font_get_glyph_bitmap(&g, nullptr));
    if (bitmap == nullptr || g.box_w == 0 || g.box_h == 0) return;
    int32_t gx = x + g.ofs_x;
    int32_t gy = baseline - g.ofs_y - g.box_h;
    lv_area_t box = {gx, gy, gx + g.box_w - 1, gy + g.box_h - 1};
    lv_area_t area;
    if (!lv_area_intersect(&area, &box, &layer->clip)) return;
    for (int32_t y = area.y1; y <= area.y2; y++) {
        for (int32_t px = area.x1; px <= area.x2; px++) {
            uint32_t a = glyph_coverage(bitmap, g.format, (y - gy) * g.box_w + (px - gx));
            if (a) blend(layer, px, y, dsc->color, a * dsc->opa / 255);
        }
    }
}

void fill_area(lv_layer_t* layer, const lv_area_t& a, lv_color_t color, lv_opa_t opa)
{
    lv_area_t area;
    if (!lv_area_intersect(&area, &a, &layer->clip)) return;
    for (int32_t y = area.y1; y <= area.y2; y++) {
        for (int32_t x = area.x1; x <= area.x2; x++) blend(layer, x, y, color, opa);
    }
}

} // namespace
