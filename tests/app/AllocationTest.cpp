// The whole chain as the application builds it, its own block included, allocates nothing on the
// audio thread nor in the amp-model workers: every block on in a busy setting, frames through the
// engine's frame road (the compile passes run here, between the counted frames). The counter is the
// test programs' one (support/AllocationCounter.h).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/Kestrun.h"
#include "audio/AudioProcessor.h"
#include "audio/EngineSupport.h"
#include "base/System.h"
#include "effects/IrLoader.h"
#include "effects/NamPlayer.h"
#include "params/Node.h"
#include "params/NodeList.h"
#include "support/AllocationCounter.h"
#include "support/TempRoot.h"

namespace {

void set(const std::string& path, const std::string& text)
{
    Node* node = System::rootNode()->pathToNode(path);
    ASSERT_NE(node, nullptr) << path;
    node->fromString(text);
}

void store(NodeList* list, const char* name, const std::string& text)
{
    std::vector<char> element(size_t(list->getElementSize()), 0);
    std::memcpy(element.data(), text.data(), std::min(text.size(), element.size()));
    list->setElementAt(0, name, element.data());
}

// Frames of a tone through the frame road after each of a few compile passes; the allocations seen.
long framesCounted(ManualCodec& codec, Kestrun& app)
{
    long counted = 0;
    for (int pass = 0; pass < 3; ++pass) {
        AudioProcessor::compileBlocks();
        for (int k = 0; k < 64; ++k) {
            codec.fill(0.3f * float(k % 7) - 0.9f, 0.1f);
            alloccount::open();
            AudioProcessor::processBlock();
            for (NamPlayer* p : {app.namAmp, app.namDrive})
                while (p->isBusy()) std::this_thread::yield();
            counted += alloccount::close();
        }
    }
    return counted;
}

TEST(UnitAllocation, TheWholeChainAllocatesNothingOnTheAudioThread)
{
    System::initialize("ap0003");
    auto* app = new Kestrun(System::appNode(), System::rootNode());
    auto* codec = new ManualCodec;
    Codec::search();

    std::ifstream file(std::string(KESTRUN_TESTS_DIR) + "/data/nam/c_lstm_1x8.nam");
    const std::string model((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(model.empty());
    store(app->namAmp->getModelList(), "lstm", model);
    store(app->namDrive->getModelList(), "lstm", model);
    std::vector<float> ir(IrLoader::kTaps, 0.01f);
    app->irLoader->getList()->setElementAt(0, "cab", ir.data());
    for (const char* block : {"gate", "exp", "comp", "mod_pre", "drive", "amp", "ir", "eq", "mod", "delay", "reverb"})
        set(std::string("root\\app\\") + block + "\\on_off", "\"ON\"");
    set("root\\settings\\input\\pickup\\on_off", "\"ON\"");
    set("root\\app\\exp\\wfolder\\on_off", "\"ON\"");
    set("root\\app\\mod\\trfolder\\on_off", "\"ON\"");
    set("root\\app\\delay\\modfolder\\on_off", "\"ON\"");
    set("root\\app\\drive\\model", "\"lstm\"");
    set("root\\app\\amp\\model", "\"lstm\"");
    set("root\\app\\ir\\ir", "\"cab\"");
    // The workers start, and take their models, before the counting begins.
    AudioProcessor::compileBlocks();
    for (int k = 0; k < 4; ++k) AudioProcessor::processBlock();
    EXPECT_EQ(framesCounted(*codec, *app), 0);
    EXPECT_NE(app->namAmp->playingModel(), nullptr);

    set("root\\settings\\tuner\\on_off", "\"ON\""); // the tuner mutes and stops the chain
    EXPECT_EQ(framesCounted(*codec, *app), 0);
}

} // namespace
