// TrueType glyphs through FreeType for the fonts of this layer. Faces are opened once per file and
// every glyph is rendered once per font and kept; the symbol code points of the private-use area
// are drawn with look-alike glyphs the DejaVu fonts have.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "src/font/lv_font.h"

namespace {

struct Glyph {
    bool found = false;
    uint16_t adv_w = 0;
    uint16_t box_w = 0;
    uint16_t box_h = 0;
    int16_t ofs_x = 0;
    int16_t ofs_y = 0;
    std::vector<uint8_t> bitmap;
};

struct Symbol {
    uint32_t symbol;
    uint32_t look_alike;
};

/* Symbol glyph -> DejaVu code point of a similar picture. */
const Symbol kSymbols[] = {
    {0xF001, 0x266B}, {0xF008, 0x25B6}, {0xF00B, 0x2630}, {0xF00C, 0x2714}, {0xF00D, 0x2716}, {0xF011, 0x25CF},
    {0xF013, 0x2699}, {0xF015, 0x2302}, {0xF019, 0x21E9}, {0xF01C, 0x25A4}, {0xF021, 0x21BB}, {0xF026, 0x2715},
    {0xF027, 0x266A}, {0xF028, 0x266B}, {0xF03E, 0x25A7}, {0xF043, 0x25C9}, {0xF048, 0x25C0}, {0xF04B, 0x25B6},
    {0xF04C, 0x2016}, {0xF04D, 0x25A0}, {0xF051, 0x25B6}, {0xF052, 0x23CF}, {0xF053, 0x276E}, {0xF054, 0x276F},
    {0xF067, 0x002B}, {0xF068, 0x2212}, {0xF06E, 0x25CE}, {0xF070, 0x25CB}, {0xF071, 0x26A0}, {0xF074, 0x21C4},
    {0xF077, 0x25B2}, {0xF078, 0x25BC}, {0xF079, 0x21BB}, {0xF07B, 0x25A1}, {0xF093, 0x21E7}, {0xF095, 0x260E},
    {0xF0C4, 0x2702}, {0xF0C5, 0x2750}, {0xF0C7, 0x25A3}, {0xF0C9, 0x2630}, {0xF0E0, 0x2709}, {0xF0E7, 0x26A1},
    {0xF0EA, 0x2750}, {0xF0F3, 0x266A}, {0xF11C, 0x2328}, {0xF124, 0x27A4}, {0xF158, 0x25AF}, {0xF1EB, 0x25E0},
    {0xF240, 0x25AE}, {0xF241, 0x25AE}, {0xF242, 0x25AE}, {0xF243, 0x25AF}, {0xF244, 0x25AF}, {0xF287, 0x21C6},
    {0xF293, 0x16D2}, {0xF2ED, 0x2716}, {0xF304, 0x270E}, {0xF55A, 0x232B}, {0xF7C2, 0x25A4}, {0xF8A2, 0x21B5},
    {0xF8FF, 0x0020},
};

std::string & folder();
FT_Library library();
FT_Face face_for(const char * file);
uint32_t look_alike(uint32_t letter);
Glyph render(const lv_font_ttf_dsc_t * dsc, uint32_t letter);
const Glyph & glyph_for(const lv_font_t * font, uint32_t letter);

} // namespace

void lv_font_ttf_set_folder(const char * path)
{
    if(path) folder() = path;
}

bool lv_font_ttf_get_glyph_dsc(const lv_font_t * font, lv_font_glyph_dsc_t * dsc, uint32_t letter, uint32_t letter_next)
{
    LV_UNUSED(letter_next);
    if(font == nullptr || font->dsc == nullptr) return false;
    if(letter == '\t') letter = ' ';
    const Glyph & g = glyph_for(font, letter);
    if(!g.found) return false;
    dsc->resolved_font = font;
    dsc->adv_w = g.adv_w;
    dsc->box_w = g.box_w;
    dsc->box_h = g.box_h;
    dsc->ofs_x = g.ofs_x;
    dsc->ofs_y = g.ofs_y;
    dsc->format = LV_FONT_GLYPH_FORMAT_A8;
    dsc->is_placeholder = 0;
    dsc->gid = letter;
    return true;
}

