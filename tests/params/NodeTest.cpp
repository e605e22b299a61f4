// The tree itself: links, paths, lookup, style entries and the change test.
#include "params/NodeItem.h"
#include "porting/Clock.h"

#include "KeepNode.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

// Waits until the clock has moved past `time`, so that the next change is strictly later.
void waitPast(int64_t time)
{
    while (int64_t(esp_timer_get_time()) <= time) {}
}

NodeItem* folder(Node* parent, const char* name)
{
    return keep(new NodeItem(parent, name, name, "", ItemType::VFOLDER));
}

} // namespace

TEST(Node, ChildrenKeepCreationOrderAndPathsJoinNames)
{
    auto* root = folder(nullptr, "root");
    auto* sys = folder(root, "sys");
    auto* app = folder(root, "app");
    auto* name = new NodeItem(sys, "_name", "Name", "x", ItemType::SYSTEM);
    EXPECT_EQ(root->childrenAt(0), sys);
    EXPECT_EQ(root->childrenAt(1), app);
    EXPECT_EQ(root->childrenAt(2), nullptr);
    EXPECT_EQ(root->childrenAt(-1), nullptr);
    EXPECT_EQ(root->getChildren().back(), app);
    EXPECT_EQ(name->getPath(), "root\\sys\\_name");
    EXPECT_EQ(root->getPath(), "root");
    EXPECT_EQ(root->leafCount(), 1);
    EXPECT_TRUE(name->isLeaf());
    EXPECT_FALSE(sys->isLeaf());
}

TEST(Node, PathLookupIsExactAndSearchesPrefixSiblings)
{
    auto* root = folder(nullptr, "root");
    auto* ab = folder(root, "ab");
    new NodeItem(ab, "x", "x", "", ItemType::STRING);
    auto* abc = folder(root, "abc");
    auto* target = new NodeItem(abc, "x", "x", "", ItemType::STRING);
    struct Case {
        const char* path;
        Node* expected;
    } cases[] = {
        {"root", root},   {"root\\", nullptr},      {"root\\abc\\x", target},
        {"root\\ab", ab}, {"top\\abc\\x", nullptr}, {"", nullptr},
    };
    for (const auto& c : cases) EXPECT_EQ(root->pathToNode(c.path), c.expected) << c.path;
    // The start node's own path must begin the wanted one.
    EXPECT_EQ(abc->pathToNode("root\\abc\\x"), target);
    EXPECT_EQ(abc->pathToNode("root\\ab\\x"), nullptr);
}

TEST(Node, MapsWalkBreadthFirst)
{
    auto* root = folder(nullptr, "root");
    auto* a = folder(root, "a");
    auto* b = new NodeItem(a, "b", "b", "", ItemType::STRING);
    b->setLinkable(true);
    root->setLinkable(true);
    auto children = root->getChildrenMap();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children.at("root\\a"), a);
    EXPECT_EQ(children.at("root\\a\\b"), b);
    auto links = root->getLinkableMap();
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links.at("root"), root);
    EXPECT_EQ(links.at("root\\a\\b"), b);
}

TEST(Node, StyleEntriesAreWrittenOnlyOnRealChange)
{
    auto* node = folder(nullptr, "n");
    node->setStyleVisible(true);
    EXPECT_EQ(node->getStyleTime(), 0);
    EXPECT_TRUE(node->getStyle().empty());
    node->setStyleVisible(false);
    EXPECT_GT(node->getStyleTime(), 0);
    EXPECT_EQ(node->getStyle().at("visible"), "false");
    EXPECT_FALSE(node->getStyleVisible());
    node->setStyleVisible(true);
    EXPECT_EQ(node->getStyle().at("visible"), "true");

    node->setStyleColor(int(0xFF12ab34));
    EXPECT_EQ(node->getStyle().at("color"), "#12AB34");
    EXPECT_EQ(node->getStyleColor(), 0x12AB34u);
    EXPECT_EQ(node->getStyleProperties(), ",\"style\":\"color:#12AB34;visible:true;\"");

    auto* plain = folder(nullptr, "p");
    plain->setStyleColor(0);
    plain->setStyleMode("");
    plain->setStyleImg("");
    EXPECT_EQ(plain->getStyleTime(), 0);
    plain->setStyleMode("tuner");
    EXPECT_EQ(plain->getStyleMode(), "tuner");
    EXPECT_EQ(plain->getStyleImg(), "");
}

