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
#include "porting/Denormals.h"
#include "porting/Log.h"
#include "porting/Task.h"
#include "porting/TextHelpers.h"

#include <cmath>
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

long futex(std::atomic<uint32_t>* word, int op, uint32_t value)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is a plain 32-bit word");
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, nullptr, nullptr, 0);
}

float dbToGain(double db)
{
    return float(std::pow(10.0, db * 0.05));
}

} // namespace

std::vector<NamPlayer*> NamPlayer::instances;

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
{
}

NamPlayer::NamPlayer(Node* parent, Node* listParent, NodePreset* preset, const char* key, const char* label,
                     bool monoBypass)
    : AudioBlock(label, parent, &NamPlayer::exec, BLOCK_PREPEND), monoBypass(monoBypass), preset(preset)
{
    for (int& element : slotElement) element = -1;
    initialize(listParent, this, key);

    // Every stored model is built now, so that choosing one later costs no parsing.
    for (int i = 0; i < kSlots; ++i) loadModel(i);

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

    lowStage = new QuadBiquad();
    midStage = new QuadBiquad();
    trebleStage = new QuadBiquad();
    dcCut = new QuadBiquad();

    xTaskCreatePinnedToCore(&NamPlayer::playerThread, "NAM player", 4096, this, kWorkerPriority, &worker,
                            unsigned(instances.size() + 1));
}

void NamPlayer::initialize(Node* listParent, NamPlayer* player, const char* key)
{
    player->modelList = new NodeList(listParent, key, kListLabel, kListItemType, kElementSize, kSlots,
                                     kTransferChunk, true);
    for (int i = 0; i < kSlots; ++i) {
        player->slotElement[i] = player->modelList->elementAt(i);
        player->modelTexts[i].set(player->elementText(i));
    }
    player->modelList->setOnDataChange(&NamPlayer::updateList);
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
    for (NamPlayer* player : instances) {
        if (player->modelList != list) continue;
        player->modelTexts[index].set(player->elementText(index));
        player->changed[index].store(1, std::memory_order_release);
    }
}

void NamPlayer::followReorder()
{
    for (int i = 0; i < kSlots; ++i) {
        const int element = modelList->elementAt(i);
        if (element == slotElement[i]) continue;
        slotElement[i] = element;
        modelTexts[i].set(elementText(i));
        changed[i].store(1, std::memory_order_release);
    }
}

bool NamPlayer::hasModel(int index) const
{
    return index >= 0 && index < kSlots && loaded[index].load(std::memory_order_acquire) == 1 && models[index];
}

void NamPlayer::loadModel(int index)
{
    if (index < 0 || index >= kSlots) return;
    if (loaded[index].load(std::memory_order_acquire) != 0) return; // the worker may still run it

    delete models[index];
    models[index] = nullptr;
    if (index == currentIndex.load(std::memory_order_relaxed)) refreshAdjustments = true;

    // Cleared before the text is read: a change arriving meanwhile marks the slot again.
    const int32_t wasChanged = changed[index].exchange(0, std::memory_order_acq_rel);
    const std::shared_ptr<const std::string> text = modelTexts[index].snapshot();
    if (text->empty()) {
        if (wasChanged) changed[index].store(1, std::memory_order_release);
        return;
    }

    NeuralAudio::NeuralModel* model = nullptr;
    try {
        std::istringstream stream(*text);
        model = NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam");
    } catch (const std::exception&) {
        LOG_E(kTag, "Error parsing nam file\n");
    } catch (...) {
        LOG_E(kTag, "Error parsing nam file\n");
    }
    if (model) model->Prewarm();
    models[index] = model;
    loaded[index].store(1, std::memory_order_release);
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
    enabled.store(fx::isOn(onOff, extOnOff.get()) ? 1 : 0, std::memory_order_relaxed);

    followReorder();
    for (int i = 0; i < kSlots; ++i)
        if (changed[i].load(std::memory_order_acquire) == 1) loadModel(i);

    lowStage->set_lpf_shelf(100.0f, 0.7f, low->getValue());
    midStage->set_peaking(800.0f, 0.7f, mid->getValue());
    trebleStage->set_hpf_shelf(5000.0f, 0.7f, treble->getValue());
    dcCut->set_lo_cut_1_order(2.0f);

    inputGain.store(dbToGain(double(gain->getValue()) + inputAdjustment), std::memory_order_relaxed);
    const double taper = fx::volumeTaper(volume->getValue());
    outputGain.store(float(taper * std::pow(10.0, (outputAdjustment + kOutputReferenceDb) * 0.05)),
                     std::memory_order_relaxed);

    const int idx = modelSelector->getIndex();
    const bool refresh = refreshAdjustments;
    refreshAdjustments = false;
    if (idx != currentIndex.load(std::memory_order_relaxed) || refresh) {
        if (hasModel(idx)) {
            NeuralAudio::NeuralModel* model = models[idx];
            // The worker runs the slot already when only its adjustments are read again.
            if (idx != currentIndex.load(std::memory_order_relaxed)) model->Prewarm();
            inputAdjustment = model->GetRecommendedInputDBAdjustment();
            outputAdjustment = model->GetRecommendedOutputDBAdjustment();
        } else {
            // Without a model the signal passes dry: a former model's adjustment would only
            // make it louder or softer.
            inputAdjustment = 0.0f;
            outputAdjustment = 0.0f;
        }
        currentIndex.store(idx, std::memory_order_release);
    }
    metaIn->setValue(inputAdjustment);
    metaOut->setValue(outputAdjustment);

    if (pendingOverruns.exchange(0, std::memory_order_relaxed) > 0)
        LOG_E(kTag, "CPU Overrun %d %d\n", kWarmUpFrames, instanceIndex);
    return false;
}

