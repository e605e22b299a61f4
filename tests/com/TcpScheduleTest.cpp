#include "com/TcpSchedule.h"

#include <gtest/gtest.h>

namespace {

using S = TcpSchedule;
using A = TcpSchedule::Action;
constexpr int64_t kNow = 100000000;
constexpr int64_t ms(int64_t m)
{
    return m * 1000;
}
// A slot of `address` in `phase` since `phaseMs` ago (its turn, or its reply, began then).
S::Slot slot(S::Phase phase, uint32_t address, int64_t phaseMs)
{
    const int64_t at = kNow - ms(phaseMs);
    return {phase, address, at, phase == S::kReplying ? at : 0, at};
}
const S::Slot kFreeSlot{};
S::Waiting waiter(uint32_t address, S::Sent sent, int64_t waitedMs = 10)
{
    return {address, kNow - ms(waitedMs), kNow - ms(waitedMs), sent};
}
A closeSlot(int slot, bool cut = false)
{
    return {A::kCloseSlot, slot, -1, cut};
}
A backToRoom(int slot)
{
    return {A::kBackToRoom, slot, -1};
}
A letIn(int slot, int waiting)
{
    return {A::kLetIn, slot, waiting};
}

} // namespace

void PrintTo(const A& a, std::ostream* out)
{
    static const char* kinds[] = {"close slot", "back to room", "let in", "close waiting"};
    *out << kinds[a.kind] << " " << a.slot << "/" << a.waiting << (a.cut ? " cut" : "");
}

TEST(TcpSchedule, SharingKeepsWhatEveryClientIsPromised)
{
    const S::Slot between = slot(S::kAwaiting, 1, 0);
    struct Case {
        const char* what;
        std::vector<S::Slot> slots;
        std::vector<S::Waiting> waiting;
        std::vector<A> plan;
    } cases[] = {
        {"4.9 s between requests: kept", {slot(S::kAwaiting, 1, 4900)}, {}, {}},
        {"over 5 s: closed", {slot(S::kAwaiting, 1, 5100)}, {}, {closeSlot(0)}},
        {"a request trickling for 4.9 s: kept", {slot(S::kReceiving, 1, 4900)}, {}, {}},
        {"a reply untouched for 5 s: closed, cut", {slot(S::kReplying, 1, 5100)}, {}, {closeSlot(0, true)}},
        {"5 s idle in the room: closed", {between}, {waiter(9, S::kNothing, 5100)}, {{A::kCloseWaiting, -1, 0}}},
        {"a free slot takes even a silent client", {kFreeSlot}, {waiter(9, S::kNothing)}, {letIn(0, 0)}},
        {"a whole request takes a slot between requests at once; its holder waits in the room",
         {between},
         {waiter(9, S::kWhole)},
         {backToRoom(0), letIn(0, 0)}},
        {"a partial request takes no held slot", {between}, {waiter(9, S::kPart, 4000)}, {}},
        {"a slow sender keeps 0.5 s against a whole request",
         {slot(S::kReceiving, 1, 450)},
         {waiter(9, S::kWhole)},
         {}},
        {"and is cut after it",
         {slot(S::kDiscarding, 1, 550)},
         {waiter(9, S::kWhole)},
         {closeSlot(0, true), letIn(0, 0)}},
        {"a slow reader likewise",
         {slot(S::kReplying, 1, 550)},
         {waiter(9, S::kWhole)},
         {closeSlot(0, true), letIn(0, 0)}},
        {"a holder between requests gives before one cut",
         {slot(S::kReceiving, 1, 3000), slot(S::kAwaiting, 2, 10)},
         {waiter(9, S::kWhole)},
         {backToRoom(1), letIn(1, 0)}},
        {"then the address with two slots",
         {between, slot(S::kAwaiting, 2, 10), slot(S::kAwaiting, 2, 20)},
         {waiter(9, S::kWhole)},
         {backToRoom(2), letIn(2, 0)}},
        {"no second slot from an address holding no more",
         {between, slot(S::kAwaiting, 2, 10)},
         {waiter(2, S::kWhole)},
         {backToRoom(1), letIn(1, 0)}},
        {"three whole requests take three slots in one decision",
         {between, slot(S::kAwaiting, 2, 0), slot(S::kAwaiting, 3, 0)},
         {waiter(7, S::kWhole), waiter(8, S::kWhole), waiter(9, S::kWhole)},
         {backToRoom(0), letIn(0, 0), backToRoom(1), letIn(1, 1), backToRoom(2), letIn(2, 2)}},
    };
    for (const Case& c : cases) {
        S schedule;
        EXPECT_EQ(schedule.decide(kNow, c.slots, c.waiting), c.plan) << c.what;
    }
}

TEST(TcpSchedule, OneRankingLetsInAndClosesPerAddress)
{
    // One free slot, several candidates: who gets it.
    struct Case {
        const char* what;
        std::vector<S::Waiting> waiting;
        int first; // the one let in
    } cases[] = {
        {"a whole request before a partial one before nothing",
         {waiter(1, S::kNothing, 900), waiter(2, S::kPart, 900), waiter(3, S::kWhole, 1)},
         2},
        {"an address with fewer connections",
         {waiter(1, S::kWhole, 900), waiter(1, S::kWhole, 900), waiter(2, S::kWhole, 1)},
         2},
        {"an address not cut lately (7 was)", {waiter(7, S::kWhole, 900), waiter(2, S::kWhole, 1)}, 1},
        {"the address let in longest ago (5 at -0.1 s, 6 at -0.9 s)",
         {waiter(5, S::kWhole, 900), waiter(6, S::kWhole, 1)},
         1},
        {"an address never seen before any other", {waiter(6, S::kWhole, 900), waiter(8, S::kWhole, 1)}, 1},
        {"same address: the one that waited longest", {waiter(8, S::kPart, 5), waiter(8, S::kPart, 50)}, 1},
        {"same address, silent: the newest", {waiter(8, S::kNothing, 50), waiter(8, S::kNothing, 5)}, 1},
    };
    for (const Case& c : cases) {
        S schedule;
        schedule.noteCut(7, kNow - ms(9000));
        schedule.noteLetIn(5, kNow - ms(100));
        schedule.noteLetIn(6, kNow - ms(900));
        EXPECT_EQ(schedule.decide(kNow, std::vector{kFreeSlot}, c.waiting), std::vector{letIn(0, c.first)}) << c.what;
    }

    // A full room closes its lowest: the oldest of the silent, never a whole request while a lower
    // one is there; and a connection that waited past the idle time.
    S schedule;
    std::vector<S::Waiting> room;
    for (uint32_t a = 0; a < S::kWaiting; ++a) room.push_back(waiter(100 + a, S::kWhole));
    room.push_back(waiter(1, S::kNothing, 300));
    room.push_back(waiter(2, S::kNothing, 200));
    room.push_back(waiter(3, S::kWhole, 5001));
    std::vector<S::Slot> full(3, slot(S::kReceiving, 50, 100));
    EXPECT_EQ(schedule.decide(kNow, full, room), (std::vector<A>{{A::kCloseWaiting, -1, int(S::kWaiting) + 2},
                                                                 {A::kCloseWaiting, -1, int(S::kWaiting)},
                                                                 {A::kCloseWaiting, -1, int(S::kWaiting) + 1}}));
}
