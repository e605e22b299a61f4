#include "effects/Expr.h"

#include "BlockTestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace fxtest;
using dsptest::db;

namespace {

struct Pedal {
    Node* folder = scratchFolder("expr");
    Expr* expr = keep(new Expr(folder));
    // Settings first, then the first compile (which takes the position at once) and a whole
    // cross-fade, so that the newest coefficients are the ones heard.
    explicit Pedal(std::vector<std::pair<const char*, const char*>> settings = {})
    {
        setNode(folder, "on_off", "\"ON\"");
        for (auto& [path, value] : settings) setNode(folder, path, value);
        expr->compile();
        settle();
    }
    void settle()
    {
        std::vector<float> silence(16 * 160);
        run(expr, &Expr::exec, Stereo(silence, silence));
    }
    double gainAt(double hz) { return sineGainDb(expr, &Expr::exec, hz); }
};

TEST(Expr, WithBothSectionsOffTheLeftPassesAtUnityAndTheRightIsNeverTouched)
{
    Pedal p;
    auto l = dsptest::noise(4800, 1), r = dsptest::noise(4800, 2);
    Stereo out = run(p.expr, &Expr::exec, Stereo(l, r));
    for (std::size_t i = 0; i < l.size(); ++i) ASSERT_NEAR(out.l[i], l[i], 1e-6) << i;
    EXPECT_EQ(out.r, r);

    Node* folder = scratchFolder("off");
    Expr off(folder); // switched off: nothing changes
    off.compile();
    out = run(&off, &Expr::exec, Stereo(l, r));
    EXPECT_EQ(out.l, l);
}

TEST(Expr, VolumeFollowsTheTaperAndBoost)
{
    struct Case {
        const char* vol;
        const char* boost;
        double db;
    } cases[] = {{"100", "0", 0}, {"100", "6", 6}, {"100", "12", 12}};
    for (auto& c : cases) {
        Pedal p({{"vfold\\on_off", "\"ON\""}, {"vfold\\vol", c.vol}, {"vfold\\boost", c.boost}});
        EXPECT_NEAR(p.gainAt(1000), c.db, 0.05) << c.vol << " " << c.boost;
    }
    // Half way down the pedal is well down, as a volume taper should be (about -16.5 dB).
    Pedal half({{"vfold\\on_off", "\"ON\""}, {"vfold\\vol", "50"}});
    EXPECT_GT(half.gainAt(1000), -20.0);
    EXPECT_LT(half.gainAt(1000), -13.0);
    Pedal mute({{"vfold\\on_off", "\"ON\""}, {"vfold\\vol", "0"}});
    auto l = dsptest::noise(4800, 1);
    EXPECT_EQ(peak(run(mute.expr, &Expr::exec, Stereo(l, l)).l), 0.0);
}

TEST(Expr, WahPeakFollowsThePedalBetweenTheSweepLimits)
{
    for (const char* mode : {"\"Cry\"", "\"Vintage\""}) {
        SCOPED_TRACE(mode);
        Pedal heel({{"wfolder\\on_off", "\"ON\""}, {"wfolder\\mode", mode}, {"wfolder\\pos", "0"}});
        Pedal toe({{"wfolder\\on_off", "\"ON\""}, {"wfolder\\mode", mode}, {"wfolder\\pos", "100"}});
        // Heel down the low sweep limit (450 Hz) sounds louder than the high one (2200 Hz); toe down
        // the other way round.
        EXPECT_GT(heel.gainAt(450) - heel.gainAt(2200), 6.0);
        EXPECT_GT(toe.gainAt(2200) - toe.gainAt(450), 6.0);
    }
}

TEST(Expr, OffValueFadesTheWahOutAtTheEndOfThePedal)
{
    struct Case {
        const char* off;
        const char* pos;
        bool dry;
    } cases[] = {{"\"95%\"", "100", true}, {"\"95%\"", "95", false}, {"\"95%\"", "80", false},
                 {"\"90%\"", "100", true}, {"\"90%\"", "90", false}, {"\"Disabled\"", "100", false}};
    auto l = dsptest::noise(4800, 4);
    for (auto& c : cases) {
        Pedal p({{"wfolder\\on_off", "\"ON\""}, {"wfolder\\off_val", c.off}, {"wfolder\\pos", c.pos}});
        Stereo out = run(p.expr, &Expr::exec, Stereo(l, l));
        double difference = 0;
        for (std::size_t i = 0; i < l.size(); ++i)
            difference = std::max(difference, double(std::fabs(out.l[i] - l[i])));
        if (c.dry) EXPECT_LT(difference, 1e-5) << c.off << " " << c.pos;
        else EXPECT_GT(difference, 0.05) << c.off << " " << c.pos;
    }
}

TEST(Expr, PositionNeedsAFifthOfASecondForAFullSweep)
{
    Pedal p({{"wfolder\\on_off", "\"ON\""}, {"wfolder\\pos", "0"}});
    EXPECT_EQ(p.expr->getSmoothedPosition(), 0.0f);
    // The position moves by the time between compile passes: the clock starts before the last pass
    // ahead of the change.
    auto start = std::chrono::steady_clock::now();
    p.expr->compile();
    setNode(p.folder, "wfolder\\pos", "100");
    p.expr->compile();
    EXPECT_LT(p.expr->getSmoothedPosition(), 0.05f);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    p.expr->compile();
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(p.expr->getSmoothedPosition(), float(elapsed / 0.2) + 0.01f);
    EXPECT_GT(p.expr->getSmoothedPosition(), 0.3f);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    p.expr->compile();
    EXPECT_EQ(p.expr->getSmoothedPosition(), 1.0f);
}

TEST(Expr, NewCoefficientsCrossFadeInFiftyMilliseconds)
{
    Pedal p({{"vfold\\on_off", "\"ON\""}, {"vfold\\vol", "100"}});
    setNode(p.folder, "vfold\\vol", "72"); // about -6.5 dB
    p.expr->compile();
    // A steady input shows the gain's path: a ramp over 150 frames, no step.
    std::vector<float> dc(16 * 200, 0.5f);
    Stereo out = run(p.expr, &Expr::exec, Stereo(dc, dc));
    const double endLevel = out.l.back();
    EXPECT_LT(endLevel, 0.3);
    EXPECT_NEAR(out.l[16 * 75], (0.5 + endLevel) / 2, 0.01); // half-way at half time
    EXPECT_LT(maxStep(out.l), (0.5 - endLevel) / 150 * 1.5);
    EXPECT_NEAR(out.l[16 * 150 + 8], endLevel, 1e-4);
}

TEST(Expr, ExtremeSettingsStayFinite)
{
    for (const char* mode : {"\"Cry\"", "\"Vintage\""})
        for (const char* pos : {"0", "100"})
            for (const char* emph : {"0", "100"}) {
                Pedal p({{"wfolder\\on_off", "\"ON\""},
                         {"wfolder\\mode", mode},
                         {"wfolder\\pos", pos},
                         {"wfolder\\int", emph},
                         {"wfolder\\lo_sw", "200"},
                         {"wfolder\\hi_sw", "4000"},
                         {"vfold\\on_off", "\"ON\""},
                         {"vfold\\vol", "100"},
                         {"vfold\\boost", "12"}});
                auto l = dsptest::noise(48000, 5, 1.0f);
                Stereo out = run(p.expr, &Expr::exec, Stereo(l, l));
                EXPECT_TRUE(allFinite(out.l)) << mode << pos << emph;
                EXPECT_LT(peak(out.l, 24000), 100.0) << mode << pos << emph;
            }
}

} // namespace
