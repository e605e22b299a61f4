#include "ui/Glcd.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint8_t glcd_buffer[GLCD_BUFFER_SIZE];
uint8_t glcd_x_offset = 0;
uint16_t glcd_page_counter = 0;

namespace {

// The built-in glyphs in the order digits, letters, ' ', '_', '-', ':', '.', '+'.
const uint8_t kSmallGlyphs[42 * 3] = {
    0x1F, 0x11, 0x1F, // 0
    0x12, 0x1F, 0x10, // 1
    0x1D, 0x15, 0x17, // 2
    0x11, 0x15, 0x1F, // 3
    0x07, 0x04, 0x1F, // 4
    0x17, 0x15, 0x1D, // 5
    0x1F, 0x15, 0x1D, // 6
    0x01, 0x1D, 0x03, // 7
    0x1F, 0x15, 0x1F, // 8
    0x17, 0x15, 0x1F, // 9
    0x1E, 0x05, 0x1E, // A
    0x1F, 0x15, 0x0A, // B
    0x0E, 0x11, 0x11, // C
    0x1F, 0x11, 0x0E, // D
    0x1F, 0x15, 0x11, // E
    0x1F, 0x05, 0x01, // F
    0x0E, 0x11, 0x1D, // G
    0x1F, 0x04, 0x1F, // H
    0x11, 0x1F, 0x11, // I
    0x08, 0x10, 0x0F, // J
    0x1F, 0x04, 0x1B, // K
    0x1F, 0x10, 0x10, // L
    0x1F, 0x06, 0x1F, // M
    0x1F, 0x01, 0x1E, // N
    0x0E, 0x11, 0x0E, // O
    0x1F, 0x05, 0x02, // P
    0x0E, 0x19, 0x16, // Q
    0x1F, 0x05, 0x1A, // R
    0x12, 0x15, 0x09, // S
    0x01, 0x1F, 0x01, // T
    0x1F, 0x10, 0x1F, // U
    0x0F, 0x10, 0x0F, // V
    0x1F, 0x0C, 0x1F, // W
    0x1B, 0x04, 0x1B, // X
    0x03, 0x1C, 0x03, // Y
    0x19, 0x15, 0x13, // Z
    0x00, 0x00, 0x00, // space
    0x10, 0x10, 0x10, // _
    0x04, 0x04, 0x04, // -
    0x00, 0x0A, 0x00, // :
    0x00, 0x10, 0x00, // .
    0x04, 0x0E, 0x04, // +
};

const uint8_t kBigGlyphs[42 * 5] = {
    0x3E, 0x51, 0x49, 0x45, 0x3E, // 0
    0x00, 0x42, 0x7F, 0x40, 0x00, // 1
    0x42, 0x61, 0x51, 0x49, 0x46, // 2
    0x21, 0x41, 0x45, 0x4B, 0x31, // 3
    0x18, 0x14, 0x12, 0x7F, 0x10, // 4
    0x27, 0x45, 0x45, 0x45, 0x39, // 5
    0x3C, 0x4A, 0x49, 0x49, 0x30, // 6
    0x01, 0x71, 0x09, 0x05, 0x03, // 7
    0x36, 0x49, 0x49, 0x49, 0x36, // 8
    0x06, 0x49, 0x49, 0x29, 0x1E, // 9
    0x7E, 0x09, 0x09, 0x09, 0x7E, // A
    0x7F, 0x49, 0x49, 0x49, 0x36, // B
    0x3E, 0x41, 0x41, 0x41, 0x22, // C
    0x7F, 0x41, 0x41, 0x22, 0x1C, // D
    0x7F, 0x49, 0x49, 0x49, 0x41, // E
    0x7F, 0x09, 0x09, 0x09, 0x01, // F
    0x3E, 0x41, 0x49, 0x49, 0x7A, // G
    0x7F, 0x08, 0x08, 0x08, 0x7F, // H
    0x00, 0x41, 0x7F, 0x41, 0x00, // I
    0x20, 0x40, 0x41, 0x3F, 0x01, // J
    0x7F, 0x08, 0x14, 0x22, 0x41, // K
    0x7F, 0x40, 0x40, 0x40, 0x40, // L
    0x7F, 0x02, 0x0C, 0x02, 0x7F, // M
    0x7F, 0x04, 0x08, 0x10, 0x7F, // N
    0x3E, 0x41, 0x41, 0x41, 0x3E, // O
    0x7F, 0x09, 0x09, 0x09, 0x06, // P
    0x3E, 0x41, 0x51, 0x21, 0x5E, // Q
    0x7F, 0x09, 0x19, 0x29, 0x46, // R
    0x46, 0x49, 0x49, 0x49, 0x31, // S
    0x01, 0x01, 0x7F, 0x01, 0x01, // T
    0x3F, 0x40, 0x40, 0x40, 0x3F, // U
    0x1F, 0x20, 0x40, 0x20, 0x1F, // V
    0x3F, 0x40, 0x38, 0x40, 0x3F, // W
    0x63, 0x14, 0x08, 0x14, 0x63, // X
    0x03, 0x04, 0x78, 0x04, 0x03, // Y
    0x61, 0x51, 0x49, 0x45, 0x43, // Z
    0x00, 0x00, 0x00, 0x00, 0x00, // space
    0x40, 0x40, 0x40, 0x40, 0x40, // _
    0x08, 0x08, 0x08, 0x08, 0x08, // -
    0x00, 0x00, 0x22, 0x00, 0x00, // :
    0x00, 0x00, 0x20, 0x00, 0x00, // .
    0x08, 0x08, 0x3E, 0x08, 0x08, // +
};

// Punctuation the texts of the screens use, for the fixed small font only (the built-in glyph
// lookup keeps its 42 glyphs).
const struct {
    char c;
    uint8_t columns[3];
} kSmallPunctuation[] = {
    {'?', {0x01, 0x15, 0x02}},  {'%', {0x19, 0x04, 0x13}}, {'!', {0x00, 0x17, 0x00}}, {',', {0x10, 0x08, 0x00}},
    {';', {0x10, 0x0A, 0x00}},  {'/', {0x18, 0x04, 0x03}}, {'(', {0x00, 0x0E, 0x11}}, {')', {0x11, 0x0E, 0x00}},
    {'\'', {0x00, 0x03, 0x00}}, {'"', {0x03, 0x00, 0x03}}, {'#', {0x0A, 0x1F, 0x0A}}, {'=', {0x0A, 0x0A, 0x0A}},
    {'<', {0x04, 0x0A, 0x11}},  {'>', {0x11, 0x0A, 0x04}}, {'*', {0x0A, 0x04, 0x0A}},
};

constexpr int kSmallWidth = 3;
constexpr int kBigWidth = 5;
constexpr int kFontHeader = 6;

int glyph_index(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return 10 + c - 'a';
    if (c >= 'A' && c <= 'Z') return 10 + c - 'A';
    switch (c) {
    case ' ': return 36;
    case '_': return 37;
    case '-': return 38;
    case ':': return 39;
    case '.': return 40;
    case '+': return 41;
    default: return 0;
    }
}

// The fixed small font in the font format: characters 32 to 126 from the built-in glyphs (lower case
// as upper case) and the punctuation above; characters without a glyph blank.
std::array<uint8_t, kFontHeader + 95 * kSmallWidth> make_small_font()
{
    std::array<uint8_t, kFontHeader + 95 * kSmallWidth> font{};
    font[2] = kSmallWidth;
    font[3] = 5;
    font[4] = 32;
    font[5] = 95;
    for (int c = 32; c < 127; c++) {
        bool known = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                     std::strchr(" _-:.+", c) != nullptr;
        if (!known) continue;
        std::memcpy(&font[kFontHeader + (c - 32) * kSmallWidth], getFontAddress(char(c)), kSmallWidth);
    }
    for (const auto& p : kSmallPunctuation)
        std::memcpy(&font[kFontHeader + (p.c - 32) * kSmallWidth], p.columns, kSmallWidth);
    return font;
}

const std::array<uint8_t, kFontHeader + 95 * kSmallWidth> kSmallFont = make_small_font();

bool in_buffer(int x, int y)
{
    return x >= 0 && x < GLCD_WIDTH && y >= 0 && y < GLCD_HEIGHT;
}

void pixel(int x, int y, uint8_t mode)
{
    if (in_buffer(x, y)) glcd_drawPixel(uint8_t(x), uint8_t(y), mode);
}

void line(int x1, int y1, int x2, int y2, uint8_t mode)
{
    int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        pixel(x1, y1, mode);
        if (x1 == x2 && y1 == y2) return;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y1 += sy;
        }
    }
}

