#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/AudioProcessor.h"
#include "driver/Codec.h"
#include "driver/CodecInterface.h"
#include "driver/IOArray.h"
#include "params/KeepNode.h"
#include "params/NodeEnum.h"
#include "params/NodeItem.h"
#include "porting/Clock.h"
#include "porting/Task.h"
#include "ui/Light.h"

namespace {

// The PWM level and output bit of a panel output, as the light left them.
int pwm(int bit)
{
    return IOArray::pwm_status[(IOArray::block_size - 1 - bit / 8) * 8 + bit % 8].load();
}

int out(int bit)
{
    return (IOArray::output_status[IOArray::block_size - 1 - bit / 8].load() >> (bit % 8)) & 1;
}

std::vector<int> levels()
{
    return {pwm(Light::kRedOutput), pwm(Light::kGreenOutput), pwm(Light::kBlueOutput)};
}

// A codec that hands the engine a full-scale frame whenever it is asked.
class ClippingCodec : public CodecInterface {
public:
    ClippingCodec() : CodecInterface("Clipping") {}
    bool initialize() override { return true; }
    bool start(void (*)()) override { return true; }
    bool audioRead(float) override
    {
        for (auto& channel : Codec::data)
            for (float& s : channel) s = clipping ? 1.0f : 0.0f;
        return true;
    }
    bool audioWrite(float) override { return true; }
    void setInputGain(int, int) override {}
    bool clipping = true;
};

class LightTest : public testing::Test {
protected:
    void SetUp() override
    {
        IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
        root = keep(new NodeItem(nullptr, "root", "root", "", "system"));
    }
    NodeItem* root = nullptr;
};

TEST_F(LightTest, NothingIsDrivenBeforeInitialize)
{
    Light::tasks();
    EXPECT_EQ(levels(), (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(out(Light::kRedOutput), 0);
}

TEST_F(LightTest, ColourSourcesAndScales)
{
    Light::setDefaultColor("00FF00");
    Light::initialize(root);
    NodeEnum* status = new NodeEnum(root, "status", "Status", {"OFF", "ON"}, "ON");
    Light::setStatus(status);
    ASSERT_NE(Light::color, nullptr);
    EXPECT_EQ(Light::color->getText(), "00FF00");

    struct Step {
        const char* what;
        void (*action)(NodeEnum*);
        std::vector<int> expected; // red, green, blue levels out of 32
    };
    const std::vector<Step> steps = {
        {"stored default", [](NodeEnum*) {}, {0, 7, 0}},
        {"full red reaches half the scale", [](NodeEnum*) { Light::forceColor("FF0000"); }, {15, 0, 0}},
        {"white", [](NodeEnum*) { Light::forceColor("FFFFFF"); }, {15, 7, 7}},
        {"temporary colour overrides", [](NodeEnum*) { Light::setTempColor("0000FF"); }, {0, 0, 7}},
        {"a text not six long clears it", [](NodeEnum*) { Light::setTempColor("FFF"); }, {15, 7, 7}},
        {"status OFF darkens", [](NodeEnum* s) { s->setValue("OFF"); }, {0, 0, 0}},
        {"but a temporary colour still shows", [](NodeEnum*) { Light::setTempColor("FF0000"); }, {15, 0, 0}},
        {"forcing drops the temporary colour",
         [](NodeEnum* s) {
             Light::forceColor("808080");
             s->setValue("ON");
         },
         {8, 4, 4}},
        {"disabled: left as it was",
         [](NodeEnum*) {
             Light::disable();
             Light::forceColor("000000");
         },
         {8, 4, 4}},
        {"enabled again", [](NodeEnum*) { Light::enable(); }, {0, 0, 0}},
    };
    for (const Step& s : steps) {
        s.action(status);
        Light::tasks();
        EXPECT_EQ(levels(), s.expected) << s.what;
    }
    EXPECT_EQ(out(Light::kRedOutput) + out(Light::kGreenOutput) + out(Light::kBlueOutput), 3);

    // A second initialize keeps the first colour item.
    NodeItem* first = Light::color;
    Light::initialize(root);
    EXPECT_EQ(Light::color, first);
}

TEST_F(LightTest, SaturationBlinksRedEvery200ms)
{
    Light::initialize(root);
    ClippingCodec codec;
    Codec::addInterface(&codec);
    Codec::search();
    std::vector<int> reds;
    uint64_t t0 = esp_timer_get_time(), firstChange = 0, lastChange = 0;
    while (reds.size() < 5 && esp_timer_get_time() - t0 < 20000000) {
        const uint64_t passStart = esp_timer_get_time();
        AudioProcessor::processBlock();
        Light::tasks();
        int red = pwm(Light::kRedOutput);
        EXPECT_EQ(pwm(Light::kGreenOutput), 0);
        if (reds.empty() || reds.back() != red) {
            reds.push_back(red);
            if (reds.size() == 2) firstChange = passStart;
            lastChange = esp_timer_get_time();
        }
        vTaskDelay(10000);
    }
    // The clip is held for 400 frames after it ends.
    codec.clipping = false;
    for (int i = 0; i < AudioProcessor::kSaturationHold; i++) AudioProcessor::processBlock();
    ASSERT_FALSE(AudioProcessor::saturation());
    // Dark first, then red and dark in turn, each change at the first pass more than 200 ms after the
    // previous one: the four changes span more than three periods.
    ASSERT_EQ(reds.size(), 5u);
    EXPECT_GT(lastChange - firstChange, 600000u);
    for (size_t i = 0; i < reds.size(); i++) EXPECT_EQ(reds[i], i % 2 ? 15 : 0);
    Light::tasks();
    EXPECT_EQ(levels(), (std::vector<int>{15, 4, 0})) << "the stored colour FF8A00 returns";
}

} // namespace
