#pragma once
#include <string>

class NodeItem;

// The top of the parameter tree, built before any other node: root, root\app (where the application
// hangs its blocks) and root\sys with the system information (name, alias, architecture, update
// format in update mode, author, version, logo) and the login password. initialize also makes the
// launcher decision first, so it may run the installed application as a child before going on.
// Built once on the main thread; the accessors print an error and return null before that.
class System {
public:
    // `id` is accepted and not used by the tree.
    static void initialize(const char* id);
    static NodeItem* rootNode();
    static NodeItem* appNode();
    static NodeItem* systemNode();
    static std::string getName();

    static NodeItem* root;
    static NodeItem* app;
    static NodeItem* system;
    static NodeItem* name;
    static NodeItem* alias;
    static NodeItem* arch;
    static NodeItem* upd;
    static bool initialized;
};
