#pragma once
#include "params/Node.h"
#include "params/SharedSnapshot.h"

#include <string>

// Item types: how the screens and the remote side treat an item node.
namespace ItemType {
inline constexpr const char* SYSTEM = "system";         // top nodes and read-only system information
inline constexpr const char* MODULE = "module";         // folder of a composite parameter or sub-module
inline constexpr const char* HFOLDER = "hfolder";       // an effect block's folder in the chain
inline constexpr const char* SFOLDER = "sfolder";       // a settings folder listed by the setup screen
inline constexpr const char* VFOLDER = "vfolder";       // a folder inside a block, for the node browser
inline constexpr const char* VFOLDER_TC = "vfolder_tc"; // plain sub-folder
inline constexpr const char* STRING = "string";         // free text, edited with the on-screen keyboard
inline constexpr const char* COLOR = "color";           // NodeColor
inline constexpr const char* LINK = "link";             // a node path
} // namespace ItemType

// The text node: a folder (the item type says how to present it) or a text value (a device name, a
// network name, a knob assignment). The text is published whole on every change (SharedSnapshot), so
// readers on other threads never see a torn or freed text. Its stored image is the text.
class NodeItem : public Node {
public:
    NodeItem(Node* parent, const char* name, const char* displayName, std::string text, const char* itemType);

    void* getStorageData(int* size) override;
    std::string getStorageText() override;
    void setStorageText(const std::string& text) override;

    void edit(bool up) override;
    // Takes a quoted text (the quotes are removed); any text is accepted, the empty one included.
    bool fromString(std::string text) override;
    std::string toString() override;
    const char* getType() override { return NodeType::ITEM; }
    std::string getDescription() override;
    std::string getValueJSON() override;
    void reset() override;
    // The value as it travels in JSON (a password hides it).
    virtual std::string getValue();

    // True when the text changed.
    bool setValue(std::string text);
    const char* getItemType() const { return itemType; }
    // The stored text itself, whatever getValue or toString make of it.
    std::string getText() const { return value.get(); }
    const std::string& getDefault() const { return defaultValue; }

protected:
    const char* itemType;
    SharedSnapshot<std::string> value;
    std::string defaultValue;
};
