// One remote request, as any transport hands it over, against the unit's whole tree: the line and
// token parsing and every verb (browse, read, write, dread, dwrite, dswap, dmove, supd, upd).
#include "FuzzSupport.h"

#include "base/System.h"
#include "com/ComInterface.h"
#include "params/Node.h"
#include "params/NodeItem.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ComInterface* endpoint = [] {
        fuzz_unit();
        return new ComInterface(System::rootNode());
    }();
    static Node* password = System::rootNode()->pathToNode("root\\sys\\pwd");
    std::string request = fuzz_text(data, size);
    // A request that begins with a token line meets a unit with a password, any other one a unit
    // without, whatever an earlier input wrote: each input sees both paths, and all verbs stay open.
    password->fromString(request.rfind("token ", 0) == 0 ? "fuzz" : "");
    // Every request gets a reply, "\r\n" at the least.
    if (endpoint->processRequest(request).empty()) std::abort();
    return 0;
}
