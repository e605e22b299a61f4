#include "com/TcpSchedule.h"

#include <algorithm>

namespace {

// Whether a holder in `slot` gives it to a whole request now.
bool yields(const TcpSchedule::Slot& slot, int64_t now)
{
    switch (slot.phase) {
    case TcpSchedule::kFree:
    case TcpSchedule::kAwaiting: return true;
    case TcpSchedule::kReceiving:
    case TcpSchedule::kDiscarding: return now - slot.turnStart >= TcpSchedule::kHold;
    case TcpSchedule::kReplying: return now - slot.replyStart >= TcpSchedule::kHold;
    }
    return false;
}

} // namespace

std::vector<TcpSchedule::Action> TcpSchedule::decide(int64_t now, std::span<const Slot> slotsNow,
                                                     std::span<const Waiting> waiting) const
{
    std::vector<Action> plan;
    std::vector<Slot> slots(slotsNow.begin(), slotsNow.end());
    std::vector<int> candidates;

    // Idle time-outs, whoever waits.
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].phase == kFree || now - slots[i].active <= kIdleTimeout) continue;
        plan.push_back({Action::kCloseSlot, int(i), -1, slots[i].phase != kAwaiting});
        slots[i].phase = kFree;
    }
    for (size_t j = 0; j < waiting.size(); ++j) {
        if (now - waiting[j].active > kIdleTimeout) plan.push_back({Action::kCloseWaiting, -1, int(j)});
        else candidates.push_back(int(j));
    }

    // Per address: slots held, and connections in slots and in the room.
    struct Count {
        int slots = 0;
        int connections = 0;
    };
    std::unordered_map<uint32_t, Count> counts;
    for (const Slot& slot : slots) {
        if (slot.phase == kFree) continue;
        ++counts[slot.address].slots;
        ++counts[slot.address].connections;
    }
    for (int j : candidates) ++counts[waiting[j].address].connections;

    auto known = [this](uint32_t address) {
        auto found = records.find(address);
        return found == records.end() ? Record{} : found->second;
    };
    auto cutLately = [&](uint32_t address) {
        const int64_t cutAt = known(address).cutAt;
        return cutAt != INT64_MIN && now - cutAt < kSlowMemory;
    };
    auto ranksAbove = [&](int a, int b) {
        const Waiting& x = waiting[a];
        const Waiting& y = waiting[b];
        if (x.sent != y.sent) return x.sent > y.sent;
        const int cx = counts[x.address].connections, cy = counts[y.address].connections;
        if (cx != cy) return cx < cy;
        const bool sx = cutLately(x.address), sy = cutLately(y.address);
        if (sx != sy) return sy;
        const int64_t lx = known(x.address).lastLetIn, ly = known(y.address).lastLetIn;
        if (lx != ly) return lx < ly;
        return x.sent == kNothing ? x.since > y.since : x.since < y.since;
    };
    std::stable_sort(candidates.begin(), candidates.end(), ranksAbove);

    auto givesBefore = [&](const Slot& a, const Slot& b) {
        if ((a.phase == kAwaiting) != (b.phase == kAwaiting)) return a.phase == kAwaiting;
        const int ha = counts[a.address].slots, hb = counts[b.address].slots;
        if (ha != hb) return ha > hb;
        const bool sa = cutLately(a.address), sb = cutLately(b.address);
        if (sa != sb) return sa;
        return a.turnStart < b.turnStart;
    };
    // A free slot for anyone; for a whole request, else the slot that gives first among those that
    // yield.
    auto slotFor = [&](const Waiting& client) {
        for (size_t i = 0; i < slots.size(); ++i)
            if (slots[i].phase == kFree) return int(i);
        if (client.sent != kWhole) return -1;
        const int held = counts[client.address].slots;
        int chosen = -1;
        for (size_t i = 0; i < slots.size(); ++i) {
            const Slot& slot = slots[i];
            if (!yields(slot, now)) continue;
            if (held > 0 && slot.address != client.address && counts[slot.address].slots <= held) continue;
            if (chosen < 0 || givesBefore(slot, slots[size_t(chosen)])) chosen = int(i);
        }
        return chosen;
    };

    std::vector<int> left;
    for (int j : candidates) {
        const Waiting& client = waiting[j];
        const int chosen = slotFor(client);
        if (chosen < 0) {
            left.push_back(j);
            continue;
        }
        Slot& slot = slots[size_t(chosen)];
        if (slot.phase == kAwaiting) plan.push_back({Action::kBackToRoom, chosen, -1});
        else if (slot.phase != kFree) plan.push_back({Action::kCloseSlot, chosen, -1, true});
        if (slot.phase != kFree) --counts[slot.address].slots;
        plan.push_back({Action::kLetIn, chosen, j});
        ++counts[client.address].slots;
        // Just let in: its request is read before it could give the slot again.
        slot = {kReceiving, client.address, now, 0, now};
    }

    // A full room closes from its end (holders sent back to it stay).
    for (size_t k = left.size(); k > kWaiting; --k) plan.push_back({Action::kCloseWaiting, -1, left[k - 1]});
    return plan;
}

TcpSchedule::Record& TcpSchedule::record(uint32_t address)
{
    auto found = records.find(address);
    if (found != records.end()) return found->second;
    if (records.size() >= kAddresses) {
        // The address seen longest ago makes room.
        auto last = [](const Record& r) { return std::max(r.lastLetIn, r.cutAt); };
        auto oldest = std::min_element(records.begin(), records.end(),
                                       [&](const auto& a, const auto& b) { return last(a.second) < last(b.second); });
        records.erase(oldest);
    }
    return records[address];
}

void TcpSchedule::noteLetIn(uint32_t address, int64_t now)
{
    record(address).lastLetIn = now;
}

void TcpSchedule::noteCut(uint32_t address, int64_t now)
{
    record(address).cutAt = now;
}
