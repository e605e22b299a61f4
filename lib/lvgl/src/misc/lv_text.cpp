#include "src/misc/lv_text.h"

#include <cstring>

namespace {

constexpr int kDotCount = 3;

bool is_break_char(uint32_t letter);
int32_t letter_width(const lv_font_t* font, uint32_t letter, uint32_t next, int32_t letter_space);
uint32_t peek(const char* txt, uint32_t i);

} // namespace

uint32_t lv_text_utf8_next(const char* txt, uint32_t* i)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(txt);
    uint32_t c = s[*i];
    int extra = 0;
    if (c >= 0xF0 && c < 0xF8) {
        c &= 0x07;
        extra = 3;
    } else if (c >= 0xE0) {
        c &= 0x0F;
        extra = 2;
    } else if (c >= 0xC0) {
        c &= 0x1F;
        extra = 1;
    }
    (*i)++;
    for (int k = 0; k < extra; k++) {
        if ((s[*i] & 0xC0) != 0x80) return 0xFFFD; /* broken sequence: stop at the bad byte */
        c = (c << 6) | (s[*i] & 0x3F);
        (*i)++;
    }
    return c;
}

int32_t lv_text_get_width(const char* txt, uint32_t length, const lv_font_t* font, int32_t letter_space)
{
    if (txt == nullptr || font == nullptr) return 0;
    int32_t width = 0;
    uint32_t i = 0;
    while (i < length && txt[i]) {
        uint32_t letter = lv_text_utf8_next(txt, &i);
        uint32_t next = i < length ? peek(txt, i) : 0;
        width += letter_width(font, letter, next, letter_space);
    }
    if (width > 0) width -= letter_space; /* no spacing after the last letter */
    return width;
}

std::vector<lv_text_line_t> lv_text_break_lines(const char* text, const lv_font_t* font, int32_t letter_space,
                                                int32_t max_width)
{
    std::vector<lv_text_line_t> lines;
    if (text == nullptr) return lines;
    uint32_t len = static_cast<uint32_t>(std::strlen(text));
    uint32_t pos = 0;
    do {
        uint32_t start = pos;
        uint32_t i = pos;
        uint32_t end = len;
        uint32_t next_start = len;
        uint32_t last_break = 0; /* byte after the last break letter, 0 = none */
        int32_t width = 0;
        while (i < len) {
            uint32_t at = i;
            uint32_t letter = lv_text_utf8_next(text, &i);
            if (letter == '\n' || letter == '\r') {
                end = at;
                next_start = i;
                if (letter == '\r' && text[i] == '\n') next_start = i + 1;
                break;
            }
            int32_t w = letter_width(font, letter, peek(text, i), letter_space);
            if (width + w - letter_space > max_width && at > start) {
                if (last_break > start) {
                    end = last_break;
                } else {
                    end = at; /* a word longer than the line is cut between letters */
                }
                next_start = end;
                break;
            }
            width += w;
            if (is_break_char(letter)) last_break = i;
        }
        lv_text_line_t line{start, end - start, lv_text_get_width(text + start, end - start, font, letter_space)};
        lines.push_back(line);
        pos = next_start;
    } while (pos < len);
    return lines;
}

void lv_text_get_size(lv_point_t* size_res, const char* text, const lv_font_t* font, int32_t letter_space,
                      int32_t line_space, int32_t max_width, lv_text_flag_t flag)
{
    size_res->x = 0;
    size_res->y = 0;
    if (text == nullptr || font == nullptr) return;
    if (flag & LV_TEXT_FLAG_EXPAND) max_width = LV_COORD_MAX;
    auto lines = lv_text_break_lines(text, font, letter_space, max_width);
    for (const auto& line : lines) size_res->x = LV_MAX(size_res->x, line.width);
    int32_t n = static_cast<int32_t>(lines.size());
    size_res->y = n * lv_font_get_line_height(font) + (n > 0 ? (n - 1) * line_space : 0);
}

std::string lv_text_with_dots(const char* text, const lv_font_t* font, int32_t letter_space, int32_t line_space,
                              int32_t width, int32_t height)
{
    std::string full = text ? text : "";
    auto lines = lv_text_break_lines(full.c_str(), font, letter_space, width);
    int32_t line_h = lv_font_get_line_height(font);
    int32_t n = static_cast<int32_t>(lines.size());
    int32_t text_h = n * line_h + (n > 0 ? (n - 1) * line_space : 0);
    if (text_h <= height || n <= 1) return full;

    uint32_t letters = 0;
    for (uint32_t i = 0; i < full.size();) {
        lv_text_utf8_next(full.c_str(), &i);
        letters++;
    }
    if (letters <= static_cast<uint32_t>(kDotCount)) return full;

    /* The last line that is shown at least partly gets the dots (at least the first line). */
    int32_t last = 0;
    for (int32_t k = 1; k < n; k++) {
        if (k * (line_h + line_space) + line_h <= height) last = k;
    }
    const lv_text_line_t& line = lines[last];
    int32_t dots_w = kDotCount * (lv_font_get_glyph_width(font, '.', '.') + letter_space);
    int32_t room = width - dots_w;
    uint32_t i = line.start;
    int32_t x = 0;
    uint32_t cut = line.start;
    while (i < line.start + line.length) {
        uint32_t letter = lv_text_utf8_next(full.c_str(), &i);
        x += letter_width(font, letter, peek(full.c_str(), i), letter_space);
        if (x > room) break;
        cut = i;
    }
    return full.substr(0, cut) + std::string(kDotCount, '.');
}

namespace {

bool is_break_char(uint32_t letter)
{
    return letter == ' ' || letter == ',' || letter == '.' || letter == ';' || letter == ':' || letter == '-' ||
           letter == '_' || letter == ')' || letter == ']' || letter == '}';
}

int32_t letter_width(const lv_font_t* font, uint32_t letter, uint32_t next, int32_t letter_space)
{
    return lv_font_get_glyph_width(font, letter, next) + letter_space;
}

uint32_t peek(const char* txt, uint32_t i)
{
    return txt[i] ? lv_text_utf8_next(txt, &i) : 0;
}

} // namespace
