#pragma once

class Bsp;

// Forwards to the board layer; does nothing while no board exists.
class Board {
public:
    static void initialize();
    static void eventLoop();
    static Bsp* board;
};
