#pragma once
#include "audio/AudioBlock.h"
#include "dsp/QuadBiquad.h"
#include "effects/BlockHelpers.h"
#include "params/SharedSnapshot.h"
#include "porting/LogOnce.h"
#include "porting/Task.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace NeuralAudio {
class NeuralModel;
}
class Node;
class NodeFloat;
class NodeList;
class NodeOnOff;
class NodeParList;
class NodePreset;

// The amp-model player: runs a neural amp model (NAM file) on the left channel and writes its mono
// result to both channels, one frame (16 samples) late. Each player keeps a stored list of up to 50
// model files (root\<key>), builds every stored model at start, and runs the one that "model"
// selects on a worker thread ("NAM player", SCHED_FIFO 59) pinned to a core of its own.
//
// Threads:
//   "audioLoop", exec: hands the left input (times the input gain) to the worker and plays the
//       worker's result of the previous frame; a worker still busy costs a muted frame, never a wait.
//   "NAM player", playerThread: woken once per frame through a futex; runs the model, the tone stages
//       (DC cut, low shelf 100 Hz, mid peak 800 Hz, high shelf 5 kHz) and the output gain.
//   "compileLoop", compile: gains (dB nodes and the model's recommended adjustments), tone
//       coefficients, rebuilding of changed model slots, the selection's adjustments.
//   Any thread writing the list (remote, screens): updateList.
// A model slot is run only by the worker and rebuilt only by compile; its loaded flag says whose it
// is: the worker clears it when the slot's element changed, compile sets it once rebuilt.
//
// Nodes under the given parent, in this order: "on_off", "model", "gain" (dB), "lvl" (%), "low",
// "mid", "treble" (dB), "_meta_in", "_meta_out" (dB, show the adjustments; not in presets).
class NamPlayer : public AudioBlock {
public:
    static constexpr int kSlots = 50;
    // One NAM file's text, NUL-terminated.
    static constexpr int kElementSize = 0x80000;

    NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label,
              bool monoBypass);
    NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label);

    // The block holds 16-byte aligned filter state and is allocated to its own alignment.
    static void* operator new(std::size_t size);
    static void operator delete(void* pointer);

    // Creates the model list, reads its texts, hooks updateList and enlists the player.
    static void initialize(Node* listParent, NamPlayer* player, const char* key);
    // The model list's data-change callback (any thread): refreshes the text of that position in
    // every player of the list and marks the slot for a rebuild.
    static void updateList(Node* list, int index);
    // Compile thread (and the constructor): rebuilds one slot, only while the worker has released it.
    void loadModel(int index);
    // Stores a file (a path of the unit) as list element `index` under `name`.
    void loadModelFromFile(std::string name, std::string path, int index);

    bool compile() override;
    static bool exec(AudioBlock* block, AudioFrame frame);
    // The worker's body; never returns.
    static void* playerThread(void* player);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

    NodeList* getModelList() const { return modelList; }
    NodeParList* getModelSelector() const { return modelSelector; }
    int getInstanceIndex() const { return instanceIndex; }
    TaskHandle_t getWorker() const { return worker; }
    // The worker has not finished the frame handed to it yet.
    bool isBusy() const
    {
        return handed.load(std::memory_order_acquire) != done.load(std::memory_order_acquire);
    }
    // The slot holds a built model that the worker may run.
    bool hasModel(int index) const;

    // Every player, in construction order; the position is the instance index.
    static std::vector<NamPlayer*> instances;

private:
    void process();
    // The text of one list position ("" for an empty element), never reading past the element.
    std::string elementText(int position);
    // Marks positions whose list element was exchanged (swap, move) for a rebuild.
    void followReorder();

    std::atomic<int32_t> enabled{0};
    std::atomic<float> inputGain{0.0f};
    std::atomic<float> outputGain{0.0f};
    fx::ExternalSwitch extOnOff;
    float outputAdjustment = 0.0f;
    float inputAdjustment = 0.0f;
    std::atomic<int32_t> currentIndex{-1};
    std::atomic<int32_t> loaded[kSlots] = {};
    std::atomic<int32_t> changed[kSlots] = {};
    NeuralAudio::NeuralModel* models[kSlots] = {};
    NodeParList* modelSelector = nullptr;
    NodeList* modelList = nullptr;
    QuadBiquad* lowStage = nullptr;
    QuadBiquad* midStage = nullptr;
    QuadBiquad* trebleStage = nullptr;
    QuadBiquad* dcCut = nullptr;
    SharedSnapshot<std::string> modelTexts[kSlots];
    // List element number each position held when its text was last read.
    int slotElement[kSlots];
    // Written by exec while a late worker may still be reading it: accessed as atomics.
    alignas(16) float inputBuffer[FRAME_SAMPLES] = {};
    // Written by the worker, read by exec only once the worker has finished the latest frame.
    alignas(16) float outputBuffer[FRAME_SAMPLES] = {};
    // The busy flag as two counters: frames handed over (exec) and the last one finished (worker).
    // A worker that is late takes the newest frame when it comes back, and since it marks only
    // that frame as done, exec never reads the output buffer while the worker writes it.
    std::atomic<uint32_t> handed{0};
    std::atomic<uint32_t> done{0};
    // The worker's own copy of the frame it runs.
    alignas(16) float workBuffer[FRAME_SAMPLES] = {};
    int32_t warmUpCount = 0;
    int32_t instanceIndex = 0;
    const bool monoBypass;
    // Futex word of the hand-over: 1 = a frame waits for the worker.
    std::atomic<uint32_t> wakeWord{0};
    NodeFloat* gain = nullptr;
    NodeFloat* low = nullptr;
    NodeFloat* mid = nullptr;
    NodeFloat* treble = nullptr;
    NodeFloat* volume = nullptr;
    NodeFloat* metaIn = nullptr;
    NodeFloat* metaOut = nullptr;
    NodeOnOff* onOff = nullptr;
    NodePreset* preset;
    TaskHandle_t worker{};
    // A rebuilt slot is the selected one: its adjustments are read again.
    std::atomic<bool> refreshAdjustments{false};
    // Late frames counted on the audio thread, reported by compile (the audio thread prints nothing).
    std::atomic<uint32_t> pendingOverruns{0};
    // Compile thread: late frames so far, and their log.
    uint64_t overrunTotal = 0;
    LogOnce overrunLog{"NamPlayer"};
};
