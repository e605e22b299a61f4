#pragma once
#include "params/SharedSnapshot.h"

#include <cstdint>
#include <string>

class Node;
class NodePassword;

// The login of the remote protocol. The password never travels: the unit hands out a random token and
// the client answers with generateHash(password + token), 16 upper-case hexadecimal characters.
// The user's password is root\sys\pwd (persisted; empty means no login). Every unit also has a
// default password of its own, the hash applied twice to its Bluetooth address; it serves only while
// no password is set (when every answer passes anyway), since the address is public. A password whose
// stored file was damaged locks the unit (NodePassword::isLocked): no answer passes until a password
// is set on the unit itself.
//
// initialize runs once on the main thread during start-up; checks run on "comTasks" while the UI may
// change the password (a check sees the old or the new one).
class Security {
public:
    // Creates and loads the password node under `parent` (null: nothing happens).
    static void initialize(Node* parent);
    // 8 random bytes as 16 upper-case hexadecimal characters.
    static std::string generateToken();
    static std::string generateHash(const std::string& input);
    // Without a password every response passes. With one, the response must be the hash of the
    // password followed by the token; an empty token never passes.
    static bool checkToken(const std::string& token, const std::string& response);
    static bool hasPassword();
    // "" while the unit's address cannot be read (all zeros): a password derived from nothing would
    // be the same on every unit.
    static std::string getDefaultPassword();

    static NodePassword* password;
    static SharedSnapshot<std::string> default_pwd;
    static bool initilized;

    static const uint8_t keys1[256];
    static const uint8_t keys2[256];
    static const uint8_t rKeys1[14];
    static const uint8_t rKeys2[14];
    static const uint8_t initialState[8];
    static const char* const salt;
};
