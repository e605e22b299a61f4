// Build-time font compiler: renders the glyphs of a TrueType file with FreeType into a 4-bit-per-pixel
// font source for the widget layer (lv_font_fmt_txt.h), so that the program carries its fonts and
// opens no font file when it runs.
//
//   lv_font_gen --name NAME --font FILE --size PX --line-height L [--base-line B]
//               [--underline POSITION THICKNESS] [--symbols] --out FILE.cpp
//
// The glyphs are printable ASCII (0x20..0x7E) and, with --symbols, the widget layer's symbol code
// points drawn with look-alike glyphs of the same file. Without --base-line the base line is the
// lowest ink of the ASCII glyphs, and the build fails when their ink does not fit in the line, so
// that no text of that font is ever cut at the top or the bottom of a label as tall as its line.
// Symbols are shrunk and moved, when needed, to lie inside the line.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string name;
    std::string font;
    std::string out;
    int size = 0;
    int lineHeight = 0;
    int baseLine = -1;
    int underlinePosition = -1;
    int underlineThickness = 1;
    bool symbols = false;
};

struct Glyph {
    uint32_t letter = 0;
    int advance16 = 0; // advance in 1/16 px
    int boxW = 0;
    int boxH = 0;
    int ofsX = 0;
    int ofsY = 0; // bottom of the box above the base line
    std::vector<uint8_t> coverage; // boxW x boxH, 0..15
};

struct Symbol {
    uint32_t symbol;
    uint32_t lookAlike;
};

// The symbol code points of src/font/lv_symbol_def.h and the DejaVu picture each is drawn with.
const Symbol kSymbols[] = {
    {0x2022, 0x2022}, {0xF001, 0x266B}, {0xF008, 0x25B6}, {0xF00B, 0x2630}, {0xF00C, 0x2714}, {0xF00D, 0x2716},
    {0xF011, 0x25CF}, {0xF013, 0x2699}, {0xF015, 0x2302}, {0xF019, 0x21E9}, {0xF01C, 0x25A4}, {0xF021, 0x21BB},
    {0xF026, 0x2715}, {0xF027, 0x266A}, {0xF028, 0x266B}, {0xF03E, 0x25A7}, {0xF043, 0x25C9}, {0xF048, 0x25C0},
    {0xF04B, 0x25B6}, {0xF04C, 0x2016}, {0xF04D, 0x25A0}, {0xF051, 0x25B6}, {0xF052, 0x23CF}, {0xF053, 0x276E},
    {0xF054, 0x276F}, {0xF067, 0x002B}, {0xF068, 0x2212}, {0xF06E, 0x25CE}, {0xF070, 0x25CB}, {0xF071, 0x26A0},
    {0xF074, 0x21C4}, {0xF077, 0x25B2}, {0xF078, 0x25BC}, {0xF079, 0x21BB}, {0xF07B, 0x25A1}, {0xF093, 0x21E7},
    {0xF095, 0x260E}, {0xF0C4, 0x2702}, {0xF0C5, 0x2750}, {0xF0C7, 0x25A3}, {0xF0C9, 0x2630}, {0xF0E0, 0x2709},
    {0xF0E7, 0x26A1}, {0xF0EA, 0x2750}, {0xF0F3, 0x266A}, {0xF11C, 0x2328}, {0xF124, 0x27A4}, {0xF158, 0x25AF},
    {0xF1EB, 0x25E0}, {0xF240, 0x25AE}, {0xF241, 0x25AE}, {0xF242, 0x25AE}, {0xF243, 0x25AF}, {0xF244, 0x25AF},
    {0xF287, 0x21C6}, {0xF293, 0x16D2}, {0xF2ED, 0x2716}, {0xF304, 0x270E}, {0xF55A, 0x232B}, {0xF7C2, 0x25A4},
    {0xF8A2, 0x21B5}, {0xF8FF, 0x0020},
};

// A picture the file lacks is drawn as an empty square.
constexpr uint32_t kMissingPicture = 0x25A1;

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "lv_font_gen: %s\n", message.c_str());
    std::exit(1);
}

