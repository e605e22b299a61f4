#pragma once

// Board support, implemented by the board layer. Constructing one makes it the board that Board
// forwards to (the last constructed wins).
class Bsp {
public:
    Bsp();
    virtual void initialize() = 0;
    virtual void eventLoop() = 0;
    virtual ~Bsp() = default;
};