void fill_rect(int x1, int y1, int x2, int y2, uint8_t mode)
{
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, GLCD_WIDTH - 1);
    y2 = std::min(y2, GLCD_HEIGHT - 1);
    for (int x = x1; x <= x2; x++) {
        int y = y1;
        while (y <= y2) {
            int rows = std::min(8, y2 - y + 1);
            if (y % 8 == 0 && rows == 8 && mode < 3) {
                // A whole page at once.
                uint8_t& b = glcd_buffer[(127 - x) * 8 + y / 8];
                b = mode == 0 ? 0x00 : mode == 1 ? 0xFF : uint8_t(~b);
            } else {
                glcd_writeByteBufferedAt(uint8_t(x), uint8_t(y), uint8_t((1u << rows) - 1), mode);
            }
            y += rows;
        }
    }
}

int font_height(const uint8_t* font)
{
    return font[3];
}

bool font_fixed(const uint8_t* font)
{
    return font[0] == 0 && font[1] < 2;
}

// Width of a character of the font; -1 when the font does not have it.
int char_width(const uint8_t* font, uint8_t c)
{
    if (c == 176) {
        int h = font_height(font);
        int r = h < 8 ? h / 6 : h / 8;
        return 2 * r + 1;
    }
    int first = font[4], count = font[5];
    if (c < first || c >= first + count) return -1;
    return font_fixed(font) ? font[2] : font[kFontHeader + (c - first)];
}

