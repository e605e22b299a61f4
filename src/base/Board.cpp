#include "base/Board.h"

#include "base/Bsp.h"

Bsp* Board::board = nullptr;

Bsp::Bsp()
{
    Board::board = this;
}

void Board::initialize()
{
    if (board) board->initialize();
}

void Board::eventLoop()
{
    if (board) board->eventLoop();
}
