#include "params/NodeFragment.h"

#include "params/Node.h"
#include "params/NodePreset.h"

#include <nlohmann/json.hpp>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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

// JSON text (no exceptions: a client's text is refused, not thrown at). With `bytes`, each byte from
// 0x80 up is read as the character of that number, as its escape would be: a byte string need not be
// UTF-8.
Json parsed(std::string_view text, bool bytes)
{
    if (!bytes) return Json::parse(text, nullptr, false);
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            escaped += c;
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", unsigned(byte));
        escaped += code;
    }
    return Json::parse(escaped, nullptr, false);
}

// The bytes of a parsed byte string: its characters, each at most U+00FF (which the parse gave as
// UTF-8 of one or two bytes); false for a larger one.
bool stringBytes(const std::string& text, std::string& bytes)
{
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            bytes += char(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
            bytes += char(((c & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
        } else {
            return false;
        }
    }
    return true;
}

// The value text of a parsed JSON value (see NodeFragment); "" for a byte string that holds a
// character beyond a byte.
std::string valueText(const Json& value, bool bytes)
{
    if (!value.is_string()) return value.dump();
    const std::string& text = value.get_ref<const std::string&>();
    if (!bytes) return quoted(NodeFragment::escape(text));
    std::string raw;
    return stringBytes(text, raw) ? quoted(NodeFragment::escape(raw)) : std::string();
}

} // namespace

bool NodeFragment::parse(const std::string& line, std::string& path, std::string& value, bool bytes)
{
    path.clear();
    value.clear();
    size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    Json members = parsed(std::string_view(line).substr(colon + 1), bytes);
    if (members.is_discarded() || !members.is_object()) return false;
    path = line.substr(0, colon);
    if (auto found = members.find("value"); found != members.end()) value = valueText(*found, bytes);
    // A "save" member asks the preset selector to save under the name: its value text is then the
    // name followed by the save marker, as the members' text always gave it.
    if (auto save = members.find("save");
        save != members.end() && *save == "save" && value.size() >= 2 && value.front() == '"')
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

bool NodeFragment::holds(const std::string& member, const std::string& value, bool bytes)
{
    Json shown = parsed("{" + member + "}", bytes);
    if (shown.is_discarded() || !shown.contains("value")) return false;
    const Json& current = shown["value"];
    Json asked = parsed(value, bytes);
    if (asked.is_discarded()) return false;
    if (current.is_number_float() && asked.is_number()) {
        const double number = asked.get<double>();
        if (!(std::fabs(number) <= FLT_MAX)) return false;
        char text[64];
        std::snprintf(text, sizeof text, "%f", double(float(number)));
        return std::strtod(text, nullptr) == current.get<double>();
    }
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
