#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/QuadBiquad.h"
#include "effects/BlockHelpers.h"
#include "params/SharedSnapshot.h"
#include "porting/LogOnce.h"
#include "porting/Task.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
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
//   "NAM player", playerThread: woken once per frame through a futex; takes a newly offered model
//       between frames, then runs the input gain, the model (its output held within +20 dBFS), the
//       tone stages (DC cut, low shelf 100 Hz, mid peak 800 Hz, high shelf 5 kHz) and the output
//       gain. Both gains and the three tone sections glide to what compile sets.
//   "compileLoop", compile: gains (dB nodes and the model's recommended adjustments, within
//       +-50 dB), tone coefficients, building the models of changed list elements, and offering the
//       selection's model to the worker. The switch and a new model (another selection, or the selected element
//       rewritten) are handed over at the fade's quiet point.
//   Any thread writing the list (remote, screens): updateList and updateLayout, which publish a copy
//       of what the list shows (ListView); compile reads that copy, never the list.
// Built models belong to list elements, not positions, so reordering the list moves them along. A
// model is offered to the worker only after the worker has taken the previous offer; compile prewarms
// or deletes a model only when the worker cannot be running it.
//
// Nodes under the given parent, in this order: "on_off", "model", "gain" (dB), "lvl" (%), "low",
// "mid", "treble" (dB), "_meta_in", "_meta_out" (dB, show the adjustments; not in presets).
class NamPlayer : public AudioBlock {
public:
    static constexpr int kSlots = 50;
    // One NAM file's text, NUL-terminated.
    static constexpr int kElementSize = 0x80000;
    // The most work per sample (NeuralModel::GetCostPerSample) a model may need; heavier models are
    // refused like unreadable ones. See NamPlayer.cpp for the derivation.
    static const double kMaxModelCost;

    NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label, bool monoBypass);
    NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label);

    // The block holds 16-byte aligned filter state and is allocated to its own alignment.
    static void* operator new(std::size_t size);
    static void operator delete(void* pointer);

    // Creates the model list, reads what it shows, hooks updateList and updateLayout, enlists the player.
    static void initialize(Node* listParent, NamPlayer* player, const char* key);
    // Why a model text (an element's data, up to its first NUL) cannot be played: the loader's reason,
    // or a cost above kMaxModelCost; "" when it can. Also the model lists' content check, so that an
    // upload the player could not load is refused (any thread; builds the model once).
    static std::string modelRefusal(const uint8_t* data, int size);
    // The model list's data-change callback (the writing thread): publishes the new text of that
    // position to every player of the list.
    static void updateList(Node* list, int index);
    // The model list's layout callback (the writing thread): publishes the new order and names.
    static void updateLayout(Node* list);
    // Compile thread (and the constructor): rebuilds the model of the element at a position.
    void loadModel(int index);
    // Stores a file (a path of the unit) as list element `index` under `name`.
    void loadModelFromFile(std::string name, std::string path, int index);

    bool compile() override;
    // Audio thread: asks the worker to start its model and tone stages afresh before its next frame.
    void resetState() override { resetPending.store(true, std::memory_order_release); }
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
    bool isBusy() const { return handed.load(std::memory_order_acquire) != done.load(std::memory_order_acquire); }
    // Compile thread: the built model of the element at a position (null when none), and whether
    // there is one.
    const NeuralAudio::NeuralModel* modelAt(int index) const;
    bool hasModel(int index) const { return modelAt(index) != nullptr; }
    // The model the worker has taken and runs (null: none, the signal passes dry).
    const NeuralAudio::NeuralModel* playingModel() const { return taken.load(std::memory_order_acquire); }
    // Compile thread: every list change is built and the worker has taken the latest offer.
    bool isSettled() const;

    // Every player, in construction order; the position is the instance index.
    static std::vector<NamPlayer*> instances;

