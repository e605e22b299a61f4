#pragma once
#include <cstdint>

// The 128 x 64 one-bit frame buffer and its drawing library. Nothing sends the buffer to a display
// (the flush functions only step a page counter); a few screens still draw into it. All of it runs
// on "systemTasks" without a lock.
//
// Layout: pixel (x, y) is bit y % 8 of byte (127 - x) * 8 + y / 8: columns mirrored in x, each
// column eight consecutive page bytes, top page first, least significant bit at the top.
// Writes go through a 16-bit window: the page of y and the next page of the same column (page 7
// wraps to page 0); an 8-bit pattern written at y is shifted left by y % 8 inside it.
//
// Drawing modes (last argument): 0 clears the pattern's pixels, 1 sets them, 2 inverts them, 3
// inverts the window's eight rows from y that the pattern leaves clear. Points outside the buffer
// are not drawn.
//
// Fonts: byte 0 and 1 both 0 (byte 1 < 2) mean fixed width; byte 2 fixed width, byte 3 height,
// byte 4 first character, byte 5 character count; proportional fonts then have one width byte per
// character; then per character its columns, each ceil(height / 8) page bytes. Character 176 (the
// degree sign) is drawn as a small circle whatever the font.

constexpr int GLCD_WIDTH = 128;
constexpr int GLCD_HEIGHT = 64;
constexpr int GLCD_PAGES = 8;
constexpr int GLCD_BUFFER_SIZE = GLCD_WIDTH * GLCD_PAGES;

extern uint8_t glcd_buffer[GLCD_BUFFER_SIZE];
extern uint8_t glcd_x_offset;
extern uint16_t glcd_page_counter;
// The fixed 3 x 5 font (characters 32 to 126, 4 pixels per character with spacing) of the plain
// string functions.
extern const uint8_t* const glcd_font_small;

void glcd_initialize();
void glcd_set_x_offset(uint8_t x);
void glcd_write();
void glcd_flushAll();
void glcd_flushPage();

void glcd_writeByteBufferedAt(uint8_t x, uint8_t y, uint8_t pattern, uint8_t mode);
void glcd_clear(uint8_t fill);
void glcd_fillRect(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode);
void glcd_drawPixel(uint8_t x, uint8_t y, uint8_t mode);
void glcd_drawLine(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode);
void glcd_drawRect(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode);
void glcd_drawCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode);
void glcd_fillCircle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode);

// Returns the x after the character (unchanged for a character the font does not have).
uint8_t glcd_drawCharLimited(uint8_t x, uint8_t y, uint8_t left, uint8_t right, uint8_t c, const uint8_t* font,
                             uint8_t mode);
uint8_t glcd_drawChar2(uint8_t x, uint8_t y, uint8_t c, const uint8_t* font, uint8_t mode);
// Characters one pixel apart; returns the end x.
uint8_t glcd_drawStringFont(uint8_t x, uint8_t y, const char* text, const uint8_t* font, uint8_t mode);
// Starts at x + (width - length) x 2, width and length in characters.
uint8_t glcd_drawStringFontCentered(uint8_t x, uint8_t y, uint8_t width, const char* text, const uint8_t* font,
                                    uint8_t mode);
// Ends at the right x.
uint8_t glcd_drawStringFontRightAligned(uint8_t right, uint8_t y, const char* text, const uint8_t* font, uint8_t mode);
// Clipped to the columns left .. right.
uint8_t glcd_drawStringFontLimited(uint8_t x, uint8_t y, uint8_t left, uint8_t right, const char* text,
                                   const uint8_t* font, uint8_t mode);
// Only whole characters that end at or before the right limit.
uint8_t glcd_drawStringFontLimitedCut(uint8_t x, uint8_t y, uint8_t right, const char* text, const uint8_t* font,
                                      uint8_t mode);
