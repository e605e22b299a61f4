#pragma once

class Node;
class AudioBlock;

// One frame of audio: 16 samples per channel at 48 kHz, two channels, full scale +-1.0.
constexpr int FRAME_SAMPLES = 16;
constexpr int FRAME_CHANNELS = 2;
// The frame as the chain passes it: frame[channel][sample], processed in place.
using AudioFrame = float (*)[FRAME_SAMPLES];
// A block's processing on "audioLoop": true stops the chain for this frame.
using BlockExec = bool (*)(AudioBlock* block, AudioFrame frame);

// Where a block enters the chain: appended behind, or prepended before, the blocks so far.
enum BlockPosition : int {
    BLOCK_APPEND = 0,
    BLOCK_PREPEND = 1,
    BLOCK_UNREGISTERED = 2, // any other value: the block stays out of the chain
};

// The base of every effect block. A block is built during start-up under the node that holds its
// parameters and enters the chain from its constructor (when it has a processing callback).
//
// compile() runs on "compileLoop" every 10 ms (and once more in every fade): it reads the block's
// nodes and writes plain coefficient fields that the block's BlockExec reads on "audioLoop"; it
// returns true only to stop the compile pass (the blocks behind it are then not compiled).
class AudioBlock {
public:
    AudioBlock(const char* name, Node* node, BlockExec exec, int position);
    virtual bool compile() = 0;
    // "audioLoop", when the chain's output has left its bounds (not finite, or far beyond full scale):
    // puts back what the block keeps of the signal it heard (filter memories, delay and reverb lines,
    // detectors) as a fresh block has it, so that nothing broken plays on. Allocates nothing.
    virtual void resetState() {}
    virtual ~AudioBlock() = default;

    const char* getName() const { return name; }
    Node* getNode() const { return node; }

protected:
    Node* node; // not owned
    const char* name; // not copied: a literal
};