// Width of a text as drawStringFont lays it out (one pixel between characters).
int text_width(const char* text, const uint8_t* font)
{
    int width = 0;
    for (const char* p = text; *p; p++) {
        int w = char_width(font, uint8_t(*p));
        if (w >= 0) width += w + 1;
    }
    return width > 0 ? width - 1 : 0;
}

uint8_t clamp_x(int x)
{
    return uint8_t(std::clamp(x, 0, 255));
}

} // namespace

const uint8_t* const glcd_font_small = kSmallFont.data();

void glcd_initialize()
{
    std::memset(glcd_buffer, 0, sizeof glcd_buffer);
}

void glcd_set_x_offset(uint8_t x)
{
    glcd_x_offset = x;
}

void glcd_write() {}

void glcd_flushAll()
{
    glcd_page_counter = uint16_t((glcd_page_counter + 1) % GLCD_PAGES);
}

void glcd_flushPage()
{
    glcd_page_counter = uint16_t((glcd_page_counter + 1) % GLCD_PAGES);
}

void glcd_writeByteBufferedAt(uint8_t x, uint8_t y, uint8_t pattern, uint8_t mode)
{
    if (!in_buffer(x, y)) return;
    int column = (127 - x) * 8;
    uint8_t& low = glcd_buffer[column + y / 8];
    uint8_t& high = glcd_buffer[column + (y / 8 + 1) % GLCD_PAGES];
    int shift = y % 8;
    uint16_t window = uint16_t(low | (high << 8));
    uint16_t bits = uint16_t(pattern << shift);
    switch (mode) {
    case 0: window &= uint16_t(~bits); break;
    case 1: window |= bits; break;
    case 2: window ^= bits; break;
    case 3: window ^= uint16_t(~bits & (0xFF << shift)); break;
    default: return;
    }
    low = uint8_t(window);
    high = uint8_t(window >> 8);
}

