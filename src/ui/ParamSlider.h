#pragma once
#include "lvgl.h"

class Node;

// The parameter boxes on the bottom row of the home and chain screens, and the colour rule of a
// parameter. Colours are 0xRRGGBB. Called on "systemTasks" while a screen draws.

// The colour of a parameter's box: its block's (parent's) style colour, white when the block has
// none, with the top bit of each byte cleared (dimmed) when the block is switched off.
int get_param_color(Node* node);

// One box at horizontal position x (72 px wide, y 129 to 163): a float shows its title over a bar
// filled to its slider position, an enum or list selection its title over its value text, any
// other node only its title. Without a node, a box with `title` over `text` when both are given
// (null otherwise: nothing is drawn). The colour is dimmed when the node's block, or the block
// above it, is switched off.
void create_param_slider(lv_obj_t* parent, int x, Node* node, int color, const char* title, const char* text);
