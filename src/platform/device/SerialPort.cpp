#include "platform/SerialPort.h"

// On the unit the gadget driver makes the tty and a real computer holds the other end.
int SerialPort::plug(const std::string&)
{
    return -1;
}

void SerialPort::unplug(int, const std::string&) {}