const void * lv_font_ttf_get_glyph_bitmap(lv_font_glyph_dsc_t * dsc, lv_draw_buf_t * draw_buf)
{
    LV_UNUSED(draw_buf);
    if(dsc == nullptr || dsc->resolved_font == nullptr) return nullptr;
    const Glyph & g = glyph_for(dsc->resolved_font, dsc->gid);
    return g.bitmap.empty() ? nullptr : g.bitmap.data();
}

namespace {

std::string & folder()
{
    static std::string path = "/usr/share/fonts/truetype/dejavu";
    return path;
}

FT_Library library()
{
    static FT_Library lib = [] {
        FT_Library l = nullptr;
        if(FT_Init_FreeType(&l) != 0) {
            std::fprintf(stderr, "lvgl: FreeType cannot start\n");
            return static_cast<FT_Library>(nullptr);
        }
        return l;
    }();
    return lib;
}

FT_Face face_for(const char * file)
{
    static std::map<std::string, FT_Face> faces;
    std::string path = file && file[0] == '/' ? std::string(file) : folder() + "/" + (file ? file : "");
    auto it = faces.find(path);
    if(it != faces.end()) return it->second;
    FT_Face face = nullptr;
    if(library() == nullptr || FT_New_Face(library(), path.c_str(), 0, &face) != 0) {
        /* Once per file (the failure is kept): every text set in it is drawn blank. */
        std::printf("ERROR (Font): cannot open font file %s\n", path.c_str());
        face = nullptr;
    }
    faces[path] = face;
    return face;
}

uint32_t look_alike(uint32_t letter)
{
    if(letter < 0xF000 || letter > 0xF8FF) return letter;
    for(const Symbol & s : kSymbols) {
        if(s.symbol == letter) return s.look_alike;
    }
    return 0x25A1; /* an empty square for symbols without a picture */
}

Glyph render(const lv_font_ttf_dsc_t * dsc, uint32_t letter)
{
    Glyph g;
    FT_Face face = face_for(dsc->file);
    if(face == nullptr) return g;
    FT_UInt index = FT_Get_Char_Index(face, look_alike(letter));
    if(index == 0 && letter >= 0x20) index = FT_Get_Char_Index(face, 0x25A1);
    if(FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(dsc->size_px)) != 0) return g;
    if(FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap & bmp = slot->bitmap;
    g.found = true;
    g.adv_w = static_cast<uint16_t>((slot->advance.x + 32) >> 6);
    g.box_w = static_cast<uint16_t>(bmp.width);
    g.box_h = static_cast<uint16_t>(bmp.rows);
    g.ofs_x = static_cast<int16_t>(slot->bitmap_left);
    g.ofs_y = static_cast<int16_t>(slot->bitmap_top - static_cast<int>(bmp.rows));
    g.bitmap.resize(static_cast<size_t>(g.box_w) * g.box_h);
    for(unsigned y = 0; y < bmp.rows; y++) {
        const uint8_t * row = bmp.buffer + static_cast<ptrdiff_t>(y) * bmp.pitch;
        for(unsigned x = 0; x < bmp.width; x++) {
            /* 16 coverage levels, as the unit's 4-bit fonts have */
            g.bitmap[y * g.box_w + x] = static_cast<uint8_t>((row[x] >> 4) * 17);
        }
    }
    return g;
}

const Glyph & glyph_for(const lv_font_t * font, uint32_t letter)
{
    static std::map<std::pair<const lv_font_t *, uint32_t>, Glyph> cache;
    auto key = std::make_pair(font, letter);
    auto it = cache.find(key);
    if(it != cache.end()) return it->second;
    Glyph g = render(static_cast<const lv_font_ttf_dsc_t *>(font->dsc), letter);
    return cache.emplace(key, std::move(g)).first->second;
}

} // namespace
