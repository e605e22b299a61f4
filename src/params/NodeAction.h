#pragma once
#include "params/Node.h"

#include <atomic>
#include <deque>
#include <string>

// A button-like node: a request ("run") queues it, and the "action task" thread runs its function
// with its argument, then sets it back to "idle". Only the types "smp" and "smp_cfm" (the latter asks
// the player to confirm first) ever run; a node of any other type refuses every request. At most one
// action starts every 50 ms, in request order, and a node stays "run" from the accepted request
// until its function has returned, so a second request meanwhile is refused.
//
// Requests come from the screen and remote threads; the thread starts with the first action node
// (or initializeAction). Not a preset parameter and never stored.
class NodeAction : public Node {
public:
    using Function = void (*)(void*);

    static constexpr const char* TYPE = "action";
    static constexpr const char* SIMPLE = "smp";
    static constexpr const char* CONFIRM = "smp_cfm";
    static constexpr const char* IDLE = "idle";
    static constexpr const char* RUN = "run";

    // `type` must live as long as the program (a literal).
    NodeAction(Node* parent, const char* key, const char* label, const char* type, Function function, void* argument);

    void* getStorageData(int* size) override;

    // Requests the action (types "smp" and "smp_cfm").
    void edit(bool up) override;
    // A quoted "run" requests the action; true when the request was accepted.
    bool fromString(std::string text) override;
    std::string toString() override { return ""; }
    const char* getType() override { return TYPE; }
    std::string getDescription() override;
    std::string getValueJSON() override;
    void reset() override {}

    // Only "run" on an idle runnable node is accepted: it is queued for the action thread.
    bool setValue(const std::string& text);
    std::string getValue() const { return value.load(std::memory_order_acquire); }
    const char* getActionType() const { return actionType; }
    // Runs the function (runnable types), then goes back to "idle". Called by the action thread.
    void exec();

    // Starts the action thread once.
    static void initializeAction();
    // The nodes waiting to run, oldest first (guarded inside the class).
    static std::deque<NodeAction*>& action_queue;
    static std::atomic<bool> actionInitialized;

protected:
    // A taken request may have run and gone back to "idle" by the time the echo is made.
    bool holds(const std::string& value, bool taken) override { return taken || Node::holds(value, taken); }

private:
    const char* actionType;
    Function function;
    void* argument;
    // One of the literals IDLE and RUN, so readers never see a torn text.
    std::atomic<const char*> value{IDLE};

    bool runnable() const;
    static void* actionTask(void*);
    static NodeAction* next();
};
