#include "effects/NamPlayer.h"

#include "NeuralAudio/NeuralModel.h"
#include "audio/AudioProcessor.h"
#include "base/Debug.h"
#include "params/NodeFloat.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodeParList.h"
#include "params/NodePreset.h"
#include "platform/Paths.h"
#include "porting/CountMark.h"
#include "porting/Denormals.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <linux/futex.h>
#include <memory>
#include <new>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr const char* kTag = "NamPlayer";
constexpr const char* kListLabel = "NAM list";
constexpr const char* kListItemType = "nam";
constexpr int kTransferChunk = 1024;
constexpr int kWorkerPriority = 59;
// The frames before the worker has settled into the frame rhythm are never reported as late.
constexpr int32_t kWarmUpFrames = 2;
// The models' recommended output adjustment aims at -18 dBFS; the taper's 100 % sits there.
constexpr double kOutputReferenceDb = 18.0;
// The most a model's recommended adjustments may move its level: the range "_meta_in" and "_meta_out"
// show them in. A file's levels are free numbers; beyond this they would only make it silent or blow
// up the chain.
constexpr float kMaxAdjustmentDb = 50.0f;
// The most a model may put out, +20 dBFS. Models learn from recordings within full scale and stay
// near it however hard they are driven; a file whose weights say otherwise is held here, so that the
// chain's loudest output has a bound whatever an uploaded model holds (AudioProcessor::kGuardLimit).
constexpr float kModelCeiling = 10.0f;

// The budget of a model. A standard WaveNet (16 and 8 channels; 15,240 by the runtime's estimate)
// takes about 1 us per sample on the x86-64 development machine (bench_nam). A Cortex-A72 core of the
// unit at 1.5 GHz, with half the clock and a narrower core, is taken as four times slower: 4 us per
// sample, 64 us of each 333-us frame (19 %). The worker's core may give the model two thirds of a
// frame; the rest is for the tone stages, the hand-over and scheduling jitter. That is 3.5 standard
// WaveNets; an LSTM of 2 x 128 (about 13.6 of them) or a WaveNet of twice the standard channels (4)
// are refused.
constexpr double kStandardWaveNetCost = 15240.0;
constexpr double kUnitStandardShareOfFrame = 0.19;
constexpr double kModelShareOfFrame = 2.0 / 3.0;

long futex(std::atomic<uint32_t>* word, int op, uint32_t value)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is a plain 32-bit word");
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, nullptr, nullptr, 0);
}

float dbToGain(double db)
{
    return float(std::pow(10.0, db * 0.05));
}

// Zeroes the samples of a frame that are not finite; true when there was one. On the bits and
// without branches, so that the compiler runs the frame in vector lanes.
bool zeroNonFinite(float* x)
{
    uint32_t any = 0;
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        const uint32_t bits = std::bit_cast<uint32_t>(x[i]);
        const uint32_t bad = (bits & 0x7f800000u) == 0x7f800000u ? ~0u : 0u;
        any |= bad;
        x[i] = std::bit_cast<float>(bits & ~bad);
    }
    return any != 0;
}

} // namespace

std::vector<NamPlayer*> NamPlayer::instances;
const double NamPlayer::kMaxModelCost = kStandardWaveNetCost * kModelShareOfFrame / kUnitStandardShareOfFrame;

NamPlayer::ListView::ListView()
{
    for (int& e : element) e = -1;
}

int NamPlayer::ListView::positionOf(const std::string& key) const
{
    if (key.empty()) return -1;
    for (int p = 0; p < kSlots; ++p)
        if (name[p] == key) return p;
    return -1;
}

void* NamPlayer::operator new(std::size_t size)
{
    constexpr std::size_t align = alignof(NamPlayer);
    void* pointer = std::aligned_alloc(align, (size + align - 1) / align * align);
    if (!pointer) throw std::bad_alloc();
    return pointer;
}

void NamPlayer::operator delete(void* pointer)
{
    std::free(pointer);
}

NamPlayer::NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label)
    : NamPlayer(parent, listParent, preset, key, label, false)
{}

