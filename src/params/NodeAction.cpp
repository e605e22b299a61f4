#include "params/NodeAction.h"

#include "porting/Log.h"
#include "porting/Task.h"

#include <cstring>
#include <mutex>

namespace {

constexpr const char* kTag = "NodeAction";
constexpr uint32_t kPassUs = 50000; // one action may start per pass
constexpr int kThreadPriority = 2;

// Never destroyed: the action thread may still use them while the process exits.
std::mutex& queueMutex = *new std::mutex;

} // namespace

std::deque<NodeAction*>& NodeAction::action_queue = *new std::deque<NodeAction*>;
std::atomic<bool> NodeAction::actionInitialized{false};

NodeAction::NodeAction(Node* parent, const char* key, const char* label, const char* type, Function function,
                       void* argument)
    : Node(parent, key, label), actionType(type ? type : ""), function(function), argument(argument)
{
    parameter = false;
    initializeAction();
}

void* NodeAction::getStorageData(int* size)
{
    *size = 0;
    return nullptr;
}

bool NodeAction::runnable() const
{
    return std::strcmp(actionType, SIMPLE) == 0 || std::strcmp(actionType, CONFIRM) == 0;
}

bool NodeAction::setValue(const std::string& text)
{
    if (!runnable() || text != RUN) return false;
    // Two threads may ask at once: only one of them turns the node from idle to run and queues it.
    const char* expected = IDLE;
    if (!value.compare_exchange_strong(expected, RUN, std::memory_order_acq_rel)) return false;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        action_queue.push_back(this);
    }
    notifyUpdate();
    return true;
}

bool NodeAction::fromString(std::string text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    return setValue(text.substr(1, text.size() - 2));
}

void NodeAction::edit(bool)
{
    if (runnable()) setValue(RUN);
}

void NodeAction::exec()
{
    if (runnable() && function) function(argument);
    value.store(IDLE, std::memory_order_release);
    notifyUpdate();
}

std::string NodeAction::getValueJSON()
{
    return std::string("\"value\":\"") + value.load(std::memory_order_acquire) + "\"";
}

std::string NodeAction::getDescription()
{
    return std::string(",\"action_type\":\"") + actionType + "\"";
}

void NodeAction::initializeAction()
{
    if (actionInitialized.exchange(true)) return;
    LOG_I(kTag, "Initializing action engine\n");
    xTaskCreatePinnedToCore(actionTask, "action task", 4096, nullptr, kThreadPriority, nullptr, 0);
}

NodeAction* NodeAction::next()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    if (action_queue.empty()) return nullptr;
    NodeAction* node = action_queue.front();
    action_queue.pop_front();
    return node;
}

void* NodeAction::actionTask(void*)
{
    for (;;) {
        // The function runs outside the queue's guard, so it may request actions itself.
        if (NodeAction* node = next()) node->exec();
        vTaskDelay(kPassUs);
    }
    return nullptr;
}