int toInt(const char* text, const char* what)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end) fail(std::string("not a number for ") + what + ": " + text);
    return int(v);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) fail(std::string("missing value of ") + what);
            return argv[++i];
        };
        if (a == "--name") o.name = value("--name");
        else if (a == "--font") o.font = value("--font");
        else if (a == "--out") o.out = value("--out");
        else if (a == "--size") o.size = toInt(value("--size"), "--size");
        else if (a == "--line-height") o.lineHeight = toInt(value("--line-height"), "--line-height");
        else if (a == "--base-line") o.baseLine = toInt(value("--base-line"), "--base-line");
        else if (a == "--underline") {
            o.underlinePosition = toInt(value("--underline"), "--underline");
            o.underlineThickness = toInt(value("--underline"), "--underline");
        } else if (a == "--symbols") o.symbols = true;
        else fail("unknown argument " + a);
    }
    if (o.name.empty() || o.font.empty() || o.out.empty() || o.size <= 0 || o.lineHeight <= 0)
        fail(
            "usage: --name NAME --font FILE --size PX --line-height L [--base-line B] "
            "[--underline POSITION THICKNESS] [--symbols] --out FILE");
    return o;
}

Glyph render(FT_Face face, uint32_t letter, uint32_t picture, int size)
{
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(size)) != 0) fail("cannot set the size " + std::to_string(size));
    FT_UInt index = FT_Get_Char_Index(face, picture);
    if (index == 0) index = FT_Get_Char_Index(face, kMissingPicture);
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0)
        fail("cannot render U+" + std::to_string(picture));
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bmp = slot->bitmap;
    if (bmp.pixel_mode != FT_PIXEL_MODE_GRAY && bmp.rows > 0) fail("not an anti-aliased bitmap");
    Glyph g;
    g.letter = letter;
    g.advance16 = int((slot->advance.x + 2) >> 2);
    g.boxW = int(bmp.width);
    g.boxH = int(bmp.rows);
    g.ofsX = slot->bitmap_left;
    g.ofsY = slot->bitmap_top - int(bmp.rows);
    g.coverage.resize(size_t(g.boxW) * size_t(g.boxH));
    for (int y = 0; y < g.boxH; y++) {
        const uint8_t* row = bmp.buffer + ptrdiff_t(y) * bmp.pitch;
        for (int x = 0; x < g.boxW; x++) g.coverage[size_t(y * g.boxW + x)] = uint8_t((row[x] * 15 + 127) / 255);
    }
    return g;
}

// A symbol keeps its picture's size unless it is taller than the line; it is then drawn smaller, and
// moved up or down just enough to lie inside the line.
Glyph renderSymbol(FT_Face face, const Symbol& s, int size, int lineHeight, int baseLine)
{
    Glyph g = render(face, s.symbol, s.lookAlike, size);
    for (int px = size - 1; g.boxH > lineHeight && px > 1; px--) {
        Glyph smaller = render(face, s.symbol, s.lookAlike, px);
        smaller.advance16 = g.advance16;
        g = smaller;
    }
    g.ofsY = std::clamp(g.ofsY, -baseLine, lineHeight - baseLine - g.boxH);
    return g;
}

// 4-bit coverage, two pixels a byte (the first in the high half), rows following each other without
// padding; every glyph starts on a byte.
void packGlyph(const Glyph& g, std::vector<uint8_t>& out)
{
    const size_t n = g.coverage.size();
    for (size_t i = 0; i < n; i += 2) {
        uint8_t hi = g.coverage[i];
        uint8_t lo = i + 1 < n ? g.coverage[i + 1] : 0;
        out.push_back(uint8_t(hi << 4 | lo));
    }
}