NamPlayer::NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label,
                     bool monoBypass)
    : AudioBlock(label, parent, &NamPlayer::exec, BLOCK_PREPEND), monoBypass(monoBypass), preset(preset)
{
    initialize(listParent, this, key);

    // Every stored model is built now, so that choosing one later costs no parsing.
    const std::shared_ptr<const ListView> stored = view.snapshot();
    for (int e = 0; e < kSlots; ++e) rebuild(e, *stored);

    onOff = fx::makeEnable(parent);
    modelSelector = new NodeParList(parent, "model", "Model", "", modelList);
    gain = fx::makeLevelDb(parent, "gain", "Gain", -20, 20, 0);
    volume = fx::makePercent(parent, "lvl", "Volume", 50, false);
    low = fx::makeLevelDb(parent, "low", "Low", -15, 15, 0);
    mid = fx::makeLevelDb(parent, "mid", "Mid", -15, 15, 0);
    treble = fx::makeLevelDb(parent, "treble", "Treble", -15, 15, 0);
    metaIn = fx::makeLevelDb(parent, "_meta_in", "Gain Adjust", -50, 50, 0);
    metaOut = fx::makeLevelDb(parent, "_meta_out", "Out Adjust", -50, 50, 0);
    if (preset) {
        preset->addIgnoreNode(metaIn);
        preset->addIgnoreNode(metaOut);
    }
    modelSelector->setOnChange(&AudioProcessor::debounce);
    dcCut.set_lo_cut_1_order(2.0f);

    xTaskCreatePinnedToCore(&NamPlayer::playerThread, "NAM player", 4096, this, kWorkerPriority, &worker,
                            unsigned(instances.size() + 1));
}

void NamPlayer::initialize(Node* listParent, NamPlayer* player, const char* key)
{
    player->modelList =
        new NodeList(listParent, key, kListLabel, kListItemType, kElementSize, kSlots, kTransferChunk, true);
    player->publishView(-1);
    player->modelList->setOnDataChange(&NamPlayer::updateList);
    player->modelList->setOnLayoutChange(&NamPlayer::updateLayout);
    player->modelList->setContentCheck(&NamPlayer::modelRefusal);
    instances.push_back(player);
    player->instanceIndex = int32_t(instances.size()) - 1;
}

std::string NamPlayer::elementText(int position)
{
    if (modelList->emptyAt(position)) return std::string();
    const auto* data = reinterpret_cast<const char*>(modelList->dataAt(position));
    if (!data) return std::string();
    // A text that fills the element has no NUL of its own: stop at the element's end.
    return std::string(data, strnlen(data, size_t(modelList->getElementSize())));
}

void NamPlayer::updateList(Node* list, int index)
{
    if (index < 0 || index >= kSlots) return;
    for (NamPlayer* player : instances)
        if (player->modelList == list) player->publishView(index);
}

void NamPlayer::updateLayout(Node* list)
{
    for (NamPlayer* player : instances)
        if (player->modelList == list) player->publishView(-1);
}

void NamPlayer::publishView(int changed)
{
    // This thread is the one changing the list: what it reads here is consistent.
    int elements[kSlots];
    std::string names[kSlots];
    for (int p = 0; p < kSlots; ++p) {
        elements[p] = modelList->elementAt(p);
        names[p] = modelList->nameAt(p);
    }
    // New texts: the changed position's, and any element that a rename made present or empty (its
    // data stays in the record while it is empty).
    std::vector<std::pair<int, std::shared_ptr<const std::string>>> texts;
    const std::shared_ptr<const ListView> seen = view.snapshot();
    for (int p = 0; p < kSlots; ++p) {
        const int e = elements[p];
        if (e < 0 || e >= kSlots) continue;
        const bool present = !names[p].empty();
        if (p == changed || present != seen->present[e])
            texts.emplace_back(e, std::make_shared<const std::string>(present ? elementText(p) : std::string()));
    }
    view.update([&](ListView& v) {
        ++v.version;
        for (int p = 0; p < kSlots; ++p) {
            v.element[p] = elements[p];
            v.name[p] = names[p];
            if (elements[p] >= 0 && elements[p] < kSlots) v.present[elements[p]] = !names[p].empty();
        }
        for (const auto& [e, text] : texts) {
            v.text[e] = text;
            v.textVersion[e] = textVersions.fetch_add(1, std::memory_order_relaxed) + 1;
        }
        return true;
    });
}

const NeuralAudio::NeuralModel* NamPlayer::modelAt(int index) const
{
    if (index < 0 || index >= kSlots) return nullptr;
    const int e = view.snapshot()->element[index];
    return e >= 0 && e < kSlots ? built[e].model : nullptr;
}

