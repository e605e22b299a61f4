#include "params/NodePassword.h"

#include "porting/Log.h"

namespace {
constexpr const char* kTag = "Security";
} // namespace

NodePassword::NodePassword(Node* parent, const char* name, const char* displayName, std::string text,
                           const char* itemType)
    : NodeItem(parent, name, displayName, std::move(text), itemType)
{
    setSecret();
}

bool NodePassword::setValue(std::string text)
{
    if (!NodeItem::setValue(std::move(text))) return false;
    unlock();
    return true;
}

void NodePassword::unlock()
{
    if (locked.exchange(false, std::memory_order_acq_rel)) LOG_I(kTag, "Password set on the unit: unlocked\n");
}

NodePassword::UnitSet NodePassword::setOnUnit(std::string text)
{
    if (text.size() > kMaxLength) return UnitSet::kTooLong;
    setValue(std::move(text));
    unlock();
    if (storeStorage()) return UnitSet::kSaved;
    // The cycle retries a value it sees changed; one that equals what an unreadable file held it
    // would never see so.
    int unread = kUnread;
    storageStatus.compare_exchange_strong(unread, kChanged);
    return UnitSet::kNotSaved;
}

bool NodePassword::replaceUnread(Unread what)
{
    // Only a store that has never held anything is a new unit without a password.
    if (what == Unread::kMissing && !Storage::populated()) return true;
    locked.store(true, std::memory_order_release);
    LOG_E(kTag, "Stored password unreadable: remote changes locked until a password is set on the unit\n");
    return false;
}
