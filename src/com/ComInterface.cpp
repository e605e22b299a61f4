#include "com/ComInterface.h"

#include "com/Com.h"

ComInterface::ComInterface(Node* root) : root(root)
{
    Com::addIface(this);
}

ComInterface::~ComInterface()
{
    // Never happens in the running program; a destroyed transport must not stay registered.
    Com::removeIface(this);
}