bool NamPlayer::isSettled() const
{
    const std::shared_ptr<const ListView> v = view.snapshot();
    for (int e = 0; e < kSlots; ++e)
        if (built[e].version != v->textVersion[e]) return false;
    return takenSeq.load(std::memory_order_acquire) == offers;
}

NeuralAudio::NeuralModel* NamPlayer::build(const std::string& text, std::string* why)
{
    NeuralAudio::NeuralModel* model = nullptr;
    try {
        std::istringstream stream(text);
        model = NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam");
    } catch (const std::exception& e) {
        *why = e.what();
        return nullptr;
    } catch (...) {
        *why = "model not loaded";
        return nullptr;
    }
    // A model its core cannot run in a frame would only ever play overruns.
    if (model->GetCostPerSample() > kMaxModelCost) {
        char text[96];
        std::snprintf(text, sizeof text, "model too heavy for the unit: %.0f operations per sample, at most %.0f",
                      model->GetCostPerSample(), kMaxModelCost);
        *why = text;
        delete model;
        return nullptr;
    }
    model->Prewarm();
    return model;
}

std::string NamPlayer::modelRefusal(const uint8_t* data, int size)
{
    const auto* text = reinterpret_cast<const char*>(data);
    std::string why;
    delete build(std::string(text, strnlen(text, size_t(size))), &why);
    return why;
}

bool NamPlayer::mayRun(const NeuralAudio::NeuralModel* model, bool caughtUp) const
{
    return model && (model == offered || (!caughtUp && model == offeredBefore));
}

void NamPlayer::rebuild(int element, const ListView& v)
{
    Built& slot = built[element];
    NeuralAudio::NeuralModel* old = slot.model;
    const std::shared_ptr<const std::string>& text = v.text[element];
    std::string why;
    slot.model = text && !text->empty() ? build(*text, &why) : nullptr;
    if (!why.empty()) {
        int position = 0;
        while (position < kSlots && v.element[position] != element) ++position;
        LOG_E(kTag, "Error parsing nam file: slot %d \"%s\": %s\n", position,
              position < kSlots ? v.name[position].c_str() : "", why.c_str());
    }
    slot.version = v.textVersion[element];
    // The worker may still be running the old model: it is deleted once the worker has let it go.
    if (old) retired.push_back(old);
}

void NamPlayer::loadModel(int index)
{
    if (index < 0 || index >= kSlots) return;
    const std::shared_ptr<const ListView> v = view.snapshot();
    const int e = v->element[index];
    if (e >= 0 && e < kSlots) rebuild(e, *v);
}

void NamPlayer::offerModel(NeuralAudio::NeuralModel* model)
{
    offeredBefore = offered;
    offered = model;
    offer.store(model, std::memory_order_relaxed);
    offerSeq.store(++offers, std::memory_order_release);
    // Without a model the signal passes dry: a former model's adjustment would only make it louder
    // or softer.
    auto bounded = [](float db) { return std::clamp(db, -kMaxAdjustmentDb, kMaxAdjustmentDb); };
    inputAdjustment = model ? bounded(model->GetRecommendedInputDBAdjustment()) : 0.0f;
    outputAdjustment = model ? bounded(model->GetRecommendedOutputDBAdjustment()) : 0.0f;
}

void NamPlayer::loadModelFromFile(std::string name, std::string path, int index)
{
    if (unsigned(index) >= unsigned(kSlots)) return;
    auto buffer = std::make_unique<char[]>(size_t(kElementSize));
    std::memset(buffer.get(), 0, size_t(kElementSize));
    std::ifstream file(Paths::map(path), std::ios::binary);
    if (file) {
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::memcpy(buffer.get(), text.data(), std::min(text.size(), size_t(kElementSize - 1)));
    }
    modelList->setElementAt(index, name, buffer.get());
}

