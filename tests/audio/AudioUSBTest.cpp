#include "audio/AudioUSB.h"
#include "EngineSupport.h"
#include "SimulatedUsbHost.h"
#include "audio/Alsa.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

const std::string kStatePath = "/sys/class/udc/fe980000.usb/state";

void setControllerState(const char* text)
{
    write_file(Paths::map(kStatePath), text);
    AudioUSB::pollController();
}

float frame[2][16];

void fillFrame(float left, float right)
{
    for (int k = 0; k < 16; ++k) {
        frame[0][k] = left;
        frame[1][k] = right;
    }
}

// The USB side as the unit starts it: tree, simulated host, controller configured, nodes.
SimulatedUsbHost& startUsb()
{
    makeSystemTree();
    static std::unique_ptr<SimulatedUsbHost> host;
    host = std::make_unique<SimulatedUsbHost>(); // a fresh host for each test of the process
    alsa_set_backend(host.get());
    write_file(Paths::map(kStatePath), "configured\n");
    AudioUSB::initialize();
    AudioUSB::pollController();
    return *host;
}

NodeEnum* node(const char* path)
{
    return dynamic_cast<NodeEnum*>(System::root->pathToNode(path));
}

} // namespace

TEST(AudioUSB, InitializeBuildsItsNodesUnderAnExistingUsbFolderOnce)
{
    makeSystemTree();
    auto* usb = new NodeItem(System::root, "usb", "USB", "", ItemType::SFOLDER);
    AudioUSB::initialize();
    ASSERT_EQ(usb->childrenCount(), 3);
    auto* mode = dynamic_cast<NodeEnum*>(usb->childrenAt(0));
    auto* status = dynamic_cast<NodeEnum*>(usb->childrenAt(1));
    auto* volume = dynamic_cast<NodeFloat*>(usb->childrenAt(2));
    ASSERT_TRUE(mode && status && volume);
    EXPECT_STREQ(mode->getName(), "mode");
    EXPECT_STREQ(mode->getDisplayName(), "Audio Mode");
    EXPECT_STREQ(mode->getValueText(), "MONITOR");
    ASSERT_EQ(mode->getItemCount(), 2);
    EXPECT_STREQ(mode->getOptions()[0], "STANDARD");
    EXPECT_STREQ(mode->getOptions()[1], "MONITOR");
    EXPECT_STREQ(status->getName(), "_status");
    EXPECT_STREQ(status->getValueText(), "OFF");
    EXPECT_EQ(status->getItemCount(), 3);
    EXPECT_STREQ(volume->getName(), "_volume");
    EXPECT_EQ(volume->getMin(), -50.0f);
    EXPECT_EQ(volume->getValue(), -50.0f);
    EXPECT_FALSE(AudioUSB::isActive()); // until the controller says so

    StdoutCapture out;
    AudioUSB::initialize();
    EXPECT_EQ(out.text(), "W (AudioUSB): Already initialized\n");
    EXPECT_EQ(usb->childrenCount(), 3);
}

TEST(AudioUSB, OnlyAConfiguredControllerMakesItActive)
{
    makeSystemTree();
    AudioUSB::initialize();
    EXPECT_NE(System::root->pathToNode("root\\usb\\mode"), nullptr); // folder made when absent
    const struct {
        const char* state;
        bool active;
    } cases[] = {{"configured\n", true},    {"suspended\n", false}, {"configured", true}, {"", false},
                 {"not attached\n", false}, {"configuredX\n", true}};
    for (auto c : cases) {
        setControllerState(c.state);
        EXPECT_EQ(AudioUSB::isActive(), c.active) << c.state;
    }
    std::remove(Paths::map(kStatePath).c_str());
    AudioUSB::pollController();
    EXPECT_FALSE(AudioUSB::isActive());
}

