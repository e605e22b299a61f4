#include "ui/Listener.h"

#include "ui/EventDispatcher.h"

Listener::Listener()
{
    EventDispatcher::addListener(this);
}

void Listener::onBroadcast(int) {}
