#pragma once
#include <list>
#include <map>
#include <string>

class NodeControl;
class Source;

// The registry of control sources by name. Sources enter it from their constructors and controller
// nodes link to them by name, both during start-up; afterwards only "controlLoop" calls tasks(),
// every 10 ms, which polls each source in name order. Hook: AudioProcessor::setControlTasks(Control::tasks).
class Control {
public:
    // A null source does nothing; a name already registered keeps its first source.
    static void addSource(Source* source);
    // Called by a source's destructor; a name registered by another source stays.
    static void removeSource(Source* source);
    // Null when no source has the name.
    static Source* getSource(const char* name);
    // Adds the controller to the named source; warns when there is no such source.
    static void linkSource(const char* name, NodeControl* controller);
    // The names of all sources, in name order.
    static std::list<std::string> listSources();
    static void tasks();

    static std::map<std::string, Source*> sources;
};
