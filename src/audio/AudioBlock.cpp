#include "audio/AudioBlock.h"

#include "audio/AudioProcessor.h"

AudioBlock::AudioBlock(const char* name, Node* node, BlockExec exec, int position) : node(node), name(name)
{
    if (exec) AudioProcessor::addBlock(this, exec, position);
}
