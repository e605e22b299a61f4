#include "params/NodeParList.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/Storage.h"
#include "porting/Task.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

int changes = 0;
void countChange(Node*)
{
    ++changes;
}

struct Fixture {
    NodeItem root{nullptr, "root", "Root", "", ItemType::SYSTEM};
    NodeList list{&root, "ir_list", "IR list", "wav_48000", 16, 5};
    NodeParList select{&root, "ir", "IR", "", &list};
    uint8_t a[16] = {1}, b[16] = {2}, c[16] = {3};

    Fixture()
    {
        list.setElementAt(0, "A", a);
        list.setElementAt(2, "B", b);
        list.setElementAt(3, "C", c);
        changes = 0;
        select.setOnChange(countChange);
    }
};

} // namespace

TEST(NodeParList, SelectsOnlyPresentElementsByName)
{
    Fixture f;
    struct Step {
        const char* name;
        bool result;
        const char* value;
        int changes;
    } steps[] = {
        {"", false, "", 0}, {"X", false, "", 0}, {"B", true, "B", 1}, {"B", false, "B", 1}, {"A", true, "A", 2}};
    for (const Step& s : steps) {
        EXPECT_EQ(f.select.setValue(s.name), s.result) << s.name;
        EXPECT_EQ(f.select.getValue(), s.value) << s.name;
        EXPECT_EQ(changes, s.changes) << s.name;
    }

    // Remote values: quoted names only; a quoted absent name still answers true.
    struct Text {
        const char* text;
        bool result;
        const char* value;
    } texts[] = {
        {"\"C\"", true, "C"}, {"B", false, "C"}, {"\"\"", true, "C"}, {"\"Z\"", true, "C"}, {"\"", false, "C"}};
    for (const Text& t : texts) {
        EXPECT_EQ(f.select.fromString(t.text), t.result) << t.text;
        EXPECT_EQ(f.select.getValue(), t.value) << t.text;
    }
}

TEST(NodeParList, KnobStepsStopAtTheEndsAndFollowTheElementWhenMoved)
{
    Fixture f;
    f.select.setValue("C");
    EXPECT_FALSE(f.select.canEdit(true));
    f.select.edit(true);
    EXPECT_EQ(f.select.getValue(), "C");
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(f.select.canEdit(false));
    f.select.edit(false);
    EXPECT_EQ(f.select.getValue(), "B");
    f.select.edit(false);
    f.select.edit(false);
    EXPECT_EQ(f.select.getValue(), "A");

    f.select.setValue("C");
    EXPECT_EQ(f.select.getIndex(), 3);
    f.list.move(3, 0);
    EXPECT_EQ(f.select.getValue(), "C");
    EXPECT_EQ(f.select.getIndex(), 0);
    uint8_t data[16] = {};
    ASSERT_TRUE(f.select.copyData(data));
    EXPECT_EQ(std::memcmp(data, f.list.dataAt(0), sizeof data), 0);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(f.select.getValueAt(3), "B");

    f.list.deleteAt(0);
    EXPECT_EQ(f.select.getValue(), "C");
    EXPECT_EQ(f.select.getIndex(), -1);
    EXPECT_FALSE(f.select.copyData(data));
    // From a name not in the list both directions go to the first present element.
    f.select.edit(false);
    EXPECT_EQ(f.select.getValue(), "A");
}

TEST(NodeParList, JsonFormsEscapeNamesAndRoundTrip)
{
    Fixture f;
    EXPECT_EQ(f.select.getDescription(), ",\"ref\":\"root\\\\ir_list\"");
    EXPECT_STREQ(f.select.getType(), "plist");
    f.list.setElementAt(4, "My big \\room", f.a);
    ASSERT_TRUE(f.select.setValue("My big \\room"));
    std::string fragment = f.select.getJSON(DESCRIPTION_VALUE);
    EXPECT_EQ(fragment, "root\\ir:{\"value\":\"My big \\\\room\"}");
    f.select.setValue("A");
    EXPECT_TRUE(f.root.parseJSON(fragment));
    EXPECT_EQ(f.select.getValue(), "My big \\room");
    EXPECT_EQ(f.select.toString(), "My big \\room");
    f.select.reset();
    EXPECT_EQ(f.select.getValue(), "My big \\room");
    EXPECT_FALSE(f.select.isEditable());
}

TEST(NodeParList, ASelectionFollowsARenameButNotADeletion)
{
    Fixture f;
    NodeParList other(&f.root, "ir2", "IR 2", "", &f.list);
    f.select.setValue("B");
    other.setValue("C");
    changes = 0;
    int64_t before = f.select.getTime();
    vTaskDelay(5);
    struct Step {
        int position;
        const char* name;
        const char* selected;
        const char* otherSelected;
    } steps[] = {
        {2, "Bee", "Bee", "C"}, // the selected element
        {3, "Sea", "Bee", "Sea"}, // another selector's
        {0, "Ay", "Bee", "Sea"}, // nobody's
        {3, "Bee", "Bee", "Sea"}, // refused: the name is taken
        {2, "", "Bee", "Sea"}, // deleted: the selection names nothing now
    };
    for (const Step& s : steps) {
        f.list.setNameAt(s.position, s.name);
        EXPECT_EQ(f.select.getValue(), s.selected) << s.name;
        EXPECT_EQ(other.getValue(), s.otherSelected) << s.name;
    }
    EXPECT_EQ(changes, 0) << "the same element: nothing to rebuild";
    EXPECT_GT(f.select.getTime(), before) << "a poll sees the new name";
    EXPECT_EQ(f.select.getIndex(), -1);
}

TEST(NodeParList, SelectionIsStoredAsItsName)
{
    {
        Fixture f;
        f.select.setValue("B");
        Storage::addItem(&f.select);
    }
    Storage::items.clear();
    Fixture g;
    EXPECT_EQ(g.select.getValue(), "");
    EXPECT_TRUE(Storage::addItem(&g.select));
    EXPECT_EQ(g.select.getValue(), "B");
    EXPECT_EQ(changes, 0) << "loading the stored name does not notify";
}
