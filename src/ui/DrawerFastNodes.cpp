#include "ui/DrawerFastNodes.h"

#include "ui/EventCode.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

bool DrawerFastNodes::draw()
{
    glcd_clear(0);
    glcd_drawString(10, 16, "Title", 1);
    glcd_drawRect(10, 28, 117, 45, 1);
    int fill = int(level * 107.0f);
    if (fill > 0) glcd_fillRect(10, 28, uint8_t(10 + fill), 45, 1);
    return true;
}

bool DrawerFastNodes::onEvent(int code)
{
    using namespace EventCode;
    if (code == MAIN + TURN_UP && level <= 0.9f) level += 0.1f;
    else if (code == MAIN + TURN_DOWN && level >= 0.1f) level -= 0.1f;
    else if (code == MAIN + PUSH_CLICK) EventDispatcher::addEvent(CLOSE);
    return true;
}
