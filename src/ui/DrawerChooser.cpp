#include "ui/DrawerChooser.h"

#include "ui/DrawerRows.h"
#include "ui/EventDispatcher.h"

DrawerChooser::DrawerChooser(std::string title, std::vector<std::string> choices, std::string* result)
    : rows(int(choices.size()) + 1), result(result), title(std::move(title)), choices(std::move(choices))
{}

bool DrawerChooser::draw()
{
    const int width = rows_width(rows);
    create_rows_frame(title.c_str());
    if (rows > kRowsShown) create_rows_scrollbar(rows, scrollTop);
    for (int i = 0; i < kRowsShown && i < rows; i++) {
        const int n = scrollTop + i;
        const int y = 40 + kRowHeight * i;
        const bool selected = n == cursor;
        create_row_highlight(y - 1, width, selected);
        const char* text = n < int(choices.size()) ? choices[n].c_str() : "Back";
        create_row_text(8, y, width - 5, 20, text, row_text_color(selected));
    }
    return true;
}

bool DrawerChooser::onEvent(int code)
{
    if (closing) return true;
    switch (code) {
    case EventCode::MAIN + EventCode::TURN_UP: rows_cursor_next(cursor, scrollTop, rows); break;
    case EventCode::MAIN + EventCode::TURN_DOWN: rows_cursor_previous(cursor, scrollTop); break;
    case EventCode::MAIN + EventCode::PUSH_CLICK:
        choose(cursor >= 0 && cursor < int(choices.size()) ? choices[cursor] : std::string());
        break;
    case EventCode::KNOB1 + EventCode::PUSH_CLICK: choose(std::string()); break;
    default: break;
    }
    return true;
}

void DrawerChooser::choose(const std::string& choice)
{
    if (result != nullptr) *result = choice;
    closing = true;
    EventDispatcher::addEvent(EventCode::CLOSE);
}
