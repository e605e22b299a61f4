#include "params/Control.h"

#include "params/Source.h"
#include "porting/Log.h"

std::map<std::string, Source*> Control::sources;

namespace {
constexpr const char* kTag = "Control";
}

void Control::addSource(Source* source)
{
    if (!source) return;
    std::string name = source->getName();
    if (sources.count(name)) return;
    LOG_I(kTag, "add source: %s \n", name.c_str());
    sources.emplace(name, source);
}

void Control::removeSource(Source* source)
{
    if (!source) return;
    auto it = sources.find(source->getName());
    if (it != sources.end() && it->second == source) sources.erase(it);
}

Source* Control::getSource(const char* name)
{
    if (!name) return nullptr;
    auto it = sources.find(name);
    return it == sources.end() ? nullptr : it->second;
}

void Control::linkSource(const char* name, NodeControl* controller)
{
    Source* source = getSource(name);
    if (!source) {
        LOG_W(kTag, "source %s not found\n", name ? name : "");
        return;
    }
    source->addController(controller);
}

std::list<std::string> Control::listSources()
{
    std::list<std::string> names;
    for (const auto& entry : sources) names.push_back(entry.first);
    return names;
}

void Control::tasks()
{
    for (const auto& entry : sources) entry.second->tasks();
}
