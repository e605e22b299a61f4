#include "ScreenTest.h"

#include "effects/Tempo.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "porting/Task.h"
#include "ui/DrawerTempo.h"
#include "ui/UiFonts.h"

namespace {

class DrawerTempoTest : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        below = new RecordingScreen;
        overlay = new DrawerTempo(tempo);
    }

    // Taps 300 ms apart (200 BPM).
    void taps(int n)
    {
        for (int i = 0; i < n; i++) {
            vTaskDelay(300000);
            tempo->manualTap();
        }
    }

    bool overlayDrawn()
    {
        below->drawn = false;
        frame();
        return !below->drawn;
    }

    NodeItem* folder = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    Tempo* tempo = keep(new Tempo(folder, nullptr));
    RecordingScreen* below = nullptr;
    DrawerTempo* overlay = nullptr;
};

TEST_F(DrawerTempoTest, ShowsFromTheFifthTapAndEndsTwentyTicksAfterTheLast)
{
    EXPECT_FALSE(overlayDrawn());
    send({EventCode::TICK});
    EXPECT_EQ(below->seen, std::vector<int>{EventCode::TICK}); // no run: passed on

    taps(4);
    EXPECT_FALSE(overlayDrawn());
    taps(1);
    ASSERT_TRUE(overlayDrawn());
    EXPECT_TRUE(has_text("TAP Tempo"));
    char expected[16];
    std::snprintf(expected, sizeof(expected), "%.1f", double(tempo->getTempoNode()->getValue()));
    lv_obj_t* value = label(expected);
    ASSERT_NE(value, nullptr) << expected;
    EXPECT_EQ(lv_obj_get_style_text_font(value, LV_PART_MAIN), &ui_font_sans100);
    // Taps at least 300 ms apart (a loaded machine sleeps longer, never shorter): 200 BPM at most.
    EXPECT_LE(tempo->getTempoNode()->getValue(), 200.5f);
    EXPECT_GE(tempo->getTempoNode()->getValue(), 100.0f);
    // The digits follow the taps' timing.
    check_screen("tap_tempo", {{0, 55, 319, 138}});

    // The ticks of a run are the overlay's: 19 keep it, the 20th ends the run.
    below->seen.clear();
    for (int i = 0; i < 19; i++) EventDispatcher::addEvent(EventCode::TICK);
    settle();
    EXPECT_TRUE(overlayDrawn());
    EXPECT_TRUE(tempo->isTapActive());
    send({EventCode::TICK});
    EXPECT_FALSE(tempo->isTapActive());
    EXPECT_EQ(tempo->getTapCount(), 0);
    EXPECT_FALSE(overlayDrawn());
    EXPECT_TRUE(below->seen.empty());
    send({EventCode::TICK, 16, 13});
    EXPECT_EQ(below->seen, (std::vector<int>{EventCode::TICK, 16, 13}));

    // The next tap starts a new run.
    taps(1);
    EXPECT_EQ(tempo->getTapCount(), 0);
    EXPECT_TRUE(tempo->isTapActive());
}

TEST_F(DrawerTempoTest, HiddenBehindAScreenOpenedAboveIt)
{
    taps(6);
    ASSERT_TRUE(overlayDrawn());
    auto* above = new RecordingScreen;
    frame();
    EXPECT_TRUE(above->drawn);
    EXPECT_FALSE(has_text("TAP Tempo"));
}

} // namespace
