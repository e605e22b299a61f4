#include "ScreenTest.h"

#include <cmath>
#include <numbers>

#include "effects/Tuner.h"
#include "params/NodeEnum.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"
#include "ui/DrawerTuner.h"
#include "ui/UiFonts.h"

namespace {

class DrawerTunerTest : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        below = new RecordingScreen;
        overlay = new DrawerTuner(tuner);
    }

    void on()
    {
        tuner->getOnOff()->setValue(NodeOnOff::ON);
        tuner->compile();
    }

    // A sine through the tuner after a silence (which clears the tracking): a whole ring of it, then
    // compile passes every 10 ms of it.
    void play(double hz)
    {
        float silence[FRAME_CHANNELS][FRAME_SAMPLES] = {};
        for (int at = 0; at < Tuner::kHistory; at += FRAME_SAMPLES) Tuner::exec(tuner, silence);
        tuner->compile();
        float frame[FRAME_CHANNELS][FRAME_SAMPLES];
        auto feed = [&](int samples) {
            for (int at = 0; at < samples; at += FRAME_SAMPLES) {
                for (int i = 0; i < FRAME_SAMPLES; i++) {
                    frame[0][i] = float(0.5 * std::sin(2 * std::numbers::pi * phase));
                    frame[1][i] = 0;
                    phase += hz / 48000.0;
                    phase -= std::floor(phase);
                }
                Tuner::exec(tuner, frame);
            }
        };
        feed(Tuner::kHistory);
        for (int pass = 0; pass < 4; pass++) {
            tuner->compile();
            feed(480);
        }
    }

    lv_obj_t* deviation()
    {
        auto bars = of_class(&lv_bar_class);
        return bars.empty() ? nullptr : bars.front();
    }

    NodeItem* folder = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    Tuner* tuner = keep(new Tuner(folder, false));
    RecordingScreen* below = nullptr;
    DrawerTuner* overlay = nullptr;
    double phase = 0;
};

TEST_F(DrawerTunerTest, OffItDrawsNothingAndPassesEverything)
{
    frame();
    EXPECT_TRUE(below->drawn);
    send({10, 11, 16, 17, 18, 248});
    EXPECT_EQ(below->seen, (std::vector<int>{10, 11, 16, 17, 18, 248}));
}

TEST_F(DrawerTunerTest, NothingPlayedShowsDashes)
{
    on();
    frame();
    EXPECT_FALSE(below->drawn);
    EXPECT_TRUE(has_text("Tuner"));
    EXPECT_TRUE(has_text("---.- Hz"));
    EXPECT_TRUE(has_text("---.- dB"));
    EXPECT_TRUE(has_text("Freq A4"));
    EXPECT_TRUE(has_text("440"));
    EXPECT_TRUE(deviation() == nullptr);
    auto scales = of_class(&lv_scale_class);
    ASSERT_EQ(scales.size(), 1u);
    EXPECT_EQ(lv_scale_get_range_min_value(scales[0]), -50);
    EXPECT_EQ(lv_scale_get_range_max_value(scales[0]), 50);
    EXPECT_EQ(lv_scale_get_total_tick_count(scales[0]), 21);
    for (lv_obj_t* obj : of_class(&lv_label_class))
        if (lv_obj_get_style_text_font(obj, LV_PART_MAIN) == &ui_font_azer60) {
            EXPECT_STREQ(lv_label_get_text(obj), "");
        }
    check_screen("tuner_silent");
}

TEST_F(DrawerTunerTest, NoteOctaveFrequencyAndDeviationBar)
{
    on();
    struct Case {
        double cents;
        const char* note;
        uint32_t color;
        int value, start; // expected bar, within one unit (the estimate is not exact)
    };
    const Case cases[] = {{5, "A", 0x00FF00, 59, 51}, {-20, "A", 0xFF0000, 50, 30}, {30, "A", 0xFF0000, 80, 50}};
    for (const Case& c : cases) {
        play(440.0 * std::pow(2.0, c.cents / 1200.0));
        ASSERT_GT(tuner->getPeriod(), 0.0f) << c.cents;
        frame();
        EXPECT_TRUE(has_text(c.note)) << c.cents;
        EXPECT_TRUE(has_text("4"));
        EXPECT_FALSE(has_text("#"));
        lv_obj_t* bar = deviation();
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bg_color(bar, LV_PART_INDICATOR), c.color) << c.cents;
        EXPECT_NEAR(lv_bar_get_value(bar), c.value, 1) << c.cents;
        EXPECT_NEAR(lv_bar_get_start_value(bar), c.start, 1) << c.cents;
        char freq[32];
        std::snprintf(freq, sizeof(freq), "%.1f Hz", 48000.0 / tuner->getPeriod());
        EXPECT_TRUE(has_text(freq)) << freq;
        EXPECT_TRUE(has_text("-6 dB")); // a 0.5 sine
        if (c.cents == 5) check_screen("tuner_a4");
    }

    // A sharp note gets its "#".
    play(466.16);
    frame();
    EXPECT_TRUE(has_text("A"));
    EXPECT_TRUE(has_text("#"));
}

TEST_F(DrawerTunerTest, FootswitchesCloseItAndTheEncoderStepsTheReference)
{
    on();
    send({16, 46, 246, 19, 49, 249});
    EXPECT_TRUE(tuner->getOnOff()->isValue(NodeOnOff::ON));
    send({10, 10});
    EXPECT_STREQ(tuner->getRef()->getValueText(), "444");
    send({11});
    EXPECT_STREQ(tuner->getRef()->getValueText(), "442");
    // Ticks, main pushes, knobs and pairs are not its business.
    send({EventCode::TICK, 12, 13, 40, 50});
    EXPECT_EQ(below->seen, (std::vector<int>{EventCode::TICK, 12, 13, 40, 50}));

    for (int code : {17, 18, 47, 48, 247, 248}) {
        tuner->getOnOff()->setValue(NodeOnOff::ON);
        send({code});
        EXPECT_TRUE(tuner->getOnOff()->isValue(NodeOnOff::OFF)) << code;
    }
    EXPECT_EQ(below->seen.size(), 5u);
}

} // namespace
