#pragma once
// A small system tree for the transport tests: root, root\sys with _name and alias, root\app with a
// float, and the login password node under root\sys.
#include "params/Node.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/Security.h"

#include <cstdio>
#include <string>

struct TestTree {
    NodeItem* root = new NodeItem(nullptr, "root", "", "", "system");
    NodeItem* app = new NodeItem(root, "app", "Application", "", "system");
    NodeItem* sys = new NodeItem(root, "sys", "System", "", "system");
    NodeItem* name = new NodeItem(sys, "_name", "Name", "Quelm Device", "system");
    NodeItem* alias = new NodeItem(sys, "alias", "Alias", "", "string");
    NodeFloat* gain = new NodeFloat(app, "gain", "Gain", 0, 10, 5, "dB", 0.5f, false, 1);

    TestTree() { Security::initialize(sys); }

    // Adds `count` text items with values of `length` characters under root\app\big (large replies).
    Node* addBulk(int count, size_t length)
    {
        Node* folder = new NodeItem(app, "big", "Big", "", "vfolder");
        for (int i = 0; i < count; ++i) {
            // Keys must live as long as their nodes.
            char* key = new char[16];
            std::snprintf(key, 16, "n%d", i);
            new NodeItem(folder, key, "Bulk", std::string(length, static_cast<char>('a' + i % 26)), "string");
        }
        return folder;
    }
};

// The client's answer to a token for a password, as the published hash tables compute it.
inline std::string tokenResponse(const std::string& password, const std::string& token)
{
    return Security::generateHash(password + token);
}

// The text as it travels: followed by its NUL.
inline std::string withNul(std::string text)
{
    text.push_back('\0');
    return text;
}

// The token that a reply's first line carries ("" when none).
inline std::string tokenOf(const std::string& reply)
{
    if (reply.rfind("token ", 0) != 0) return "";
    size_t end = reply.find(' ', 6);
    return reply.substr(6, end - 6);
}
