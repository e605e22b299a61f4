#include "ui/ScreenTest.h"

#include "app/KestrunUpdater.h"
#include "base/Board.h"
#include "base/System.h"
#include "base/Update.h"
#include "params/NodeItem.h"
#include "platform/host/ShellScript.h"
#include "ui/DrawerNode.h"

namespace {

constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;

class KestrunUpdaterTest : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        System::initialize("ap0003");
        Update::recovery = true;
        updater = new KestrunUpdater(System::appNode(), System::rootNode());
    }

    KestrunUpdater* updater = nullptr;
};

TEST_F(KestrunUpdaterTest, BuildsTheBoardAndTheIdentityAndDrawsTheUpdatePage)
{
    ASSERT_NE(updater->bsp, nullptr);
    EXPECT_EQ(Board::board, reinterpret_cast<Bsp*>(updater->bsp));
    EXPECT_NE(ShellScript::log().find("gpioset 0 26=0"), std::string::npos);
    auto* version = static_cast<NodeItem*>(System::rootNode()->pathToNode("root\\sys\\_ver"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->getText(), "Update Mode");

    frame();
    lv_obj_t* title = label("Update Mode");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(area(title).y1, 40);
    EXPECT_EQ(lv_obj_get_style_text_font(title, LV_PART_MAIN), &lv_font_montserrat_40);
    EXPECT_TRUE(has_text("press BROWSE for settings"));
    EXPECT_EQ(lv_obj_get_style_text_font(label("press BROWSE for settings"), LV_PART_MAIN), &lv_font_montserrat_16);
    EXPECT_NE(ink(0, 40, 319, 90).x1, INT32_MAX);
    check_screen("update_mode");
}

TEST_F(KestrunUpdaterTest, ClickOpensOneBrowserOnTheSystemNode)
{
    // Turns, other pushes, footswitches and inactivity do nothing here.
    EXPECT_FALSE(updater->onEvent(EventCode::MAIN + EventCode::TURN_UP));
    for (int code : {11, 12, 14, 15, 16, 17, 43, 3, 20}) EXPECT_FALSE(updater->onEvent(code)) << code;
    EXPECT_EQ(depth(), 1);

    send({CLICK});
    ASSERT_EQ(depth(), 2);
    ASSERT_NE(dynamic_cast<DrawerNode*>(top()), nullptr);
    frame();
    EXPECT_TRUE(has_text("System"));
    EXPECT_TRUE(has_text("Name"));

    // Not the focus: a click it sees does not open a second browser.
    EXPECT_TRUE(updater->onEvent(CLICK));
    EXPECT_EQ(depth(), 2);

    // The browser closes itself as usual and the page is drawn again.
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    EXPECT_EQ(depth(), 1);
    frame();
    EXPECT_TRUE(has_text("Update Mode"));
}

} // namespace
