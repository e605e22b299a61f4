#include "params/Security.h"

#include "params/NodePassword.h"
#include "params/Storage.h"
#include "porting/Mac.h"
#include "porting/Random.h"

#include <cstdio>

// The tables, initial state and salt are shared with every client that logs in: changing any value
// locks them all out.
const uint8_t Security::keys1[256] = {
    151, 233, 176, 180, 60,  221, 64,  38,  19,  33,  156, 241, 152, 97,  181, 243, 25,  78,  40,  122, 186, 145,
    11,  166, 111, 34,  51,  9,   222, 106, 220, 217, 4,   141, 100, 98,  163, 37,  17,  119, 85,  102, 66,  197,
    228, 125, 140, 226, 170, 191, 23,  81,  5,   255, 105, 229, 138, 171, 204, 82,  159, 227, 219, 167, 99,  115,
    88,  155, 253, 6,   183, 13,  95,  168, 20,  87,  96,  72,  86,  129, 62,  223, 161, 114, 103, 42,  123, 237,
    158, 21,  147, 169, 130, 71,  134, 126, 112, 150, 35,  46,  120, 56,  41,  248, 192, 26,  101, 3,   118, 189,
    59,  63,  43,  132, 69,  55,  54,  240, 254, 65,  36,  236, 214, 22,  67,  200, 242, 146, 195, 8,   173, 178,
    73,  149, 90,  206, 16,  199, 148, 93,  10,  215, 235, 201, 209, 1,   45,  216, 230, 143, 107, 205, 208, 74,
    142, 131, 165, 2,   124, 109, 177, 14,  182, 53,  137, 154, 188, 211, 194, 44,  48,  50,  202, 116, 212, 193,
    15,  108, 52,  210, 18,  58,  89,  0,   232, 47,  225, 185, 77,  133, 30,  29,  160, 175, 218, 213, 252, 136,
    190, 234, 187, 174, 113, 84,  207, 203, 139, 70,  179, 128, 198, 80,  135, 83,  31,  68,  144, 110, 79,  91,
    239, 75,  27,  28,  245, 224, 251, 231, 121, 157, 117, 104, 164, 247, 249, 153, 250, 162, 127, 238, 61,  244,
    94,  49,  57,  7,   196, 39,  172, 246, 12,  32,  184, 24,  92,  76,
};

const uint8_t Security::keys2[256] = {
    129, 34,  31,  125, 12,  79,  228, 61,  242, 75,  201, 133, 227, 58,  210, 196, 209, 239, 91,  138, 71,  63,
    236, 103, 120, 245, 148, 126, 57,  224, 121, 171, 176, 183, 47,  49,  35,  207, 115, 175, 166, 93,  253, 235,
    2,   21,  87,  40,  139, 211, 9,   197, 45,  25,  114, 68,  59,  205, 83,  118, 136, 106, 27,  122, 218, 159,
    56,  62,  38,  226, 64,  127, 23,  186, 84,  146, 151, 60,  144, 165, 193, 1,   65,  76,  19,  131, 4,   111,
    172, 178, 189, 155, 28,  36,  152, 181, 109, 237, 110, 113, 215, 37,  137, 217, 69,  11,  39,  157, 55,  203,
    100, 191, 72,  223, 199, 92,  44,  243, 182, 187, 194, 169, 230, 10,  13,  241, 164, 15,  112, 97,  202, 188,
    213, 124, 99,  247, 67,  168, 234, 54,  0,   249, 231, 14,  246, 184, 119, 177, 102, 16,  154, 80,  232, 140,
    77,  204, 32,  66,  158, 105, 161, 233, 6,   95,  107, 251, 250, 145, 128, 147, 222, 94,  73,  132, 70,  17,
    88,  33,  74,  221, 108, 5,   192, 167, 156, 89,  7,   50,  82,  214, 248, 116, 130, 29,  244, 163, 90,  153,
    86,  255, 149, 52,  143, 22,  198, 141, 26,  3,   20,  180, 252, 173, 30,  96,  41,  229, 135, 179, 216, 18,
    117, 254, 208, 46,  123, 48,  134, 195, 170, 220, 174, 206, 98,  225, 200, 240, 238, 190, 42,  101, 78,  185,
    8,   81,  162, 51,  104, 43,  212, 150, 219, 142, 85,  160, 53,  24,
};

