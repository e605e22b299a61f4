#pragma once
#include "params/Node.h"

#include <atomic>
#include <string>
#include <vector>

// The choice parameter: its value is one text of a fixed list of options (a filter type, a MIDI
// channel, a USB mode). Presets, files and the remote side carry the option text, not an index.
//
// The value is kept as a pointer to one of the option texts (null before any option was chosen), so
// a reader on another thread always sees a whole option text and no write ever frees one. Option
// texts are not owned: literals, or texts that live as long as the program. Options are added only
// during start-up.
class NodeEnum : public Node {
public:
    // `defaultText` that is no option leaves the value and the default empty.
    NodeEnum(Node* parent, const char* name, const char* displayName, std::vector<const char*> options,
             std::string defaultText);

    void* getStorageData(int* size) override;
    std::string getStorageText() override;
    // A stored text that is no option is ignored.
    void setStorageText(const std::string& text) override;

    void edit(bool up) override;
    bool fromString(std::string text) override;
    std::string toString() override;
    const char* getType() override { return NodeType::ENUM; }
    std::string getDescription() override;
    std::string getValueJSON() override;
    void reset() override;

    void addOption(const char* option);
    // Selects the option equal to the text and always notifies; "Value Not found" when none is.
    void setValue(std::string text);
    void setByIndex(int index);
    // Position of the first option equal to the value, -1 when none.
    int getIndex() const;
    bool hasValue(std::string text) const;
    bool isValue(const char* text) const;
    int getItemCount() const { return int(options.size()); }
    // The next option, wrapping from the last to the first.
    void toggle();

    const char* getValueText() const;
    const char* getDefault() const { return defaultValue ? defaultValue : ""; }
    const std::vector<const char*>& getOptions() const { return options; }

protected:
    std::atomic<const char*> value{nullptr};
    const char* defaultValue = nullptr;
    std::vector<const char*> options;

    void select(const char* option);
    // The highest index 1..n-1 whose option equals the value, else 0.
    int currentPosition() const;
    // The matching option: the first or the last of equal texts.
    const char* findOption(const std::string& text, bool last) const;
};