private:
    // What the list shows, as its writers last published it. Texts belong to element numbers; a text
    // version changes whenever that element's text does.
    struct ListView {
        uint64_t version = 0;
        int element[kSlots]; // by position
        std::string name[kSlots]; // by position, "" for an empty element
        std::shared_ptr<const std::string> text[kSlots]; // by element
        uint64_t textVersion[kSlots] = {}; // by element
        bool present[kSlots] = {}; // by element
        ListView();
        // The position showing a present element of that name; -1 for none and for "".
        int positionOf(const std::string& name) const;
    };
    // A model built by compile, and the text version it was built from.
    struct Built {
        NeuralAudio::NeuralModel* model = nullptr;
        uint64_t version = 0;
    };

    void process();
    // Worker: the tone stages' memory cleared.
    void resetStages();
    // The text of one list position ("" for an empty element), never reading past the element.
    std::string elementText(int position);
    // On the list's writing thread: publishes order, names and, for `changed` (or -1), the new text.
    void publishView(int changed);
    // Parses, checks and prewarms a model text; null, with the reason, when it cannot be run.
    static NeuralAudio::NeuralModel* build(const std::string& text, std::string* why);
    // Rebuilds one element's model from the view (compile thread).
    void rebuild(int element, const ListView& view);
    // Compile thread: the worker may be running `model` (the current offer, or the one before while
    // the worker has not taken the current one).
    bool mayRun(const NeuralAudio::NeuralModel* model, bool caughtUp) const;
    // Compile thread: hands `model` to the worker, which takes it at its next frame.
    void offerModel(NeuralAudio::NeuralModel* model);

    // The switch and the model as the audio has them (compile thread).
    struct Structure {
        bool on = false;
        NeuralAudio::NeuralModel* model = nullptr;
        int element = -1; // of the list
        bool operator==(const Structure&) const = default;
    };

    std::atomic<int32_t> enabled{0};
    fx::ExternalSwitch extOnOff;
    Structure structure;
    // Compile -> worker: the gains, linear.
    ParamSet<> gains;
    const ParamSet<>::Param inputGain = gains.add(GlideKind::Level);
    const ParamSet<>::Param outputGain = gains.add(GlideKind::Level);
    float outputAdjustment = 0.0f;
    float inputAdjustment = 0.0f;
    NodeParList* modelSelector = nullptr;
    NodeList* modelList = nullptr;
    // Compile -> worker; the worker alone runs and clears them.
    GlidingBiquad lowStage;
    GlidingBiquad midStage;
    GlidingBiquad trebleStage;
    QuadBiquad dcCut;

    // List writers -> compile.
    SharedSnapshot<ListView> view;
    std::atomic<uint64_t> textVersions{0};
    // Compile thread only.
    Built built[kSlots];
    std::vector<NeuralAudio::NeuralModel*> retired; // replaced models the worker may still run
    NeuralAudio::NeuralModel* offered = nullptr;
    NeuralAudio::NeuralModel* offeredBefore = nullptr;
    uint32_t offers = 0;
    // Compile -> worker: the offered model, then its sequence number (release); the worker answers
    // with the number it took (and the model, for tests and statistics).
    std::atomic<NeuralAudio::NeuralModel*> offer{nullptr};
    std::atomic<uint32_t> offerSeq{0};
    std::atomic<uint32_t> takenSeq{0};
    std::atomic<const NeuralAudio::NeuralModel*> taken{nullptr};
    // Worker only.
    NeuralAudio::NeuralModel* running = nullptr;
    uint32_t runningSeq = 0;

    // The left input, written by exec while a late worker may still be reading it: accessed as
    // atomics.
    alignas(16) float inputBuffer[FRAME_SAMPLES] = {};
    // Written by the worker, read by exec only once the worker has finished the latest frame.
    alignas(16) float outputBuffer[FRAME_SAMPLES] = {};
    // The busy flag as two counters: frames handed over (exec) and the last one finished (worker).
    // A worker that is late takes the newest frame when it comes back, and since it marks only
    // that frame as done, exec never reads the output buffer while the worker writes it.
    std::atomic<uint32_t> handed{0};
    std::atomic<uint32_t> done{0};
    // The worker's own copy of the frame it runs, and whether its model starts afresh.
    alignas(16) float workBuffer[FRAME_SAMPLES] = {};
    bool restart = true;
    // The engine's output guard (audio thread) or the model's own output not finite (worker): the
    // worker prewarms its model and clears its tone stages before the next frame it plays.
    std::atomic<bool> resetPending{false};
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
    // Late frames counted on the audio thread, reported by compile (the audio thread prints nothing).
    std::atomic<uint32_t> pendingOverruns{0};
    // Compile thread: late frames so far, and their log.
    uint64_t overrunTotal = 0;
    LogOnce overrunLog{"NamPlayer"};
};