const uint8_t Security::rKeys1[14] = {1, 5, 4, 7, 3, 2, 6, 0, 0, 0, 0, 0, 0, 0};
const uint8_t Security::rKeys2[14] = {4, 0, 6, 5, 3, 2, 7, 1, 0, 0, 0, 0, 0, 0};
const uint8_t Security::initialState[8] = {195, 124, 179, 116, 84, 125, 130, 13};
const char* const Security::salt = "tindlemossar";

NodePassword* Security::password = nullptr;
SharedSnapshot<std::string> Security::default_pwd;
bool Security::initilized = false;

namespace {

std::string hex(const uint8_t* bytes, int count)
{
    std::string text;
    char pair[3];
    for (int i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

} // namespace

void Security::initialize(Node* parent)
{
    if (!parent) return;
    password = new NodePassword(parent, "pwd", "Password", "", "string");
    Storage::addItem(password);
    initilized = true;
    default_pwd.set(getDefaultPassword());
}

std::string Security::generateToken()
{
    uint8_t bytes[8];
    esp_fill_random(bytes, sizeof bytes);
    return hex(bytes, sizeof bytes);
}

std::string Security::generateHash(const std::string& input)
{
    const std::string m = input + salt;
    const uint8_t* T1 = keys1;
    const uint8_t* T2 = keys2;
    const uint8_t* P1 = rKeys1;
    const uint8_t* P2 = rKeys2;
    uint8_t S[8];
    for (int j = 0; j < 8; ++j) S[j] = initialState[j];
    for (size_t index = 0; index < m.size(); ++index) {
        // Byte arithmetic wraps modulo 256 throughout.
        const uint8_t i = uint8_t(index);
        const unsigned a = index % 8;
        const uint8_t p = P1[a];
        const uint8_t q = P2[a];
        S[a] = uint8_t(S[a] + T1[S[q]] + i + uint8_t(m[index]));
        S[a] = uint8_t(S[a] + T2[uint8_t(S[p] + i)]);
        S[a] = uint8_t(S[a] + T1[S[P1[i & 6]]]);
        S[a] = uint8_t(S[a] + T2[S[P2[i & 5]]]);
        S[p] = uint8_t(S[p] + T1[S[i & 2]]);
        S[p] = uint8_t(S[p] + T2[S[i & 3]]);
        S[q] = uint8_t(S[q] + T1[S[i & 5]]);
        S[q] = uint8_t(S[q] + T2[S[a]] + uint8_t(32 - i));
    }
    return hex(S, 8);
}

std::string Security::getDefaultPassword()
{
    uint8_t mac[6];
    esp_efuse_mac_get_default(mac);
    bool zero = true;
    for (uint8_t byte : mac) zero = zero && byte == 0;
    if (zero) return "";
    char identity[18];
    std::snprintf(identity, sizeof identity, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return generateHash(generateHash(identity));
}

bool Security::hasPassword()
{
    // A lost password is one that no answer matches: the unit stays closed.
    return initilized && password && (password->isLocked() || !password->getText().empty());
}

bool Security::checkToken(const std::string& token, const std::string& response)
{
    if (!initilized || !password) return true;
    if (password->isLocked()) return false;
    std::string stored = password->getText();
    if (stored.empty()) return true;
    // Without a token the expected answer would be the same after every boot.
    if (token.empty()) return false;
    // Only the user's password: the default one is derived from the unit's address, which the unit
    // itself announces, so once the user has chosen a password it must not open the unit any more.
    return response == generateHash(stored + token);
}