void glcd_clear(uint8_t fill)
{
    std::memset(glcd_buffer, fill ? 0xFF : 0x00, sizeof glcd_buffer);
}

void glcd_fillRect(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode)
{
    fill_rect(x1, y1, x2, y2, mode);
}

void glcd_drawPixel(uint8_t x, uint8_t y, uint8_t mode)
{
    glcd_writeByteBufferedAt(x, y, 0x01, mode);
}

void glcd_drawLine(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode)
{
    line(x1, y1, x2, y2, mode);
}

void glcd_drawRect(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode)
{
    line(x1, y1, x2, y1, mode);
    line(x2, y1, x2, y2, mode);
    line(x2, y2, x1, y2, mode);
    line(x1, y2, x1, y1, mode);
}

void glcd_drawCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode)
{
    int x = r, y = 0, err = 1 - x;
    while (x >= y) {
        const int points[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
        for (const auto& p : points) pixel(cx + p[0], cy + p[1], mode);
        y++;
        if (err < 0) {
            err += 2 * y + 1;
        } else {
            x--;
            err += 2 * (y - x) + 1;
        }
    }
}

void glcd_fillCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode)
{
    int rr = int(r) * int(r) + int(r); // rounder edge than r * r
    for (int dy = -int(r); dy <= int(r); dy++) {
        int half = int(std::sqrt(double(rr - dy * dy)));
        line(cx - half, cy + dy, cx + half, cy + dy, mode);
    }
}

uint8_t glcd_drawCharLimited(uint8_t x, uint8_t y, uint8_t left, uint8_t right, uint8_t c, const uint8_t* font,
                             uint8_t mode)
{
    if (!font) return x;
    int height = font_height(font);
    if (c == 176) {
        int r = height < 8 ? height / 6 : height / 8;
        if (x + r >= left && x + r <= right) glcd_drawCircle(uint8_t(x + r), uint8_t(y + 2 * r), uint8_t(r), mode);
        return clamp_x(x + 2 * r + 1);
    }
    int width = char_width(font, c);
    if (width < 0) return x;

    int first = font[4], count = font[5];
    int pages = (height + 7) / 8;
    const uint8_t* data = font + kFontHeader;
    if (font_fixed(font)) {
        data += (c - first) * width * pages;
    } else {
        data += count;
        for (int i = first; i < c; i++) data += font[kFontHeader + (i - first)] * pages;
    }
    for (int column = 0; column < width; column++) {
        int cx = x + column;
        if (cx < left || cx > right || cx >= GLCD_WIDTH) continue;
        for (int page = 0; page < pages; page++) {
            int rows = std::min(8, height - page * 8);
            uint8_t bits = uint8_t(data[column * pages + page] & ((1u << rows) - 1));
            int cy = y + page * 8;
            if (cy < GLCD_HEIGHT) glcd_writeByteBufferedAt(uint8_t(cx), uint8_t(cy), bits, mode);
        }
    }
    return clamp_x(x + width);
}

uint8_t glcd_drawChar2(uint8_t x, uint8_t y, uint8_t c, const uint8_t* font, uint8_t mode)
{
    return glcd_drawCharLimited(x, y, 0, 255, c, font, mode);
}

uint8_t glcd_drawStringFontLimited(uint8_t x, uint8_t y, uint8_t left, uint8_t right, const char* text,
                                   const uint8_t* font, uint8_t mode)
{
    if (!text || !font) return x;
    int cx = x;
    for (const char* p = text; *p && cx < 256; p++) {
        if (char_width(font, uint8_t(*p)) < 0) continue;
        cx = glcd_drawCharLimited(uint8_t(cx), y, left, right, uint8_t(*p), font, mode) + 1;
    }
    return clamp_x(cx);
}