// A text longer than maxLength characters shows maxLength of them from `position` (kept in range).
uint8_t glcd_drawStringFontTrim(uint8_t x, uint8_t y, const char* text, uint8_t maxLength, uint8_t position,
                                const uint8_t* font, uint8_t mode);
uint8_t glcd_drawStringFontRightAlignedTrim(uint8_t right, uint8_t y, const char* text, uint8_t maxLength,
                                            uint8_t position, const uint8_t* font, uint8_t mode);

// In the fixed small font.
uint8_t glcd_drawString(uint8_t x, uint8_t y, const char* text, uint8_t mode);
// Centred on x.
uint8_t glcd_drawStringCentered(uint8_t x, uint8_t y, const char* text, uint8_t mode);
uint8_t glcd_drawInt(uint8_t x, uint8_t y, int value, uint8_t mode);
uint8_t glcd_drawFloat(uint8_t x, uint8_t y, float value, uint8_t mode);

// The built-in glyphs: digits, letters (either case), space, '_', '-', ':', '.', '+'; any other
// character shows as '0'. Small glyphs are 3 columns, big ones 5.
const uint8_t* getFontAddress(char c);
const uint8_t* getBigFontAddress(char c);
bool isValue(char c);
bool isBigValue(char c);
void glcd_drawChar(uint8_t x, uint8_t y, char c, uint8_t mode);
// Two digits (value modulo 100).
void glcd_drawCharInt(uint8_t x, uint8_t y, int value, uint8_t mode);
void glcd_drawHex(uint8_t x, uint8_t y, uint8_t value, uint8_t mode);
// On a 7 x 10 box of the opposite mode.
void glcd_drawBigChar(uint8_t x, uint8_t y, char c, uint8_t mode);
void glcd_drawBigString(uint8_t x, uint8_t y, const char* text, uint8_t mode);
void glcd_drawBigStringCentered(uint8_t x, uint8_t y, const char* text, uint8_t mode);

// A knob of radius 8 centred at (x, y) with its pointer at one of 33 positions; only kind 7 draws.
void glcd_drawPot(uint8_t x, uint8_t y, uint8_t kind, uint8_t mode, float value, float min, float max);
void glcd_drawPotLog(uint8_t x, uint8_t y, uint8_t kind, uint8_t mode, float value, float min, float max);
// A slider along the longer side of the box with a round handle at the value.
void glcd_drawBar1(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t radius, bool filled, uint8_t mode, float min,
                   float max, float value);
// A boxed meter three pixels wide of 20 log10(level) dB between minDb and maxDb (-160 dB for 0).
void glcd_drawVu(uint8_t x1, uint8_t y1, uint8_t x2, uint8_t y2, uint8_t mode, float level, float maxDb, float minDb);
// Arrow heads pointing up (0), down (1), left (2) or right (3); the small one is 5 pixels wide.
void glcd_drawSmallArrow(uint8_t x, uint8_t y, uint8_t direction, uint8_t mode);
void glcd_drawArrow(uint8_t x, uint8_t y, uint8_t direction, uint8_t size, uint8_t mode);
// A whole-screen image (8 pages of 128 column bytes) ORed into the buffer, shifted right by xOffset.
void glcd_drawFullImage(const uint8_t* image);
void glcd_drawFullImageOffset(const uint8_t* image, int xOffset);
// A bitmap of ceil(height / 8) pages of `width` column bytes.
void glcd_drawImage(uint8_t x, uint8_t y, uint8_t width, uint8_t height, const uint8_t* data, uint8_t mode);
// A square icon, one byte per pixel row by row, each byte the mode of its pixel.
void glcd_drawIcon(uint8_t x, uint8_t y, uint8_t size, const uint8_t* data);
// A vertical scroll bar with arrow ends; the thumb shows `visible` of `total` rows from `first`.
void glcd_drawScrollBar(uint8_t x, uint8_t y1, uint8_t y2, int first, int visible, int total, uint8_t mode);
