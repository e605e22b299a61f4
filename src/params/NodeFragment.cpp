#include "params/NodeFragment.h"

#include "params/Node.h"
#include "params/NodePreset.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

// `text` between quotes (appended, not concatenated: g++ 12 warns on the temporaries otherwise).
std::string quoted(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out += text;
    out += '"';
    return out;
}

// The value text of a parsed JSON value (see NodeFragment).
std::string valueText(const Json& value)
{
    if (value.is_string()) return quoted(NodeFragment::escape(value.get<std::string>()));
    return value.dump();
}

} // namespace

bool NodeFragment::parse(const std::string& line, std::string& path, std::string& value)
{
    path.clear();
    value.clear();
    size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    // No exceptions: a client's text is refused, not thrown at.
    Json members = Json::parse(line.begin() + std::ptrdiff_t(colon) + 1, line.end(), nullptr, false);
    if (members.is_discarded() || !members.is_object()) return false;
    path = line.substr(0, colon);
    if (auto found = members.find("value"); found != members.end()) value = valueText(*found);
    // A "save" member asks the preset selector to save under the name: its value text is then the
    // name followed by the save marker, as the members' text always gave it.
    if (auto save = members.find("save"); save != members.end() && *save == "save" && value.size() >= 2 &&
                                          value.front() == '"')
        value.insert(value.size() - 1, PRESET_SAVE_SUFFIX);
    return true;
}

void NodeFragment::parseStored(const std::string& line, std::string& path, std::string& value)
{
    if (parse(line, path, value)) return;
    std::tie(path, value) = Node::parsePathValue(line);
    // Then a text was written raw: the node gets it back as it was.
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = quoted(escape(value.substr(1, value.size() - 2)));
}

bool NodeFragment::unquote(const std::string& text, std::string& decoded)
{
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_string()) return false;
    decoded = value.get<std::string>();
    return true;
}

bool NodeFragment::holds(const std::string& member, const std::string& value)
{
    Json shown = Json::parse("{" + member + "}", nullptr, false);
    if (shown.is_discarded() || !shown.contains("value")) return false;
    const Json& current = shown["value"];
    Json asked = Json::parse(value, nullptr, false);
    if (asked.is_discarded()) return false;
    if (current.is_number() && asked.is_number()) return current.get<double>() == asked.get<double>();
    return current == asked;
}

std::string NodeFragment::escape(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '"': escaped += "\\\""; break;
        case '\\': escaped += "\\\\"; break;
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '\t': escaped += "\\t"; break;
        case '\b': escaped += "\\b"; break;
        case '\f': escaped += "\\f"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
                escaped += code;
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}
