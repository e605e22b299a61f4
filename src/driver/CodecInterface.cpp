#include "driver/CodecInterface.h"

#include "driver/Codec.h"

CodecInterface::CodecInterface(const char* name) : name(name)
{
    Codec::addInterface(this);
}

CodecInterface::~CodecInterface()
{
    Codec::removeInterface(this);
}

bool CodecInterface::audioRead(float)
{
    return false;
}

bool CodecInterface::audioWrite(float)
{
    return false;
}

bool CodecInterface::start(void (*)())
{
    return false;
}

void CodecInterface::initializeIO() {}