TEST(AudioUSB, FrameIsLeftAloneWithoutHostOrAudioCard)
{
    SimulatedUsbHost& host = startUsb();
    AudioUSB::compile(); // opens the streams
    ASSERT_TRUE(alsa_streams_open());
    node("root\\usb\\mode")->setValue("STANDARD");
    AudioUSB::compile();

    setControllerState("suspended\n"); // cable without a configured host ("Data" mode too)
    fillFrame(0.5f, -0.5f);
    AudioUSB::write(frame);
    EXPECT_EQ(frame[0][0], 0.5f);
    EXPECT_EQ(frame[1][15], -0.5f);

    setControllerState("configured\n");
    host.unplug(); // no gadget audio card: the streams close and stay closed
    host.injectXrun(AlsaStream::Capture);
    int block[32];
    alsa_read(block, 16); // the audio thread meets the error
    AudioUSB::compile();
    ASSERT_FALSE(alsa_streams_open());
    AudioUSB::write(frame);
    EXPECT_EQ(frame[0][3], 0.5f);
    EXPECT_EQ(frame[1][3], -0.5f);
}

TEST(AudioUSB, StandardReplacesAndMonitorAddsTheHostAtVolumeToTheFourth)
{
    SimulatedUsbHost& host = startUsb();
    host.mixerValue = 50; // half of the host's volume range: 0.5^4 = 0.0625
    node("root\\usb\\mode")->setValue("STANDARD");
    AudioUSB::compile();
    ASSERT_TRUE(alsa_streams_open());
    AudioUSB::compile();
    EXPECT_FLOAT_EQ(AudioUSB::data_volume[0].load(), 0.0625f);
    auto* volume = dynamic_cast<NodeFloat*>(System::root->pathToNode("root\\usb\\_volume"));
    EXPECT_NEAR(volume->getValue(), -24.08f, 0.01f);

    // Nothing from the host yet: the host's silence replaces the output.
    fillFrame(0.25f, 0.25f);
    AudioUSB::write(frame);
    EXPECT_EQ(frame[0][0], 0.0f);

    const float unit = 256.0f / 2147483648.0f * 0.0625f; // one step of the host's counter
    host.advanceFrames(3); // one USB packet: host frames 0..47
    fillFrame(0.25f, 0.25f);
    AudioUSB::write(frame);
    for (int k = 0; k < 16; ++k) {
        EXPECT_FLOAT_EQ(frame[0][k], float(k) * unit) << k;
        EXPECT_FLOAT_EQ(frame[1][k], -float(k) * unit) << k;
    }

    node("root\\usb\\mode")->setValue("MONITOR");
    AudioUSB::compile();
    fillFrame(0.25f, 0.25f);
    AudioUSB::write(frame);
    for (int k = 0; k < 16; ++k) {
        EXPECT_FLOAT_EQ(frame[0][k], 0.25f + float(16 + k) * unit) << k;
        EXPECT_FLOAT_EQ(frame[1][k], 0.25f - float(16 + k) * unit) << k;
    }

    // What goes to the host is the unit's frame before the host's audio was mixed in, in either mode.
    host.setFill(AlsaStream::Playback, 0);
    fillFrame(0.25f, 0.25f);
    AudioUSB::write(frame);
    std::vector<int32_t> sent = host.queued(AlsaStream::Playback);
    ASSERT_EQ(sent.size(), 16u);
    for (int32_t word : sent) EXPECT_EQ(word, 536870912);
}

TEST(AudioUSB, StatusShowsSyncOnlyInsideTheWindowAndOffWhenInactive)
{
    SimulatedUsbHost& host = startUsb();
    NodeEnum* status = node("root\\usb\\_status");
    AudioUSB::compile();
    AudioUSB::compile();
    EXPECT_STREQ(status->getValueText(), "SYNC");

    host.setFill(AlsaStream::Playback, 224);
    fillFrame(0.0f, 0.0f);
    AudioUSB::write(frame);
    AudioUSB::compile();
    EXPECT_STREQ(status->getValueText(), "ON");

    host.mixerValue = 0;
    setControllerState("suspended\n");
    AudioUSB::compile();
    EXPECT_STREQ(status->getValueText(), "OFF");
    EXPECT_EQ(AudioUSB::data_volume[0].load(), 0.0f);

    setControllerState("configured\n");
    AudioUSB::compile();
    EXPECT_EQ(AudioUSB::data_volume[0].load(), 0.0f); // volume 0: silence
    EXPECT_EQ(dynamic_cast<NodeFloat*>(System::root->pathToNode("root\\usb\\_volume"))->getValue(), -50.0f);
}