uint8_t glcd_drawStringFont(uint8_t x, uint8_t y, const char* text, const uint8_t* font, uint8_t mode)
{
    return glcd_drawStringFontLimited(x, y, 0, 255, text, font, mode);
}

uint8_t glcd_drawStringFontCentered(uint8_t x, uint8_t y, uint8_t width, const char* text, const uint8_t* font,
                                    uint8_t mode)
{
    if (!text) return x;
    int start = x + (int(width) - int(std::strlen(text))) * 2;
    return glcd_drawStringFont(clamp_x(start), y, text, font, mode);
}

uint8_t glcd_drawStringFontRightAligned(uint8_t right, uint8_t y, const char* text, const uint8_t* font, uint8_t mode)
{
    if (!text || !font) return right;
    int start = right - text_width(text, font) + 1;
    return glcd_drawStringFont(clamp_x(start), y, text, font, mode);
}

uint8_t glcd_drawStringFontLimitedCut(uint8_t x, uint8_t y, uint8_t right, const char* text, const uint8_t* font,
                                      uint8_t mode)
{
    if (!text || !font) return x;
    int cx = x;
    for (const char* p = text; *p; p++) {
        int w = char_width(font, uint8_t(*p));
        if (w < 0) continue;
        if (cx + w - 1 > right) break;
        cx = glcd_drawCharLimited(uint8_t(cx), y, 0, 255, uint8_t(*p), font, mode) + 1;
    }
    return clamp_x(cx);
}

namespace {

// The part of a text that the trimming functions show.
const char* trimmed(const char* text, uint8_t maxLength, uint8_t position, char* out, size_t size)
{
    size_t length = std::strlen(text);
    if (length <= maxLength) return text;
    size_t start = std::min<size_t>(position, length - maxLength);
    size_t n = std::min<size_t>(maxLength, size - 1);
    std::memcpy(out, text + start, n);
    out[n] = 0;
    return out;
}

} // namespace

uint8_t glcd_drawStringFontTrim(uint8_t x, uint8_t y, const char* text, uint8_t maxLength, uint8_t position,
                                const uint8_t* font, uint8_t mode)
{
    if (!text) return x;
    char part[256];
    return glcd_drawStringFont(x, y, trimmed(text, maxLength, position, part, sizeof part), font, mode);
}

uint8_t glcd_drawStringFontRightAlignedTrim(uint8_t right, uint8_t y, const char* text, uint8_t maxLength,
                                            uint8_t position, const uint8_t* font, uint8_t mode)
{
    if (!text) return right;
    char part[256];
    return glcd_drawStringFontRightAligned(right, y, trimmed(text, maxLength, position, part, sizeof part), font, mode);
}

uint8_t glcd_drawString(uint8_t x, uint8_t y, const char* text, uint8_t mode)
{
    return glcd_drawStringFont(x, y, text, glcd_font_small, mode);
}

uint8_t glcd_drawStringCentered(uint8_t x, uint8_t y, const char* text, uint8_t mode)
{
    if (!text) return x;
    return glcd_drawString(clamp_x(int(x) - int(std::strlen(text)) * 2), y, text, mode);
}

uint8_t glcd_drawInt(uint8_t x, uint8_t y, int value, uint8_t mode)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return glcd_drawString(x, y, text, mode);
}

uint8_t glcd_drawFloat(uint8_t x, uint8_t y, float value, uint8_t mode)
{
    char text[32];
    std::snprintf(text, sizeof text, "%3.2f", double(value));
    return glcd_drawString(x, y, text, mode);
}

const uint8_t* getFontAddress(char c)
{
    return &kSmallGlyphs[glyph_index(c) * kSmallWidth];
}

const uint8_t* getBigFontAddress(char c)
{
    return &kBigGlyphs[glyph_index(c) * kBigWidth];
}

bool isValue(char c)
{
    return c >= '0' && c <= '9';
}

