#pragma once
#include "params/Node.h"
#include "params/SharedSnapshot.h"
#include "params/Storage.h"

#include <string>

// Item types: how the screens and the remote side treat an item node.
namespace ItemType {
inline constexpr const char* SYSTEM = "system"; // top nodes and read-only system information
inline constexpr const char* MODULE = "module"; // folder of a composite parameter or sub-module
inline constexpr const char* HFOLDER = "hfolder"; // an effect block's folder in the chain
inline constexpr const char* SFOLDER = "sfolder"; // a settings folder listed by the setup screen
inline constexpr const char* VFOLDER = "vfolder"; // a folder inside a block, for the node browser
inline constexpr const char* VFOLDER_TC = "vfolder_tc"; // plain sub-folder
inline constexpr const char* STRING = "string"; // free text, edited with the on-screen keyboard
inline constexpr const char* COLOR = "color"; // NodeColor
inline constexpr const char* LINK = "link"; // a node path
} // namespace ItemType

// The text node: a folder (the item type says how to present it) or a text value (a device name, a
// network name, a knob assignment). The text is published whole on every change (SharedSnapshot), so
// readers on other threads never see a torn or freed text. Its stored image is the text up to a NUL,
// so a text that storage would not give back whole at start (longer than kMaxLength bytes, or holding
// a NUL) is refused rather than cut at restart.
//
// The value and default travel in JSON escaped (NodeFragment::escape), so any text gives valid JSON.
//
// A secret item (a password) shows an empty value in its JSON while a SecretsHidden scope is open on
// the calling thread: the remote side opens one for a client that has not logged in.
class NodeItem : public Node {
public:
    static constexpr size_t kMaxLength = Storage::kMaxText - 1;

    // While it lives, secret items show "value":"" in JSON built on this thread (when `hide`).
    class SecretsHidden {
    public:
        explicit SecretsHidden(bool hide);
        ~SecretsHidden();
        SecretsHidden(const SecretsHidden&) = delete;
        SecretsHidden& operator=(const SecretsHidden&) = delete;

    private:
        bool previous;
    };

    NodeItem(Node* parent, const char* name, const char* displayName, std::string text, const char* itemType);

    void* getStorageData(int* size) override;
    std::string getStorageText() override;
    void setStorageText(const std::string& text) override;

    void edit(bool up) override;
    // Takes a JSON string (NodeFragment::unquote); any text up to kMaxLength bytes without a NUL is
    // accepted, the empty one included.
    bool fromString(std::string text) override;
    // Folders (every item type but texts, colours and links) hold no value a client may set.
    bool isWritable() const override;
    std::string toString() override;
    const char* getType() override { return NodeType::ITEM; }
    std::string getDescription() override;
    std::string getValueJSON() override;
    void reset() override;
    // The value as it travels in JSON (a password hides it).
    virtual std::string getValue();

    // True when the text changed; a text longer than kMaxLength bytes or holding a NUL is refused
    // (false).
    virtual bool setValue(std::string text);
    const char* getItemType() const { return itemType; }
    // The stored text itself, whatever getValue or toString make of it.
    std::string getText() const { return value.get(); }
    const std::string& getDefault() const { return defaultValue; }

protected:
    // A secret's value member never shows it: its own text is compared.
    bool holds(const std::string& value, bool taken) override;

    const char* itemType;
    SharedSnapshot<std::string> value;
    std::string defaultValue;
};