bool NamPlayer::compile()
{
    const std::shared_ptr<const ListView> v = view.snapshot();
    const bool caughtUp = takenSeq.load(std::memory_order_acquire) == offers;
    std::erase_if(retired, [&](NeuralAudio::NeuralModel* model) {
        if (mayRun(model, caughtUp)) return false;
        delete model;
        return true;
    });

    // Models of changed elements: the selection's first, then at most one other per pass, since a
    // large model takes a while to parse and the pass serves every block of the chain.
    const int position = v->positionOf(modelSelector->getValue());
    const int selected = position >= 0 ? v->element[position] : -1;
    auto stale = [&](int e) { return e >= 0 && e < kSlots && built[e].version != v->textVersion[e]; };
    if (stale(selected)) rebuild(selected, *v);
    for (int e = 0; e < kSlots; ++e) {
        if (e != selected && stale(e)) {
            rebuild(e, *v);
            break;
        }
    }

    // The switch and the selection's model reach the audio at the quiet point; a model goes to the
    // worker only once it has taken the previous offer (until then the model asked for waits). A
    // model the selection moves to is prewarmed first: nobody runs it at that moment.
    NeuralAudio::NeuralModel* target = selected >= 0 && selected < kSlots ? built[selected].model : nullptr;
    Structure live{fx::isOn(onOff, extOnOff.get()), target, selected};
    if (!caughtUp) {
        live.model = structure.model;
        live.element = structure.element;
    }
    const Structure before = structure;
    if (fx::takeStructure(structure, live)) {
        if (structure.model != offered) {
            if (structure.model && structure.element != before.element) structure.model->Prewarm();
            offerModel(structure.model);
        } else if (structure.on && !before.on && structure.model && !isBusy()) {
            // Switched on again: what the model last heard, before it was switched off, would play
            // on into the new signal. The worker runs no model while the player is off (and it is
            // between frames), so it is free to be prewarmed until `enabled` says otherwise.
            structure.model->Prewarm();
        }
    }
    enabled.store(structure.on ? 1 : 0, std::memory_order_release);
    // A selected model that could not be built plays dry: the screens must not show it as playing.
    modelSelector->setUnplayable(selected >= 0 && !target);

    lowStage.set([&](QuadBiquad& q) { q.set_lpf_shelf(100.0f, 0.7f, low->getValue()); });
    midStage.set([&](QuadBiquad& q) { q.set_peaking(800.0f, 0.7f, mid->getValue()); });
    trebleStage.set([&](QuadBiquad& q) { q.set_hpf_shelf(5000.0f, 0.7f, treble->getValue()); });

    gains.set(inputGain, dbToGain(double(gain->getValue()) + inputAdjustment));
    const double taper = fx::volumeTaper(volume->getValue());
    gains.set(outputGain, float(taper * std::pow(10.0, (outputAdjustment + kOutputReferenceDb) * 0.05)));
    gains.publish();
    metaIn->setValue(inputAdjustment);
    metaOut->setValue(outputAdjustment);

    // At the 1st, 2nd, 4th... late frame, not once per pass: a slow machine would fill the log.
    overrunTotal += pendingOverruns.exchange(0, std::memory_order_relaxed);
    if (overrunLog.reached(overrunTotal)) LOG_E(kTag, "CPU Overrun %d %d\n", kWarmUpFrames, instanceIndex);
    return false;
}

bool NamPlayer::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<NamPlayer*>(block);
    const uint32_t handed = self->handed.load(std::memory_order_relaxed);
    const bool late = handed != self->done.load(std::memory_order_acquire);
    if (self->warmUpCount < kWarmUpFrames) {
        ++self->warmUpCount;
    } else if (late && self->enabled.load(std::memory_order_relaxed)) {
        // A player that is off plays nothing of the worker's: a late worker costs it nothing.
        self->pendingOverruns.fetch_add(1, std::memory_order_relaxed);
        Debug::add_overrun_cnt_n(self->instanceIndex);
    }

    if (self->enabled.load(std::memory_order_relaxed)) {
        for (int i = 0; i < FRAME_SAMPLES; ++i)
            std::atomic_ref<float>(self->inputBuffer[i]).store(frame[0][i], std::memory_order_relaxed);
        if (late) {
            std::memset(frame, 0, sizeof(float) * FRAME_CHANNELS * FRAME_SAMPLES);
        } else {
            std::memcpy(frame[0], self->outputBuffer, sizeof self->outputBuffer);
            std::memcpy(frame[1], self->outputBuffer, sizeof self->outputBuffer);
        }
    } else if (self->monoBypass) {
        std::memcpy(frame[1], frame[0], sizeof(float) * FRAME_SAMPLES);
    }

    self->handed.store(handed + 1, std::memory_order_release);
    self->wakeWord.store(1, std::memory_order_release);
    futex(&self->wakeWord, FUTEX_WAKE, 1);
    return false;
}