TEST(Node, StyleChangeNeverRunsCallbackNorMovesChangeTime)
{
    static int calls = 0;
    auto* node = folder(nullptr, "n");
    node->setOnChange([](Node*) { ++calls; });
    int64_t before = node->getTime();
    waitPast(before);
    node->setStyleVisible(false);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(node->getTime(), before);
}

TEST(Node, VisibleCountsSkipHiddenChildren)
{
    auto* root = folder(nullptr, "root");
    auto* a = folder(root, "a");
    auto* hidden = folder(root, "h");
    auto* c = folder(root, "c");
    hidden->setStyleVisible(false);
    EXPECT_EQ(root->childrenCount(), 3);
    EXPECT_EQ(root->childrenCount(true), 2);
    EXPECT_EQ(root->childrenCount(false), 3);
    EXPECT_EQ(root->childrenAt(1, true), c);
    EXPECT_EQ(root->childrenAt(1, false), hidden);
    EXPECT_EQ(root->childIndex(c, true), 1);
    EXPECT_EQ(root->childIndex(hidden, true), 0);
    EXPECT_EQ(root->childIndex(hidden, false), 1);
    EXPECT_EQ(root->childIndex(nullptr, false), -1);
    EXPECT_EQ(root->childIndex(root, false), -1);
    a->setStyleVisible(false);
    EXPECT_EQ(root->childIndex(a, true), -1);
}

TEST(Node, CallbackRunsBeforeTheTimeStamp)
{
    static int64_t seenTime = 0;
    static int64_t stampBefore = 0;
    auto* node = folder(nullptr, "n");
    stampBefore = node->getTime();
    waitPast(stampBefore);
    node->setOnChange([](Node* n) { seenTime = n->getTime(); });
    node->setOnChange(nullptr); // ignored: the callback stays
    node->notifyUpdate();
    EXPECT_EQ(seenTime, stampBefore);
    EXPECT_GT(node->getTime(), stampBefore);
}

TEST(Node, ChangeTestComparesStrictlyAndSkipsUpToAfter)
{
    auto* root = folder(nullptr, "root");
    auto* a = folder(root, "a");
    auto* b = folder(root, "b");
    auto* a1 = folder(a, "a1");
    int64_t since = std::max({root->getTime(), a->getTime(), b->getTime(), a1->getTime()});
    EXPECT_FALSE(root->older(since, true, nullptr));
    EXPECT_TRUE(root->older(root->getTime() - 1, false, nullptr));

    waitPast(since);
    a->notifyUpdate(); // walk order: root, a, b, a1
    EXPECT_FALSE(a->older(a->getTime(), false, nullptr));
    EXPECT_TRUE(root->older(since, true, nullptr));
    EXPECT_FALSE(root->older(since, true, a));
    EXPECT_FALSE(root->older(since, true, root->pathToNode("root\\a")));
    EXPECT_TRUE(root->older(since, true, root));

    b->setStyleVisible(false);
    EXPECT_FALSE(root->older(since, true, a));
    EXPECT_TRUE(root->older(since, true, a, true));
    EXPECT_TRUE(b->older(since, false, nullptr, true));
}

TEST(Node, StyleWritersOnTwoThreadsLoseNothing)
{
    auto* node = folder(nullptr, "n");
    std::thread modes([&] {
        for (int i = 0; i < 5000; ++i) node->setStyleMode(std::to_string(i));
    });
    for (int i = 0; i < 5000; ++i) node->setStyleImg(std::to_string(i));
    modes.join();
    EXPECT_EQ(node->getStyleMode(), "4999");
    EXPECT_EQ(node->getStyleImg(), "4999");
}
