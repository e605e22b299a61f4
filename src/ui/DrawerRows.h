#pragma once
#include <cstdint>
#include <string>

#include "lvgl.h"

// The look the list-like screens share (node browser, list screen, chooser, setup screen): a title
// and rule, then five 25-px rows, a white highlight behind the selected row, and a scroll bar at the
// right edge when there are more rows than fit. Called on "systemTasks" while a screen draws; the
// widgets go on the active screen.

inline constexpr int kRowsShown = 5;
inline constexpr int kRowHeight = 25;

// Row width: the whole frame, or 14 px less to make room for the scroll bar.
inline int rows_width(int rows)
{
    return rows > kRowsShown ? 292 : 306;
}

// The frame, the title at the top and the rule under it.
void create_rows_frame(const char* title);

// At (305, 39), 8 x 125: the filled span marks which rows are shown, the top of the list at the top.
void create_rows_scrollbar(int rows, int scrollTop);

// The row's background at (7, y): white when selected, otherwise nothing.
lv_obj_t* create_row_highlight(int y, int width, bool selected);

// A row's text in Montserrat 20, cut with dots: black on the highlight, white elsewhere.
lv_obj_t* create_row_text(int x, int y, int width, int height, const char* text, uint32_t color);

// The arrow of a row that opens a folder: a minus and a right chevron overlapping at the right end.
void create_row_arrow(int y, int width, uint32_t color);

// A value text right-aligned at the end of the row.
lv_obj_t* create_row_value(int y, int width, const char* text, uint32_t color);

class Node;

// A value as the screens show it: the node's text form, after a warning sign when it is a selection
// that its block cannot play (an amp model that did not load, a refused response), so that it never
// looks as if it played.
std::string shown_value(Node* node);

// Colour of a row's texts.
inline uint32_t row_text_color(bool selected)
{
    return selected ? 0x000000 : 0xFFFFFF;
}

// One step of the cursor over the rows, keeping it inside the five rows shown. False at the end
// (no wrap).
bool rows_cursor_next(int& cursor, int& scrollTop, int rows);
bool rows_cursor_previous(int& cursor, int& scrollTop);