bool isBigValue(char c)
{
    return c >= '0' && c <= '9';
}

void glcd_drawChar(uint8_t x, uint8_t y, char c, uint8_t mode)
{
    const uint8_t* glyph = getFontAddress(c);
    for (int i = 0; i < kSmallWidth; i++) glcd_writeByteBufferedAt(uint8_t(x + i), y, glyph[i], mode);
}

void glcd_drawCharInt(uint8_t x, uint8_t y, int value, uint8_t mode)
{
    value = std::abs(value) % 100;
    glcd_drawChar(x, y, char('0' + value / 10), mode);
    glcd_drawChar(uint8_t(x + 4), y, char('0' + value % 10), mode);
}

void glcd_drawHex(uint8_t x, uint8_t y, uint8_t value, uint8_t mode)
{
    const char* digits = "0123456789ABCDEF";
    glcd_drawChar(x, y, digits[value >> 4], mode);
    glcd_drawChar(uint8_t(x + 4), y, digits[value & 15], mode);
}

void glcd_drawBigChar(uint8_t x, uint8_t y, char c, uint8_t mode)
{
    fill_rect(x, y, x + 6, y + 9, mode ? 0 : 1);
    const uint8_t* glyph = getBigFontAddress(c);
    for (int i = 0; i < kBigWidth; i++)
        if (in_buffer(x + 1 + i, y + 1))
            glcd_writeByteBufferedAt(uint8_t(x + 1 + i), uint8_t(y + 1), glyph[i] & 0x7F, mode);
}

void glcd_drawBigString(uint8_t, uint8_t, const char*, uint8_t) {}

void glcd_drawBigStringCentered(uint8_t, uint8_t, const char*, uint8_t) {}

void glcd_drawPot(uint8_t x, uint8_t y, uint8_t kind, uint8_t mode, float value, float min, float max)
{
    if (kind != 7) return;
    constexpr int kRadius = 8;
    glcd_drawCircle(x, y, kRadius, mode);
    float span = max - min;
    float position = span != 0.0f ? (value - min) / span : 0.0f;
    if (!(position >= 0.0f)) position = 0.0f; // NaN too
    position = std::min(position, 1.0f);
    int step = int(std::lround(position * 32.0f));
    // From lower left (225 degrees) clockwise to lower right (-45 degrees).
    double angle = (225.0 - step * 270.0 / 32.0) * 3.14159265358979 / 180.0;
    int px = x + int(std::lround(std::cos(angle) * (kRadius - 2)));
    int py = y - int(std::lround(std::sin(angle) * (kRadius - 2)));
    line(x, y, px, py, mode);
}

void glcd_drawPotLog(uint8_t x, uint8_t y, uint8_t kind, uint8_t mode, float value, float min, float max)
{
    glcd_drawPot(x, y, kind, mode, std::log10(value), std::log10(min), std::log10(max));
}

void glcd_drawBar1(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t radius, bool filled, uint8_t mode, float min,
                   float max, float value)
{
    float span = max - min;
    float position = span != 0.0f ? (value - min) / span : 0.0f;
    if (!(position >= 0.0f)) position = 0.0f;
    position = std::min(position, 1.0f);
    bool horizontal = (x2 - x1) >= (y2 - y1);
    if (horizontal) {
        int y = (y1 + y2) / 2;
        int from = x1 + radius, to = x2 - radius;
        line(from, y, to, y, mode);
        int hx = from + int(std::lround(position * float(to - from)));
        if (filled) glcd_fillCircle(uint8_t(hx), uint8_t(y), radius, mode);
        else glcd_drawCircle(uint8_t(hx), uint8_t(y), radius, mode);
    } else {
        int x = (x1 + x2) / 2;
        int from = y2 - radius, to = y1 + radius; // the value grows upwards
        line(x, from, x, to, mode);
        int hy = from - int(std::lround(position * float(from - to)));
        if (filled) glcd_fillCircle(uint8_t(x), uint8_t(hy), radius, mode);
        else glcd_drawCircle(uint8_t(x), uint8_t(hy), radius, mode);
    }
}

