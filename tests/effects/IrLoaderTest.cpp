#include "effects/IrLoader.h"
#include "BlockTestUtil.h"
#include "params/NodeList.h"
#include "params/NodeParList.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <limits>

using fxtest::keep;
using fxtest::run;
using fxtest::scratchFolder;
using fxtest::setNode;
using fxtest::sineGainDb;
using fxtest::Stereo;

namespace {

struct Cab {
    Node* f;
    IrLoader* ir;
};

Cab build()
{
    Node* f = scratchFolder("cab");
    return {f, keep(new IrLoader(f, f->getParent(), "ir_list"))};
}

// A response that is `gain` at sample `at` and 0 elsewhere.
std::vector<float> spike(std::size_t at, float gain)
{
    std::vector<float> ir(IrLoader::kTaps);
    ir[at] = gain;
    return ir;
}

void store(IrLoader* cab, int position, const char* name, const std::vector<float>& ir)
{
    cab->getList()->setElementAt(position, name, ir.data());
}

std::size_t peakAt(const std::vector<float>& x)
{
    return std::size_t(
        std::max_element(x.begin(), x.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }) - x.begin());
}

TEST(IrLoader, OffUntouchedAndOnWithoutResponseBandLimitsOnly)
{
    auto [f, cab] = build();
    cab->compile();
    auto noise = dsptest::noise(960, 2);
    Stereo off = run(cab, &IrLoader::exec, Stereo(noise, noise));
    EXPECT_EQ(off.l, noise);
    EXPECT_EQ(off.r, noise);

    setNode(f, "on_off", "\"ON\"");
    cab->compile();
    for (bool right : {false, true}) {
        EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000, right), 0.0, 0.1);
        EXPECT_LT(sineGainDb(cab, &IrLoader::exec, 8, right), -6.0); // first-order 20 Hz high-pass
    }
}

TEST(IrLoader, MonoConvolvesBothChannelsWithTheFirstResponse)
{
    auto [f, cab] = build();
    store(cab, 0, "cabA", spike(5, 0.5f));
    store(cab, 1, "cabB", spike(40, 1.0f));
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "ir", "\"cabA\"");
    setNode(f, "ir2\\ir", "\"cabB\""); // selected but its switch is off
    cab->compile();
    auto noise = dsptest::noise(4800, 3);
    Stereo out = run(cab, &IrLoader::exec, Stereo(noise, noise));
    EXPECT_EQ(out.l, out.r);
    Stereo imp = run(cab, &IrLoader::exec, Stereo(fxtest::impulse(4096, 1024), fxtest::impulse(4096, 1024)));
    EXPECT_EQ(peakAt(imp.l), 1029u);
    EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000), -6.02, 0.1);
    // Levels belong to the stereo mode only.
    setNode(f, "ir2\\balance1", "6");
    cab->compile();
    EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000), -6.02, 0.1);
}

TEST(IrLoader, SecondSwitchWithoutSecondResponseUsesTheFirstTwice)
{
    auto [f, cab] = build();
    store(cab, 0, "cabA", spike(5, 0.5f));
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "ir", "\"cabA\"");
    setNode(f, "ir2\\on_off", "\"ON\"");
    setNode(f, "ir2\\balance1", "6");
    cab->compile();
    auto noise = dsptest::noise(4800, 3);
    Stereo both = run(cab, &IrLoader::exec, Stereo(noise, noise));
    EXPECT_EQ(both.l, both.r);
    EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000), -6.02, 0.1);
}

TEST(IrLoader, StereoPathsPanAndLevelApart)
{
    struct Case {
        const char* pan1;
        const char* pan2;
        const char* balance1;
        double leftToLeftDb, leftToRightDb; // a left-only input through path 1
    };
    const double centre = dsptest::db(std::cos(dsptest::kPi / 4));
    const Case cases[] = {
        {"-100", "100", "0", 0.0, -200.0},
        {"-100", "100", "6", 6.0, -200.0},
        {"0", "0", "0", centre, centre},
        {"100", "-100", "0", -200.0, 0.0},
    };
    for (const Case& c : cases) {
        auto [f, cab] = build();
        store(cab, 0, "cabA", spike(0, 1.0f));
        store(cab, 1, "cabB", spike(30, 1.0f));
        setNode(f, "on_off", "\"ON\"");
        setNode(f, "ir", "\"cabA\"");
        setNode(f, "ir2\\on_off", "\"ON\"");
        setNode(f, "ir2\\ir", "\"cabB\"");
        setNode(f, "ir2\\pan1", c.pan1);
        setNode(f, "ir2\\pan2", c.pan2);
        setNode(f, "ir2\\balance1", c.balance1);
        cab->compile();
        auto s = dsptest::sine(12000, 1000, 0.25);
        Stereo out = run(cab, &IrLoader::exec, Stereo(s, std::vector<float>(s.size())));
        auto level = [](const std::vector<float>& x) {
            return dsptest::db(std::max(1e-10, dsptest::amplitudeAt(x, 6000, 1000) / 0.25));
        };
        auto expectLevel = [](double got, double want, const char* what) {
            if (want < -100) {
                EXPECT_LT(got, -100.0) << what;
            } else {
                EXPECT_NEAR(got, want, 0.1) << what;
            }
        };
        expectLevel(level(out.l), c.leftToLeftDb, c.pan1);
        expectLevel(level(out.r), c.leftToRightDb, c.pan1);
        // Path 2 carries the right input with its own 30-sample response.
        auto imp = fxtest::impulse(2048, 512);
        Stereo r = run(cab, &IrLoader::exec, Stereo(std::vector<float>(imp.size()), imp));
        EXPECT_EQ(peakAt(std::string(c.pan2) == "100" ? r.r : r.l), 542u) << c.pan2;
    }
}

TEST(IrLoader, StoredResponseThatCannotBeACabinetsIsPassedOverAndSaidOnce)
{
    // Stored by an older program that did not check: written straight into the element's file.
    auto bad = spike(3, 1e6f);
    bad[100] = std::numeric_limits<float>::quiet_NaN();
    Storage::open();
    write_file(test_root() + "/home/storage/" + make_storage_id("root\\ir_list:0"),
               std::string("broken").append(122, '\0').append(reinterpret_cast<const char*>(bad.data()), 8192));
    auto [f, cab] = build();
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "ir", "\"broken\"");
    StdoutCapture capture;
    for (int i = 0; i < 3; ++i) cab->compile();
    std::string log = capture.text();
    auto noise = dsptest::noise(4800, 6);
    Stereo out = run(cab, &IrLoader::exec, Stereo(noise, noise));
    EXPECT_TRUE(fxtest::allFinite(out.l) && fxtest::allFinite(out.r));
    EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000), 0.0, 0.1); // as with nothing selected
    EXPECT_EQ(log, "W (IrLoader): Impulse response \"broken\" passed over: impulse response sample 100 not a number\n");
    EXPECT_TRUE(static_cast<NodeParList*>(fxtest::findNode(f, "ir"))->isUnplayable());
    EXPECT_FALSE(cab->getList()->setElementAt(1, "again", bad.data())) << "nor stored again";
}

TEST(IrLoader, RewrittenResponseIsHeardAfterTheNextPass)
{
    auto [f, cab] = build();
    store(cab, 0, "cabA", spike(0, 1.0f));
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "ir", "\"cabA\"");
    cab->compile();
    EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000), 0.0, 0.1);
    store(cab, 0, "cabA", spike(0, 0.25f));
    cab->compile();
    EXPECT_NEAR(sineGainDb(cab, &IrLoader::exec, 1000), -12.04, 0.1);
}

} // namespace
