#include "ScreenTest.h"

#include "base/System.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerSetup.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    NodeItem* app = keep(new NodeItem(root, "app", "Application", "", ItemType::SYSTEM));
    NodeItem* midi = keep(new NodeItem(root, "midi", "MIDI", "", ItemType::SFOLDER));
    NodeItem* empty = keep(new NodeItem(root, "empty", "Nothing", "", ItemType::SFOLDER));
    NodeItem* wifi = keep(new NodeItem(root, "wifi", "Wi-Fi", "", ItemType::SFOLDER));
    NodeItem* other = keep(new NodeItem(root, "other", "Other", "", ItemType::VFOLDER));
    NodeItem* usb = keep(new NodeItem(root, "usb", "USB", "", ItemType::SFOLDER));
    NodeItem* sys = keep(new NodeItem(root, "sys", "System", "", ItemType::SYSTEM));

    Tree()
    {
        for (Node* folder : std::initializer_list<Node*>{midi, wifi, other, usb, sys})
            keep(new NodeFloat(folder, "x", "X", 0, 1, 0, "", 0.5f, false));
        wifi->setStyleVisible(false); // the setup screen lists hidden folders too
        System::root = root;
        System::app = app;
        System::system = sys;
    }
};

class DrawerSetupTest : public ScreenTest {
protected:
    std::vector<std::string> names()
    {
        std::vector<std::string> rows;
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (area(obj).x1 == 8 && area(obj).y1 >= 40) rows.push_back(lv_label_get_text(obj));
        return rows;
    }
    Tree t;
};

TEST_F(DrawerSetupTest, SettingsFoldersThenTheSystemNodeAndBack)
{
    auto* below = new RecordingScreen;
    new DrawerSetup;
    frame();
    EXPECT_TRUE(has_text("Setup"));
    EXPECT_EQ(names(), (std::vector<std::string>{"MIDI", "Wi-Fi", "USB", "System", "Back"}));
    EXPECT_TRUE(of_class(&lv_bar_class).empty());
    EXPECT_EQ(text_color(label("MIDI")), 0x000000u);
    EXPECT_EQ(pixel(200, 42), rgb565(0xFFFFFF));
    EXPECT_EQ(pixel(200, 67), rgb565(0x000000));
    check_screen("setup");

    // No wrap at either end.
    send({DOWN});
    frame();
    EXPECT_EQ(text_color(label("MIDI")), 0x000000u);
    send({UP, UP, UP, UP, UP, UP});
    frame();
    EXPECT_EQ(text_color(label("Back")), 0x000000u);

    // Codes it does not take reach the screen below; knob turns are swallowed.
    send({16, 17, 12, 14, 15, 243, 40, 441, EventCode::TICK});
    EXPECT_EQ(below->seen, (std::vector<int>{16, 17, 12, 14, 15, 243}));

    send({CLICK});
    EXPECT_EQ(depth(), 1);
}

TEST_F(DrawerSetupTest, ClickOpensABrowserOnTheEntry)
{
    new RecordingScreen;
    auto* setup = new DrawerSetup;
    send({UP, UP, CLICK});
    ASSERT_NE(dynamic_cast<DrawerNode*>(top()), nullptr);
    frame();
    EXPECT_TRUE(has_text("USB"));
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    EXPECT_EQ(top(), setup);
    send({EventCode::INACTIVITY});
    EXPECT_EQ(depth(), 1);
}

} // namespace