void NamPlayer::process()
{
    for (int i = 0; i < FRAME_SAMPLES; ++i)
        workBuffer[i] = std::atomic_ref<float>(inputBuffer[i]).load(std::memory_order_relaxed);
    if (!enabled.load(std::memory_order_acquire)) {
        std::memcpy(outputBuffer, workBuffer, sizeof outputBuffer);
        restart = true;
        return;
    }
    // After a fault the model starts again from its settled state (an LSTM whose state a NaN reached
    // from the state its file holds) and the tone stages from silence. The model is this thread's
    // while the player is on: compile prewarms only a model the worker does not run.
    // Looked at before it is taken: the exchange alone would be a read-modify-write every frame.
    if (resetPending.load(std::memory_order_relaxed) && resetPending.exchange(false, std::memory_order_acquire)) {
        if (running) running->Prewarm();
        resetStages();
        restart = true;
    }
    // A model that starts (switched on, or newly taken) starts from silence; its input glides in,
    // since a step into its history would be heard again as it reaches each of its longer delays.
    if (restart) {
        gains.jump(inputGain, 0.0f);
        restart = false;
    }
    gains.read();
    gains.advance(FRAME_SAMPLES);
    const Ramp &in = gains[inputGain], &out = gains[outputGain];
    for (int i = 0; i < FRAME_SAMPLES; ++i) workBuffer[i] *= in.at(i);
    if (running) {
        running->Process(workBuffer, outputBuffer, FRAME_SAMPLES);
        // A NaN stays one, for the test below.
        for (float& sample : outputBuffer) sample = std::clamp(sample, -kModelCeiling, kModelCeiling);
    } else {
        std::memcpy(outputBuffer, workBuffer, sizeof outputBuffer);
    }
    // Its state would hold the fault for good (an LSTM's cells never forget a NaN).
    if (zeroNonFinite(outputBuffer)) resetPending.store(true, std::memory_order_relaxed);
    dcCut.exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    lowStage.exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    midStage.exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    trebleStage.exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    for (int i = 0; i < FRAME_SAMPLES; ++i) outputBuffer[i] *= out.at(i);
    // A finite but absurd model output can still overflow the tone stages; their memory would then
    // hold infinities for good. Silence the frame and start the stages afresh (this thread owns them).
    if (zeroNonFinite(outputBuffer)) {
        std::memset(outputBuffer, 0, sizeof outputBuffer);
        resetStages();
    }
}

void NamPlayer::resetStages()
{
    dcCut.reset();
    lowStage.reset();
    midStage.reset();
    trebleStage.reset();
}

void* NamPlayer::playerThread(void* argument)
{
    auto* self = static_cast<NamPlayer*>(argument);
    LOG_I(kTag, "Thread started\n");
    std::fflush(stdout);
    flush_denormals();
    uint32_t finished = self->done.load(std::memory_order_relaxed);
    for (;;) {
        while (self->wakeWord.load(std::memory_order_acquire) != 1) {
            futex(&self->wakeWord, FUTEX_WAIT, 0);
            task_exit_point();
        }
        // Between frames, holding nothing: where a pause of this thread takes effect.
        task_exit_point();
        self->wakeWord.store(0, std::memory_order_relaxed);
        // The newest frame; a wake-up for a frame already taken runs nothing.
        const uint32_t frame = self->handed.load(std::memory_order_acquire);
        if (frame == finished) continue;
        // The instruction counter takes the worker's cost per frame it ran (a late one skips some).
        count_mark_frame();
        // A player that is off keeps its statistics still: it has no deadline to miss.
        const bool measured = self->enabled.load(std::memory_order_relaxed) != 0;
        if (measured) Debug::cycle_start_n(self->instanceIndex);

        // A model offered by compile is taken here, between frames.
        const uint32_t seq = self->offerSeq.load(std::memory_order_acquire);
        if (seq != self->runningSeq) {
            self->running = self->offer.load(std::memory_order_relaxed);
            self->runningSeq = seq;
            self->taken.store(self->running, std::memory_order_relaxed);
            self->takenSeq.store(seq, std::memory_order_release);
            self->restart = true;
        }

        self->process();
        if (measured) Debug::cycle_measure_n(self->instanceIndex);
        finished = frame;
        self->done.store(frame, std::memory_order_release);
    }
    return nullptr;
}
