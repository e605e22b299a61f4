#include "params/Source.h"

#include "params/Control.h"
#include "params/NodeControl.h"

Source::Source(const char* name, const char* label)
    : name(name ? name : ""), label(label ? label : ""), named(name != nullptr)
{
    if (named) Control::addSource(this);
}

Source::~Source()
{
    Control::removeSource(this);
}

void Source::send(unsigned char* bytes, int length)
{
    for (NodeControl* controller : controllers) controller->receiveFromSource(name.c_str(), bytes, length);
}

void Source::addController(NodeControl* controller)
{
    if (controller) controllers.insert(controller);
}