bool NamPlayer::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<NamPlayer*>(block);
    const uint32_t handed = self->handed.load(std::memory_order_relaxed);
    const bool late = handed != self->done.load(std::memory_order_acquire);
    if (self->warmUpCount < kWarmUpFrames) {
        ++self->warmUpCount;
    } else if (late) {
        self->pendingOverruns.fetch_add(1, std::memory_order_relaxed);
        Debug::add_overrun_cnt_n(self->instanceIndex);
    }

    if (self->enabled.load(std::memory_order_relaxed)) {
        const float g = self->inputGain.load(std::memory_order_relaxed);
        for (int i = 0; i < FRAME_SAMPLES; ++i)
            std::atomic_ref<float>(self->inputBuffer[i]).store(frame[0][i] * g, std::memory_order_relaxed);
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
    if (!enabled.load(std::memory_order_relaxed)) {
        std::memcpy(outputBuffer, workBuffer, sizeof outputBuffer);
        return;
    }
    const int idx = currentIndex.load(std::memory_order_acquire);
    if (hasModel(idx)) models[idx]->Process(workBuffer, outputBuffer, FRAME_SAMPLES);
    else std::memcpy(outputBuffer, workBuffer, sizeof outputBuffer);
    for (float& sample : outputBuffer)
        if (!valid_float(sample)) sample = 0.0f;
    dcCut->exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    lowStage->exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    midStage->exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    trebleStage->exec(outputBuffer, outputBuffer, FRAME_SAMPLES);
    const float g = outputGain.load(std::memory_order_relaxed);
    bool blown = false;
    for (float& sample : outputBuffer) {
        sample *= g;
        blown |= !valid_float(sample);
    }
    // A finite but absurd model output can still overflow the tone stages; their memory would then
    // hold infinities for good. Silence the frame and start the stages afresh (this thread owns them).
    if (blown) {
        std::memset(outputBuffer, 0, sizeof outputBuffer);
        dcCut->reset();
        lowStage->reset();
        midStage->reset();
        trebleStage->reset();
    }
}

void* NamPlayer::playerThread(void* argument)
{
    auto* self = static_cast<NamPlayer*>(argument);
    LOG_I(kTag, "Thread started\n");
    std::fflush(stdout);
    flush_denormals();
    uint32_t finished = self->done.load(std::memory_order_relaxed);
    for (;;) {
        while (self->wakeWord.load(std::memory_order_acquire) != 1) futex(&self->wakeWord, FUTEX_WAIT, 0);
        self->wakeWord.store(0, std::memory_order_relaxed);
        // The newest frame; a wake-up for a frame already taken runs nothing.
        const uint32_t frame = self->handed.load(std::memory_order_acquire);
        if (frame == finished) continue;
        Debug::cycle_start_n(self->instanceIndex);

        // Give changed slots back to compile, which rebuilds only what the worker no longer runs.
        for (int i = 0; i < kSlots; ++i)
            if (self->changed[i].load(std::memory_order_acquire) == 1 &&
                self->loaded[i].load(std::memory_order_relaxed) == 1)
                self->loaded[i].store(0, std::memory_order_release);

        self->process();
        Debug::cycle_measure_n(self->instanceIndex);
        finished = frame;
        self->done.store(frame, std::memory_order_release);
    }
    return nullptr;
}
