#include "com/ComInterface.h"

#include "base/Update.h"
#include "com/Com.h"
#include "params/Node.h"
#include "params/NodeList.h"
#include "params/Security.h"
#include "porting/Clock.h"

#include <cstring>

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

int64_t now_us()
{
    return static_cast<int64_t>(esp_timer_get_time());
}

// The new lastRead of a walk that is about to begin. The clock is read before the walk, not after
// it, so a node changed during the walk is reported by the next "read" rather than never; and the
// walk begins only once the clock has moved past that reading, so a change stamped with the same
// microsecond is one that the walk itself sees.
int64_t walkStart()
{
    int64_t started = now_us();
    while (now_us() == started) {
    }
    return started;
}

// The list that the text before the argument's first ':' names; null unless that node exists and
// is a "list".
NodeList* findList(Node* root, const std::string& argument)
{
    size_t colon = argument.find(':');
    if (colon == std::string::npos) return nullptr;
    Node* node = root->pathToNode(argument.substr(0, colon));
    if (!node || std::strcmp(node->getType(), NodeType::LIST) != 0) return nullptr;
    return dynamic_cast<NodeList*>(node);
}

} // namespace

ComInterface::ComInterface(Node* root) : root(root)
{
    Com::addIface(this);
}

ComInterface::~ComInterface()
{
    // Never happens in the running program; a destroyed transport must not stay registered.
    Com::removeIface(this);
}

std::string ComInterface::processRequest(std::string request)
{
    if (!root) return "";
    if (request.empty()) return "\r\n";

    const bool password = Security::hasPassword();
    bool authorised = !password;
    bool tokenCheck = password;
    std::string reply;

    size_t pos = 0;
    bool more = true;
    while (more) {
        std::string line;
        size_t end = request.find("\r\n", pos);
        if (end == std::string::npos) {
            line = request.substr(pos);
            more = false;
        } else {
            line = request.substr(pos, end - pos);
            pos = end + 2;
            more = pos < request.size();
        }

        if (tokenCheck) {
            if (startsWith(line, "token ")) authorised = Security::checkToken(token, line.substr(6));
            token = Security::generateToken();
            reply += "token " + token + (authorised ? " y\r\n" : " n\r\n");
        }
        tokenCheck = false;

        if (startsWith(line, "browse ")) {
            if (Node* node = root->pathToNode(line.substr(7))) {
                int64_t started = walkStart();
                reply += node->getJSON(DESCRIPTION_FULL, true);
                lastRead = started;
            }
        } else if (startsWith(line, "dwrite ")) {
            if (!authorised) continue;
            std::string argument = line.substr(7);
            if (NodeList* list = findList(root, argument)) {
                list->parseWriteJSON(argument);
                reply += "dwrite " + list->writeStatusJSON();
            }
        } else if (startsWith(line, "dswap ")) {
            if (!authorised) continue;
            std::string argument = line.substr(6);
            NodeList* list = findList(root, argument);
            if (list && list->parseSwapJSON(argument)) reply += line;
        } else if (startsWith(line, "dmove ")) {
            if (!authorised) continue;
            std::string argument = line.substr(6);
            NodeList* list = findList(root, argument);
            if (list && list->parseMoveJSON(argument)) reply += line;
        } else if (startsWith(line, "dread ")) {
            if (!authorised) continue;
            std::string argument = line.substr(6);
            if (NodeList* list = findList(root, argument)) reply += list->parseReadJSON(argument);
        } else if (startsWith(line, "read ")) {
            if (Node* node = root->pathToNode(line.substr(5))) {
                int64_t started = walkStart();
                reply += node->getJSON_after(DESCRIPTION_STYLE, true, nullptr, true, lastRead, true);
                lastRead = started;
            }
        } else if (startsWith(line, "write ")) {
            if (!authorised) continue;
            std::string argument = line.substr(6);
            root->parseJSON(argument);
            reply += argument + "\r\n";
        } else if (startsWith(line, "supd ")) {
            if (!authorised) continue;
            reply += Update::update_start(line.substr(5));
        } else if (startsWith(line, "upd ")) {
            if (!authorised) continue;
            reply += Update::update_data(line.substr(4));
        }
    }
    if (reply.empty()) reply = "\r\n";
    return reply;
}
