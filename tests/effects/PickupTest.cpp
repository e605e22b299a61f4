#include "effects/Pickup.h"

#include "BlockTestUtil.h"
#include "effects/PickupTable.h"
#include "porting/Clock.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <complex>

using namespace fxtest;
using dsptest::db;

namespace {

struct Sim {
    Node* folder = scratchFolder("pickup");
    Pickup* pickup = keep(new Pickup(folder, false));
    Sim(const char* in, const char* out, bool on = true)
    {
        setNode(folder, "on_off", on ? "\"ON\"" : "\"OFF\"");
        setNode(folder, "in_pick", in);
        setNode(folder, "out_pick", out);
        pickup->compile();
    }
    std::vector<float> impulseResponse(std::size_t n = pickup_taps)
    {
        std::vector<float> x(n, 0.0f);
        x[0] = 1.0f;
        return run(pickup, &Pickup::exec, Stereo(x, x)).l;
    }
};

double responseDb(const float* ir, double hz)
{
    std::complex<double> acc = 0;
    for (int i = 0; i < pickup_taps; ++i)
        acc += double(ir[i]) * std::polar(1.0, -2 * dsptest::kPi * hz * i / dsptest::kFs);
    return db(std::abs(acc));
}

TEST(Pickup, SelectorsChooseTheirStoredResponse)
{
    struct Case {
        const char* in;
        const char* out;
        int entry;
    } cases[] = {
        {"\"Humbucker\"", "\"Humbucker Bright\"", 0},
        {"\"Single Coil\"", "\"Humbucker Rails\"", 21},
        {"\"Humbucker\"", "\"Humbucker Rails\"", 3},
        {"\"Single Coil Bright\"", "\"Single Coil Vintage\"", 53},
    };
    for (auto& c : cases) {
        Sim s(c.in, c.out);
        auto ir = s.impulseResponse();
        for (int i = 0; i < pickup_taps; ++i)
            ASSERT_NEAR(ir[std::size_t(i)], pickup_ptr[c.entry][i], 1e-6) << c.entry << " tap " << i;
    }
    EXPECT_STREQ(pickup_names[0], "HumBkr--HB-Bright");
    EXPECT_STREQ(pickup_names[21], "Single--HB-Rails");
    EXPECT_STREQ(pickup_names[53], "SingleBrite--SC-Vintage");
}

// Every selector change is loaded once, whatever the clock reads: running, held in the microsecond
// of the last load, or set back an hour since. A compile without a change loads nothing.
TEST(Pickup, EverySelectorChangeIsLoadedOnceWhateverTheClock)
{
    struct Case {
        const char* clock;
        const char* node;
        const char* value;
        int entry;
    } cases[] = {
        {"running", "in_pick", "\"Single Coil\"", 21},        {"held", "in_pick", "\"Single Coil\"", 21},
        {"held", "out_pick", "\"Humbucker Modern\"", 2},      {"set back", "in_pick", "\"Single Coil Bright\"", 39},
        {"set back", "out_pick", "\"Single Coil Tele\"", 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.clock) + " " + c.node);
        const uint64_t now = esp_timer_get_time();
        if (std::string(c.clock) == "held") esp_timer_hold_for_tests(now);
        Sim s("\"Humbucker\"", "\"Humbucker Rails\"");
        if (std::string(c.clock) == "set back") esp_timer_hold_for_tests(now - 3600000000ull);
        const float* taps = s.pickup->getFilter().getCoeffs();
        s.pickup->compile();
        EXPECT_EQ(s.pickup->getFilter().getCoeffs(), taps); // nothing changed, nothing loaded
        setNode(s.folder, c.node, c.value);
        s.pickup->compile();
        esp_timer_hold_for_tests(0);
        // Taps are kept time-reversed: the last one multiplies the newest sample.
        EXPECT_EQ(s.pickup->getFilter().getCoeffs()[pickup_taps - 1], pickup_ptr[c.entry][0]);
        EXPECT_EQ(s.pickup->getFilter().getCoeffs()[0], pickup_ptr[c.entry][pickup_taps - 1]);
    }
}

TEST(Pickup, OffOrExternallyOffOnlyScalesTheLeftChannel)
{
    auto l = dsptest::noise(4800, 1), r = dsptest::noise(4800, 2);
    Sim off("\"Humbucker\"", "\"Single Coil Tele\"", false);
    Sim ext("\"Humbucker\"", "\"Single Coil Tele\"");
    ext.pickup->setExtOnOff(false);
    ext.pickup->compile();
    for (Sim* s : {&off, &ext}) {
        s->pickup->setExtGain(0.5f);
        Stereo out = run(s->pickup, &Pickup::exec, Stereo(l, r));
        for (std::size_t i = 0; i < l.size(); ++i) ASSERT_EQ(out.l[i], l[i] * 0.5f) << i;
        EXPECT_EQ(out.r, r);
    }
    // Switched on, the right channel still passes untouched.
    Sim on("\"Humbucker\"", "\"Single Coil Tele\"");
    EXPECT_EQ(run(on.pickup, &Pickup::exec, Stereo(l, r)).r, r);
}

TEST(Pickup, ResponsesKeepTheBassAndMoveTheTop)
{
    for (int i = 0; i < pickup_count; ++i) {
        SCOPED_TRACE(pickup_names[i]);
        EXPECT_NEAR(responseDb(pickup_ptr[i], 100), 0.0, 0.3);
        double tail = 0;
        for (int k = pickup_taps - 64; k < pickup_taps; ++k) tail = std::max(tail, double(std::fabs(pickup_ptr[i][k])));
        EXPECT_LT(tail, 1e-4); // the response has died out inside its 1024 taps
        for (double hz : {1000.0, 3000.0, 6000.0, 12000.0})
            EXPECT_LT(responseDb(pickup_ptr[i], hz), 24.0) << hz; // no runaway resonance
    }
    // A humbucker made a bright single coil gains top; a bright single coil made a vintage
    // humbucker loses it.
    Sim brighter("\"Humbucker\"", "\"Single Coil Tele\"");
    EXPECT_GT(sineGainDb(brighter.pickup, &Pickup::exec, 5000) - sineGainDb(brighter.pickup, &Pickup::exec, 200), 4.0);
    Sim darker("\"Single Coil Bright\"", "\"Humbucker Vintage\"");
    EXPECT_LT(sineGainDb(darker.pickup, &Pickup::exec, 5000) - sineGainDb(darker.pickup, &Pickup::exec, 200), -4.0);
}

} // namespace
