// Action nodes: requests, the action thread and its order.
#include "params/NodeAction.h"
#include "params/Storage.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs = 3000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// An action that stays busy until the test lets it go.
struct Gate {
    std::atomic<int> runs{0};
    std::atomic<bool> open{false};
};

void gated(void* argument)
{
    auto* gate = static_cast<Gate*>(argument);
    while (!gate->open.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++gate->runs;
}

std::mutex orderMutex;
std::vector<std::pair<int, std::chrono::steady_clock::time_point>> order;
void record(void* argument)
{
    std::lock_guard<std::mutex> lock(orderMutex);
    order.emplace_back(int(reinterpret_cast<intptr_t>(argument)), std::chrono::steady_clock::now());
}

int notified = 0;
void countNotify(Node*)
{
    ++notified;
}

} // namespace

TEST(NodeAction, RequestsRunOnceAndRefuseWhileBusy)
{
    StdoutCapture out;
    Gate gate;
    auto* node = keep(new NodeAction(nullptr, "act", "Act", NodeAction::SIMPLE, gated, &gate));
    auto* other = keep(new NodeAction(nullptr, "cfm", "Confirm", NodeAction::CONFIRM, gated, &gate));
    // One engine for every node (the thread layer may add a line where nice values are refused).
    std::string text = out.text();
    EXPECT_EQ(text.find("I (NodeAction): Initializing action engine\n"), 0u) << text;
    EXPECT_EQ(text.rfind("Initializing action engine"), 0u + std::strlen("I (NodeAction): ")) << text;
    EXPECT_NE(text.find("I (Thread): action task create success\n"), std::string::npos) << text;

    EXPECT_FALSE(node->fromString("run")); // not a JSON string
    EXPECT_FALSE(node->fromString("\"idle\"")); // only "run" is a request
    EXPECT_FALSE(node->setValue("RUN"));
    EXPECT_EQ(node->getValue(), "idle");
    EXPECT_TRUE(node->fromString("\"run\""));
    EXPECT_EQ(node->getValueJSON(), "\"value\":\"run\"");
    // Queued or running: further requests are refused until the function has returned.
    EXPECT_FALSE(node->setValue("run"));
    node->edit(true);
    EXPECT_TRUE(other->setValue("run"));
    gate.open = true;
    ASSERT_TRUE(waitFor([&] { return node->getValue() == "idle" && other->getValue() == "idle"; }));
    EXPECT_EQ(gate.runs.load(), 2);

    node->edit(false); // the knob requests too, either way
    ASSERT_TRUE(waitFor([&] { return gate.runs.load() == 3 && node->getValue() == "idle"; }));
}

TEST(NodeAction, OtherTypesNeverRun)
{
    Gate gate;
    gate.open = true;
    auto* node = keep(new NodeAction(nullptr, "act", "Act", "cmd", gated, &gate));
    node->setOnChange(countNotify);
    EXPECT_FALSE(node->setValue("run"));
    EXPECT_FALSE(node->fromString("\"run\""));
    node->edit(true);
    EXPECT_EQ(node->getValue(), "idle");
    EXPECT_EQ(notified, 0);
    node->exec(); // even when asked directly: back to idle, nothing run
    EXPECT_EQ(notified, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(gate.runs.load(), 0);
    EXPECT_STREQ(node->getActionType(), "cmd");
}

TEST(NodeAction, FormsAndNoStorage)
{
    auto* root = keep(new NodeAction(nullptr, "root", "", NodeAction::SIMPLE, nullptr, nullptr));
    auto* node = keep(new NodeAction(root, "act", "Do it", NodeAction::CONFIRM, nullptr, nullptr));
    EXPECT_EQ(node->getJSON(DESCRIPTION_FULL),
              "root\\act:{\"desc\":\"Do it\",\"value\":\"idle\",\"type\":\"action\",\"action_type\":\"smp_cfm\"}");
    EXPECT_EQ(node->toString(), "");
    EXPECT_FALSE(node->isParameter());
    Storage::addItem(node);
    EXPECT_EQ(node->getStorageStatus(), Storable::kNeverLoaded);
    EXPECT_EQ(read_file(test_root() + "/home/storage/" + node->getStorageId()), "");
    // A node without a function still goes back to idle.
    EXPECT_TRUE(node->setValue("run"));
    ASSERT_TRUE(waitFor([&] { return node->getValue() == "idle"; }));
}

TEST(NodeAction, OneStartPerPassInRequestOrder)
{
    std::vector<NodeAction*> nodes;
    for (intptr_t i = 0; i < 4; ++i) {
        nodes.push_back(
            keep(new NodeAction(nullptr, "a", "A", NodeAction::SIMPLE, record, reinterpret_cast<void*>(i))));
    }
    for (int i : {2, 0, 3, 1}) ASSERT_TRUE(nodes[size_t(i)]->setValue("run"));
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(orderMutex);
        return order.size() == 4;
    }));
    std::lock_guard<std::mutex> lock(orderMutex);
    std::vector<int> ran;
    for (const auto& entry : order) ran.push_back(entry.first);
    EXPECT_EQ(ran, (std::vector<int>{2, 0, 3, 1}));
    for (size_t i = 1; i < order.size(); ++i)
        EXPECT_GE(order[i].second - order[i - 1].second, std::chrono::milliseconds(45));
}

TEST(NodeAction, SimultaneousRequestsQueueOnce)
{
    Gate gate;
    auto* node = keep(new NodeAction(nullptr, "act", "Act", NodeAction::SIMPLE, gated, &gate));
    std::atomic<int> accepted{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) {}
            for (int i = 0; i < 100; ++i) accepted += node->setValue("run") ? 1 : 0;
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(accepted.load(), 1);
    gate.open = true;
    ASSERT_TRUE(waitFor([&] { return node->getValue() == "idle"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(gate.runs.load(), 1);
}
