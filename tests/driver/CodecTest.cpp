#include "driver/Codec.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

namespace {

class ProbeCodec : public CodecInterface {
public:
    ProbeCodec(const char* name, bool present) : CodecInterface(name), present(present) {}
    bool initialize() override
    {
        ++probes;
        return present;
    }
    void initializeIO() override { ++ioCalls; }
    bool audioRead(float gain) override
    {
        lastGain = gain;
        return true;
    }
    void setInputGain(int, int) override {}
    bool present;
    int probes = 0, ioCalls = 0;
    float lastGain = 0.0f;
};

} // namespace

TEST(Codec, SearchTakesTheFirstThatAnswersAndStops)
{
    ProbeCodec absent("First", false), present("Second", true), later("Third", true);
    Codec::addInterface(&present); // already registered by its constructor: not twice
    Codec::addInterface(nullptr);
    StdoutCapture out;
    Codec::search();
    EXPECT_EQ(out.text(),
              "I (Codec): First search\nI (Codec): First not found\nI (Codec): Second search\n"
              "I (Codec): Second installed (fs=48000)\n");
    EXPECT_EQ(Codec::getActiveCodec(), &present);
    EXPECT_EQ(absent.ioCalls, 1);
    EXPECT_EQ(present.probes, 1);
    EXPECT_EQ(later.probes, 0);
    EXPECT_TRUE(Codec::audioRead(0.25f));
    EXPECT_EQ(present.lastGain, 0.25f);
}

TEST(Codec, EmptyRegistryReportsNoCodec)
{
    StdoutCapture out;
    Codec::search();
    EXPECT_EQ(out.text(), "ERROR (Codec): No audio codec connected\n");
    EXPECT_FALSE(Codec::audioWrite(1.0f));
}
