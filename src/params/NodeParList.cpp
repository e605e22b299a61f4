#include "params/NodeParList.h"

#include "params/NodeFragment.h"
#include "porting/Clock.h"

NodeParList::NodeParList(Node* parent, const char* name, const char* displayName, std::string defaultValue,
                         NodeList* list)
    : Node(parent, name, displayName), value(std::move(defaultValue)), list(list)
{
    if (list) list->addSelector(this);
}

NodeParList::~NodeParList()
{
    if (list) list->removeSelector(this);
}

void* NodeParList::getStorageData(int* size)
{
    // A text item; storage reaches the text through getStorageText/setStorageText.
    *size = -1;
    return this;
}

std::string NodeParList::getStorageText()
{
    return getValue();
}

void NodeParList::setStorageText(const std::string& text)
{
    storeValue(text);
}

void NodeParList::edit(bool up)
{
    if (!list) return;
    std::string current = getValue();
    select(up ? list->next(current) : list->before(current));
}

bool NodeParList::fromString(std::string text)
{
    std::string name;
    if (!NodeFragment::unquote(text, name)) return false;
    setValue(name);
    return true;
}

std::string NodeParList::getDescription()
{
    std::string text = ",\"ref\":\"";
    if (list) text += NodeList::escapeName(list->getPath());
    text += '"';
    return text;
}

std::string NodeParList::getValueJSON()
{
    std::string text = "\"value\":\"";
    text += NodeList::escapeName(getValue());
    text += '"';
    return text;
}

void NodeParList::reset() {}

bool NodeParList::setValue(std::string name)
{
    return select(std::move(name));
}

bool NodeParList::select(std::string name)
{
    if (!list || list->indexOf(name) == -1) return false;
    if (name == getValue()) return false;
    storeValue(std::move(name));
    notifyUpdate();
    return true;
}

void NodeParList::followRename(const std::string& from, const std::string& to)
{
    if (getValue() != from) return;
    storeValue(to);
    // Pollers and storage see the new name; the change callback is for new content, which this is
    // not.
    changeTime.store(int64_t(esp_timer_get_time()), std::memory_order_release);
}

int NodeParList::getIndex()
{
    return list ? list->indexOf(getValue()) : -1;
}

bool NodeParList::copyData(void* out)
{
    return list && list->copyDataAt(getIndex(), out);
}

int NodeParList::getElementCount()
{
    return list ? list->getElementCount() : 0;
}

std::string NodeParList::getValueAt(int position)
{
    return list ? list->nameAt(position) : std::string();
}

bool NodeParList::canEdit(bool up)
{
    if (!list) return false;
    std::string current = getValue();
    std::string step = up ? list->next(current) : list->before(current);
    return !step.empty() && step != current;
}
