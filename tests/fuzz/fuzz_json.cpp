// The JSON form of the tree: a node fragment ("path:{...}") parsed into the unit's tree, as a remote
// write or a preset line is, then the fragments of that node and its children at every level.
#include "FuzzSupport.h"

#include "base/System.h"
#include "params/Node.h"
#include "params/NodeItem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_unit();
    Node* root = System::rootNode();
    std::string line = fuzz_text(data, size);
    root->parseJSON(line);
    Node* node = root->pathToNode(line.substr(0, line.find(':')));
    if (!node) return 0;
    for (DescriptionLevel level : {DESCRIPTION_VALUE, DESCRIPTION_STYLE, DESCRIPTION_FULL}) node->getJSON(level, true);
    return 0;
}
