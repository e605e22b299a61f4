#include "support/ResetHooks.h"

#include <vector>

namespace {
std::vector<void (*)()>& hooks()
{
    static auto* list = new std::vector<void (*)()>;
    return *list;
}
} // namespace

ResetHook::ResetHook(void (*hook)())
{
    hooks().push_back(hook);
}

void run_reset_hooks()
{
    for (auto hook : hooks()) hook();
}
