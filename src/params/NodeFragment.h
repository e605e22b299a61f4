#pragma once
#include <string>

// The value member of a fragment ("path:{...}") read through a real JSON parse, and text escaped for
// JSON on its way out.
//
// A value text, as NodeFragment gives it to a node's fromString: the value in compact JSON (1.5,
// [1,2], true), a string quoted and escaped as escape() does (so a plain text is just quoted, and a
// text node gets its text back with unquote). Fragments written before texts were escaped cannot
// always be read as JSON; parseStored reads those as they were read then.
//
// Any thread; nothing is shared.
class NodeFragment {
public:
    // "path:{members}": the path is the text before the first ':', the members one JSON object after
    // it (whitespace allowed). False, with `path` and `value` empty, when that object does not parse.
    // A well-formed object without a "value" member gives the empty value text; a "save" member of
    // "save" beside a string value puts PRESET_SAVE_SUFFIX before its closing quote (how a client
    // saves a preset; a name can never end in it, since its own quotes are escaped).
    //
    // With `bytes`, strings are bytes rather than UTF-8 text, for a node whose value is a byte string
    // (an array): a raw byte from 0x80 up and an escape up to \u00ff are one byte each, and a string
    // with a larger character is refused (value empty).
    static bool parse(const std::string& line, std::string& path, std::string& value, bool bytes = false);
    // As parse, and when the line is no JSON, the old split (the first '}' ends the members; the value
    // text taken raw): preset texts stored before values were escaped load as they always did.
    static void parseStored(const std::string& line, std::string& path, std::string& value);
    // The text of a quoted, escaped value text; false when `text` is no JSON string.
    static bool unquote(const std::string& text, std::string& decoded);
    // Does the value member that a node shows ("\"value\":..." as getValueJSON makes it) hold the
    // value that `value` (a value text) asks for? Numbers compare as numbers; a number shown with a
    // point is a single-precision value printed with six decimals, and holds every number that reads
    // the same so. `bytes` as for parse.
    static bool holds(const std::string& member, const std::string& value, bool bytes = false);
    // `text` as it goes between the quotes of a JSON string: quote, backslash and control characters
    // escaped; a text without them comes back unchanged.
    static std::string escape(const std::string& text);
};
