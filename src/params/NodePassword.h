#pragma once
#include "params/NodeItem.h"

#include <atomic>

// A password: set like any text item (remote "write", the keyboard), shown on the unit's own screen
// (toString), but never sent: its JSON value is always "". The login check reads getText().
//
// A stored password that cannot be read whole (cut, damaged, a folder or a link in its place, or
// missing from a store that holds other files, which a unit that has run once always does) locks the
// unit: isLocked() until a password is set on the unit itself (the setup screen's keyboard), since
// while locked no remote client can log in to set one. The damaged file is left as it is until then.
class NodePassword : public NodeItem {
public:
    NodePassword(Node* parent, const char* name, const char* displayName, std::string text, const char* itemType);

    std::string getValue() override { return ""; }
    // A new password also lifts the lock.
    bool setValue(std::string text) override;
    enum class UnitSet { kSaved, kNotSaved, kTooLong };
    // A password entered on the unit ("" removes it): taken even when it equals the one held, since
    // that is how a unit locked without a password is opened; lifts the lock and writes the file at
    // once, over a damaged one. kNotSaved: in use, but the file could not be written (the storage
    // cycle retries); kTooLong: more than kMaxLength bytes, nothing changed. "systemTasks".
    UnitSet setOnUnit(std::string text);
    bool isLocked() const { return locked.load(std::memory_order_acquire); }

protected:
    bool replaceUnread(Unread what) override;

private:
    std::atomic<bool> locked{false};

    void unlock();
};
