#include "com/LoginThrottle.h"

#include "porting/Log.h"

#include <algorithm>

namespace {
constexpr const char* kTag = "Com";
// Stands for every client beyond the table's size; no address looks like it.
const std::string kShared = "*";
} // namespace

int64_t LoginThrottle::waitAfter(int failures)
{
    if (failures < kFreeFailures) return 0;
    int doublings = failures - kFreeFailures;
    // 1 s << 6 passes the ceiling already.
    return doublings >= 6 ? kMaxWait : std::min(kFirstWait << doublings, kMaxWait);
}

std::string LoginThrottle::keyOf(const std::string& client) const
{
    if (clients.count(client) || clients.size() < kClients) return client;
    return kShared;
}

int64_t LoginThrottle::waitLeft(const std::string& client, int64_t now) const
{
    auto found = clients.find(keyOf(client));
    if (found == clients.end()) return 0;
    int64_t left = found->second.lastFailure + waitAfter(found->second.failures) - now;
    return left > 0 ? left : 0;
}

bool LoginThrottle::waiting(const std::string& client, int64_t now) const
{
    return waitLeft(client, now) > 0;
}

bool LoginThrottle::allow(const std::string& client, int64_t now, const char* label)
{
    forgetQuiet(now);
    int64_t left = waitLeft(client, now);
    auto found = clients.find(keyOf(client));
    if (left == 0) {
        if (found != clients.end()) found->second.logged = false;
        return true;
    }
    if (!found->second.logged) {
        LOG_W(kTag, "Login attempts from %s throttled after %d failures: next in %lld s\n", label,
              found->second.failures, static_cast<long long>((left + 999999) / 1000000));
        found->second.logged = true;
    }
    return false;
}

void LoginThrottle::failed(const std::string& client, int64_t now)
{
    forgetQuiet(now);
    Entry& entry = clients[keyOf(client)];
    ++entry.failures;
    entry.lastFailure = now;
}

void LoginThrottle::succeeded(const std::string& client)
{
    // The shared entry stays: a right answer from one of its clients says nothing of the others.
    if (client != kShared) clients.erase(client);
}

void LoginThrottle::forgetQuiet(int64_t now)
{
    std::erase_if(clients, [now](const auto& entry) { return now - entry.second.lastFailure > kForget; });
}
