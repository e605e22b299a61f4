#include "dsp/SimpleDelay.h"

#include <gtest/gtest.h>

#include "DspTestUtil.h"

using namespace dsptest;

namespace {

// Runs silence until the cross-fade has settled (0.95^400 of the old tap is left).
void settle(SimpleDelay& d)
{
    float z[16] = {}, out[16];
    for (int i = 0; i < 400; ++i) d.exec(z, out, 16);
}

std::vector<float> run(SimpleDelay& d, const std::vector<float>& x, int split)
{
    return runSplit(x, split, [&](const float* in, float* out, int n) { d.exec(in, out, n); });
}

// The delay a settled line applies, found from an impulse.
int heardDelay(SimpleDelay& d)
{
    std::vector<float> x(d.getSize() + 32, 0.0f);
    x[0] = 1.0f;
    auto y = run(d, x, 16);
    for (std::size_t i = 0; i < y.size(); ++i)
        if (y[i] > 0.5f) return int(i);
    return -1;
}

} // namespace

TEST(SimpleDelay, RingIsThePowerOfTwoThatHoldsTheLength)
{
    struct Case {
        int length, size;
    } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {1000, 1024}, {1024, 1024}, {1025, 2048}, {16384, 16384}};
    for (auto c : cases) EXPECT_EQ(SimpleDelay(c.length).getSize(), c.size) << c.length;
}

TEST(SimpleDelay, DelayIsLimitedToTheRing)
{
    SimpleDelay d(1000);
    d.setDelay(5000);
    settle(d);
    d.setDelay(5000); // the compile pass repeats the call once the fade has settled
    EXPECT_EQ(d.getDelay(), 1023);
    EXPECT_EQ(heardDelay(d), 1023);
    d.setDelay(-4);
    settle(d);
    EXPECT_EQ(heardDelay(d), 0);
}

// A settled line delays any input exactly, whatever the split; delay 0 returns the sample written.
// The first delay is heard on the second tap; one reached from another delay on the first again.
TEST(SimpleDelay, SettledLineDelaysExactly)
{
    auto x = noise(3000, 3);
    for (int before : {-1, 700})
        for (int delay : {0, 1, 15, 16, 17, 500, 1023})
            for (int split : {1, 3, 16, 17}) {
                SimpleDelay d(1024);
                for (int step : {before, delay})
                    if (step >= 0) {
                        d.setDelay(step);
                        settle(d);
                    }
                auto y = run(d, x, split);
                for (std::size_t i = 0; i < x.size(); ++i)
                    ASSERT_EQ(y[i], i >= std::size_t(delay) ? x[i - delay] : 0.0f)
                        << "delay " << delay << " after " << before << " split " << split << " sample " << i;
            }
}

// A change of delay fades from the old tap to the new one over about 60 blocks, with no step larger
// than the signal's own.
TEST(SimpleDelay, DelayChangeCrossFadesWithoutSteps)
{
    const double hz = 100; // the new tap (240 samples later) is in anti-phase: the worst case
    auto x = sine(48000, hz, 0.5);
    SimpleDelay d(4096);
    d.setDelay(100);
    settle(d);
    std::vector<float> y(x.size());
    const std::size_t change = 9600;
    for (std::size_t i = 0; i < x.size(); i += 16) {
        if (i == change) d.setDelay(340);
        d.exec(x.data() + i, y.data() + i, 16);
    }
    const double naturalStep = 0.5 * 2 * kPi * hz / kFs;
    double largest = 0;
    for (std::size_t i = change - 160; i < change + 2000; ++i)
        largest = std::max(largest, double(std::abs(y[i] - y[i - 1])));
    EXPECT_LT(largest, 1.6 * naturalStep) << largest / naturalStep;

    auto expectTap = [&](std::size_t from, int delay, float tol) {
        double err = 0;
        for (std::size_t i = from; i < from + 160; ++i) err = std::max(err, double(std::abs(y[i] - x[i - delay])));
        return err <= tol;
    };
    EXPECT_TRUE(expectTap(change - 160, 100, 1e-6f));
    EXPECT_FALSE(expectTap(change + 30 * 16, 340, 0.05f)); // still fading after 30 blocks
    EXPECT_TRUE(expectTap(change + 60 * 16, 340, 0.05f)); // within 5 % after 60 blocks
    EXPECT_TRUE(expectTap(change + 300 * 16, 340, 1e-5f));
}

// A request made during a fade is taken only by a call after the fade has settled.
TEST(SimpleDelay, RequestsDuringAFadeWaitForIt)
{
    SimpleDelay d(2048);
    d.setDelay(200);
    float z[16] = {}, out[16];
    for (int i = 0; i < 10; ++i) d.exec(z, out, 16);
    d.setDelay(300); // mid-fade: ignored
    settle(d);
    EXPECT_EQ(heardDelay(d), 200);
    d.setDelay(300);
    settle(d);
    EXPECT_EQ(heardDelay(d), 300);
    EXPECT_EQ(d.getDelay(), 300);
}

// With modulation the read point lies m samples behind the tap, m = depth x a triangle phase that
// starts at 0.5, climbs by the rate per sample and turns only at block boundaries. A ramp input
// shows m directly: out = index - delay - m. A new depth glides in (the read point never jumps), so
// m is checked once the glide has landed, and the read point is checked for jumps before that.
TEST(SimpleDelay, ModulationSweepsATriangleBehindTheTap)
{
    const int delay = 100;
    const float rate = 0.01f, depth = 40;
    SimpleDelay d(4096);
    d.setDelay(delay);
    settle(d);
    std::vector<float> ramp(9600);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i);
    d.setModulation(rate, depth);
    auto y = run(d, ramp, 16);
    double phase = 0.5, dir = 1;
    double lo = 1e9, hi = -1e9;
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        if (i % 16 == 0) {
            if (phase < 16 * rate) dir = 1;
            if (phase >= 1) dir = -1;
        }
        phase += dir * rate;
        double m = depth * phase;
        if (i > 200) { // the ramp has reached the read point
            ASSERT_LT(std::fabs(double(y[i]) - y[i - 1] - 1.0), 2 * rate * depth + 1e-3) << "sample " << i;
        }
        if (i >= 8000) {
            ASSERT_NEAR(double(i) - delay - y[i], m, 2e-3) << "sample " << i;
            lo = std::min(lo, m);
            hi = std::max(hi, m);
        }
    }
    EXPECT_LT(lo, 0.2 * depth);
    EXPECT_GT(hi, 0.95 * depth);
}