void glcd_drawVu(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode, float level, float maxDb, float minDb)
{
    glcd_drawRect(x1, y1, x2, y2, mode);
    float db = level > 0.0f ? 20.0f * std::log10(level) : -160.0f;
    float span = maxDb - minDb;
    float fraction = span != 0.0f ? (db - minDb) / span : 0.0f;
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    int inner = y2 - y1 - 1;
    int height = int(fraction * float(inner));
    if (height <= 0) return;
    int centre = (x1 + x2) / 2;
    fill_rect(centre - 1, y2 - height, centre + 1, y2 - 1, mode);
}

void glcd_drawArrow(uint8_t x, uint8_t y, uint8_t direction, uint8_t size, uint8_t mode)
{
    // Rows of growing width from the tip at (x, y).
    for (int i = 0; i < size; i++) {
        switch (direction) {
        case 0: line(x - i, y + i, x + i, y + i, mode); break;
        case 1: line(x - i, y - i, x + i, y - i, mode); break;
        case 2: line(x + i, y - i, x + i, y + i, mode); break;
        default: line(x - i, y - i, x - i, y + i, mode); break;
        }
    }
}

void glcd_drawSmallArrow(uint8_t x, uint8_t y, uint8_t direction, uint8_t mode)
{
    glcd_drawArrow(x, y, direction, 3, mode);
}

void glcd_drawFullImageOffset(const uint8_t* image, int xOffset)
{
    if (!image) return;
    for (int page = 0; page < GLCD_PAGES; page++) {
        for (int column = 0; column < GLCD_WIDTH; column++) {
            int x = column + xOffset;
            if (x < 0 || x >= GLCD_WIDTH) continue;
            glcd_buffer[(127 - x) * 8 + page] |= image[page * GLCD_WIDTH + column];
        }
    }
}

void glcd_drawFullImage(const uint8_t* image)
{
    glcd_drawFullImageOffset(image, 0);
}

void glcd_drawImage(uint8_t x, uint8_t y, uint8_t width, uint8_t height, const uint8_t* data, uint8_t mode)
{
    if (!data) return;
    int pages = (height + 7) / 8;
    for (int page = 0; page < pages; page++) {
        int rows = std::min(8, height - page * 8);
        for (int column = 0; column < width; column++) {
            int cx = x + column, cy = y + page * 8;
            if (!in_buffer(cx, cy)) continue;
            uint8_t bits = uint8_t(data[page * width + column] & ((1u << rows) - 1));
            glcd_writeByteBufferedAt(uint8_t(cx), uint8_t(cy), bits, mode);
        }
    }
}

void glcd_drawIcon(uint8_t x, uint8_t y, uint8_t size, const uint8_t* data)
{
    if (!data) return;
    for (int row = 0; row < size; row++)
        for (int column = 0; column < size; column++) pixel(x + column, y + row, data[row * size + column]);
}

void glcd_drawScrollBar(uint8_t x, uint8_t y1, uint8_t y2, int first, int visible, int total, uint8_t mode)
{
    glcd_drawSmallArrow(uint8_t(x + 2), y1, 0, mode);
    glcd_drawSmallArrow(uint8_t(x + 2), y2, 1, mode);
    int top = y1 + 4, bottom = y2 - 4;
    if (bottom <= top) return;
    glcd_drawRect(x, uint8_t(top), uint8_t(x + 4), uint8_t(bottom), mode);
    if (total <= 0 || visible >= total) return;
    int track = bottom - top - 1;
    first = std::clamp(first, 0, total - visible);
    int thumbTop = top + 1 + track * first / total;
    int thumbBottom = top + track * (first + visible) / total;
    if (thumbBottom < thumbTop) thumbBottom = thumbTop;
    fill_rect(x + 1, thumbTop, x + 3, thumbBottom, mode);
}
