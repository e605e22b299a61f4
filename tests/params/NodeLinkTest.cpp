// The link node: stepping through the linkable nodes of the application tree, resolving single and
// doubled backslashes, and the label it shows.
#include "params/NodeLink.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"

#include <gtest/gtest.h>
#include <string>

namespace {

int changes = 0;
void countChange(Node*)
{
    ++changes;
}

struct Tree {
    NodeItem root{nullptr, "root", "", "", ItemType::SYSTEM};
    NodeItem app{&root, "app", "Application", "", ItemType::SYSTEM};
    NodeItem sys{&root, "sys", "System", "", ItemType::SYSTEM};
    NodeItem delay{&app, "delay", "Delay", "", ItemType::HFOLDER};
    NodeFloat time{&delay, "time", "Time", 0, 1000, 300, "ms", 0.5f, false};
    NodeFloat mix{&delay, "mix", "Mix", 0, 100, 50, "%", 0.5f, false};
    NodeFloat plain{&delay, "plain", "Plain", 0, 100, 50, "%", 0.5f, false}; // not linkable
    NodeFloat gain{&app, "gain", "Gain", 0, 100, 50, "%", 0.5f, false};
    NodeFloat outside{&sys, "bright", "Bright", 0, 100, 50, "%", 0.5f, false};
    NodeItem settings{&root, "settings", "Settings", "", ItemType::SFOLDER};
    NodeLink link{&settings, "lnk", "Param", ""};

    Tree()
    {
        time.setLinkable(true);
        mix.setLinkable(true);
        gain.setLinkable(true);
        outside.setLinkable(true);
        link.setOnChange(countChange);
    }
};

} // namespace

TEST(NodeLink, KnobStepsThroughLinkablePathsInTextOrder)
{
    Tree t;
    changes = 0;
    EXPECT_STREQ(t.link.getItemType(), "link");
    // Linkable paths in order: root\app\delay\mix, root\app\delay\time, root\app\gain.
    struct Step {
        bool up;
        const char* value;
        int changes;
    } steps[] = {
        {true, "root\\app\\delay\\mix", 1}, // from no link: the first path, single backslashes
        {true, "root\\\\app\\\\delay\\\\time", 2}, // further steps store doubled backslashes
        {true, "root\\\\app\\\\gain", 3},
        {true, "root\\\\app\\\\gain", 3}, // the last stays, unannounced
        {false, "root\\\\app\\\\delay\\\\time", 4},
        {false, "root\\\\app\\\\delay\\\\mix", 5},
        {false, "", 6}, // before the first: no link
        {false, "", 6},
    };
    for (const Step& s : steps) {
        t.link.edit(s.up);
        EXPECT_EQ(t.link.getText(), s.value) << s.up;
        EXPECT_EQ(changes, s.changes) << s.value;
    }

    // A path that is not linkable (any more): up goes to the first path, down clears.
    for (const char* stale : {"root\\\\app\\\\delay\\\\plain", "root\\app\\missing", "root\\sys\\bright"}) {
        t.link.setValue(stale);
        t.link.edit(true);
        EXPECT_EQ(t.link.getText(), "root\\app\\delay\\mix") << stale;
        t.link.setValue(stale);
        t.link.edit(false);
        EXPECT_EQ(t.link.getText(), "") << stale;
    }
}

TEST(NodeLink, ResolvesSingleAndDoubledBackslashesAndShowsFolderAndLabel)
{
    Tree t;
    struct Case {
        const char* value;
        Node* node;
        const char* shown;
    } cases[] = {
        {"root\\app\\delay\\mix", &t.mix, "Delay\\Mix"},
        {"root\\\\app\\\\delay\\\\mix", &t.mix, "Delay\\Mix"},
        {"root\\\\app\\\\gain", &t.gain, "Gain"}, // the application node itself is not shown
        {"root\\app\\delay\\gone", nullptr, ""},
        {"root\\sys\\bright", nullptr, ""}, // only the application tree is searched
        {"", nullptr, ""},
    };
    for (const Case& c : cases) {
        t.link.setValue(c.value);
        EXPECT_EQ(t.link.getLinkedNode(), c.node) << c.value;
        EXPECT_EQ(t.link.toString(), c.shown) << c.value;
    }
    // The value travels as stored: a doubled backslash goes out doubled.
    t.link.setValue("root\\\\app\\\\gain");
    EXPECT_EQ(t.link.getValueJSON(), "\"value\":\"root\\\\app\\\\gain\"");
}

TEST(NodeLink, WithoutApplicationNodeNothingLinks)
{
    NodeItem top{nullptr, "root", "", "", ItemType::SYSTEM};
    NodeFloat alone{&top, "x", "X", 0, 1, 0, "", 0.5f, false};
    alone.setLinkable(true);
    NodeLink link{&top, "lnk", "Param", "root\\x"};
    EXPECT_EQ(link.getLinkedNode(), nullptr);
    link.edit(true);
    EXPECT_EQ(link.getText(), "");
}
