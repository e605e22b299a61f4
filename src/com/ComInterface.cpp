#include "com/ComInterface.h"

#include "base/Update.h"
#include "com/Com.h"
#include "params/Node.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/Security.h"
#include "porting/Clock.h"
#include "porting/Log.h"

#include <cstring>

namespace {

constexpr const char* kTag = "Com";

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Lines of the request from `pos` on (a final CR LF opens no line).
size_t countLines(const std::string& request, size_t pos)
{
    size_t lines = 0;
    for (size_t at = pos; at < request.size(); ++lines) {
        size_t end = request.find("\r\n", at);
        at = end == std::string::npos ? request.size() : end + 2;
    }
    return lines;
}

// The new lastRead of a walk that is about to begin. The stamp is taken before the walk, not after
// it, so a node changed during the walk is reported by the next "read" rather than never; stamps
// never repeat nor go back, so every change stamped later counts as newer, whatever the wall clock
// does meanwhile.
int64_t walkStart()
{
    return change_stamp_us();
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

// The echo of a "write": its argument when the node now holds what was sent, whatever its type
// answered; otherwise the node's fragment with the value that it holds, so that a client never takes
// a refusal (no JSON, a node that cannot be written, a value its type refuses or replaces, a save that
// stored nothing) for success. A path that names no node is echoed as sent: there is no value to show.
std::string writeEcho(Node* root, const std::string& argument, bool taken)
{
    Node* node = root->pathToNode(argument.substr(0, argument.find(':')));
    if (!node || node->holdsWritten(argument, taken)) return argument;
    return node->getJSON(DESCRIPTION_VALUE);
}

} // namespace

ComInterface::ComInterface(Node* root, std::string client) : root(root), client(std::move(client))
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

    std::string reply;
    const bool password = Security::hasPassword();
    bool authorised = !password;
    if (password) {
        // Only the first line may answer the token; it then goes on like any other line.
        std::string first = request.substr(0, request.find("\r\n"));
        // A client that has to wait is answered " n" without its answer being looked at.
        const int64_t now = monotonic_time_us();
        if (startsWith(first, "token ") && throttle.allow(client, now, client.c_str())) {
            authorised = Security::checkToken(token, first.substr(6));
            if (authorised) throttle.succeeded(client);
            else throttle.failed(client, now);
        }
        token = Security::generateToken();
        reply = "token " + token + (authorised ? " y\r\n" : " n\r\n");
    }
    loggedIn = password && authorised;
    // A client that has not logged in sees secrets (passwords) empty.
    NodeItem::SecretsHidden hidden(!authorised);

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
        if (!serveLine(line, authorised, reply)) {
            size_t skipped = 1 + (more ? countLines(request, pos) : 0);
            LOG_W(kTag, "Reply limit of %zu bytes reached: %zu line(s) skipped\n", kMaxReply, skipped);
            break;
        }
    }
    if (reply.empty()) reply = "\r\n";
    return reply;
}

bool ComInterface::serveLine(const std::string& line, bool authorised, std::string& reply)
{
    auto fits = [&reply](size_t size) { return reply.size() + size <= kMaxReply; };
    // A verb that changes something is bounded before it runs: all it adds is its own text and a
    // short status.
    auto room = [&] { return fits(line.size() + kStatusReserve); };

    // Each verb's prefix excludes every other's, so the order of the tests does not matter.
    const bool browse = startsWith(line, "browse ");
    if (browse || startsWith(line, "read ")) {
        if (Node* node = root->pathToNode(line.substr(browse ? 7 : 5))) {
            int64_t started = walkStart();
            std::string piece = browse ? node->getJSON(DESCRIPTION_FULL, true)
                                       : node->getJSON_after(DESCRIPTION_STYLE, true, nullptr, true, lastRead, true);
            // A walk that does not fit leaves lastRead, so that a later read still reports its changes.
            if (!fits(piece.size())) return false;
            reply += piece;
            lastRead = started;
        }
    } else if (startsWith(line, "dwrite ")) {
        if (!authorised) return true;
        if (!room()) return false;
        std::string argument = line.substr(7);
        if (NodeList* list = findList(root, argument)) {
            list->parseWriteJSON(argument, requester);
            reply += "dwrite " + list->writeStatusJSON();
        }
    } else if (startsWith(line, "dswap ") || startsWith(line, "dmove ")) {
        if (!authorised) return true;
        if (!room()) return false;
        std::string argument = line.substr(6);
        NodeList* list = findList(root, argument);
        bool swap = startsWith(line, "dswap ");
        if (list && (swap ? list->parseSwapJSON(argument) : list->parseMoveJSON(argument))) reply += line;
    } else if (startsWith(line, "dread ")) {
        if (!authorised) return true;
        std::string argument = line.substr(6);
        if (NodeList* list = findList(root, argument)) {
            std::string piece = list->parseReadJSON(argument);
            if (!fits(piece.size())) return false;
            reply += piece;
        }
    } else if (startsWith(line, "write ")) {
        if (!authorised) return true;
        if (!room()) return false;
        std::string argument = line.substr(6);
        bool taken = root->parseJSON(argument);
        reply += writeEcho(root, argument, taken) + "\r\n";
    } else if (startsWith(line, "supd ")) {
        if (!authorised) return true;
        if (!room()) return false;
        reply += Update::update_start(line.substr(5));
    } else if (startsWith(line, "upd ")) {
        if (!authorised) return true;
        if (!room()) return false;
        reply += Update::update_data(line.substr(4));
    }
    return true;
}