std::string write(const Options& o, const std::vector<Glyph>& ascii, const std::vector<Glyph>& symbols, int baseLine)
{
    std::vector<uint8_t> bitmap;
    std::vector<uint32_t> index;
    std::vector<const Glyph*> all;
    for (const Glyph& g : ascii) all.push_back(&g);
    for (const Glyph& g : symbols) all.push_back(&g);
    for (const Glyph* g : all) {
        index.push_back(uint32_t(bitmap.size()));
        packGlyph(*g, bitmap);
    }

    std::ostringstream s;
    const char* file = std::strrchr(o.font.c_str(), '/');
    s << "// Generated at build time by lv_font_gen from " << (file ? file + 1 : o.font.c_str()) << " at " << o.size
      << " px: do not edit.\n";
    s << "#include \"src/font/lv_font_fmt_txt.h\"\n\nnamespace {\n\n";
    s << "const uint8_t glyph_bitmap[] = {";
    for (size_t i = 0; i < bitmap.size(); i++) {
        if (i % 24 == 0) s << "\n    ";
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x,", bitmap[i]);
        s << hex;
    }
    if (bitmap.empty()) s << "0";
    s << "\n};\n\n";
    s << "// Glyph 0 is reserved: ids start at 1.\n";
    s << "const lv_font_fmt_txt_glyph_dsc_t glyph_dsc[] = {\n    {0, 0, 0, 0, 0, 0},\n";
    for (size_t i = 0; i < all.size(); i++) {
        const Glyph& g = *all[i];
        s << "    {" << index[i] << ", " << g.advance16 << ", " << g.boxW << ", " << g.boxH << ", " << g.ofsX << ", "
          << g.ofsY << "}, // U+" << std::hex << g.letter << std::dec << "\n";
    }
    s << "};\n\n";
    int cmapCount = 1;
    if (!symbols.empty()) {
        cmapCount = 2;
        s << "const uint16_t symbol_list[] = {";
        for (const Glyph& g : symbols) s << (g.letter - symbols.front().letter) << ", ";
        s << "};\n\n";
    }
    s << "const lv_font_fmt_txt_cmap_t cmaps[] = {\n";
    s << "    {0x20, " << ascii.size() << ", 1, nullptr, 0, LV_FONT_FMT_TXT_CMAP_FORMAT0_TINY},\n";
    if (!symbols.empty()) {
        s << "    {" << symbols.front().letter << ", " << (symbols.back().letter - symbols.front().letter + 1) << ", "
          << ascii.size() + 1 << ", symbol_list, " << symbols.size() << ", LV_FONT_FMT_TXT_CMAP_SPARSE_TINY},\n";
    }
    s << "};\n\n";
    s << "const lv_font_fmt_txt_dsc_t font_dsc = {glyph_bitmap, glyph_dsc, cmaps, " << cmapCount << ", 4};\n\n";
    s << "} // namespace\n\n";
    s << "// Fields: glyph callbacks, release, line height, base line, sub-pixel, kerning, static bitmap,\n"
         "// underline position and thickness, descriptor, fallback, user data.\n";
    s << "extern const lv_font_t " << o.name << ";\n";
    s << "const lv_font_t " << o.name
      << " = {\n    lv_font_get_glyph_dsc_fmt_txt, lv_font_get_bitmap_fmt_txt, nullptr, " << o.lineHeight << ", "
      << baseLine << ", LV_FONT_SUBPX_NONE, 0, 1, " << o.underlinePosition << ", " << o.underlineThickness
      << ",\n    &font_dsc, nullptr, nullptr,\n};\n";
    return s.str();
}

} // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) fail("FreeType cannot start");
    FT_Face face = nullptr;
    if (FT_New_Face(library, o.font.c_str(), 0, &face) != 0) fail("cannot open the font file " + o.font);

    std::vector<Glyph> ascii;
    int top = 0, bottom = 0;
    for (uint32_t c = 0x20; c <= 0x7E; c++) {
        ascii.push_back(render(face, c, c, o.size));
        const Glyph& g = ascii.back();
        if (g.boxH == 0) continue;
        top = std::max(top, g.ofsY + g.boxH);
        bottom = std::min(bottom, g.ofsY);
    }
    int baseLine = o.baseLine;
    if (baseLine < 0) {
        baseLine = -bottom;
        if (top - bottom > o.lineHeight)
            fail(o.name + ": the ink of " + std::to_string(o.size) + " px is " + std::to_string(top - bottom) +
                 " px tall, more than the line of " + std::to_string(o.lineHeight) + " px");
    }

    std::vector<Glyph> symbols;
    if (o.symbols)
        for (const Symbol& s : kSymbols) symbols.push_back(renderSymbol(face, s, o.size, o.lineHeight, baseLine));

    const std::string text = write(o, ascii, symbols, baseLine);
    std::ofstream out(o.out, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) fail("cannot write " + o.out);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return 0;
}
